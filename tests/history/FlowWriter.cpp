// Records flows as fast as it can into the flow database of the workspace given as its argument, and
// prints after each read how many recorded rows that read has seen committed. The crash test kills it.
#include "history/FlowDatabase.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    tarnwick::FlowDatabase db{QString::fromLocal8Bit(argv[1])};
    tarnwick::ConnectionItem item;
    item.chains = QStringList{"Tokyo 01", "Proxy"};
    item.metadata.host = "example.com";
    item.metadata.destinationPort = "443";
    for (qint64 written = 1;; ++written) {
        item.id = QStringLiteral("c-%1").arg(written);
        item.start = QDateTime::currentDateTimeUtc();
        db.recordOpened(item, 1, "Default");
        item.download = written;
        db.recordClosed(item);
        if (written % 1000 == 0) {
            db.rowCount();
            std::printf("%lld\n", static_cast<long long>(written));
            std::fflush(stdout);
        }
    }
}
