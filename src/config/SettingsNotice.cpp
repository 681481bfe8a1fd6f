#include "SettingsNotice.h"

#include "EngineSettings.h"
#include "config/yaml/Parser.h"
#include "platform/Settings.h"

#include <QFile>
#include <QFileInfo>

namespace tarnwick {

namespace {

// What the settings pages would show for a setting now.
QString shownValue(const Settings& settings, const EngineSettings::Setting& setting)
{
    const QString key = QLatin1String(setting.key);
    std::optional<QString> value;
    switch (setting.conversion) {
    case EngineSettings::Conversion::Bool:
        if (const std::optional<bool> stored = settings.boolean(key))
            value = *stored ? QStringLiteral("true") : QStringLiteral("false");
        break;
    case EngineSettings::Conversion::Int:
        if (const std::optional<qint64> stored = settings.integer(key))
            value = QString::number(*stored);
        break;
    default:
        value = settings.text(key);
        break;
    }
    return value.value_or(QString::fromUtf8(setting.fallback ? setting.fallback : setting.defaultValue))
        .replace(u'\n', QStringLiteral(", "));
}

} // namespace

QStringList SettingsNotice::forProfile(const QString& profileFile, const Settings& settings)
{
    QFile file(profileFile);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList keys;
    try {
        const std::optional<Node> document = Parser::compose(QByteArrayView(file.readAll()));
        if (!document)
            return {};
        const NativeValue native = document->toNative();
        if (!native.isDictionary())
            return {};
        for (const auto& entry : native.toDictionary())
            keys.append(entry.first);
    } catch (const std::exception&) {
        return {};
    }
    const QString name = QFileInfo(profileFile).fileName();
    QStringList notes;
    for (const QString& key : keys) {
        QStringList deciding;
        const EngineSettings::Setting* exact = nullptr;
        for (const EngineSettings::Setting& setting : EngineSettings::table()) {
            const QString kernelKey = QLatin1String(setting.kernelKey);
            if (kernelKey == key)
                exact = &setting;
            else if (kernelKey.startsWith(key + u'.'))
                deciding.append(QLatin1String(setting.key));
        }
        if (exact) {
            notes.append(
                QStringLiteral("note: %1 sets %2, but the setting %3 decides it (now %4); change it with: "
                               "tarnwick settings %3 VALUE")
                    .arg(name, key, QLatin1String(exact->key), shownValue(settings, *exact)));
        } else if (!deciding.isEmpty()) {
            notes.append(QStringLiteral("note: %1 sets %2, but the settings %3 decide it; see them with: "
                                        "tarnwick settings")
                             .arg(name, key,
                                  deciding.size() > 3
                                      ? deciding.mid(0, 3).join(QStringLiteral(", ")) + QStringLiteral(" …")
                                      : deciding.join(QStringLiteral(", "))));
        }
    }
    return notes;
}

} // namespace tarnwick
