#include "RuleStore.h"

#include "AtomicFile.h"

#include <QByteArrayList>

namespace tarnwick {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// A line without its carriage return, which a file with CRLF line ends keeps on every line.
struct Line
{
    QByteArray body;
    bool carriageReturn = false;

    explicit Line(const QByteArray& raw)
        : body(raw.endsWith('\r') ? raw.chopped(1) : raw), carriageReturn(raw.endsWith('\r'))
    {}
};

QByteArray indentationOf(const QByteArray& line)
{
    qsizetype n = 0;
    while (n < line.size() && isBlank(line[n]))
        ++n;
    return line.left(n);
}

bool isHeader(const QByteArray& line)
{
    const QByteArray text = Line(line).body.trimmed();
    return text == "rules:" || text.startsWith("rules: ") || text.startsWith("rules:#");
}

// An enabled entry starts with "- ", "-\"" or "-'"; a disabled one is such an entry behind "#" and blanks.
bool isEnabledEntry(const QByteArray& trimmed)
{
    return trimmed.startsWith("- ") || trimmed.startsWith("-\"") || trimmed.startsWith("-'");
}

bool isDisabledEntry(const QByteArray& trimmed)
{
    if (!trimmed.startsWith('#'))
        return false;
    qsizetype n = 1;
    while (n < trimmed.size() && isBlank(trimmed[n]))
        ++n;
    return trimmed.mid(n).startsWith("- ");
}

// Entries may sit at column 0 right under the key, so a dash (or a commented-out dash) continues the
// section as indented lines do.
bool continuesSection(const QByteArray& body)
{
    return body.isEmpty() || isBlank(body[0]) || body[0] == '-' || body[0] == '#';
}

struct Section
{
    qsizetype header = -1;
    QList<qsizetype> entries; // line numbers
};

Section locate(const QByteArrayList& lines)
{
    Section section;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (isHeader(lines[i])) {
            section.header = i;
            break;
        }
    }
    if (section.header < 0)
        throw RuleCRUDError::rulesKeyNotFound();
    for (qsizetype i = section.header + 1; i < lines.size(); ++i) {
        const Line line(lines[i]);
        if (!continuesSection(line.body))
            break;
        const QByteArray trimmed = line.body.trimmed();
        if (isEnabledEntry(trimmed) || isDisabledEntry(trimmed))
            section.entries.append(i);
    }
    return section;
}

void checkIndex(qsizetype index, qsizetype total)
{
    if (index < 0 || index >= total)
        throw RuleCRUDError::indexOutOfBounds(index, total);
}

void checkRule(const QString& raw)
{
    if (raw.contains(u'\n') || raw.contains(u'\r'))
        throw RuleCRUDError::invalidRule(QStringLiteral("a rule is one line"));
    if (raw.trimmed().isEmpty())
        throw RuleCRUDError::invalidRule(QStringLiteral("the rule is empty"));
}

// The file split at line feeds, every byte kept.
QByteArrayList readLines(const QString& configFile)
{
    return AtomicFile::read(configFile).split('\n');
}

void writeLines(const QString& configFile, const QByteArrayList& lines)
{
    AtomicFile::write(configFile, lines.join('\n'));
}

// A new enabled rule line: the first entry's indentation and, in a CRLF file, its line end.
QByteArray ruleLine(const QByteArrayList& lines, const Section& section, const QString& raw)
{
    const qsizetype model = section.entries.isEmpty() ? section.header : section.entries.first();
    const Line line(lines[model]);
    const QByteArray indentation = section.entries.isEmpty() ? QByteArray() : indentationOf(line.body);
    return indentation + "- " + raw.trimmed().toUtf8() + (line.carriageReturn ? "\r" : "");
}

QString entryText(const QByteArray& trimmed)
{
    qsizetype n = 0;
    if (trimmed.startsWith('#')) {
        n = 1;
        while (n < trimmed.size() && isBlank(trimmed[n]))
            ++n;
    }
    ++n; // the dash
    while (n < trimmed.size() && isBlank(trimmed[n]))
        ++n;
    QByteArray text = trimmed.mid(n);
    if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') && text.back() == text.front())
        text = text.mid(1, text.size() - 2);
    return QString::fromUtf8(text);
}

} // namespace

RuleCRUDError RuleCRUDError::indexOutOfBounds(qsizetype index, qsizetype total)
{
    return {Kind::indexOutOfBounds,
            QStringLiteral("Rule index %1 is out of bounds (total: %2)").arg(index).arg(total)};
}

RuleCRUDError RuleCRUDError::rulesKeyNotFound()
{
    return {Kind::rulesKeyNotFound, QStringLiteral("Could not find 'rules:' section in config file")};
}

RuleCRUDError RuleCRUDError::invalidRule(const QString& why)
{
    return {Kind::invalidRule, QStringLiteral("Invalid rule: ") + why};
}

