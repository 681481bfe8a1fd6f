#include "ConfigParser.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <optional>

namespace tarnwick::ConfigParser {

namespace {

// The expressions of the line scan. Each of the first four captures its value in one of three groups:
// double-quoted (with backslash escapes), single-quoted, or bare. Captured values are kept as written,
// escapes included.
struct Patterns
{
    QRegularExpression name{QStringLiteral(
        R"re("?name"?\s*:\s*(?:"([^"\\]*(?:\\.[^"\\]*)*)"|'([^'\\]*(?:\\.[^'\\]*)*)'|([^,\}\r\n]+)))re")};
    QRegularExpression blockKey{
        QStringLiteral(R"re(^\s+(?:"([^"\\]*(?:\\.[^"\\]*)*)"|'([^'\\]*(?:\\.[^'\\]*)*)'|([^:\s]+))\s*:)re")};
    QRegularExpression urlLine{QStringLiteral(
        R"re(^\s*url\s*:\s*(?:"([^"\\]*(?:\\.[^"\\]*)*)"|'([^'\\]*(?:\\.[^'\\]*)*)'|([^#\s]+)))re")};
    QRegularExpression flowUrl{QStringLiteral(
        R"re(url\s*:\s*(?:"([^"\\]*(?:\\.[^"\\]*)*)"|'([^'\\]*(?:\\.[^'\\]*)*)'|([^#\s\}]+)))re")};
    QRegularExpression inlineHealthCheck{QStringLiteral(R"re(health-check:\s*\{[^}]*\})re")};

    Patterns()
    {
        for (const QRegularExpression* expression :
             {&name, &blockKey, &urlLine, &flowUrl, &inlineHealthCheck}) {
            if (!expression->isValid())
                qFatal("ConfigParser: pattern %s does not compile: %s", qUtf8Printable(expression->pattern()),
                       qUtf8Printable(expression->errorString()));
        }
    }
};

// Compiled once, at first use.
const Patterns& patterns()
{
    static const Patterns compiled;
    return compiled;
}

std::optional<QString> capturedValue(const QRegularExpressionMatch& match)
{
    if (!match.hasMatch())
        return std::nullopt;
    for (int group = 1; group <= 3; ++group) {
        if (match.hasCaptured(group))
            return match.captured(group).trimmed();
    }
    return std::nullopt;
}

std::optional<ConfigStructure> parseCompiledJson(const QByteArray& bytes)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject root = document.object();
    ConfigStructure result;
    const auto names = [](const QJsonValue& list, QStringList& into) {
        for (const QJsonValue& entry : list.toArray()) {
            const QJsonValue name = entry.toObject().value(QLatin1String("name"));
            if (name.isString())
                into.append(name.toString());
        }
    };
    // The compiler writes sorted keys, so the object's (sorted) order is the file's order.
    const auto providers = [](const QJsonValue& map, QStringList& into, QMap<QString, QString>& urls) {
        const QJsonObject object = map.toObject();
        for (auto it = object.begin(); it != object.end(); ++it) {
            into.append(it.key());
            const QJsonValue url = it.value().toObject().value(QLatin1String("url"));
            if (url.isString())
                urls.insert(it.key(), url.toString());
        }
    };
    names(root.value(QLatin1String("proxy-groups")), result.proxyGroups);
    names(root.value(QLatin1String("proxies")), result.proxies);
    providers(root.value(QLatin1String("proxy-providers")), result.proxyProviders, result.proxyProviderURLs);
    providers(root.value(QLatin1String("rule-providers")), result.ruleProviders, result.ruleProviderURLs);
    for (const QJsonValue& rule : root.value(QLatin1String("rules")).toArray()) {
        if (rule.isString())
            result.rules.append(rule.toString());
    }
    return result;
}

enum class Section
{
    None,
    ProxyGroups,
    Proxies,
    ProxyProviders,
    RuleProviders,
    Rules
};

Section sectionOpenedBy(QStringView line)
{
    static const std::pair<QLatin1String, Section> openers[] = {
        {QLatin1String("proxy-groups:"), Section::ProxyGroups},
        {QLatin1String("proxies:"), Section::Proxies},
        {QLatin1String("proxy-providers:"), Section::ProxyProviders},
        {QLatin1String("rule-providers:"), Section::RuleProviders},
        {QLatin1String("rules:"), Section::Rules},
    };
    for (const auto& [prefix, section] : openers) {
        if (line.startsWith(prefix))
            return section;
    }
    return Section::None;
}

qsizetype indentationOf(QStringView line)
{
    qsizetype indentation = 0;
    while (indentation < line.size() && (line[indentation] == u' ' || line[indentation] == u'\t'))
        ++indentation;
    return indentation;
}

bool isListItem(QStringView trimmed)
{
    return trimmed.startsWith(u"- ") || trimmed == u"-";
}

// A block-mapping line whose key is "name" (bare or quoted).
bool isNameKeyLine(QStringView trimmed)
{
    for (QLatin1String key : {QLatin1String("name"), QLatin1String("\"name\""), QLatin1String("'name'")}) {
        if (trimmed.startsWith(key)) {
            const QStringView rest = trimmed.mid(key.size()).trimmed();
            return rest.startsWith(u':');
        }
    }
    return false;
}

