#include "leveler/bounds.h"

#include "leveler/state.h"

#include <limits>

namespace leveler {

namespace {

constexpr double kNoBound = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();
// Each search starts next to the bound; a few steps of one ulp reach it.
constexpr int kMaxSteps = 64;

// The last x (walking up from `start`) for which the monotone `holds` is true, given that it turns false
// somewhere above.
template <typename Predicate> double LastHolding(double start, Predicate holds) {
    double x = start;
    for (int step = 0; step < kMaxSteps; ++step) {
        if (holds(x)) {
            const double above = std::nextafter(x, kInfinity);
            if (above == x || !holds(above)) return x;
            x = above;
        } else {
            x = std::nextafter(x, -kInfinity);
        }
    }
    return kNoBound;
}

} // namespace

double GateClosedUpTo(double floor) {
    if (!(floor > 0) || !std::isfinite(floor)) return kNoBound;
    return LastHolding(floor * (1 + 0.00001),
                       [floor](double peak) { return IsZero(std::max(peak, floor) / floor - 1); });
}

double RatioReaching(double root) {
    if (std::isnan(root)) return kNoBound;
    if (!(root > 0)) return 0;
    if (std::isinf(root)) return kInfinity;
    // The first ratio that reaches is the one after the last that falls short.
    const double shortOf = LastHolding(root * root, [root](double ratio) { return std::sqrt(ratio) < root; });
    return std::isnan(shortOf) ? kNoBound : std::nextafter(shortOf, kInfinity);
}

double RatioWithin(double root) {
    if (std::isnan(root)) return kNoBound;
    if (root < 0) return -kInfinity;
    if (std::isinf(root)) return kInfinity;
    return LastHolding(root * root, [root](double ratio) { return std::sqrt(ratio) <= root; });
}

} // namespace leveler
