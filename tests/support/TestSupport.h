#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QString>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>

namespace tarnwick::test {

QString sourceDir();
QString binaryDir();
// ../shared/testdata beside the project.
QString sharedTestData();
// tests/data in the project.
QString testData(const QString& relative);
QString readFile(const QString& path);
void writeFile(const QString& path, const QByteArray& bytes);

// True when running under CI, where a missing kernel or geodata is a failure, never a skip.
bool underCI();

// The real kernel provisioned by scripts/provision-mihomo.sh ($TARNWICK_MIHOMO overrides), or empty.
QString kernelPath();
// The GeoLite2 Country.mmdb provisioned by scripts/provision-geodata.sh, or empty.
QString countryMmdbPath();

// A TCP port on 127.0.0.1 that was free a moment ago.
quint16 freePort();

// Runs the event loop until the condition holds or the bound passes; returns the condition's last value.
bool waitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds bound = std::chrono::seconds(10));

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
