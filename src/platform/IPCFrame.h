#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <optional>

namespace tarnwick {

// The framing of every local socket the application speaks (helper socket, control socket): a 4-byte
// big-endian length followed by that many bytes of UTF-8 JSON. Lengths of 1 to 2^20 - 1 are accepted.
class IPCFrame final
{
public:
    static constexpr qsizetype headerSize = 4;
    // Every length must stay below this.
    static constexpr quint32 lengthLimit = 1u << 20;

    static bool acceptsLength(quint64 length) { return length > 0 && length < lengthLimit; }

    // The frame carrying the payload, or nothing when the payload's length is not accepted.
    static std::optional<QByteArray> encode(const QByteArray& payload);
    static std::optional<QByteArray> encode(const QJsonObject& object);

    // The JSON object a payload holds, or nothing when it is not one.
    static std::optional<QJsonObject> decode(const QByteArray& payload);

    // Blocking read of one frame from a descriptor, waiting for all of it. Nothing on a short read (the
    // peer closed early), a rejected length or a payload that is not a JSON object.
    static std::optional<QJsonObject> read(int fd);

    // Writes the object as one frame in one send; false when it cannot be framed or sent.
    static bool write(const QJsonObject& object, int fd);

    // Incremental decoding for event-driven sockets: append what arrived, then take payloads while there
    // are complete ones. A rejected length ends the stream for good, since nothing after it can be trusted.
    class Reader final
    {
    public:
        void append(const QByteArray& bytes);
        // The next complete payload, or nothing while it is incomplete or after the stream failed.
        std::optional<QByteArray> next();
        bool failed() const { return m_failed; }

    private:
        QByteArray m_buffer;
        bool m_failed = false;
    };
};

} // namespace tarnwick
