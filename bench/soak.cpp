// Soak run: hours of 48 kHz programme through the plug-in's 32-bit path with random automation every block.
// Reports the largest output sample, non-finite output, the plug-in's CPU time per hour of audio and the
// resident memory at the start and the end; fails when the output is not finite or memory grew.
//
//   vandrel2_soak [--minutes N] [--plugin PATH] [--seed N]      (default: 60 minutes)
#include "hosting/plugin.h"

#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <numbers>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr double kRate = 48000;
constexpr int32_t kBlock = 512;
// Input trim, the three stages' boosts and the output trim at their largest come to 86 dB over full scale.
constexpr double kLargestOutput = 1e5;
// Memory may settle a little after the first minute (allocator pools); growth beyond this is a leak.
constexpr double kAllowedGrowthKiB = 256;

double ResidentKiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / 1024;
}

double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// A programme of passages from a few seconds to half a minute: speech-like bursts, music-like chords,
// quiet room tone and silence, at levels from -60 to -3 dBFS.
class Programme {
public:
    explicit Programme(uint32_t seed) : random_(seed) { NextPassage(); }

    void Fill(float* left, float* right, int32_t frames) {
        for (int32_t i = 0; i < frames; ++i) {
            if (remaining_-- <= 0) NextPassage();
            double s = 0;
            const double noise = white_(random_);
            switch (kind_) {
            case Kind::kSpeech: {
                // Syllables at about 4 Hz over low-passed noise.
                lowPass_ += 0.15 * (noise - lowPass_);
                const double syllable = std::max(0.0, std::sin(2 * std::numbers::pi * 4.1 * time_));
                s = 3 * lowPass_ * syllable * syllable;
                break;
            }
            case Kind::kMusic:
                for (int h = 0; h < 3; ++h)
                    s += std::sin(2 * std::numbers::pi * pitch_ * (1 + 0.5 * h) * time_) / (1 + h);
                s *= 0.5 * (1 + 0.3 * std::sin(2 * std::numbers::pi * 0.2 * time_));
                break;
            case Kind::kRoomTone:
                s = 0.01 * noise;
                break;
            case Kind::kSilence:
                break;
            }
            time_ += 1 / kRate;
            left[i] = float(gain_ * s);
            right[i] = float(gain_ * (kind_ == Kind::kMusic ? s * 0.8 + 0.05 * noise : s));
        }
    }

private:
    enum class Kind { kSpeech, kMusic, kRoomTone, kSilence };

    void NextPassage() {
        kind_ = static_cast<Kind>(std::uniform_int_distribution<int>(0, 3)(random_));
        remaining_ = std::uniform_int_distribution<long>(long(2 * kRate), long(30 * kRate))(random_);
        gain_ = std::pow(10, std::uniform_real_distribution<double>(-60, -3)(random_) / 20);
        pitch_ = std::uniform_real_distribution<double>(110, 880)(random_);
    }

    std::mt19937 random_;
    std::uniform_real_distribution<double> white_{-1, 1};
    Kind kind_ = Kind::kSilence;
    long remaining_ = 0;
    double gain_ = 0, pitch_ = 0, time_ = 0, lowPass_ = 0;
};

} // namespace

int main(int argc, char** argv) {
    double minutes = 60;
    std::string plugin = VANDREL_PLUGIN_PATH;
    uint32_t seed = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--minutes") == 0)
            minutes = std::atof(argv[i + 1]);
        else if (std::strcmp(argv[i], "--plugin") == 0)
            plugin = argv[i + 1];
        else if (std::strcmp(argv[i], "--seed") == 0)
            seed = uint32_t(std::atol(argv[i + 1]));
        else {
            std::fprintf(stderr, "usage: %s [--minutes N] [--plugin PATH] [--seed N]\n", argv[0]);
            return 2;
        }
    }
    if (!(minutes > 0)) {
        std::fprintf(stderr, "--minutes must be positive\n");
        return 2;
    }

    const auto opened = hosting::openPlugin(plugin, kRate, kBlock);
    hosting::Plugin& effect = *opened;
    effect.resume();

    Programme programme(seed);
    std::mt19937 automation(seed + 1);
    std::uniform_real_distribution<float> unit(0, 1);
    std::vector<float> left(kBlock), right(kBlock);
    float* channels[] = {left.data(), right.data()};
    const auto totalBlocks = static_cast<long>(std::ceil(minutes * 60 * kRate / kBlock));
    const long settleBlocks = std::min(totalBlocks / 10, static_cast<long>(60 * kRate / kBlock));

    double largest = 0, cpu = 0, startKiB = 0, settledKiB = 0;
    long nonFinite = 0;
    for (long block = 0; block < totalBlocks; ++block) {
        effect.setParameter(int32_t(automation() % uint32_t(effect.numParams())), unit(automation));
        programme.Fill(left.data(), right.data(), kBlock);
        const double before = ThreadCpuSeconds();
        effect.processFloat(channels, channels, kBlock);
        cpu += ThreadCpuSeconds() - before;
        for (int32_t i = 0; i < kBlock; ++i) {
            for (const float s : {left[size_t(i)], right[size_t(i)]}) {
                if (!std::isfinite(s))
                    ++nonFinite;
                else
                    largest = std::max(largest, double(std::fabs(s)));
            }
        }
        if (block == 0) startKiB = ResidentKiB();
        if (block == settleBlocks) settledKiB = ResidentKiB();
    }
    const double endKiB = ResidentKiB();
    const double audioHours = double(totalBlocks) * kBlock / kRate / 3600;
    effect.close();

    std::printf("soak: %.1f minutes of 48 kHz programme, %ld blocks of %d, random automation every block\n",
                audioHours * 60, totalBlocks, kBlock);
    std::printf("largest output sample: %.4f (%.1f dBFS)\n", largest,
                20 * std::log10(std::max(largest, 1e-30)));
    std::printf("non-finite output samples: %ld\n", nonFinite);
    std::printf("plug-in CPU: %.2f s for the run, %.1f s per hour of audio (%.3f%% of real time)\n", cpu,
                cpu / audioHours, 100 * cpu / (audioHours * 3600));
    std::printf("resident memory: %.0f KiB at start, %.0f KiB after settling, %.0f KiB at end\n", startKiB,
                settledKiB, endKiB);
    bool failed = false;
    if (nonFinite > 0) failed = true;
    if (largest > kLargestOutput) {
        std::printf("FAIL: output beyond %.0f\n", kLargestOutput);
        failed = true;
    }
    if (endKiB > settledKiB + kAllowedGrowthKiB) {
        std::printf("FAIL: resident memory grew by %.0f KiB\n", endKiB - settledKiB);
        failed = true;
    }
    return failed ? 1 : 0;
}
