#include "MozLz4.h"

namespace tarnwick::MozLz4 {

namespace {

constexpr char kMagic[] = "mozLz40";      // followed by a NUL, which sizeof counts
constexpr qsizetype kMaxSize = 256 << 20; // no session is larger; anything bigger is damage

// One LZ4 block (the format of lz4's block API) into `size` bytes.
std::optional<QByteArray> decodeBlock(const uchar* in, qsizetype length, qsizetype size)
{
    QByteArray out;
    out.reserve(size);
    qsizetype pos = 0;
    const auto extended = [&](qsizetype value) -> std::optional<qsizetype> {
        if (value != 15)
            return value;
        while (true) {
            if (pos >= length)
                return std::nullopt;
            const uchar more = in[pos++];
            value += more;
            if (more != 255)
                return value;
        }
    };
    while (pos < length) {
        const uchar token = in[pos++];
        const std::optional<qsizetype> literals = extended(token >> 4);
        if (!literals || pos + *literals > length || out.size() + *literals > size)
            return std::nullopt;
        out.append(reinterpret_cast<const char*>(in + pos), *literals);
        pos += *literals;
        if (pos == length)
            break; // the last sequence has literals only
        if (pos + 2 > length)
            return std::nullopt;
        const qsizetype offset = in[pos] | (qsizetype(in[pos + 1]) << 8);
        pos += 2;
        const std::optional<qsizetype> match = extended(token & 0x0f);
        if (!match || offset == 0 || offset > out.size() || out.size() + *match + 4 > size)
            return std::nullopt;
        // Byte by byte: a match may overlap the bytes it is copying.
        qsizetype from = out.size() - offset;
        for (qsizetype i = 0; i < *match + 4; ++i)
            out.append(out.at(from++));
    }
    if (out.size() != size)
        return std::nullopt;
    return out;
}

} // namespace

std::optional<QByteArray> decompress(const QByteArray& file)
{
    const qsizetype header = qsizetype(sizeof kMagic) + 4;
    if (file.size() < header || !file.startsWith(QByteArray(kMagic, sizeof kMagic)))
        return std::nullopt;
    const auto* bytes = reinterpret_cast<const uchar*>(file.constData());
    const qsizetype size = qsizetype(bytes[8]) | (qsizetype(bytes[9]) << 8) | (qsizetype(bytes[10]) << 16) |
                           (qsizetype(bytes[11]) << 24);
    if (size > kMaxSize)
        return std::nullopt;
    return decodeBlock(bytes + header, file.size() - header, size);
}

} // namespace tarnwick::MozLz4
