// The control socket's input side over arbitrary bytes: the frame reader, the JSON payload and the command
// decoding. Any input either yields commands that survive a round trip or is rejected; nothing else.

#include "app/AppCommand.h"
#include "platform/IPCFrame.h"

#include <cstdint>
#include <cstdlib>

using namespace tarnwick;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte chooses how the rest arrives: in pieces of 1 to 256 bytes.
    const size_t piece = size_t(data[0]) + 1;
    IPCFrame::Reader reader;
    for (size_t at = 1; at < size; at += piece) {
        reader.append(
            QByteArray(reinterpret_cast<const char*>(data + at), qsizetype(std::min(piece, size - at))));
        while (const std::optional<QByteArray> payload = reader.next()) {
            if (!IPCFrame::acceptsLength(quint64(payload->size())))
                std::abort();
            const std::optional<QJsonObject> object = IPCFrame::decode(*payload);
            if (!object)
                continue;
            const std::optional<AppCommand> command = AppCommand::decode(*object);
            if (!command)
                continue;
            const std::optional<AppCommand> again = AppCommand::decode(command->toJson());
            if (!again || again->name() != command->name() || again->fields() != command->fields())
                std::abort();
            if (!IPCFrame::encode(command->toJson()))
                std::abort();
        }
    }
    return 0;
}
