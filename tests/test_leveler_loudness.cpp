// The leveler on programme material, measured with an independent loudness meter (libebur128): a
// programme with level jumps of plus and minus 10 dB and pauses comes out with a narrower spread of
// short-term loudness, nearer the target.
#include "testkit/leveler_rig.h"

#include <ebur128.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <memory>
#include <vector>

namespace {

constexpr double kRate = 48000;

struct Segment {
    double seconds;
    double decibels; // level offset; NaN for a pause
};

leveler_test::Programme JumpyProgramme() {
    const Segment segments[] = {{8, 0},   {8, 10}, {8, -10}, {8, 0},   {3, NAN}, {8, 10},
                                {8, -10}, {8, 0},  {3, NAN}, {8, -10}, {8, 10},  {8, 0}};
    leveler_test::Programme all;
    unsigned seed = 1;
    for (const Segment& s : segments) {
        auto part = leveler_test::MusicLike(kRate, s.seconds, seed++);
        const double gain = std::isnan(s.decibels) ? 0.0 : std::pow(10, s.decibels / 20);
        for (size_t i = 0; i < part.left.size(); ++i) {
            all.left.push_back(part.left[i] * gain);
            all.right.push_back(part.right[i] * gain);
        }
    }
    return all;
}

using Meter = std::unique_ptr<ebur128_state, void (*)(ebur128_state*)>;

Meter NewMeter() {
    return Meter(ebur128_init(2, static_cast<unsigned long>(kRate), EBUR128_MODE_S | EBUR128_MODE_I),
                 [](ebur128_state* state) { ebur128_destroy(&state); });
}

struct Measurement {
    std::vector<double> shortTerm; // every 100 ms
    double integrated = 0;
};

Measurement Measure(const std::vector<double>& left, const std::vector<double>& right, size_t from) {
    Meter meter = NewMeter();
    Measurement m;
    const size_t hop = static_cast<size_t>(kRate / 10);
    std::vector<double> frames(hop * 2);
    for (size_t start = from; start + hop <= left.size(); start += hop) {
        for (size_t j = 0; j < hop; ++j) {
            frames[2 * j] = left[start + j];
            frames[2 * j + 1] = right[start + j];
        }
        ebur128_add_frames_double(meter.get(), frames.data(), hop);
        double loudness = -HUGE_VAL;
        ebur128_loudness_shortterm(meter.get(), &loudness);
        m.shortTerm.push_back(loudness);
    }
    ebur128_loudness_global(meter.get(), &m.integrated);
    return m;
}

double Percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(fraction * static_cast<double>(values.size() - 1))];
}

TEST(LevelerLoudness, JumpsAndPausesComeOutEvenerAndNearerTheTarget) {
    auto programme = JumpyProgramme();
    const Measurement before = Measure(programme.left, programme.right, 0);

    leveler_test::Rig rig(kRate, 512);
    rig.ProcessAll(programme.left, programme.right);
    // The output lags by the latency: measure it from there, so that windows line up.
    const auto latency = static_cast<size_t>(rig.effect.latency.Load());
    const Measurement after = Measure(programme.left, programme.right, latency);

    // Windows with programme in them, after the first 10 s in which the leveler finds its level.
    std::vector<double> in, out;
    for (size_t w = 100; w < std::min(before.shortTerm.size(), after.shortTerm.size()); ++w) {
        if (before.shortTerm[w] < -60) continue;
        in.push_back(before.shortTerm[w]);
        out.push_back(after.shortTerm[w]);
    }
    ASSERT_GT(in.size(), 400u);
    const double spreadIn = Percentile(in, 0.9) - Percentile(in, 0.1);
    const double spreadOut = Percentile(out, 0.9) - Percentile(out, 0.1);

    std::cout << "short-term loudness spread (10th-90th percentile): " << spreadIn << " LU before, "
              << spreadOut << " LU after\nintegrated loudness: " << before.integrated << " LUFS before, "
              << after.integrated << " LUFS after (target -23)\n";
    RecordProperty("SpreadBefore", std::to_string(spreadIn));
    RecordProperty("SpreadAfter", std::to_string(spreadOut));
    RecordProperty("IntegratedBefore", std::to_string(before.integrated));
    RecordProperty("IntegratedAfter", std::to_string(after.integrated));

    EXPECT_GT(spreadIn, 15);
    EXPECT_LT(spreadOut, spreadIn / 2);
    EXPECT_LT(std::abs(after.integrated + 23), std::abs(before.integrated + 23) / 2);
    EXPECT_LT(std::abs(after.integrated + 23), 2.0);
}

} // namespace
