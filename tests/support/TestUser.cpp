#include "TestUser.h"

#include <QProcess>
#include <QUuid>
#include <pwd.h>
#include <unistd.h>

namespace tarnwick::test {

TestUser::TestUser()
    : m_name(QStringLiteral("tarnwick-") + QUuid::createUuid().toString(QUuid::Id128).left(10))
{
    if (::geteuid() != 0) {
        m_problem = QStringLiteral("creating a user needs root");
        return;
    }
    QProcess useradd;
    useradd.setProcessChannelMode(QProcess::MergedChannels);
    useradd.start(QStringLiteral("useradd"), {QStringLiteral("--system"), QStringLiteral("--no-create-home"),
                                              QStringLiteral("--user-group"), QStringLiteral("--shell"),
                                              QStringLiteral("/usr/sbin/nologin"), m_name});
    if (!useradd.waitForFinished(30000) || useradd.exitStatus() != QProcess::NormalExit ||
        useradd.exitCode() != 0) {
        m_problem = QStringLiteral("useradd %1 failed: %2")
                        .arg(m_name, useradd.errorString() + QString::fromUtf8(useradd.readAll()));
        return;
    }
    if (const passwd* entry = ::getpwnam(m_name.toUtf8().constData())) {
        m_uid = entry->pw_uid;
        m_gid = entry->pw_gid;
    } else {
        m_problem = QStringLiteral("useradd created no entry for ") + m_name;
    }
}

TestUser::~TestUser()
{
    if (!m_uid)
        return;
    QProcess::execute(QStringLiteral("userdel"), {m_name});
}

bool TestUser::own(const QString& path) const
{
    return m_uid && QProcess::execute(
                        QStringLiteral("chown"),
                        {QStringLiteral("-R"), QStringLiteral("%1:%2").arg(*m_uid).arg(m_gid), path}) == 0;
}

QString TestUser::run(const QString& program, const QStringList& arguments) const
{
    if (!m_uid)
        return QStringLiteral("(no test user)");
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    start(process, program, arguments);
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished(5000);
        return QStringLiteral("(did not finish)");
    }
    return QString::fromUtf8(process.readAll());
}

void TestUser::start(QProcess& process, const QString& program, const QStringList& arguments) const
{
    if (!m_uid)
        return;
    process.start(QStringLiteral("setpriv"),
                  QStringList{QStringLiteral("--reuid=%1").arg(*m_uid),
                              QStringLiteral("--regid=%1").arg(m_gid), QStringLiteral("--clear-groups"),
                              QStringLiteral("--"), program} +
                      arguments);
}

} // namespace tarnwick::test
