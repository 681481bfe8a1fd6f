#include "platform/BrowserSession.h"

#include "platform/BrowserAutomation.h"
#include "platform/MozLz4.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

using namespace tarnwick;

namespace {

// A mozLz4 file made with the lz4 tool: its frame's one block behind Firefox's header.
QByteArray mozLz4(const QByteArray& json)
{
    QProcess lz4;
    const QStringList arguments{"-c", "-9", "--no-frame-crc", "-B4"};
    lz4.start("lz4", arguments);
    lz4.write(json);
    lz4.closeWriteChannel();
    lz4.waitForFinished(10000);
    const QByteArray frame = lz4.readAllStandardOutput();
    // Magic, FLG, BD, [content size], HC; then the block's size, its top bit set when stored raw.
    const auto flags = quint8(frame.at(4));
    const qsizetype blockAt = 4 + 2 + ((flags & 0x08) ? 8 : 0) + ((flags & 0x01) ? 4 : 0) + 1;
    const quint32 block = qFromLittleEndian<quint32>(frame.constData() + blockAt);
    EXPECT_EQ(block & 0x80000000u, 0u) << "the lz4 tool stored the block uncompressed";
    QByteArray file("mozLz40\0", 8);
    const quint32 size = qToLittleEndian(quint32(json.size()));
    file.append(reinterpret_cast<const char*>(&size), 4);
    file.append(frame.mid(blockAt + 4, block & 0x7fffffffu));
    return file;
}

QByteArray firefoxSession(int selectedWindow)
{
    return QStringLiteral(R"({"version":["sessionrestore",1],"selectedWindow":%1,"windows":[
        {"selected":2,"tabs":[{"entries":[{"url":"https://first.example/"}],"index":1},
                              {"entries":[{"url":"https://www.example.org/a"},{"url":"https://www.example.org/b"}],"index":2}]},
        {"selected":1,"tabs":[{"entries":[{"url":"about:blank"},{"url":"https://docs.example.net/x?y=1"}],"index":2}]}]})")
        .arg(selectedWindow)
        .toUtf8();
}

// One SNSS record: size (id included), id, payload.
QByteArray record(quint8 id, const QList<qint32>& ints, const QByteArray& text = {})
{
    QByteArray payload;
    const auto put = [&payload](qint32 value) {
        const qint32 little = qToLittleEndian(value);
        payload.append(reinterpret_cast<const char*>(&little), 4);
    };
    if (id == 6)
        put(0); // the pickle's payload size, not read
    for (const qint32 value : ints)
        put(value);
    if (id == 6) {
        put(qint32(text.size()));
        payload.append(text);
        payload.append(QByteArray((4 - text.size() % 4) % 4, '\0'));
    }
    QByteArray out;
    const quint16 size = qToLittleEndian(quint16(payload.size() + 1));
    out.append(reinterpret_cast<const char*>(&size), 2);
    out.append(char(id));
    return out + payload;
}

} // namespace

TEST(BrowserSessionTest, FirefoxSessionsAreDecompressedAndTheSelectedTabRead)
{
    // Long enough for the compressor to use matches, overlapping ones included.
    QByteArray json = firefoxSession(2);
    json.insert(json.size() - 1,
                ",\"padding\":\"" + QByteArray(3000, 'a') + QByteArray("abcabc").repeated(200) + "\"");
    const std::optional<QByteArray> decompressed = MozLz4::decompress(mozLz4(json));
    ASSERT_TRUE(decompressed);
    EXPECT_EQ(*decompressed, json);
    EXPECT_EQ(BrowserSession::firefoxCurrentUrl(*decompressed), "https://docs.example.net/x?y=1");
    EXPECT_EQ(BrowserSession::firefoxCurrentUrl(firefoxSession(1)), "https://www.example.org/b");

    // Damaged files are refused, never read past their end.
    QByteArray truncated = mozLz4(json);
    truncated.chop(20);
    for (const QByteArray& bad : {truncated, QByteArray("mozLz40\0\xff\xff\xff\x7f", 12), json})
        EXPECT_FALSE(MozLz4::decompress(bad));
}

TEST(BrowserSessionTest, ChromiumSessionsAreReplayedToTheActiveWindowsSelectedTab)
{
    QByteArray snss("SNSS\x03\0\0\0", 8);
    snss += record(0, {1, 10}) + record(2, {10, 0}) + record(0, {1, 11}) + record(2, {11, 1}) +
            record(0, {2, 20}) + record(2, {20, 0});
    snss += record(6, {10, 0}, "https://tab-ten.example/") +
            record(6, {11, 0}, "https://www.eleven.example/old") +
            record(6, {11, 1}, "https://www.eleven.example/new") +
            record(6, {20, 0}, "https://other-window.example/");
    snss += record(7, {11, 1}) + record(8, {1, 1}) + record(8, {2, 0}) + record(20, {1});
    EXPECT_EQ(BrowserSession::chromiumCurrentUrl(snss), "https://www.eleven.example/new");
    // Without the window and tab bookkeeping: the page navigated to last.
    EXPECT_EQ(BrowserSession::chromiumCurrentUrl(QByteArray("SNSS\x01\0\0\0", 8) +
                                                 record(6, {5, 0}, "https://a.example/")),
              "https://a.example/");
    EXPECT_FALSE(BrowserSession::chromiumCurrentUrl(QByteArray("SNSS\x03\0\0\0\xff\xff\x06", 11)));
}

TEST(BrowserSessionTest, TheLinuxLayerFindsEachBrowsersSessionInTheHome)
{
    QTemporaryDir home;
    test::writeFile(home.filePath(".mozilla/firefox/profiles.ini"),
                    "[Profile0]\nName=default\nIsRelative=1\nPath=abc.default\nDefault=1\n\n"
                    "[Profile1]\nName=release\nIsRelative=1\nPath=xyz.default-esr\n\n"
                    "[Install1234]\nDefault=xyz.default-esr\nLocked=1\n");
    test::writeFile(home.filePath(".mozilla/firefox/xyz.default-esr/sessionstore-backups/recovery.jsonlz4"),
                    mozLz4(firefoxSession(1)));
    QByteArray snss("SNSS\x03\0\0\0", 8);
    test::writeFile(
        home.filePath("config/BraveSoftware/Brave-Browser/Default/Sessions/Session_13350000000000000"),
        snss + record(6, {1, 0}, "https://brave.example/"));
    LinuxBrowserAutomation layer(home.path(), home.filePath("config"));
    EXPECT_EQ(layer.currentPage("org.mozilla.firefox"), "https://www.example.org/b");
    EXPECT_EQ(layer.currentPage("com.brave.Browser"), "https://brave.example/");
    EXPECT_FALSE(layer.currentPage("com.google.Chrome"));
    EXPECT_EQ(layer.automationStatus("com.google.Chrome", true), AutomationStatus::notRunning);

    const std::pair<const char*, const char*> classes[] = {{"firefox-esr", "org.mozilla.firefox"},
                                                           {"Chromium", "org.chromium.Chromium"},
                                                           {"Google-chrome", "com.google.Chrome"},
                                                           {"Brave-browser", "com.brave.Browser"},
                                                           {"gedit", nullptr}};
    for (const auto& [windowClass, identifier] : classes)
        EXPECT_EQ(LinuxBrowserAutomation::identifierForWindowClass(QLatin1String(windowClass)),
                  identifier ? std::optional<QString>(QLatin1String(identifier)) : std::optional<QString>())
            << windowClass;
}
