#include "runtime/fft.h"

#include <array>
#include <bit>
#include <cmath>
#include <numbers>
#include <utility>

namespace fft {
namespace {

constexpr int kMinComplexLog2 = 4;
constexpr int kMaxComplexLog2 = 15;
constexpr int kMinRealLog2 = 5;
constexpr int kMaxRealLog2 = 12;

constexpr double kSqrtHalf = std::numbers::sqrt2 / 2;
// The 16-point stage needs one root besides the octant ones: cos(π/8), sin(π/8).
constexpr std::array<double, 2> kTwiddles16 = {0.92387953251128674, 0.38268343236508979};

// Above 512 points only the first octant is kept; the stages derive the rest by symmetry.
constexpr int TwiddleCount(int log2n) {
    return log2n <= 9 ? (1 << log2n) / 4 - 1 : (1 << log2n) / 8 - 1;
}

constexpr int TwiddleOffset(int log2n) {
    int offset = 0;
    for (int l = 5; l < log2n; ++l) offset += 2 * TwiddleCount(l);
    return offset;
}

// Plain static arrays: built once, never released, no allocation and no destructor at exit.
double twiddleStore[TwiddleOffset(kMaxComplexLog2 + 1)];
// The table for size n starts at n - 2 (sizes 2, 4, 8, ... laid end to end).
std::uint16_t permutationStore[(2 << kMaxComplexLog2) - 2];

// The N-point real transform's table starts at N/2 - 16 and holds cos, sin of 2πk/N at [2k], [2k + 1]
// for k from 1 to N/4 - 1.
double realStore[(1 << kMaxRealLog2) - 16];

std::uint16_t BitReverse(unsigned value, int bits) {
    unsigned result = 0;
    for (int b = 0; b < bits; ++b, value >>= 1) result = (result << 1) | (value & 1);
    return static_cast<std::uint16_t>(result);
}

void FillTables() {
    for (int l = 5; l <= kMaxComplexLog2; ++l) {
        double* table = twiddleStore + TwiddleOffset(l);
        for (int k = 1; k <= TwiddleCount(l); ++k) {
            const double angle = 2 * std::numbers::pi * k / (1 << l);
            table[2 * k - 2] = std::cos(angle);
            table[2 * k - 1] = std::sin(angle);
        }
    }
    for (int l = 1; l <= kMaxComplexLog2; ++l) {
        std::uint16_t* table = permutationStore + (1 << l) - 2;
        for (unsigned i = 0; i < 1u << l; ++i) table[i] = BitReverse(i, l);
    }
    for (int l = kMinRealLog2; l <= kMaxRealLog2; ++l) {
        double* table = realStore + (1 << (l - 1)) - 16;
        for (int k = 1; k < (1 << l) / 4; ++k) {
            const double angle = 2 * std::numbers::pi * k / (1 << l);
            table[2 * k] = std::cos(angle);
            table[2 * k + 1] = std::sin(angle);
        }
    }
}

const std::uint16_t* PermutationTable(int log2n) {
    return permutationStore + (1 << log2n) - 2;
}

const double* StageTwiddles(int log2m) {
    if (log2m == 3) return nullptr; // the octant roots cover all of it
    if (log2m == 4) return kTwiddles16.data();
    return twiddleStore + TwiddleOffset(log2m);
}

const double* RealTwiddles(int log2n) {
    BuildTables();
    return realStore + (1 << (log2n - 1)) - 16;
}

// One butterfly between the complex values at x and x + span, with the root c + i·s. The forward
// (decimation in frequency) multiplies the difference by the conjugate root; the inverse (decimation in
// time) multiplies the partner by the root before adding.
template <bool Inverse> inline void Butterfly(double* x, int span, double c, double s) {
    double* y = x + 2 * span;
    if constexpr (Inverse) {
        const double tr = y[0] * c - y[1] * s;
        const double ti = y[0] * s + y[1] * c;
        y[0] = x[0] - tr;
        y[1] = x[1] - ti;
        x[0] += tr;
        x[1] += ti;
    } else {
        const double dr = x[0] - y[0];
        const double di = x[1] - y[1];
        x[0] += y[0];
        x[1] += y[1];
        y[0] = dr * c + di * s;
        y[1] = di * c - dr * s;
    }
}

// All butterflies of span m/2 (m >= 8) over n values. Root k of the m-point stage comes from table entry j
// for k = j, m/4 - j, m/4 + j and m/2 - j, so a table of the first octant serves the whole half circle.
template <bool Inverse> void Stage(double* x, int n, int log2m, const double* table) {
    const int m = 1 << log2m;
    const int half = m / 2;
    const int quarter = m / 4;
    const int eighth = m / 8;
    for (double* block = x; block < x + 2 * n; block += 2 * m) {
        Butterfly<Inverse>(block, half, 1, 0);
        Butterfly<Inverse>(block + 2 * eighth, half, kSqrtHalf, kSqrtHalf);
        Butterfly<Inverse>(block + 2 * quarter, half, 0, 1);
        Butterfly<Inverse>(block + 2 * (quarter + eighth), half, -kSqrtHalf, kSqrtHalf);
        for (int j = 1; j < eighth; ++j) {
            const double c = table[2 * j - 2];
            const double s = table[2 * j - 1];
            Butterfly<Inverse>(block + 2 * j, half, c, s);
            Butterfly<Inverse>(block + 2 * (quarter - j), half, s, c);
            Butterfly<Inverse>(block + 2 * (quarter + j), half, -s, c);
            Butterfly<Inverse>(block + 2 * (half - j), half, -c, s);
        }
    }
}

// The 4- and 2-point stages together, one block of four values at a time.
template <bool Inverse> void LastStages(double* x, int n) {
    for (double* block = x; block < x + 2 * n; block += 8) {
        if constexpr (Inverse) {
            Butterfly<true>(block, 1, 1, 0);
            Butterfly<true>(block + 4, 1, 1, 0);
            Butterfly<true>(block, 2, 1, 0);
            Butterfly<true>(block + 2, 2, 0, 1);
        } else {
            Butterfly<false>(block, 2, 1, 0);
            Butterfly<false>(block + 2, 2, 0, 1);
            Butterfly<false>(block, 1, 1, 0);
            Butterfly<false>(block + 4, 1, 1, 0);
        }
    }
}

void Forward(double* x, int log2n) {
    const int n = 1 << log2n;
    for (int l = log2n; l >= 3; --l) Stage<false>(x, n, l, StageTwiddles(l));
    LastStages<false>(x, n);
}

void Inverse(double* x, int log2n) {
    const int n = 1 << log2n;
    LastStages<true>(x, n);
    for (int l = 3; l <= log2n; ++l) Stage<true>(x, n, l, StageTwiddles(l));
}

void Reorder(double* x, int log2n) {
    const std::uint16_t* permutation = PermutationTable(log2n);
    for (int i = 0; i < 1 << log2n; ++i) {
        const int j = permutation[i];
        if (i < j) {
            std::swap(x[2 * i], x[2 * j]);
            std::swap(x[2 * i + 1], x[2 * j + 1]);
        }
    }
}

// The N reals are transformed as N/2 complex values z[n] = x[2n] + i·x[2n+1]; with Z its spectrum, the
// even and odd halves are E[k] = (Z[k] + conj Z[N/2-k]) / 2 and O[k] = (Z[k] - conj Z[N/2-k]) / 2i, and
// X[k] = E[k] + W^k·O[k] with W = exp(-2πi/N). Bins k and N/2 - k are formed together.
void RealForward(double* x, int log2n) {
    const int m = 1 << (log2n - 1);
    Forward(x, log2n - 1);
    Reorder(x, log2n - 1);
    const double* w = RealTwiddles(log2n);
    const double r0 = x[0];
    const double i0 = x[1];
    x[0] = r0 + i0;
    x[1] = r0 - i0;
    for (int k = 1; k < m / 2; ++k) {
        double* a = x + 2 * k;
        double* b = x + 2 * (m - k);
        const double er = 0.5 * (a[0] + b[0]);
        const double ei = 0.5 * (a[1] - b[1]);
        const double orr = 0.5 * (a[1] + b[1]);
        const double oi = 0.5 * (b[0] - a[0]);
        const double c = w[2 * k];
        const double s = w[2 * k + 1];
        const double pr = c * orr + s * oi;
        const double pi = c * oi - s * orr;
        a[0] = er + pr;
        a[1] = ei + pi;
        b[0] = er - pr;
        b[1] = pi - ei;
    }
    x[m + 1] = -x[m + 1]; // X[N/4] = conj Z[N/4]
}

// Undoes RealForward's split into 2·Z, so the unscaled N/2-point inverse yields N times the signal.
void RealInverse(double* x, int log2n) {
    const int m = 1 << (log2n - 1);
    const double* w = RealTwiddles(log2n);
    const double dc = x[0];
    const double nyquist = x[1];
    x[0] = dc + nyquist;
    x[1] = dc - nyquist;
    for (int k = 1; k < m / 2; ++k) {
        double* a = x + 2 * k;
        double* b = x + 2 * (m - k);
        const double er = a[0] + b[0];
        const double ei = a[1] - b[1];
        const double dr = a[0] - b[0];
        const double di = a[1] + b[1];
        const double c = w[2 * k];
        const double s = w[2 * k + 1];
        const double orr = c * dr - s * di;
        const double oi = c * di + s * dr;
        a[0] = er - oi;
        a[1] = ei + orr;
        b[0] = er + oi;
        b[1] = orr - ei;
    }
    x[m] *= 2;
    x[m + 1] *= -2;
    Reorder(x, log2n - 1);
    Inverse(x, log2n - 1);
}

} // namespace

void BuildTables() {
    // A function-local static: the first caller fills the tables, any other waits until they are complete.
    static const bool built = (FillTables(), true);
    (void)built;
}

std::span<const double> Twiddles(int n) {
    if (n < 32 || n > (1 << kMaxComplexLog2) || !std::has_single_bit(static_cast<unsigned>(n))) return {};
    BuildTables();
    const int log2n = std::countr_zero(static_cast<unsigned>(n));
    return {twiddleStore + TwiddleOffset(log2n), static_cast<std::size_t>(2 * TwiddleCount(log2n))};
}

std::span<const std::uint16_t> Permutation(int n) {
    if (n < 2 || n > (1 << kMaxComplexLog2) || !std::has_single_bit(static_cast<unsigned>(n))) return {};
    BuildTables();
    return {PermutationTable(std::countr_zero(static_cast<unsigned>(n))), static_cast<std::size_t>(n)};
}

int SizeLog2(int size) {
    return size < 1 ? -1 : std::bit_width(static_cast<unsigned>(size)) - 1;
}

void Complex(double* data, int log2n, int mode) {
    if (log2n < kMinComplexLog2 || log2n > kMaxComplexLog2) return;
    BuildTables();
    switch (mode) {
    case kForward:
        Forward(data, log2n);
        break;
    case kInverse:
        Inverse(data, log2n);
        break;
    case kToNatural:
    case kToPermuted:
        Reorder(data, log2n);
        break;
    default:
        break;
    }
}

void Real(double* data, int log2n, bool inverse) {
    if (log2n < kMinRealLog2 || log2n > kMaxRealLog2) return;
    BuildTables();
    if (inverse)
        RealInverse(data, log2n);
    else
        RealForward(data, log2n);
}

void Convolve(double* dest, const double* src, int count) {
    const int values = count & ~1;
    for (int k = 0; k < values; ++k, dest += 2, src += 2) {
        const double a = dest[0];
        const double b = dest[1];
        const double c = src[0];
        const double d = src[1];
        dest[0] = a * c - b * d;
        dest[1] = a * d + c * b;
    }
}

} // namespace fft
