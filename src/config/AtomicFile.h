#pragma once

#include "platform/Error.h"

#include <QByteArray>
#include <QString>

namespace tarnwick {

// A file of the application's own could not be read or written; the text names the path and the reason.
class FileError final : public Error
{
public:
    using Error::Error;
};

// The application's own files (ledgers, runtime configuration) are replaced whole or not at all, so a
// failure half-way (disk full, crash) leaves the previous file as it was.
namespace AtomicFile {

// Creates the parent directory as needed, writes beside the target, then renames over it. Throws FileError.
void write(const QString& path, const QByteArray& bytes);

// The whole file. Throws FileError when it cannot be opened or read.
QByteArray read(const QString& path);

} // namespace AtomicFile
} // namespace tarnwick