QList<RuleEntry> RuleStore::listRules(const QString& configFile)
{
    const QByteArrayList lines = readLines(configFile);
    const Section section = locate(lines);
    QList<RuleEntry> entries;
    for (const qsizetype line : section.entries) {
        const QByteArray trimmed = Line(lines[line]).body.trimmed();
        entries.append({entries.size(), !trimmed.startsWith('#'), entryText(trimmed)});
    }
    return entries;
}

void RuleStore::insertRule(const QString& raw, qsizetype at, const QString& configFile)
{
    checkRule(raw);
    QByteArrayList lines = readLines(configFile);
    const Section section = locate(lines);
    const qsizetype count = section.entries.size();
    if (at < 0 || at > count)
        throw RuleCRUDError::indexOutOfBounds(at, count);
    const qsizetype position = at < count  ? section.entries[at]
                               : count > 0 ? section.entries.last() + 1
                                           : section.header + 1;
    lines.insert(position, ruleLine(lines, section, raw));
    writeLines(configFile, lines);
}

void RuleStore::deleteRule(qsizetype at, const QString& configFile)
{
    QByteArrayList lines = readLines(configFile);
    const Section section = locate(lines);
    checkIndex(at, section.entries.size());
    lines.removeAt(section.entries[at]);
    writeLines(configFile, lines);
}

void RuleStore::updateRule(qsizetype at, const QString& newRaw, const QString& configFile)
{
    checkRule(newRaw);
    QByteArrayList lines = readLines(configFile);
    const Section section = locate(lines);
    checkIndex(at, section.entries.size());
    QByteArray line = ruleLine(lines, section, newRaw);
    // The replaced line keeps its own line end.
    if (line.endsWith('\r') != lines[section.entries[at]].endsWith('\r'))
        line = line.endsWith('\r') ? line.chopped(1) : line + '\r';
    lines[section.entries[at]] = line;
    writeLines(configFile, lines);
}

void RuleStore::toggleRule(qsizetype at, const QString& configFile)
{
    QByteArrayList lines = readLines(configFile);
    const Section section = locate(lines);
    checkIndex(at, section.entries.size());
    const Line line(lines[section.entries[at]]);
    const QByteArray indentation = indentationOf(line.body);
    const QByteArray rest = line.body.mid(indentation.size());
    QByteArray toggled;
    if (rest.startsWith('#')) {
        const QByteArray afterHash = rest.mid(1);
        toggled = indentation + (afterHash.startsWith(' ') ? afterHash.mid(1) : afterHash);
    } else {
        toggled = indentation + "# " + line.body.trimmed();
    }
    lines[section.entries[at]] = toggled + (line.carriageReturn ? "\r" : "");
    writeLines(configFile, lines);
}

void RuleStore::swapRules(qsizetype at, qsizetype with, const QString& configFile)
{
    QByteArrayList lines = readLines(configFile);
    const Section section = locate(lines);
    checkIndex(at, section.entries.size());
    checkIndex(with, section.entries.size());
    lines.swapItemsAt(section.entries[at], section.entries[with]);
    writeLines(configFile, lines);
}

QString LogicalRuleParser::stripOuterParentheses(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (!trimmed.startsWith(u'(') || !trimmed.endsWith(u')'))
        return trimmed;
    int depth = 0;
    for (qsizetype i = 0; i < trimmed.size(); ++i) {
        if (trimmed[i] == u'(')
            ++depth;
        else if (trimmed[i] == u')' && --depth == 0 && i + 1 < trimmed.size())
            return trimmed;
    }
    return trimmed.mid(1, trimmed.size() - 2).trimmed();
}

QStringList LogicalRuleParser::splitTopLevel(const QString& text)
{
    QStringList parts;
    int depth = 0;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'(') {
            ++depth;
        } else if (text[i] == u')') {
            depth = std::max(0, depth - 1);
        } else if (text[i] == u',' && depth == 0) {
            parts.append(text.mid(start, i - start).trimmed());
            start = i + 1;
        }
    }
    parts.append(text.mid(start).trimmed());
    return parts;
}

QList<LogicalRuleParser::Condition> LogicalRuleParser::decompose(const QString& payload)
{
    QList<Condition> conditions;
    for (const QString& part : splitTopLevel(stripOuterParentheses(payload))) {
        Condition condition{stripOuterParentheses(part), {}, {}};
        const QStringList pieces = splitTopLevel(condition.text);
        const QString head = pieces.first();
        if (head == QLatin1String("AND") || head == QLatin1String("OR") || head == QLatin1String("NOT")) {
            condition.logical = head;
            condition.operands = decompose(pieces.mid(1).join(u','));
        }
        conditions.append(std::move(condition));
    }
    return conditions;
}

} // namespace tarnwick
