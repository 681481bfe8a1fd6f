// The framing shared by the helper socket and the control socket.
#include "platform/IPCFrame.h"

#include "support/TestSupport.h"

#include <QJsonDocument>
#include <chrono>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace tarnwick;

namespace {

QByteArray header(quint32 length)
{
    const char bytes[4] = {char(length >> 24), char(length >> 16), char(length >> 8), char(length)};
    return QByteArray(bytes, 4);
}

// A connected pair of stream sockets, closed on destruction.
struct SocketPair
{
    int fds[2] = {-1, -1};
    SocketPair() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0); }
    ~SocketPair()
    {
        for (const int fd : fds) {
            if (fd >= 0)
                ::close(fd);
        }
    }
    void closeWriter()
    {
        ::close(fds[1]);
        fds[1] = -1;
    }
    void send(const QByteArray& bytes) const
    {
        ASSERT_EQ(::write(fds[1], bytes.constData(), static_cast<size_t>(bytes.size())), bytes.size());
    }
};

} // namespace

TEST(IPCFrameTest, EncodesTheLengthBigEndianAndRejectsEmptyAndOversizedPayloads)
{
    const std::optional<QByteArray> frame = IPCFrame::encode(QByteArrayLiteral("{\"a\":1}"));
    ASSERT_TRUE(frame);
    EXPECT_EQ(*frame, header(7) + QByteArrayLiteral("{\"a\":1}"));

    EXPECT_FALSE(IPCFrame::encode(QByteArray()));
    EXPECT_FALSE(IPCFrame::encode(QByteArray(1 << 20, 'x')));
    const std::optional<QByteArray> largest = IPCFrame::encode(QByteArray((1 << 20) - 1, 'x'));
    ASSERT_TRUE(largest);
    EXPECT_EQ(largest->left(4), header((1 << 20) - 1));
}

TEST(IPCFrameTest, ReaderReassemblesFramesFromAnySplit)
{
    const QByteArray stream = *IPCFrame::encode(QJsonObject{{"n", 1}}) +
                              *IPCFrame::encode(QJsonObject{{"text", QStringLiteral("grüß")}});
    IPCFrame::Reader reader;
    QList<QByteArray> payloads;
    for (const char byte : stream) {
        reader.append(QByteArray(1, byte));
        while (const std::optional<QByteArray> payload = reader.next())
            payloads.append(*payload);
    }
    ASSERT_EQ(payloads.size(), 2);
    EXPECT_EQ(IPCFrame::decode(payloads[0])->value("n").toInt(), 1);
    EXPECT_EQ(IPCFrame::decode(payloads[1])->value("text").toString(), QStringLiteral("grüß"));
    EXPECT_FALSE(reader.failed());

    // Both frames in one chunk.
    IPCFrame::Reader whole;
    whole.append(stream);
    EXPECT_TRUE(whole.next());
    EXPECT_TRUE(whole.next());
    EXPECT_FALSE(whole.next());
}

TEST(IPCFrameTest, ReaderFailsForGoodOnARejectedLength)
{
    for (const quint32 length : {0u, 1u << 20, 0xFFFFFFFFu}) {
        IPCFrame::Reader reader;
        reader.append(header(length) + QByteArrayLiteral("{}"));
        EXPECT_FALSE(reader.next()) << length;
        EXPECT_TRUE(reader.failed()) << length;
        // Later valid frames cannot resynchronise a broken stream.
        reader.append(*IPCFrame::encode(QByteArrayLiteral("{}")));
        EXPECT_FALSE(reader.next()) << length;
    }
}

TEST(IPCFrameTest, ReadWaitsForEveryByteOfAFrameWrittenInPieces)
{
    SocketPair pair;
    const QByteArray frame = *IPCFrame::encode(QJsonObject{{"operation", "getVersion"}});
    // Header and payload arrive in pieces, each only once read() has taken every byte before it, so a
    // read() that returns after one piece cannot pass.
    std::thread writer([&pair, frame] {
        // A reader that stopped reading leaves the piece unread: nothing more is sent.
        int unread = 0;
        for (qsizetype at = 0; at < frame.size() && unread == 0; at += 3) {
            pair.send(frame.mid(at, 3));
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (::ioctl(pair.fds[0], FIONREAD, &unread) == 0 && unread > 0 &&
                   std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    const std::optional<QJsonObject> object = IPCFrame::read(pair.fds[0]);
    writer.join();
    ASSERT_TRUE(object);
    EXPECT_EQ(object->value("operation").toString(), "getVersion");
}

TEST(IPCFrameTest, ReadGivesNothingForShortReadsBadLengthsAndNonObjects)
{
    const struct
    {
        const char* what;
        QByteArray bytes;
        bool peerCloses;
    } cases[] = {
        {"the peer closes after the header", header(10), true},
        {"the peer closes in the middle of the header", QByteArray(2, '\0'), true},
        {"the peer closes in the middle of the payload", header(10) + "{\"a\":", true},
        // The peer stays: a length that is not refused at once would wait for its payload.
        {"an empty frame", header(0) + "{}", false},
        {"an oversized frame", header(1 << 20) + "{}", false},
        {"a payload that is not JSON", *IPCFrame::encode(QByteArrayLiteral("{\"a\":")), false},
        {"an array", *IPCFrame::encode(QByteArrayLiteral("[1,2]")), false},
        {"a string", *IPCFrame::encode(QByteArrayLiteral("\"s\"")), false},
    };
    for (const auto& c : cases) {
        SocketPair pair;
        pair.send(c.bytes);
        if (c.peerCloses)
            pair.closeWriter();
        EXPECT_FALSE(IPCFrame::read(pair.fds[0])) << c.what;
    }
}

TEST(IPCFrameTest, WriteSendsOneFrameThatReadReturns)
{
    SocketPair pair;
    const QJsonObject object{{"path", "/a/b"}, {"n", 42}};
    ASSERT_TRUE(IPCFrame::write(object, pair.fds[1]));
    EXPECT_EQ(IPCFrame::read(pair.fds[0]), object);

    // An object too large for one frame is not sent at all.
    const QJsonObject huge{{"blob", QString(1 << 20, QLatin1Char('x'))}};
    EXPECT_FALSE(IPCFrame::write(huge, pair.fds[1]));
    pair.closeWriter();
    EXPECT_FALSE(IPCFrame::read(pair.fds[0]));
}
