// Shared by the leveler tests: a fake host link that answers like a host wrapper and counts the leveler's
// reports, and a rig that drives TParvexEffect the way the processing entries do.
#pragma once

#include "format/process_link.h"
#include "leveler/leveler.h"
#include "testkit/manual_clock.h"

#include <atomic>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <optional>
#include <random>
#include <vector>

namespace leveler_test {

// Without editor: drawing answers 0 and edits go nowhere, as for a format's audio binary.
class FakeHost final : public format::TProcessLink {
public:
    double sampleRate = 48000;
    int32_t blockSize = 512;
    int32_t inputCount = 2;
    std::optional<THostTime> time;

    std::atomic<int32_t> updateDisplayCalls{0};
    std::atomic<int32_t> setInitialDelayCalls{0};
    std::atomic<int32_t> initialDelay{0};

    int32_t InputCount() override { return inputCount; }
    double SampleRate() override { return sampleRate; }
    int32_t BlockSize() override { return blockSize; }
    bool GetTime(int32_t, THostTime& answer) override {
        if (!time) return false;
        answer = *time;
        return true;
    }
    bool UpdateDisplay() override {
        ++updateDisplayCalls;
        return true;
    }
    void SetInitialDelay(int32_t samples) override {
        ++setInitialDelayCalls;
        initialDelay = samples;
    }
};

// An opened and resumed leveler on a fake host, processed like the two-channel processing entry does. Its
// clock moves only when the test moves it.
struct Rig {
    FakeHost host;
    testkit::ManualClock clock;
    TParvexEffect effect;

    explicit Rig(double sampleRate = 48000, int32_t blockSize = 512) {
        host.sampleRate = sampleRate;
        host.blockSize = blockSize;
        effect.Host = &host;
        effect.Clock = &clock;
        effect.DoReset();
        effect.DoResume();
    }

    // One block: DoBlock, then DoSample per frame; output written over the input.
    void Process(double* left, double* right, int32_t frames) {
        effect.DoBlock();
        for (int32_t j = 0; j < frames; ++j) {
            effect.SampleSlots[0] = left[j];
            effect.SampleSlots[1] = right[j];
            effect.DoSample();
            left[j] = effect.SampleSlots[0];
            right[j] = effect.SampleSlots[1];
        }
    }

    // Whole signal in blocks of `blockSize`.
    void ProcessAll(std::vector<double>& left, std::vector<double>& right, int32_t blockSize = 512) {
        for (size_t start = 0; start < left.size(); start += static_cast<size_t>(blockSize)) {
            const auto frames = static_cast<int32_t>(std::min<size_t>(blockSize, left.size() - start));
            Process(left.data() + start, right.data() + start, frames);
        }
    }

    void Silence(int32_t frames, int32_t blockSize = 512) {
        std::vector<double> left(static_cast<size_t>(frames)), right(static_cast<size_t>(frames));
        ProcessAll(left, right, blockSize);
    }
};

struct Programme {
    std::vector<double> left, right;
};

// A music-like stereo programme: three voices of four harmonics, with note envelopes and a little noise.
inline Programme MusicLike(double sampleRate, double seconds, unsigned seed = 7) {
    // One period of a voice, read with linear interpolation.
    static const std::vector<double> wave = [] {
        std::vector<double> table(4097);
        for (size_t i = 0; i < table.size(); ++i) {
            const double x = 2 * std::numbers::pi * static_cast<double>(i) / 4096;
            for (int h = 1; h <= 4; ++h) table[i] += std::sin(h * x) / h;
        }
        return table;
    }();
    const auto frames = static_cast<size_t>(sampleRate * seconds);
    Programme p{std::vector<double>(frames), std::vector<double>(frames)};
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    constexpr double kNotes[] = {110.0, 146.83, 164.81, 220.0, 261.63, 329.63, 392.0};
    const auto noteLength = static_cast<size_t>(sampleRate * 0.25);
    double phases[3] = {0, 0, 0}; // in periods
    double frequencies[3] = {110.0, 220.0, 329.63};
    double envelope = 1;
    const double decay = std::exp(-1 / (0.12 * sampleRate));
    for (size_t i = 0; i < frames; ++i) {
        if (i % noteLength == 0) {
            for (double& f : frequencies) f = kNotes[random() % std::size(kNotes)];
            envelope = 1;
        }
        double l = 0, r = 0;
        for (int v = 0; v < 3; ++v) {
            phases[v] += frequencies[v] / sampleRate;
            if (phases[v] >= 1) phases[v] -= 1;
            const double position = phases[v] * 4096;
            const auto index = static_cast<size_t>(position);
            const double fraction = position - static_cast<double>(index);
            const double voice = wave[index] + (wave[index + 1] - wave[index]) * fraction;
            l += voice * (v == 0 ? 0.7 : 0.4);
            r += voice * (v == 2 ? 0.7 : 0.4);
        }
        const double noise = 0.02 * uniform(random);
        p.left[i] = 0.12 * envelope * l + noise;
        p.right[i] = 0.12 * envelope * r + noise;
        envelope *= decay;
    }
    return p;
}

inline double ToDecibels(double power) {
    return 10 * std::log10(power);
}

} // namespace leveler_test
