#pragma once

#include <QByteArray>

namespace tarnwick::bench {

// The large subscription both the YAML and the compile benchmarks read: about 5.6 MB, 20 000 one-line
// flow-mapping proxies with emoji and CJK names, one group listing them all, 30 000 rules. Generated once.
QByteArray generatedSubscription();

} // namespace tarnwick::bench
