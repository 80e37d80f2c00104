// The leveler's state types: filters, detectors, gain stages, delay lines and the values the host, the
// panel and the audio thread exchange.
#pragma once

#include "runtime/parvex.h"
#include "runtime/shared_value.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace leveler {

// A script value counts as 1 within 0.00001 of it.
inline bool IsOne(double value) {
    return std::abs(value - 1.0) < 0.00001;
}
inline double FiniteOrZero(double value) {
    return std::isfinite(value) ? value : 0;
}

// The sample rates the leveler works at, those hosts run at (8 kHz to 768 kHz). Below them the look-ahead
// shrinks to nothing and the filters' corners fold onto the rate; zero, negative and non-numeric rates mean
// nothing. Outside them the audio passes through unchanged with no latency.
inline constexpr double kLowestRate = 8000;
inline constexpr double kHighestRate = 768000;
inline bool LevelsAt(double sampleRate) {
    return sampleRate >= kLowestRate && sampleRate <= kHighestRate;
}

// The left and the right channel in the two lanes of one SSE2 register. Both channels run the same steps in
// the same order, and each lane rounds exactly as the same expression on one double would.
using Stereo = double __attribute__((vector_size(16)));

inline Stereo Both(double value) {
    return Stereo{value, value};
}

struct BiquadCoefficients {
    SharedDouble b0, b1, b2, a1, a2;
};

// A coefficient set per lane.
struct StereoCoefficients {
    Stereo b0, b1, b2, a1, a2;

    static StereoCoefficients Of(const BiquadCoefficients& left, const BiquadCoefficients& right) {
        return {Stereo{left.b0, right.b0}, Stereo{left.b1, right.b1}, Stereo{left.b2, right.b2},
                Stereo{left.a1, right.a1}, Stereo{left.a2, right.a2}};
    }
    static StereoCoefficients Of(const BiquadCoefficients& both) {
        return {Both(both.b0), Both(both.b1), Both(both.b2), Both(both.a1), Both(both.a2)};
    }
};

// Direct form I: the last two inputs and outputs of each channel.
struct BiquadState {
    Stereo x1{}, x2{}, y1{}, y2{};

    Stereo Step(const StereoCoefficients& k, Stereo x) {
        const Stereo y = k.b0 * x + k.b1 * x1 + k.b2 * x2 - k.a1 * y1 - k.a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        return y;
    }
};

// The input's 20 Hz high-pass, whose quality factor falls as the "HPF" amount (the shape, 0 to 1) rises, so
// its slope reaches higher.
void DesignInputHighPass(BiquadCoefficients& k, double hpfShape, double fs);

// The input high-pass coefficients as the audio thread applies them, designed there from the one shape
// value. The host, the panel and the audio thread itself may each move the "HPF" slider; coefficients read
// while another thread rewrites them would mix two designs, and such a filter can be unstable: a run of 128
// frames through it grows the signal up to a hundred million times.
struct InputHighPass {
    // The shape and rate of the current design; none at first.
    uint64_t shapeBits = ~uint64_t{0};
    double rate = 0;
    StereoCoefficients coefficients{};

    const StereoCoefficients& For(double shape, double fs) {
        if (std::bit_cast<uint64_t>(shape) != shapeBits || !(fs == rate)) {
            BiquadCoefficients design;
            DesignInputHighPass(design, shape, fs);
            coefficients = StereoCoefficients::Of(design);
            shapeBits = std::bit_cast<uint64_t>(shape);
            rate = fs;
        }
        return coefficients;
    }
};

// Loudness weighting: a 140 Hz high-pass and a +4 dB shelf from 3 kHz. One design serves all ten filters.
struct WeightingDesign {
    static constexpr double kOutputGain = 0.94;
    BiquadCoefficients highPass, shelf;
};

// The design for both lanes, read once per run of frames.
struct WeightingCoefficients {
    StereoCoefficients highPass, shelf;

    static WeightingCoefficients Of(const WeightingDesign& design) {
        return {StereoCoefficients::Of(design.highPass), StereoCoefficients::Of(design.shelf)};
    }
};

// The weighting filters of both channels of one detector.
struct WeightingFilter {
    BiquadState highPass, shelf;
    Stereo heldOutput{};

    // Runs on half-rate ticks only (with the full-rate design); otherwise answers the held output. Inlined:
    // a call per detector costs more than the filter on the other ticks.
    [[gnu::always_inline]] Stereo Step(const WeightingCoefficients& design, Stereo x, bool halfRateTick) {
        if (!halfRateTick) return heldOutput;
        const Stereo u = highPass.Step(design.highPass, x);
        const Stereo v = shelf.Step(design.shelf, u);
        heldOutput = v * WeightingDesign::kOutputGain;
        return heldOutput;
    }
};

// Smoothed power of each channel, updated on quarter-rate ticks; the coefficient includes the factor 4.
struct MeanSquareDetector {
    Stereo meanSquare{};
    Stereo lastResult{};

    Stereo Update(Stereo y, double coefficient, bool quarterRateTick) {
        if (!quarterRateTick) return lastResult;
        meanSquare = meanSquare + (y * y - meanSquare) * coefficient;
        lastResult = meanSquare;
        return lastResult;
    }
};

// A ring of cells in script memory per channel; each channel returns what it was given lastPosition
// samples earlier. Both channels always stand at the same position.
struct DelayLine {
    Shared<int64_t> leftBase, rightBase, lastPosition;
    // Each channel's first cell, while its whole ring lies in one cached page of script memory; else null.
    Shared<double*> leftRing, rightRing;
    int64_t position = 0;
};

// One look-ahead dynamics stage (fast, medium or slow).
struct Stage {
    WeightingFilter filter;
    MeanSquareDetector power;
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
    WeightingFilter filter;
    MeanSquareDetector power;
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

    // The first cell of a delay channel, when its whole ring lies in one cached page; else null.
    double* RingAt(int64_t base, int64_t lastPosition) const {
        if (base < 0 || lastPosition < 0 || (base >> 16) != ((base + lastPosition) >> 16)) return nullptr;
        double* const page = PageHolding(base);
        return page ? page + (base & 0xFFFF) : nullptr;
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
