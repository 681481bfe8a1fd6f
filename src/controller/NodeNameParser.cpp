#include "NodeNameParser.h"

#include <QStringList>
#include <QStringView>
#include <array>

namespace tarnwick::NodeNameParser {

namespace {

struct Country
{
    const char* code;
    QStringList keywords;
};

// Searched in this order, keyword by keyword.
const std::array<Country, 18>& countries()
{
    static const std::array<Country, 18> table{{
        {"HK", {u"香港"_qs, u"hk"_qs, u"hongkong"_qs, u"hong kong"_qs, u"xianggang"_qs}},
        {"JP", {u"日本"_qs, u"jp"_qs, u"japan"_qs, u"riben"_qs, u"tokyo"_qs, u"东京"_qs}},
        {"US",
         {u"美国"_qs, u"us"_qs, u"usa"_qs, u"united states"_qs, u"america"_qs, u"meiguo"_qs, u"new york"_qs,
          u"纽约"_qs, u"los angeles"_qs, u"洛杉矶"_qs}},
        {"TW", {u"台湾"_qs, u"tw"_qs, u"taiwan"_qs, u"taipei"_qs, u"台北"_qs, u"hsinchu"_qs, u"新竹"_qs}},
        {"SG", {u"新加坡"_qs, u"sg"_qs, u"singapore"_qs, u"xinjiapo"_qs, u"獅城"_qs, u"狮城"_qs}},
        {"KR", {u"韩国"_qs, u"kr"_qs, u"korea"_qs, u"seoul"_qs, u"hanguo"_qs, u"首尔"_qs, u"南韩"_qs}},
        {"GB", {u"英国"_qs, u"uk"_qs, u"gb"_qs, u"united kingdom"_qs, u"london"_qs, u"伦敦"_qs, u"英伦"_qs}},
        {"DE", {u"德国"_qs, u"de"_qs, u"germany"_qs, u"deutschland"_qs, u"frankfurt"_qs, u"法兰克福"_qs}},
        {"FR", {u"法国"_qs, u"fr"_qs, u"france"_qs, u"paris"_qs, u"巴黎"_qs}},
        {"RU", {u"俄罗斯"_qs, u"ru"_qs, u"russia"_qs, u"moscow"_qs, u"莫斯科"_qs}},
        {"CA",
         {u"加拿大"_qs, u"ca"_qs, u"canada"_qs, u"toronto"_qs, u"多伦多"_qs, u"温哥华"_qs, u"vancouver"_qs}},
        {"AU",
         {u"澳大利亚"_qs, u"au"_qs, u"australia"_qs, u"sydney"_qs, u"悉尼"_qs, u"墨尔本"_qs,
          u"melbourne"_qs}},
        {"TR", {u"土耳其"_qs, u"tr"_qs, u"turkey"_qs, u"istanbul"_qs, u"伊斯坦布尔"_qs}},
        {"IN", {u"印度"_qs, u"in"_qs, u"india"_qs, u"mumbai"_qs, u"孟买"_qs, u"delhi"_qs, u"新德里"_qs}},
        {"VN",
         {u"越南"_qs, u"vn"_qs, u"vietnam"_qs, u"hanoi"_qs, u"河内"_qs, u"ho chi minh"_qs, u"胡志明"_qs}},
        {"PH", {u"菲律宾"_qs, u"ph"_qs, u"philippines"_qs, u"manila"_qs, u"马尼拉"_qs}},
        {"TH", {u"泰国"_qs, u"th"_qs, u"thailand"_qs, u"bangkok"_qs, u"曼谷"_qs}},
        {"MY", {u"马来西亚"_qs, u"my"_qs, u"malaysia"_qs, u"kuala lumpur"_qs, u"吉隆坡"_qs}},
    }};
    return table;
}

bool isLatinLetter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// A two-letter code stands alone when no Latin letter is right before or after it.
bool containsCode(const QString& name, const QString& code)
{
    for (qsizetype at = name.indexOf(code); at >= 0; at = name.indexOf(code, at + 1)) {
        const bool before = at > 0 && isLatinLetter(name.at(at - 1));
        const bool after = at + code.size() < name.size() && isLatinLetter(name.at(at + code.size()));
        if (!before && !after)
            return true;
    }
    return false;
}

constexpr char32_t regionalIndicatorA = 0x1F1E6;
constexpr char32_t regionalIndicatorZ = 0x1F1FF;

bool isRegionalIndicator(char32_t scalar)
{
    return scalar >= regionalIndicatorA && scalar <= regionalIndicatorZ;
}

} // namespace

std::optional<QString> countryCode(const QString& name)
{
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    const QList<uint> scalars = trimmed.toUcs4();
    for (qsizetype i = 0; i + 1 < scalars.size(); ++i) {
        if (isRegionalIndicator(scalars[i]) && isRegionalIndicator(scalars[i + 1])) {
            const QChar first(static_cast<char16_t>(u'A' + (scalars[i] - regionalIndicatorA)));
            const QChar second(static_cast<char16_t>(u'A' + (scalars[i + 1] - regionalIndicatorA)));
            return QString(first) + second;
        }
    }
    const QString lower = trimmed.toLower();
    for (const Country& country : countries()) {
        for (const QString& keyword : country.keywords) {
            const bool isCode =
                keyword.size() == 2 && isLatinLetter(keyword.at(0)) && isLatinLetter(keyword.at(1));
            if (isCode ? containsCode(lower, keyword) : lower.contains(keyword))
                return QString::fromLatin1(country.code);
        }
    }
    return std::nullopt;
}

} // namespace tarnwick::NodeNameParser
