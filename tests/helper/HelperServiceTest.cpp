// The helper's answers to requests it must refuse or cannot serve yet (nothing here runs a command).
#include "helper/HelperService.h"

#include "helper/HelperProtocol.h"
#include "helper/KernelLauncher.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <unistd.h>

using namespace tarnwick;
using namespace std::chrono_literals;

namespace {

namespace Key = HelperProtocol::Key;

QJsonObject request(const QString& operation, QJsonObject fields = {})
{
    fields.insert(Key::operation, operation);
    return fields;
}

QJsonObject refused(const QString& error)
{
    return QJsonObject{{Key::success, false}, {Key::error, error}};
}

} // namespace

TEST(HelperServiceTest, RunsNothingOffTheAllowList)
{
    KernelLauncher launcher(1s);
    HelperService service(&launcher, ::geteuid());
    const auto command = [&](const QString& program, const QStringList& arguments) {
        return test::await(service.handle(request(
            HelperProtocol::runSystemCommand,
            QJsonObject{{Key::command, program}, {Key::arguments, QJsonArray::fromStringList(arguments)}})));
    };
    EXPECT_EQ(command(QStringLiteral("/bin/rm"), {QStringLiteral("-rf"), QStringLiteral("/")}),
              refused(QStringLiteral("Command not allowed: /bin/rm -rf /")));
    // The machine-wide kernel clean-up of old: it would end every user's kernels.
    EXPECT_EQ(command(QStringLiteral("/usr/bin/pkill"),
                      {QStringLiteral("-9"), QStringLiteral("-f"), QStringLiteral("mihomo -d")}),
              refused(QStringLiteral("Command not allowed: /usr/bin/pkill -9 -f mihomo -d")));
}

TEST(HelperServiceTest, AnswersEveryOtherOperation)
{
    KernelLauncher launcher(1s);
    HelperService service(&launcher, ::geteuid());
    const auto answer = [&](const QJsonObject& body) { return test::await(service.handle(body)); };

    EXPECT_EQ(answer(request(HelperProtocol::getVersion)),
              (QJsonObject{{Key::version, QStringLiteral(TARNWICK_VERSION)}}));
    EXPECT_EQ(
        answer(request(HelperProtocol::installUpdate, QJsonObject{{Key::sourcePath, QStringLiteral("/a")}})),
        refused(QStringLiteral("Invalid installUpdate request")));
    EXPECT_EQ(answer(request(QStringLiteral("reboot"))),
              (QJsonObject{{Key::error, QStringLiteral("Unknown operation: reboot")}}));

    EXPECT_EQ(answer(request(HelperProtocol::startKernel,
                             QJsonObject{{Key::executablePath, QStringLiteral("/bin/true")}})),
              (QJsonObject{{Key::pid, -1}, {Key::error, QStringLiteral("Invalid startKernel request")}}));
    EXPECT_EQ(answer(request(HelperProtocol::stopKernel, QJsonObject{{Key::pid, QStringLiteral("1")}})),
              refused(QStringLiteral("Invalid stopKernel request")));
    EXPECT_EQ(answer(request(HelperProtocol::stopKernel, QJsonObject{{Key::pid, 1}})),
              refused(QStringLiteral("PID 1 was not started by the helper")));
}
