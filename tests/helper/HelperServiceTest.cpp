// The helper's answers to requests it must refuse or cannot serve yet (nothing here runs a command).
#include "helper/HelperService.h"

#include "helper/HelperProtocol.h"
#include "helper/KernelLauncher.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
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

TEST(HelperServiceTest, AnswersWithoutRunningAnything)
{
    KernelLauncher launcher(1s);
    HelperService service(&launcher, ::geteuid());
    const auto command = [](const QString& program, const QStringList& arguments) {
        return request(HelperProtocol::runSystemCommand,
                       {{Key::command, program}, {Key::arguments, QJsonArray::fromStringList(arguments)}});
    };
    const std::pair<QJsonObject, QJsonObject> cases[] = {
        {command("/bin/rm", {"-rf", "/"}), refused("Command not allowed: /bin/rm -rf /")},
        // The machine-wide kernel clean-up of old: it would end every user's kernels.
        {command("/usr/bin/pkill", {"-9", "-f", "mihomo -d"}),
         refused("Command not allowed: /usr/bin/pkill -9 -f mihomo -d")},
        {request(HelperProtocol::getVersion), {{Key::version, TARNWICK_VERSION}}},
        {request(HelperProtocol::installUpdate, {{Key::sourcePath, "/a"}}),
         refused("Invalid installUpdate request")},
        {request("reboot"), {{Key::error, "Unknown operation: reboot"}}},
        {request(HelperProtocol::startKernel, {{Key::executablePath, "/bin/true"}}),
         {{Key::pid, -1}, {Key::error, "Invalid startKernel request"}}},
        {request(HelperProtocol::stopKernel, {{Key::pid, "1"}}), refused("Invalid stopKernel request")},
        {request(HelperProtocol::stopKernel, {{Key::pid, 1}}),
         refused("PID 1 was not started by the helper")},
    };
    for (const auto& [body, answer] : cases)
        EXPECT_EQ(test::await(service.handle(body)), answer) << QJsonDocument(body).toJson().toStdString();
}
