// Habits of real hosts, as a battery that any format's instance goes through: blocks sliced at random
// (calls of no frame and of one frame among them), suspend and resume with silence after, a new sample rate
// between the two, and sample rates the leveler does not work at. Each check gives one line, "check <name>
// ok" or "check <name> FAILED: <what>", with nothing in it that differs between builds, so that the Windows
// test host's lines can be compared with Linux's. The programme is made with our own generator and no
// library mathematics, to be the same bits everywhere.
#pragma once

#include "hosting/plugin.h"
#include "leveler/parameter_table.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace habits {

struct Stereo {
    std::vector<float> left, right;
    explicit Stereo(size_t frames = 0) : left(frames), right(frames) {}
    size_t Frames() const { return left.size(); }
};

// What the battery asks of an instance, whichever format carries it.
class Instance {
public:
    virtual ~Instance() = default;
    virtual void Process(const float* const* inputs, float* const* outputs, int32_t frames) = 0;
    virtual void Suspend() = 0;
    virtual void Resume() = 0;
    // The rate for the next resume; false when the format fixes the rate for the instance's life.
    virtual bool SetSampleRate(double rate) = 0;
    // The latency as the host reads it now (for some formats: as of the last call).
    virtual double Latency() = 0;
};

// A resumed instance at `rate` that announces `blockLength`; null when the format refuses the rate.
using Factory = std::function<std::unique_ptr<Instance>(double rate, int32_t blockLength)>;

class VstInstance final : public Instance {
public:
    VstInstance(const std::filesystem::path& module, double rate, int32_t blockLength)
        : plugin_(hosting::openPlugin(module, rate, blockLength)) {
        plugin_->resume();
    }
    void Process(const float* const* inputs, float* const* outputs, int32_t frames) override {
        // The VST interface takes its inputs as writable buffers; it does not write them.
        float* writable[] = {const_cast<float*>(inputs[0]), const_cast<float*>(inputs[1])};
        plugin_->processFloat(writable, outputs, frames);
    }
    void Suspend() override { plugin_->suspend(); }
    void Resume() override { plugin_->resume(); }
    bool SetSampleRate(double rate) override {
        plugin_->setSampleRate(rate);
        return true;
    }
    double Latency() override { return plugin_->initialDelay(); }

private:
    std::unique_ptr<hosting::Plugin> plugin_;
};

inline Factory VstFactory(const std::filesystem::path& module) {
    return [module](double rate, int32_t blockLength) -> std::unique_ptr<Instance> {
        return std::make_unique<VstInstance>(module, rate, blockLength);
    };
}

struct Lcg {
    uint64_t state;
    uint32_t Next() {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(state >> 33);
    }
    float Uniform() { return static_cast<float>(Next() / 2147483648.0 - 1.0); }
};

// Low-passed noise around `level` whose level steps by 10 dB up or down every 0.7 s, with a pause in every
// third step: within seconds the gate closes and opens, and the automatic trim, the automatic threshold and
// the gating statistics all act.
inline Stereo Programme(double rate, double seconds, uint64_t seed, float level) {
    Lcg random{seed};
    Stereo p(static_cast<size_t>(rate * seconds));
    const auto step = static_cast<size_t>(rate * 0.7);
    float l = 0, r = 0;
    for (size_t i = 0; i < p.Frames(); ++i) {
        if (i % step == 0 && i > 0) level = random.Next() % 2 ? level * 3.16f : level / 3.16f;
        const bool pause = (i / step) % 3 == 2;
        l = 0.9f * l + 0.1f * random.Uniform();
        r = 0.8f * r + 0.2f * random.Uniform();
        p.left[i] = pause ? 0.0f : level * l;
        p.right[i] = pause ? 0.0f : level * (r + 0.5f * l);
    }
    return p;
}

// Runs `input` through the instance in calls of the lengths `next` gives, into buffers that start out as NaN
// so that a frame the plug-in skips shows.
inline Stereo Run(Instance& instance, const Stereo& input, const std::function<int32_t()>& next) {
    Stereo output(input.Frames());
    std::fill(output.left.begin(), output.left.end(), std::numeric_limits<float>::quiet_NaN());
    std::fill(output.right.begin(), output.right.end(), std::numeric_limits<float>::quiet_NaN());
    for (size_t start = 0; start < input.Frames();) {
        const auto frames =
            static_cast<int32_t>(std::min<size_t>(static_cast<size_t>(next()), input.Frames() - start));
        const float* in[] = {input.left.data() + start, input.right.data() + start};
        float* out[] = {output.left.data() + start, output.right.data() + start};
        instance.Process(in, out, frames);
        start += static_cast<size_t>(frames);
    }
    return output;
}

inline std::function<int32_t()> Whole(int32_t frames) {
    return [frames] { return frames; };
}

inline std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3g", value);
    return text;
}

inline std::string Check(const std::string& name, const std::string& failure) {
    return "check " + name + (failure.empty() ? " ok" : " FAILED: " + failure);
}

