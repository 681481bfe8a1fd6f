#include "AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace tarnwick::AtomicFile {

void write(const QString& path, const QByteArray& bytes)
{
    const QString directory = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(directory))
        throw FileError(QStringLiteral("Could not create the directory %1").arg(directory));
    QSaveFile file(path);
    const auto failed = [&](const QString& reason) {
        file.cancelWriting();
        return FileError(QStringLiteral("Could not write %1: %2").arg(path, reason));
    };
    if (!file.open(QIODevice::WriteOnly))
        throw failed(file.errorString());
    // commit() does not notice a failure while it flushes the write buffer (a full disk), and would put the
    // cut-short file in place: flushed here, where a failure is seen.
    if (file.write(bytes) != bytes.size() || !file.flush())
        throw failed(file.errorString());
    if (!file.commit())
        throw FileError(QStringLiteral("Could not write %1: %2").arg(path, file.errorString()));
}

QByteArray read(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw FileError(QStringLiteral("Could not read %1: %2").arg(path, file.errorString()));
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw FileError(QStringLiteral("Could not read %1: %2").arg(path, file.errorString()));
    return bytes;
}

} // namespace tarnwick::AtomicFile
