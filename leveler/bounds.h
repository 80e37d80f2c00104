// Cheaper ways to the very results of a few costly expressions of the sample section. Each bound is found
// once per parameter change as the last (or first) double for which a monotone expression gives its answer,
// so one comparison decides as the expression would; NaN means no bound was found and the caller evaluates
// the expression itself.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

namespace leveler {

// The largest peak p for which max(p, floor) / floor - 1 counts as 0, that is the gate's "not above the
// floor".
double GateClosedUpTo(double floorAmplitude);
// The least ratio whose square root, rounded, is at least `root`.
double RatioReaching(double root);
// The greatest ratio whose square root, rounded, is at most `root`.
double RatioWithin(double root);

} // namespace leveler
