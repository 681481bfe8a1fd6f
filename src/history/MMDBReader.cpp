#include "MMDBReader.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>

namespace tarnwick {

namespace {

Q_LOGGING_CATEGORY(lcGeoIP, "app.tarnwick.GeoIPResolver")

bool openDatabase(const QString& path, MMDB_s* db, const char* name)
{
    const int status = MMDB_open(QFile::encodeName(path).constData(), MMDB_MODE_MMAP, db);
    if (status == MMDB_SUCCESS)
        return true;
    qCWarning(lcGeoIP, "%s open failed (status %d)", name, status);
    return false;
}

// The entry for an address, when the database has one.
std::optional<MMDB_entry_s> entryFor(MMDB_s* db, const QString& ip)
{
    int gaiError = 0;
    int mmdbError = MMDB_SUCCESS;
    const MMDB_lookup_result_s result =
        MMDB_lookup_string(db, ip.toUtf8().constData(), &gaiError, &mmdbError);
    if (gaiError != 0 || mmdbError != MMDB_SUCCESS || !result.found_entry)
        return std::nullopt;
    return result.entry;
}

std::optional<QString> utf8At(MMDB_entry_s entry, const char* const* path)
{
    MMDB_entry_data_s data;
    if (MMDB_aget_value(&entry, &data, path) != MMDB_SUCCESS || !data.has_data ||
        data.type != MMDB_DATA_TYPE_UTF8_STRING)
        return std::nullopt;
    return QString::fromUtf8(data.utf8_string, int(data.data_size));
}

} // namespace

MMDBReader::MMDBReader(const QString& workDirectory)
{
    const QDir dir(workDirectory);
    m_countryOpen = openDatabase(dir.filePath(QStringLiteral("Country.mmdb")), &m_countryDB, "Country.mmdb");
    m_asnOpen = openDatabase(dir.filePath(QStringLiteral("ASN.mmdb")), &m_asnDB, "ASN.mmdb");
}

MMDBReader::~MMDBReader()
{
    if (m_countryOpen)
        MMDB_close(&m_countryDB);
    if (m_asnOpen)
        MMDB_close(&m_asnDB);
}

std::optional<QString> MMDBReader::lookupCountry(const QString& ip)
{
    if (!m_countryOpen)
        return std::nullopt;
    const std::optional<MMDB_entry_s> entry = entryFor(&m_countryDB, ip);
    if (!entry)
        return std::nullopt;
    static const char* const path[] = {"country", "iso_code", nullptr};
    return utf8At(*entry, path);
}

std::optional<std::pair<QString, QString>> MMDBReader::lookupASN(const QString& ip)
{
    if (!m_asnOpen)
        return std::nullopt;
    const std::optional<MMDB_entry_s> entry = entryFor(&m_asnDB, ip);
    if (!entry)
        return std::nullopt;
    MMDB_entry_s numberEntry = *entry;
    MMDB_entry_data_s number;
    static const char* const numberPath[] = {"autonomous_system_number", nullptr};
    if (MMDB_aget_value(&numberEntry, &number, numberPath) != MMDB_SUCCESS || !number.has_data ||
        number.type != MMDB_DATA_TYPE_UINT32)
        return std::nullopt;
    static const char* const organisationPath[] = {"autonomous_system_organization", nullptr};
    const std::optional<QString> organisation = utf8At(*entry, organisationPath);
    if (!organisation)
        return std::nullopt;
    return std::pair(QStringLiteral("AS") + QString::number(number.uint32), *organisation);
}

} // namespace tarnwick