// Empty when the two are the same bits; else where they part and by how much.
inline std::string Difference(const Stereo& actual, const Stereo& expected, double rate) {
    size_t first = actual.Frames();
    double largest = 0;
    for (size_t i = 0; i < std::min(actual.Frames(), expected.Frames()); ++i)
        for (const auto& [a, b] :
             {std::pair{actual.left[i], expected.left[i]}, {actual.right[i], expected.right[i]}})
            if (std::memcmp(&a, &b, sizeof a) != 0) {
                first = std::min(first, i);
                largest = std::max(largest, std::isfinite(a) ? std::fabs(double(a) - double(b)) : HUGE_VAL);
            }
    if (first == actual.Frames() && actual.Frames() == expected.Frames()) return "";
    return "differs from " + Number(double(first) / rate) + " s on, by up to " + Number(largest);
}

inline double Peak(const Stereo& audio) {
    double peak = 0;
    for (const auto* channel : {&audio.left, &audio.right})
        for (const float s : *channel)
            peak = std::max(peak, std::isfinite(s) ? std::fabs(double(s)) : HUGE_VAL);
    return peak;
}

// The same programme sliced at random (0 to N frames a call) and one frame a call gives the bits of whole
// N-frame blocks, for N = 512 and 4096.
inline std::vector<std::string> Slicing(const Factory& make) {
    constexpr double kRate = 48000;
    const Stereo programme = Programme(kRate, 8, 11, 0.03f);
    std::vector<std::string> lines;
    for (const int32_t length : {512, 4096}) {
        const Stereo whole = Run(*make(kRate, length), programme, Whole(length));
        const std::string name = "slicing-" + std::to_string(length);
        lines.push_back(Check(name + "-levels",
                              Difference(whole, programme, kRate).empty() ? "passes audio through" : ""));
        Lcg random{static_cast<uint64_t>(length)};
        const Stereo sliced = Run(*make(kRate, length), programme, [&] {
            return static_cast<int32_t>(random.Next() % static_cast<uint32_t>(length + 1));
        });
        lines.push_back(Check(name + "-random", Difference(sliced, whole, kRate)));
        lines.push_back(Check(name + "-single-frames",
                              Difference(Run(*make(kRate, length), programme, Whole(1)), whole, kRate)));
    }
    return lines;
}

// After suspend and resume, silence in gives silence out, and the instance then sounds like a fresh one;
// also after a change of sample rate between the two, where the format allows one.
inline std::vector<std::string> Resume(const Factory& make) {
    constexpr double kRate = 48000;
    constexpr int32_t kLength = 512;
    // Shorter than the two seconds after which the automatic trim first moves: the settings stay the
    // fresh instance's.
    const Stereo before = Programme(kRate, 1.5, 3, 0.1f);
    std::vector<std::string> lines;
    for (const double rate : {kRate, 2 * kRate}) {
        const std::string name = rate == kRate ? "resume" : "rate-change";
        auto instance = make(kRate, kLength);
        Run(*instance, before, Whole(kLength));
        instance->Suspend();
        if (rate != kRate && !instance->SetSampleRate(rate)) continue;
        instance->Resume();
        // Silence for longer than the look-ahead, then a programme.
        const Stereo silence(static_cast<size_t>(rate / 2));
        const double peak = Peak(Run(*instance, silence, Whole(kLength)));
        lines.push_back(
            Check(name + "-silence", peak < 1e-9 ? "" : "silence comes out at up to " + Number(peak)));
        const Stereo after = Programme(rate, 3, 5, 0.1f);
        const Stereo resumed = Run(*instance, after, Whole(kLength));
        auto fresh = make(rate, kLength);
        Run(*fresh, silence, Whole(kLength));
        lines.push_back(
            Check(name + "-like-fresh", Difference(resumed, Run(*fresh, after, Whole(kLength)), rate)));
    }
    return lines;
}

// At a rate outside 8 kHz to 768 kHz the audio passes through unchanged with a latency of 0 (or the format
// refuses the rate); at the two ends it is levelled, finite and bounded, with the look-ahead as latency.
inline std::vector<std::string> OddRates(const Factory& make) {
    const Stereo programme = Programme(48000, 1, 7, 0.3f);
    const double bound = leveler::LargestGainAllowed() * Peak(programme);
    std::vector<std::string> lines;
    const double nan = std::numeric_limits<double>::quiet_NaN(),
                 inf = std::numeric_limits<double>::infinity();
    for (const double rate : {0.0, -48000.0, nan, inf, 1.0, 100.0, 7999.0, 8000.0, 768000.0, 768001.0, 1e7}) {
        char name[32];
        std::snprintf(name, sizeof name, "rate-%.10g", rate);
        auto instance = make(rate, 512);
        if (!instance) {
            lines.push_back(Check(std::string(name) + "-refused", ""));
            continue;
        }
        const Stereo output = Run(*instance, programme, Whole(512));
        const double latency = instance->Latency();
        const bool inside = rate >= 8000 && rate <= 768000;
        std::string failure;
        if (!(latency >= 0) || (latency == 0) == inside) failure += "latency " + Number(latency) + "; ";
        if (!(Peak(output) <= bound)) failure += "output reaches " + Number(Peak(output)) + "; ";
        if (inside == Difference(output, programme, 48000).empty())
            failure += inside ? "passes audio through; " : "changes the audio; ";
        lines.push_back(Check(name, failure));
    }
    return lines;
}

inline std::vector<std::string> All(const Factory& make) {
    std::vector<std::string> lines = Slicing(make);
    for (const auto& more : {Resume(make), OddRates(make)})
        lines.insert(lines.end(), more.begin(), more.end());
    return lines;
}

} // namespace habits