// The state of the line scan inside one top-level section.
class LineScanner final
{
public:
    explicit LineScanner(ConfigStructure& result) : m_result(result) {}

    void scan(const QString& text)
    {
        qsizetype start = 0;
        while (start <= text.size()) {
            qsizetype end = text.indexOf(u'\n', start);
            if (end < 0)
                end = text.size();
            QStringView line = QStringView(text).mid(start, end - start);
            if (line.endsWith(u'\r'))
                line.chop(1);
            feed(line);
            start = end + 1;
        }
    }

private:
    void feed(QStringView line)
    {
        const QStringView trimmed = line.trimmed();
        if (trimmed.isEmpty())
            return;
        const qsizetype indentation = indentationOf(line);
        if (indentation == 0 && !trimmed.startsWith(u'#') && !isListItem(trimmed)) {
            open(sectionOpenedBy(line));
            return;
        }
        switch (m_section) {
        case Section::ProxyGroups:
            feedNamedEntry(line, trimmed, indentation, m_result.proxyGroups);
            break;
        case Section::Proxies:
            feedNamedEntry(line, trimmed, indentation, m_result.proxies);
            break;
        case Section::ProxyProviders:
            feedProvider(line, trimmed, indentation, m_result.proxyProviders, m_result.proxyProviderURLs);
            break;
        case Section::RuleProviders:
            feedProvider(line, trimmed, indentation, m_result.ruleProviders, m_result.ruleProviderURLs);
            break;
        case Section::Rules:
            if (trimmed.startsWith(u"- "))
                m_result.rules.append(trimmed.mid(2).trimmed().toString());
            break;
        case Section::None:
            break;
        }
    }

    void open(Section section)
    {
        m_section = section;
        m_entryIndentation = -1;
        m_namePending = false;
        m_keyIndentation = -1;
        m_propertyIndentation = -1;
        m_provider.clear();
    }

    // Entries of "proxies" and "proxy-groups": the list items at the section's first item indentation.
    // Deeper items (a group's member list) are not entries.
    void feedNamedEntry(QStringView line, QStringView trimmed, qsizetype indentation, QStringList& into)
    {
        if (isListItem(trimmed)) {
            if (m_entryIndentation < 0)
                m_entryIndentation = indentation;
            if (indentation != m_entryIndentation)
                return;
            m_namePending = !appendName(line, into);
            return;
        }
        // A block-mapping entry whose first key is not "name" names itself on a later line.
        if (m_namePending && indentation > m_entryIndentation && isNameKeyLine(trimmed))
            m_namePending = !appendName(line, into);
    }

    static bool appendName(QStringView line, QStringList& into)
    {
        const auto name = capturedValue(patterns().name.match(line));
        if (!name)
            return false;
        into.append(*name);
        return true;
    }

    void feedProvider(QStringView line, QStringView trimmed, qsizetype indentation, QStringList& into,
                      QMap<QString, QString>& urls)
    {
        if (trimmed.startsWith(u'#'))
            return;
        if (m_keyIndentation < 0 || indentation == m_keyIndentation) {
            const QRegularExpressionMatch match = patterns().blockKey.match(line);
            const auto key = capturedValue(match);
            m_provider.clear();
            m_propertyIndentation = -1;
            if (!key)
                return;
            m_keyIndentation = indentation;
            m_provider = *key;
            into.append(m_provider);
            // An inline provider: its health-check block has a url of its own, which must not be taken.
            QString rest = line.mid(match.capturedEnd(0)).toString();
            rest.remove(patterns().inlineHealthCheck);
            if (const auto url = capturedValue(patterns().flowUrl.match(rest)))
                urls.insert(m_provider, *url);
            return;
        }
        if (m_provider.isEmpty() || indentation < m_keyIndentation)
            return;
        // Only the provider's own properties: a nested block (health-check) has a url of its own.
        if (m_propertyIndentation < 0)
            m_propertyIndentation = indentation;
        if (indentation != m_propertyIndentation)
            return;
        if (const auto url = capturedValue(patterns().urlLine.match(line)))
            urls.insert(m_provider, *url);
    }

    ConfigStructure& m_result;
    Section m_section = Section::None;
    qsizetype m_entryIndentation = -1;
    bool m_namePending = false;
    qsizetype m_keyIndentation = -1;
    qsizetype m_propertyIndentation = -1;
    QString m_provider;
};

} // namespace

ConfigStructure parseBytes(const QByteArray& bytes)
{
    if (auto compiled = parseCompiledJson(bytes))
        return *std::move(compiled);
    ConfigStructure result;
    LineScanner(result).scan(QString::fromUtf8(bytes));
    return result;
}

ConfigStructure parse(const QString& filePath)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return parseBytes(file.readAll());
}

QStringList extractGroupOrder(const QString& filePath)
{
    return parse(filePath).proxyGroups;
}

} // namespace tarnwick::ConfigParser
