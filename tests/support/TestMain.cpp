#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <gtest/gtest.h>
#include <utility>

int main(int argc, char** argv)
{
    // Tests never touch the real user's files or desktop: a home and XDG directories of their own, no
    // session bus, and GSettings on a key file inside that home. The provisioned kernel and geodata stay
    // where the real home keeps them.
    const QString realHome = QDir::homePath();
    if (qEnvironmentVariableIsEmpty("TARNWICK_CACHE"))
        qputenv("TARNWICK_CACHE", QFile::encodeName(realHome + QStringLiteral("/.cache/tarnwick")));
    // So does Go's module cache, which holds the kernel's source.
    if (qEnvironmentVariableIsEmpty("GOPATH"))
        qputenv("GOPATH", QFile::encodeName(realHome + QStringLiteral("/go")));
    const QTemporaryDir home;
    if (!home.isValid()) {
        std::fprintf(stderr, "cannot create a temporary home: %s\n", qPrintable(home.errorString()));
        return 1;
    }
    qputenv("HOME", QFile::encodeName(home.path()));
    const std::pair<const char*, const char*> directories[] = {{"XDG_CONFIG_HOME", ".config"},
                                                               {"XDG_DATA_HOME", ".local/share"},
                                                               {"XDG_STATE_HOME", ".local/state"},
                                                               {"XDG_CACHE_HOME", ".cache"},
                                                               {"XDG_RUNTIME_DIR", "run"}};
    for (const auto& [variable, relative] : directories) {
        const QString path = home.path() + QLatin1Char('/') + QLatin1String(relative);
        QDir().mkpath(path);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv(variable, QFile::encodeName(path));
    }
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("GSETTINGS_BACKEND", "keyfile");
    qunsetenv("TARNWICK_SETTINGS");
    qunsetenv("TARNWICK_WORKSPACE");
    qunsetenv("TARNWICK_HELPER_SOCKET");

    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
