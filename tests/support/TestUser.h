#pragma once

#include "TestSupport.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <optional>
#include <sys/types.h>

namespace tarnwick::test {

// A throw-away system user for the tests that need a second uid: created with useradd for the test (which
// needs root) and removed with userdel afterwards.
class TestUser final
{
public:
    TestUser();
    ~TestUser();
    TestUser(const TestUser&) = delete;
    TestUser& operator=(const TestUser&) = delete;

    // Nothing when the user could not be created; problem() says why.
    std::optional<uid_t> uid() const { return m_uid; }
    gid_t gid() const { return m_gid; }
    const QString& problem() const { return m_problem; }

    // Hands the path, and everything below it, to the user.
    bool own(const QString& path) const;
    // Runs the program as the user (no supplementary groups); its merged output.
    QString run(const QString& program, const QStringList& arguments) const;
    // Starts the program as the user and returns at once, for a program that talks to this process.
    void start(QProcess& process, const QString& program, const QStringList& arguments) const;

private:
    QString m_name;
    std::optional<uid_t> m_uid;
    gid_t m_gid = 0;
    QString m_problem;
};

} // namespace tarnwick::test

// In a test body: a fresh second user, or skip (failure under CI) when none can be made.
#define TARNWICK_REQUIRE_TEST_USER(variable)                                                                 \
    const ::tarnwick::test::TestUser variable;                                                               \
    if (!variable.uid()) {                                                                                   \
        if (::tarnwick::test::underCI())                                                                     \
            FAIL() << "no second user for the test: " << variable.problem().toStdString();                   \
        GTEST_SKIP() << "no second user for the test: " << variable.problem().toStdString();                 \
    }
