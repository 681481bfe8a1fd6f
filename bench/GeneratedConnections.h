#pragma once

#include <QByteArray>

namespace tarnwick::bench {

// A "/connections" message as the kernel sends it: every field it reports, realistic values, `count`
// connections whose ids are the same from one call to the next, their byte counters moved by `round`.
QByteArray connectionsMessage(int count, int round);

} // namespace tarnwick::bench
