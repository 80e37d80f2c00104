// The leveler's exact output, pinned by a fingerprint of every output bit: music-like programme with level
// jumps and pauses, silence, parameter automation and a change of sample rate, at 44.1, 48 and 96 kHz
// through both processing widths. Speed work on the sample section must not move a single bit; a change
// of behaviour that is meant must renew the fingerprints (the failure message prints the new ones).
#include "hosting/plugin.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr int32_t kBlock = 512;

// Our own generator, so that the programme is the same with every standard library.
struct Lcg {
    uint64_t state;
    uint32_t Next() {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(state >> 33);
    }
    double Uniform() { return Next() / 2147483648.0 - 1.0; } // -1 to 1
};

// 64-bit FNV-1a over the bytes of every output sample.
struct Fingerprint {
    uint64_t value = 14695981039346656037ull;
    template <typename Sample> void Add(const Sample* samples, size_t count) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(samples);
        for (size_t i = 0; i < count * sizeof(Sample); ++i) value = (value ^ bytes[i]) * 1099511628211ull;
    }
};

struct Programme {
    std::vector<double> left, right;
};

// Chords of three voices with two harmonics each (rotating phasors, cheaper than sin per sample), note
// envelopes, a little noise, and a level that jumps by +/-10 dB every four seconds with a pause of one
// second after every third jump.
Programme MusicWithJumps(double rate, double seconds, uint64_t seed) {
    Lcg random{seed};
    const auto frames = static_cast<size_t>(rate * seconds);
    const auto noteLength = static_cast<size_t>(rate * 0.25);
    const auto section = static_cast<size_t>(rate * 4);
    constexpr double kNotes[] = {110.0, 146.83, 164.81, 220.0, 261.63, 329.63, 392.0};
    const double decay = std::exp(-1 / (0.12 * rate));
    std::complex<double> voice[3], step[3];
    double envelope = 1, level = 1;
    Programme out{std::vector<double>(frames), std::vector<double>(frames)};
    for (size_t i = 0; i < frames; ++i) {
        if (i % section == 0 && i > 0) level = (random.Next() % 2 == 0) ? level * 3.1623 : level / 3.1623;
        if (i % noteLength == 0) {
            for (int v = 0; v < 3; ++v) {
                const double w = 2 * std::numbers::pi * kNotes[random.Next() % 7] / rate;
                voice[v] = {1, 0};
                step[v] = {std::cos(w), std::sin(w)};
            }
            envelope = 1;
        }
        const bool pause = (i / section) % 3 == 2 && i % section < static_cast<size_t>(rate);
        double sum = 0, other = 0;
        for (int v = 0; v < 3; ++v) {
            voice[v] *= step[v];
            const std::complex<double> second = voice[v] * voice[v];
            sum += voice[v].imag() + 0.5 * second.imag();
            other += voice[v].real() * 0.7 + 0.3 * second.imag();
        }
        const double gain = pause ? 0 : 0.05 * envelope * std::min(level, 3.0);
        out.left[i] = gain * sum + (pause ? 0 : 0.01 * random.Uniform());
        out.right[i] = gain * other + (pause ? 0 : 0.01 * random.Uniform());
        envelope *= decay;
    }
    return out;
}

template <typename Sample> class Runner {
public:
    Runner(double rate, int32_t block = kBlock) : block_(block) {
        plugin_ = std::make_unique<hosting::Plugin>(
            VANDREL_PLUGIN_PATH, hosting::HostOptions{.sampleRate = rate, .blockSize = block});
        plugin_->open();
        Resume(rate);
    }

    void Resume(double rate) {
        if (plugin_->isResumed()) plugin_->suspend();
        plugin_->setSampleRate(rate);
        plugin_->setBlockSize(block_);
        plugin_->resume();
    }

    hosting::Plugin& plugin() { return *plugin_; }

    // Processes the programme block by block; `beforeBlock(blockNumber)` may change parameters.
    template <typename BeforeBlock> void Run(const Programme& input, BeforeBlock beforeBlock) {
        std::vector<Sample> in[2], out[2];
        for (int c = 0; c < 2; ++c) {
            in[c].resize(block_);
            out[c].resize(block_);
        }
        for (size_t start = 0, number = 0; start < input.left.size(); start += block_, ++number) {
            const auto frames = static_cast<int32_t>(std::min<size_t>(block_, input.left.size() - start));
            for (int32_t j = 0; j < frames; ++j) {
                in[0][j] = static_cast<Sample>(input.left[start + j]);
                in[1][j] = static_cast<Sample>(input.right[start + j]);
            }
            beforeBlock(number);
            Sample* inputs[] = {in[0].data(), in[1].data()};
            Sample* outputs[] = {out[0].data(), out[1].data()};
            if constexpr (std::is_same_v<Sample, float>)
                plugin_->processFloat(inputs, outputs, frames);
            else
                plugin_->processDouble(inputs, outputs, frames);
            fingerprint_.Add(out[0].data(), frames);
            fingerprint_.Add(out[1].data(), frames);
        }
    }
    void Run(const Programme& input) {
        Run(input, [](size_t) {});
    }

    uint64_t fingerprint() const { return fingerprint_.value; }

private:
    int32_t block_;
    std::unique_ptr<hosting::Plugin> plugin_;
    Fingerprint fingerprint_;
};

