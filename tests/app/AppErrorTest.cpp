#include "app/AppError.h"

#include "app/AlertCoordinator.h"
#include "app/ConfigValidationError.h"
#include "app/HelperClientError.h"
#include "config/AtomicFile.h"
#include "config/ConfigCompiler.h"
#include "controller/MihomoClientError.h"
#include "controller/NetworkError.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>
#include <stdexcept>

using namespace tarnwick;

TEST(AppErrorTest, CleaningKeepsWhatAPersonNeeds)
{
    const QString output = QStringLiteral(
        "time=\"2026-01-01T00:00:00Z\" level=info msg=\"Start initial configuration in progress\"\n"
        "  time=\"2026-01-01T00:00:00Z\" level=warning msg=\"geodata loader: using default\"  \n"
        "\n"
        "time=\"2026-01-01T00:00:00Z\" level=error msg=\"rules[3] [GEOIP,XX,DIRECT] error: bad\"\n"
        "level=fatal msg=\"Parse config error: yaml: line 4\"\n"
        "level=error no message field here\n"
        "level=error msg=\"unterminated\n"
        "level=debug msg=\"ignored\"\n"
        "configuration file /tmp/config.json test failed\n"
        "Failed to listen on :7890\n"
        "panic: runtime error\n"
        "geosite matcher failed\n"
        "everything fine here\n");
    EXPECT_EQ(AppError::cleanMessage(output), QStringLiteral("geodata loader: using default\n"
                                                             "rules[3] [GEOIP,XX,DIRECT] error: bad\n"
                                                             "Parse config error: yaml: line 4\n"
                                                             "level=error no message field here\n"
                                                             "level=error msg=\"unterminated\n"
                                                             "Failed to listen on :7890\n"
                                                             "panic: runtime error"));

    // Nothing survives: the message stays as it was.
    const QString plain = "  just some words\nlevel=info msg=\"x\"";
    EXPECT_EQ(AppError::cleanMessage(plain), plain);
}

TEST(AppErrorTest, EveryErrorMapsToAUserFacingCase)
{
    using K = AppError::Kind;
    struct Row
    {
        std::exception_ptr error;
        bool duringKernelStart;
        K kind;
        QString message;
    };
    const MihomoClientError emptyBody = MihomoClientError::httpError(500, "   ");
    const CompilationError emptyProfile(CompilationError::Kind::EmptyConfig);
    const QString diskFull = "Cannot write /ws/work/config.json: No space left on device";
    const Row rows[] = {
        {std::make_exception_ptr(AppError(K::kernelMissing, "no kernel")), true, K::kernelMissing,
         "no kernel"},
        {std::make_exception_ptr(ConfigValidationError::failed(1, "bad rule")), true, K::preflightFailed,
         "bad rule"},
        {std::make_exception_ptr(MihomoClientError::httpError(400, R"({"message":"Body invalid"})")), false,
         K::operationFailed, "Mihomo: Body invalid (HTTP 400)"},
        {std::make_exception_ptr(MihomoClientError::httpError(502, "  upstream down \n")), false,
         K::operationFailed, "HTTP 502: upstream down"},
        {std::make_exception_ptr(emptyBody), false, K::operationFailed, emptyBody.description()},
        {std::make_exception_ptr(NetworkError(1, "Connection refused")), true, K::kernelCrashed,
         "Network Error: Connection refused"},
        {std::make_exception_ptr(HelperClientError::helperError("Failed to start x")), true, K::kernelCrashed,
         "Helper error: Failed to start x"},
        {std::make_exception_ptr(std::runtime_error("disk full")), false, K::operationFailed, "disk full"},
        // The workspace and the profile fail as what they are, never as a crash of the kernel.
        {std::make_exception_ptr(FileError(diskFull)), true, K::operationFailed, diskFull},
        {std::make_exception_ptr(emptyProfile), true, K::preflightFailed, emptyProfile.description()},
    };
    for (const Row& row : rows) {
        try {
            std::rethrow_exception(row.error);
        } catch (const std::exception& error) {
            const AppError mapped = AppError::from(error, row.duringKernelStart);
            EXPECT_EQ(mapped.kind(), row.kind) << row.message.toStdString();
            EXPECT_EQ(mapped.message(), row.message);
        }
    }
}

TEST(AppErrorTest, AlertsFollowTheTable)
{
    using K = AppError::Kind;
    const QString ok = "OK";
    const std::pair<AppError, Alert> rows[] = {
        {AppError(K::preflightFailed, QStringLiteral("level=error msg=\"proxy group[0]: unsupported type: "
                                                     "smart\"\nconfiguration file x test failed")),
         {"Configuration Error",
          QStringLiteral("proxy group[0]: unsupported type: smart\n\n\U0001F4A1 Requires Smart kernel. "
                         "Please switch channel in Advanced Settings."),
          Alert::Style::warning,
          {"Edit Config", ok}}},
        {AppError(K::kernelCrashed, "level=fatal msg=\"boom\""),
         {"Kernel Crashed", "boom", Alert::Style::critical, {ok}}},
        // An operation failure shows its message as it is, uncleaned.
        {AppError(K::operationFailed, "level=error msg=\"kept whole\""),
         {"Operation Failed", "level=error msg=\"kept whole\"", Alert::Style::warning, {ok}}},
        {AppError(K::permissionDenied, QString()),
         {"Helper Required",
          QStringLiteral(
              "This action requires the Privileged Helper. Please ensure it is installed and enabled "
              "in Settings."),
          Alert::Style::critical,
          {"Open Settings", "Cancel"}}},
    };
    for (const auto& [error, alert] : rows)
        EXPECT_EQ(AlertCoordinator::alertFor(error), alert) << error.message().toStdString();
}

TEST(AppErrorTest, CoordinatorRunsTheChosenFollowUp)
{
    struct Answering final : AlertPresenter
    {
        int present(const Alert&) override
        {
            ++shown;
            return 0;
        }
        int shown = 0;
    } presenter;
    AlertCoordinator coordinator(presenter);
    int edits = 0, downloads = 0, settings = 0;
    coordinator.setSettingsOpener([&] { ++settings; });

    coordinator.present(
        AppError(AppError::Kind::kernelMissing, {}), [&] { ++edits; }, [&] { ++downloads; });
    EXPECT_EQ(presenter.shown, 0);
    EXPECT_EQ(downloads, 1);

    coordinator.present(
        AppError(AppError::Kind::preflightFailed, "x"), [&] { ++edits; }, [&] { ++downloads; });
    coordinator.present(
        AppError(AppError::Kind::permissionDenied, QString()), [&] { ++edits; }, [&] { ++downloads; });
    EXPECT_EQ(presenter.shown, 2);
    EXPECT_EQ(edits, 1);
    EXPECT_EQ(settings, 1);
}
