#include "RuntimeSwitcher.h"

#include "RuntimeError.h"

#include <QFile>
#include <QUuid>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace tarnwick {

namespace {

[[noreturn]] void fail(const QString& reason)
{
    throw RuntimeError::fsOperationFailed(QStringLiteral("Failed to switch symlink: ") + reason);
}

} // namespace

void RuntimeSwitcher::switchTo(const QString& target, const QString& currentSymlinkPath)
{
    const QString staging =
        currentSymlinkPath + QStringLiteral(".") + QUuid::createUuid().toString(QUuid::Id128).left(8);
    const QByteArray targetBytes = QFile::encodeName(target);
    const QByteArray stagingBytes = QFile::encodeName(staging);
    if (::symlink(targetBytes.constData(), stagingBytes.constData()) != 0)
        fail(QString::fromLocal8Bit(std::strerror(errno)));
    if (std::rename(stagingBytes.constData(), QFile::encodeName(currentSymlinkPath).constData()) != 0) {
        const int error = errno;
        ::unlink(stagingBytes.constData());
        fail(QString::fromLocal8Bit(std::strerror(error)));
    }
}

} // namespace tarnwick