template <typename Sample> uint64_t Music(double rate) {
    Runner<Sample> runner(rate);
    runner.Run(MusicWithJumps(rate, 40, 1));
    return runner.fingerprint();
}

template <typename Sample> uint64_t Silence(double rate) {
    Runner<Sample> runner(rate);
    const auto frames = static_cast<size_t>(rate * 10);
    runner.Run(Programme{std::vector<double>(frames, 0.0), std::vector<double>(frames, 0.0)});
    return runner.fingerprint();
}

// Every few blocks one parameter jumps to a random value, as host automation would set it; odd block sizes
// move the blocks' edges against the detectors' phase.
template <typename Sample> uint64_t Automation(double rate) {
    Runner<Sample> runner(rate, 300);
    Lcg random{7};
    hosting::Plugin& plugin = runner.plugin();
    runner.Run(MusicWithJumps(rate, 30, 3), [&](size_t block) {
        if (block % 16 != 0) return;
        const int32_t index = static_cast<int32_t>(random.Next() % plugin.numParams());
        plugin.setParameter(index, static_cast<float>((random.Uniform() + 1) / 2));
    });
    return runner.fingerprint();
}

// Resumed at another rate mid-programme: the leveler starts afresh at the new rate, nothing of before heard.
template <typename Sample> uint64_t RateChange(double rate) {
    Runner<Sample> runner(96000);
    runner.Run(MusicWithJumps(96000, 5, 5));
    runner.Resume(rate);
    runner.Run(MusicWithJumps(rate, 10, 6));
    return runner.fingerprint();
}

struct Expected {
    double rate;
    uint64_t music, silence, automation, rateChange;
};

std::string Hex(uint64_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%016llx", static_cast<unsigned long long>(value));
    return text;
}

template <typename Sample> void Check(const Expected& expected) {
    const double rate = expected.rate;
    const uint64_t music = Music<Sample>(rate), silence = Silence<Sample>(rate),
                   automation = Automation<Sample>(rate), rateChange = RateChange<Sample>(rate);
    EXPECT_EQ(music, expected.music) << "music at " << rate << ": " << Hex(music);
    EXPECT_EQ(silence, expected.silence) << "silence at " << rate << ": " << Hex(silence);
    EXPECT_EQ(automation, expected.automation) << "automation at " << rate << ": " << Hex(automation);
    EXPECT_EQ(rateChange, expected.rateChange) << "rate change to " << rate << ": " << Hex(rateChange);
}

TEST(LevelerFingerprint, Float64) {
    for (const Expected& expected : {
             Expected{44100, 0x973ac659fa992c2e, 0xcf547a13ec8f5e7d, 0x889b0ce8cfc3d1d8, 0x6906f6c4a823fa8f},
             Expected{48000, 0xf3551a324460e2a0, 0x58798b3b1b4afe3d, 0xc83e3c44e8fb0aee, 0x692d7e5e29dc4761},
             Expected{96000, 0x83ea44a7c5ab690a, 0x44c6675481572e81, 0x01b9475a39af1d3e, 0x04e71c733e23a07d},
         })
        Check<double>(expected);
}

TEST(LevelerFingerprint, Float32) {
    for (const Expected& expected : {
             Expected{44100, 0x7c8acb04a220e4df, 0x09f678cdce8db189, 0x6826bd473de8fc71, 0x79a3e8b0afdf8fea},
             Expected{48000, 0xe782125732d4c57b, 0x07a53853158229cd, 0x968d731699b07398, 0x067dc57f2efeff8d},
             Expected{96000, 0x33ff45b2d5f7a6e0, 0xa793f47a1488f479, 0x20578946e63be028, 0x8eeeaafc3725b5b9},
         })
        Check<float>(expected);
}

} // namespace
