#include "ProfileLedger.h"

#include "AtomicFile.h"
#include "platform/Logging.h"

#include <QDir>
#include <QFileInfo>

namespace tarnwick {

ProfileLedger::ProfileLedger(QString profilesDirectory) : m_directory(std::move(profilesDirectory)) {}

QString ProfileLedger::manifestPath() const
{
    return QDir(m_directory).filePath(QStringLiteral("manifest.json"));
}

QStringList ProfileLedger::profileFiles() const
{
    // No list at all rather than an empty one: callers take an empty list to mean that every profile is gone.
    const QFileInfo directory(m_directory);
    if (!directory.isDir() || !directory.isReadable())
        throw FileError(QStringLiteral("Cannot read the profiles directory %1").arg(m_directory));
    const QStringList patterns{QStringLiteral("*.yaml"), QStringLiteral("*.yml")};
    return QDir(m_directory).entryList(patterns, QDir::Files, QDir::Name);
}

QList<ProfileNode> ProfileLedger::readManifest() const
{
    if (!QFileInfo::exists(manifestPath()))
        return {};
    const NativeValue root = NativeValue::fromJson(AtomicFile::read(manifestPath()));
    if (!root.isArray())
        throw ProfileLedgerError(QStringLiteral("The profile manifest is damaged: it is not a list."));
    QList<ProfileNode> nodes;
    for (const NativeValue& entry : root.toArray())
        nodes.append(ProfileNode::fromNative(entry));
    return nodes;
}

QList<ProfileNode> ProfileLedger::getNodes() const
{
    const QStringList files = profileFiles();
    const QList<ProfileNode> manifest = readManifest();
    QList<ProfileNode> nodes;
    QSet<QString> named;
    for (const ProfileNode& node : manifest) {
        if (files.contains(node.fileName)) {
            nodes.append(node);
            named.insert(node.fileName);
        }
    }
    for (const QString& file : files) {
        if (named.contains(file))
            continue;
        ProfileNode node;
        node.id = ProfileNode::newId();
        node.name = QFileInfo(file).completeBaseName();
        node.type = ProfileType::Local;
        node.fileName = file;
        nodes.append(node);
    }
    if (nodes != manifest) {
        try {
            save(nodes);
        } catch (const FileError& e) {
            qCWarning(lcProfiles, "Reconciled profile manifest not saved: %s",
                      qUtf8Printable(e.description()));
        }
    }
    return nodes;
}

std::optional<ProfileNode> ProfileLedger::node(const QString& id) const
{
    for (const ProfileNode& node : getNodes()) {
        if (node.id == id)
            return node;
    }
    return std::nullopt;
}

std::optional<ProfileNode> ProfileLedger::nodeByFileName(const QString& fileName) const
{
    for (const ProfileNode& node : getNodes()) {
        if (node.fileName == fileName)
            return node;
    }
    return std::nullopt;
}

void ProfileLedger::save(const QList<ProfileNode>& nodes) const
{
    NativeValue::Array array;
    array.reserve(size_t(nodes.size()));
    for (const ProfileNode& node : nodes)
        array.push_back(node.toNative());
    AtomicFile::write(manifestPath(), NativeValue(std::move(array)).toJson(NativeValue::JsonFormat::Pretty));
}

void ProfileLedger::upsert(const ProfileNode& node) const
{
    QList<ProfileNode> nodes = getNodes();
    auto existing =
        std::find_if(nodes.begin(), nodes.end(), [&](const ProfileNode& n) { return n.id == node.id; });
    // A file copied in just before its node is registered has meanwhile been given a stand-in local node.
    if (existing == nodes.end())
        existing = std::find_if(nodes.begin(), nodes.end(),
                                [&](const ProfileNode& n) { return n.fileName == node.fileName; });
    if (existing != nodes.end())
        *existing = node;
    else
        nodes.append(node);
    save(nodes);
}

void ProfileLedger::remove(const QString& id) const
{
    QList<ProfileNode> nodes = getNodes();
    nodes.removeIf([&](const ProfileNode& node) { return node.id == id; });
    save(nodes);
}

} // namespace tarnwick
