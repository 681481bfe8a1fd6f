#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstring>

namespace tarnwick::utf8 {

// Byte-level UTF-8 helpers shared by the JSON reader, the scanner and the patcher.

// Length of the sequence starting with `lead`, or 0 when `lead` cannot start one.
inline int sequenceLength(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if (lead < 0xC2)
        return 0;
    if (lead < 0xE0)
        return 2;
    if (lead < 0xF0)
        return 3;
    if (lead < 0xF5)
        return 4;
    return 0;
}

// Decodes one well-formed sequence of `length` bytes (as validated by `validPrefix`).
inline char32_t decode(const unsigned char* p, int length)
{
    switch (length) {
    case 1:
        return p[0];
    case 2:
        return char32_t(p[0] & 0x1F) << 6 | (p[1] & 0x3F);
    case 3:
        return char32_t(p[0] & 0x0F) << 12 | char32_t(p[1] & 0x3F) << 6 | (p[2] & 0x3F);
    default:
        return char32_t(p[0] & 0x07) << 18 | char32_t(p[1] & 0x3F) << 12 | char32_t(p[2] & 0x3F) << 6 |
               (p[3] & 0x3F);
    }
}

// Number of leading bytes of [begin, end) that form well-formed UTF-8 (no overlongs, surrogates or code
// points above U+10FFFF).
inline qsizetype validPrefix(const char* begin, const char* end)
{
    const auto* p = reinterpret_cast<const unsigned char*>(begin);
    const auto* const e = reinterpret_cast<const unsigned char*>(end);
    while (p != e) {
        if (*p < 0x80) {
            ++p;
            // Runs of ASCII go eight bytes at a time.
            while (e - p >= 8) {
                quint64 word;
                std::memcpy(&word, p, 8);
                if (word & 0x8080808080808080ULL)
                    break;
                p += 8;
            }
            continue;
        }
        const int length = sequenceLength(*p);
        if (length == 0 || e - p < length)
            break;
        bool ok = true;
        for (int i = 1; i < length; ++i)
            ok = ok && (p[i] & 0xC0) == 0x80;
        if (!ok)
            break;
        if (length == 3) {
            const char32_t code = decode(p, 3);
            if (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))
                break;
        } else if (length == 4) {
            const char32_t code = decode(p, 4);
            if (code < 0x10000 || code > 0x10FFFF)
                break;
        }
        p += length;
    }
    return reinterpret_cast<const char*>(p) - begin;
}

inline bool isValid(const char* begin, const char* end)
{
    return validPrefix(begin, end) == end - begin;
}

// Appends the UTF-8 encoding of a Unicode scalar value.
inline void append(QByteArray& out, char32_t code)
{
    if (code < 0x80) {
        out.append(char(code));
    } else if (code < 0x800) {
        const char bytes[] = {char(0xC0 | (code >> 6)), char(0x80 | (code & 0x3F))};
        out.append(bytes, 2);
    } else if (code < 0x10000) {
        const char bytes[] = {char(0xE0 | (code >> 12)), char(0x80 | ((code >> 6) & 0x3F)),
                              char(0x80 | (code & 0x3F))};
        out.append(bytes, 3);
    } else {
        const char bytes[] = {char(0xF0 | (code >> 18)), char(0x80 | ((code >> 12) & 0x3F)),
                              char(0x80 | ((code >> 6) & 0x3F)), char(0x80 | (code & 0x3F))};
        out.append(bytes, 4);
    }
}

// The text of UTF-8 bytes, every character kept: QString::fromUtf8 drops a leading byte-order mark, but a
// scalar or a key may start with U+FEFF (written as an escape, or inside quotes).
inline QString toString(QByteArrayView utf8)
{
    if (utf8.startsWith("\xEF\xBB\xBF"))
        return QChar(0xFEFF) + toString(utf8.sliced(3));
    return QString::fromUtf8(utf8);
}

} // namespace tarnwick::utf8
