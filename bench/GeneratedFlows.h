#pragma once

#include "controller/ConnectionItem.h"

#include <QStringList>
#include <random>

// The traffic history the benchmarks read: flows of realistic variety, made once and kept.
namespace tarnwick {

// The profiles the flows belong to: seven in ten to the first.
extern const QStringList kProfiles;

// One flow among 5 000 hosts, 40 nodes and DIRECT/REJECT, 60 rules, over the 60 days up to `now`.
ConnectionItem generatedFlow(std::mt19937& random, qint64 index, double now);

// A workspace holding `rows` generated flows (Database/flows.db), made once and kept in the temporary
// directory.
QString workspaceWith(qint64 rows);

} // namespace tarnwick
