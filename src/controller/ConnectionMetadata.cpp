#include "ConnectionMetadata.h"

#include "LenientJson.h"

namespace tarnwick {

ConnectionMetadata ConnectionMetadata::fromJson(const QJsonObject& object)
{
    const auto text = [&object](const char* key) { return LenientJson::string(object, QLatin1String(key)); };
    ConnectionMetadata metadata;
    metadata.network = text("network");
    metadata.type = text("type");
    metadata.sourceIP = text("sourceIP");
    metadata.destinationIP = text("destinationIP");
    metadata.sourcePort = text("sourcePort");
    metadata.destinationPort = text("destinationPort");
    metadata.host = text("host");
    metadata.sniffHost = text("sniffHost");
    metadata.process = text("process");
    metadata.processPath = text("processPath");
    metadata.remoteDestination = text("remoteDestination");
    metadata.inboundName = text("inboundName");
    return metadata;
}

} // namespace tarnwick
