#include "IPCFrame.h"

#include <QJsonDocument>
#include <QtEndian>
#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace tarnwick {

namespace {

#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL; // a vanished peer is an error, not a SIGPIPE
#else
constexpr int kSendFlags = 0;
#endif

bool readExactly(int fd, char* data, qsizetype size)
{
    qsizetype done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, data + done, static_cast<size_t>(size - done));
        if (n > 0)
            done += n;
        else if (n < 0 && errno == EINTR)
            continue;
        else
            return false;
    }
    return true;
}

quint32 lengthFromHeader(const char* header)
{
    return qFromBigEndian<quint32>(header);
}

} // namespace

std::optional<QByteArray> IPCFrame::encode(const QByteArray& payload)
{
    if (!acceptsLength(static_cast<quint64>(payload.size())))
        return std::nullopt;
    QByteArray frame(headerSize, Qt::Uninitialized);
    qToBigEndian<quint32>(static_cast<quint32>(payload.size()), frame.data());
    frame.append(payload);
    return frame;
}

std::optional<QByteArray> IPCFrame::encode(const QJsonObject& object)
{
    return encode(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

std::optional<QJsonObject> IPCFrame::decode(const QByteArray& payload)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(payload, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

std::optional<QJsonObject> IPCFrame::read(int fd)
{
    char header[headerSize];
    if (!readExactly(fd, header, headerSize))
        return std::nullopt;
    const quint32 length = lengthFromHeader(header);
    if (!acceptsLength(length))
        return std::nullopt;
    QByteArray payload(static_cast<qsizetype>(length), Qt::Uninitialized);
    if (!readExactly(fd, payload.data(), payload.size()))
        return std::nullopt;
    return decode(payload);
}

bool IPCFrame::write(const QJsonObject& object, int fd)
{
    const std::optional<QByteArray> frame = encode(object);
    if (!frame)
        return false;
    qsizetype done = 0;
    while (done < frame->size()) {
        const ssize_t n =
            ::send(fd, frame->constData() + done, static_cast<size_t>(frame->size() - done), kSendFlags);
        if (n > 0)
            done += n;
        else if (n < 0 && errno == EINTR)
            continue;
        else
            return false;
    }
    return true;
}

void IPCFrame::Reader::append(const QByteArray& bytes)
{
    if (!m_failed)
        m_buffer.append(bytes);
}

std::optional<QByteArray> IPCFrame::Reader::next()
{
    if (m_failed || m_buffer.size() < headerSize)
        return std::nullopt;
    const quint32 length = lengthFromHeader(m_buffer.constData());
    if (!acceptsLength(length)) {
        m_failed = true;
        m_buffer.clear();
        return std::nullopt;
    }
    if (m_buffer.size() < headerSize + static_cast<qsizetype>(length))
        return std::nullopt;
    QByteArray payload = m_buffer.mid(headerSize, length);
    m_buffer.remove(0, headerSize + length);
    return payload;
}

} // namespace tarnwick
