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

// pow(x, 0.5), which differs from sqrt(x) now and then. Where the correctly rounded sqrt lies within 0.44 ulp
// of the exact root, pow cannot answer anything else (glibc's pow is within 0.52 ulp for these arguments),
// and sqrt's answer is taken; otherwise pow is called.
inline double PowHalf(double x) {
    if (x >= 0x1p-900 && x <= 0x1p+900) {
        const double r = std::sqrt(x);
        // r * r = product + error exactly (Veltkamp's split, Dekker's product).
        const double split = 134217729.0 * r;
        const double high = split - (split - r);
        const double low = r - high;
        const double product = r * r;
        const double error = ((high * high - product) + 2 * high * low) + low * low;
        // x - product is exact (the two are within a factor 2), so this is x - r * r to within 2^-53.
        const double residual = (x - product) - error;
        // |root - r| = |residual| / (root + r). At a power of two the ulp below r is half as large: left to
        // pow.
        const uint64_t bits = std::bit_cast<uint64_t>(r);
        const double ulp = std::bit_cast<double>((bits & 0x7FF0000000000000ull) - (52ull << 52));
        const bool powerOfTwo = (bits & 0xFFFFFFFFFFFFFull) == 0;
        if (std::abs(residual) <= 0.88 * r * ulp && !powerOfTwo) return r;
    }
    return std::pow(x, 0.5);
}

} // namespace leveler
