#pragma once

#include "platform/Error.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QDeadlineTimer>
#include <QString>
#include <chrono>
#include <exception>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <stdexcept>

class QTemporaryDir;

namespace tarnwick::test {

QString sourceDir();
QString binaryDir();
// ../shared/testdata beside the project (or beside the directory of its worktree).
QString sharedTestData();
// tests/data in the project.
QString testData(const QString& relative);
QString readFile(const QString& path);
void writeFile(const QString& path, const QByteArray& bytes);

// Points HOME, the XDG directories and the settings at `home` (the provisioned kernel and Go's module cache
// stay where the real home keeps them), with no session bus: what every test program does first.
bool isolateEnvironment(const QTemporaryDir& home);

// True when running under CI, where a missing kernel or geodata is a failure, never a skip.
bool underCI();

// The real kernel provisioned by scripts/provision-mihomo.sh ($TARNWICK_MIHOMO overrides), or empty.
QString kernelPath();
// The GeoLite2 Country.mmdb provisioned by scripts/provision-geodata.sh, or empty.
QString countryMmdbPath();
// The ASN.mmdb built by scripts/provision-asn.sh, or empty.
QString asnMmdbPath();

// Installs the provisioned kernel in a workspace as the managed kernel v1.19.30 (core/current) and the
// provisioned Country.mmdb in its work directory; false when either is missing or cannot be copied.
bool installKernel(const QString& workspace);
// Places the kernel where the helper starts kernels from, as core/versions/test/mihomo of the workspace;
// its path there, or empty on failure.
QString placeKernel(const QString& kernel, const QString& workspace);

// The file's bytes as `gzip -1` packs them; empty when gzip fails.
QByteArray gzipped(const QString& path);

// A TCP port on 127.0.0.1 that was free a moment ago.
quint16 freePort();

// Runs the event loop until the condition holds or the bound passes; returns the condition's last value.
bool waitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds bound = std::chrono::seconds(10));

namespace detail {
template <typename T> struct AwaitState
{
    std::optional<T> value;
    std::exception_ptr error;
    bool done = false;
};
template <> struct AwaitState<void>
{
    std::exception_ptr error;
    bool done = false;
};
template <typename T> QCoro::Task<> drive(QCoro::Task<T> task, std::shared_ptr<AwaitState<T>> state)
{
    try {
        if constexpr (std::is_void_v<T>)
            co_await task;
        else
            state->value.emplace(co_await task);
    } catch (...) {
        state->error = std::current_exception();
    }
    state->done = true;
}
} // namespace detail

// Runs a task to completion on this thread's event loop and returns its result or rethrows its exception
// (QCoro::waitFor would hang on an exception). Past the bound the test fails and std::runtime_error is
// thrown.
template <typename T> T await(QCoro::Task<T> task, std::chrono::milliseconds bound = std::chrono::seconds(30))
{
    auto state = std::make_shared<detail::AwaitState<T>>();
    // Kept alive past a time-out: destroying a suspended coroutine that is later resumed would crash.
    auto* driver = new QCoro::Task<>(detail::drive<T>(std::move(task), state));
    if (!waitFor([&] { return state->done; }, bound)) {
        ADD_FAILURE() << "task did not finish within " << bound.count() << " ms";
        throw std::runtime_error("task timed out");
    }
    delete driver;
    if (state->error)
        std::rethrow_exception(state->error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*state->value);
}

// The description of the E that `action` throws, or "(no error)".
template <typename E = Error> QString errorText(const std::function<void()>& action)
{
    try {
        action();
    } catch (const E& error) {
        return error.description();
    }
    return QStringLiteral("(no error)");
}

// The description of the E that the task ends with, or "(no error)".
template <typename E = Error, typename T> QString errorText(QCoro::Task<T> task)
{
    return errorText<E>([&task] { await(std::move(task)); });
}

} // namespace tarnwick::test

// In a test body: the kernel's path, or skip (failure under CI) when it is not provisioned.
#define TARNWICK_REQUIRE_KERNEL(variable)                                                                    \
    const QString variable = ::tarnwick::test::kernelPath();                                                 \
    if (variable.isEmpty()) {                                                                                \
        if (::tarnwick::test::underCI())                                                                     \
            FAIL() << "the Mihomo kernel is not provisioned (scripts/provision-mihomo.sh)";                  \
        GTEST_SKIP() << "the Mihomo kernel is not provisioned (scripts/provision-mihomo.sh)";                \
    }

#define TARNWICK_REQUIRE_GEODATA(variable)                                                                   \
    const QString variable = ::tarnwick::test::countryMmdbPath();                                            \
    if (variable.isEmpty()) {                                                                                \
        if (::tarnwick::test::underCI())                                                                     \
            FAIL() << "Country.mmdb is not provisioned (scripts/provision-geodata.sh)";                      \
        GTEST_SKIP() << "Country.mmdb is not provisioned (scripts/provision-geodata.sh)";                    \
    }
