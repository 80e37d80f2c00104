// The leveler's state types: filters, detectors, gain stages, delay lines and the values the host, the
// panel and the audio thread exchange.
#pragma once

#include "runtime/shared_value.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>

namespace leveler {

// A value written on one thread and read on another (relaxed, like SharedDouble), copyable so that whole
// state records can be reset by assignment.
template <typename T> class Shared {
public:
    constexpr Shared(T value = T{}) noexcept : value_(value) {}
    Shared(const Shared& other) noexcept : value_(other.Load()) {}
    Shared& operator=(const Shared& other) noexcept { return *this = other.Load(); }
    Shared& operator=(T value) noexcept {
        value_.store(value, std::memory_order_relaxed);
        return *this;
    }
    operator T() const noexcept { return Load(); }
    T Load() const noexcept { return value_.load(std::memory_order_relaxed); }

private:
    std::atomic<T> value_;
};
static_assert(std::atomic<int64_t>::is_always_lock_free && std::atomic<double*>::is_always_lock_free);

// Script values count as 0 (or 1) within 0.00001 of it.
inline bool IsZero(double value) {
    return std::abs(value) < 0.00001;
}
inline bool IsOne(double value) {
    return std::abs(value - 1.0) < 0.00001;
}
inline double FiniteOrZero(double value) {
    return std::isfinite(value) ? value : 0;
}

struct BiquadCoefficients {
    SharedDouble b0, b1, b2, a1, a2;
};

// Direct form I: the last two inputs and outputs.
struct BiquadState {
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;

    double Step(const BiquadCoefficients& k, double x) {
        const double y = k.b0 * x + k.b1 * x1 + k.b2 * x2 - k.a1 * y1 - k.a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        return y;
    }
};

// Loudness weighting: a 140 Hz high-pass and a +4 dB shelf from 3 kHz. One design serves all ten filters.
struct WeightingDesign {
    static constexpr double kOutputGain = 0.94;
    BiquadCoefficients highPass, shelf;
};

struct WeightingFilter {
    BiquadState highPass, shelf;
    double heldOutput = 0;

    // Runs on half-rate ticks only (with the full-rate design); otherwise answers the held output.
    double Step(const WeightingDesign& design, double x, bool halfRateTick) {
        if (!halfRateTick) return heldOutput;
        const double u = highPass.Step(design.highPass, x);
        const double v = shelf.Step(design.shelf, u);
        heldOutput = v * WeightingDesign::kOutputGain;
        return heldOutput;
    }
};

// Smoothed power of one channel, updated on quarter-rate ticks; the coefficient includes the factor 4.
struct MeanSquareDetector {
    double meanSquare = 0;
    double lastResult = 0;

    double Update(double y, double coefficient, bool quarterRateTick) {
        if (!quarterRateTick) return lastResult;
        meanSquare = meanSquare + (y * y - meanSquare) * coefficient;
        lastResult = meanSquare;
        return lastResult;
    }
};

// A ring of cells in script memory per channel; each channel returns what it was given lastPosition
// samples earlier.
struct DelayLine {
    Shared<int64_t> leftBase, rightBase, lastPosition;
    int64_t leftPosition = 0, rightPosition = 0;
};

// One look-ahead dynamics stage (fast, medium or slow).
struct Stage {
    WeightingFilter leftFilter, rightFilter;
    MeanSquareDetector leftPower, rightPower;
    double peakHold = 0;
    double envelope = 0;
    SharedDouble gain;
    SharedDouble maxBoost, maxCut, stageTarget;
    // Power ratios from which the gain is maxBoost and up to which it is maxCut (see bounds.h).
    SharedDouble maxBoostFromRatio, maxCutUpToRatio;
    SharedDouble smoothCoef, attackCoef, releaseCoef, holdDecay;
    DelayLine delay;
};

// The input and output loudness meters.
struct LoudnessMeter {
    WeightingFilter leftFilter, rightFilter;
    MeanSquareDetector leftPower, rightPower;
    SharedDouble smoothCoef;
};

// A host value is kept twice: the fresh copy written when the host is asked, and the working copy that
// each section refreshes from it first.
struct HostValue {
    SharedDouble fresh, working;

    void Refresh() { working = fresh.Load(); }
    void Set(double value) { fresh = working = value; }
};

// The pages of script memory that hold the delay lines, created by DoInit so that the audio thread never
// searches or grows the page map. Indices outside them take the ordinary way.
struct DelayPages {
    static constexpr int32_t kCount = 4;
    Shared<int32_t> firstPage;
    Shared<double*> pages[kCount];

    // The cached page holding the cell, or null.
    double* PageHolding(int64_t index) const {
        const uint64_t slot = static_cast<uint64_t>(index >> 16) - static_cast<uint64_t>(firstPage.Load());
        return slot < static_cast<uint64_t>(kCount) ? pages[slot].Load() : nullptr;
    }
};


// A small generator of our own for the noise offset, 0 to 32767 like rand().
struct NoiseGenerator {
    uint32_t state = 1;

    int32_t Next() {
        state = state * 1103515245u + 12345u;
        return static_cast<int32_t>((state >> 16) & 0x7FFFu);
    }
};

// Whole script positions become memory indices, saturating like ToIndex.
inline int32_t CellIndex(int64_t position) {
    return static_cast<int32_t>(std::clamp<int64_t>(position, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

} // namespace leveler
