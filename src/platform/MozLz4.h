#pragma once

#include <QByteArray>
#include <optional>

namespace tarnwick {

// Firefox's compressed JSON files (sessionstore's recovery.jsonlz4 and the like): the magic "mozLz40\0",
// the decompressed size as 32-bit little-endian, then one LZ4 block.
namespace MozLz4 {

// The decompressed bytes; nothing when the data is not such a file or the block is damaged.
std::optional<QByteArray> decompress(const QByteArray& file);

} // namespace MozLz4
} // namespace tarnwick
