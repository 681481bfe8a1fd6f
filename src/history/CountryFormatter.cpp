#include "CountryFormatter.h"

#include <QCoreApplication>
#include <QHash>
#include <QLocale>

namespace tarnwick {

namespace {

const char* const kContext = "CountryFormatter";

const QHash<QString, const char*>& groupNames()
{
    static const QHash<QString, const char*> names{
        {QStringLiteral("CLOUDFLARE"), QT_TRANSLATE_NOOP("CountryFormatter", "Cloudflare CDN")},
        {QStringLiteral("CLOUDFRONT"), QT_TRANSLATE_NOOP("CountryFormatter", "Amazon CloudFront")},
        {QStringLiteral("FACEBOOK"), QT_TRANSLATE_NOOP("CountryFormatter", "Meta / Facebook")},
        {QStringLiteral("FASTLY"), QT_TRANSLATE_NOOP("CountryFormatter", "Fastly CDN")},
        {QStringLiteral("GOOGLE"), QT_TRANSLATE_NOOP("CountryFormatter", "Google")},
        {QStringLiteral("NETFLIX"), QT_TRANSLATE_NOOP("CountryFormatter", "Netflix")},
        {QStringLiteral("TELEGRAM"), QT_TRANSLATE_NOOP("CountryFormatter", "Telegram")},
        {QStringLiteral("TWITTER"), QT_TRANSLATE_NOOP("CountryFormatter", "X / Twitter")},
        {QStringLiteral("PRIVATE"), QT_TRANSLATE_NOOP("CountryFormatter", "Private Network")},
        {QStringLiteral("AKAMAI"), QT_TRANSLATE_NOOP("CountryFormatter", "Akamai CDN")},
        {QStringLiteral("APPLE"), QT_TRANSLATE_NOOP("CountryFormatter", "Apple")},
        {QStringLiteral("MICROSOFT"), QT_TRANSLATE_NOOP("CountryFormatter", "Microsoft")},
    };
    return names;
}

QString tr(const char* text)
{
    return QCoreApplication::translate(kContext, text);
}

// A two-letter code the locale data knows as a region.
bool isRegionCode(const QString& code)
{
    return code.size() == 2 && code[0].isLetter() && code[1].isLetter() && code[0].unicode() < 128 &&
           code[1].unicode() < 128 && QLocale::codeToTerritory(code.toUpper()) != QLocale::AnyTerritory;
}

} // namespace

QString CountryFormatter::localizedName(const QString& code)
{
    if (code == QLatin1String("Local"))
        return tr(QT_TRANSLATE_NOOP("CountryFormatter", "Local Device"));
    if (code == QLatin1String("LAN"))
        return tr(QT_TRANSLATE_NOOP("CountryFormatter", "Intranet"));
    if (code == QLatin1String("Unresolved"))
        return tr(QT_TRANSLATE_NOOP("CountryFormatter", "Unresolved"));
    if (code.isEmpty() || code == QLatin1String("Unknown"))
        return tr(QT_TRANSLATE_NOOP("CountryFormatter", "Unknown"));
    const auto group = groupNames().constFind(code);
    if (group != groupNames().cend())
        return tr(*group);
    if (isRegionCode(code))
        return QLocale::territoryToString(QLocale::codeToTerritory(code.toUpper()));
    return code;
}

QString CountryFormatter::flagEmoji(const QString& code)
{
    const QString globe = QString::fromUcs4(U"\U0001F310", 1);
    if (code.size() != 2 || code.toUpper() == QLatin1String("XX") || !isRegionCode(code))
        return globe;
    char32_t symbols[2];
    for (int i = 0; i < 2; ++i)
        symbols[i] = char32_t(code[i].toUpper().unicode()) + 127397;
    return QString::fromUcs4(symbols, 2);
}

QString CountryFormatter::display(const QString& code)
{
    return flagEmoji(code) + u' ' + localizedName(code);
}

} // namespace tarnwick
