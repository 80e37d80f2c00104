// The output stage on its own: loudness figures and the true-peak ceiling against libebur128 used directly,
// and the rounding to an integer format with its dither.
#include "mastering/loudness.h"
#include "mastering/quantizer.h"
#include "mastering/true_peak.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ebur128.h>
#include <numbers>
#include <random>

namespace {

std::vector<float> bursts(int channels, int rate, double seconds) {
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    std::vector<float> samples;
    const auto frames = size_t(seconds * rate);
    for (size_t i = 0; i < frames; ++i) {
        // Level changes every 1.7 s, with a silent stretch and one quiet enough for the relative gates.
        const size_t part = i / size_t(1.7 * rate);
        const float level = part == 3 ? 0.0f : part == 5 ? 0.003f : 0.02f * float(1 + part % 4);
        for (int c = 0; c < channels; ++c) samples.push_back(level * noise(random));
    }
    return samples;
}

TEST(LoudnessMeter, ShortTermAndSummaryAgreeWithLibebur128Itself) {
    // 11025 Hz is the rate at which libebur128 gates its own blocks. Mono counts once, as libebur128 counts
    // one channel by default, or twice, as its dual-mono channel does.
    using mastering::MonoCount;
    struct Case {
        int channels, rate;
        MonoCount mono;
    };
    for (const auto& [channels, rate, mono] :
         {Case{2, 48000, MonoCount::kOneChannel}, Case{1, 44100, MonoCount::kOneChannel},
          Case{1, 44100, MonoCount::kDualMono}, Case{2, 22050, MonoCount::kOneChannel},
          Case{2, 11025, MonoCount::kOneChannel}}) {
        const auto samples = bursts(channels, rate, 12.0);
        const int64_t frames = int64_t(samples.size()) / channels;
        mastering::LoudnessMeter meter(channels, rate, mono);
        ebur128_state* reference =
            ebur128_init(unsigned(channels), unsigned(rate),
                         EBUR128_MODE_S | EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_TRUE_PEAK);
        if (mono == MonoCount::kDualMono) ebur128_set_channel(reference, 0, EBUR128_DUAL_MONO);
        std::vector<double> expected;
        const int64_t hop = rate / 10;
        // Uneven pieces for the meter, whole hops for the reference.
        for (int64_t at = 0, piece = 1000; at < frames; at += piece, piece = piece * 7 % 9001 + 1)
            meter.add(samples.data() + at * channels, std::min(piece, frames - at));
        for (int64_t at = 0; at + hop <= frames; at += hop) {
            ebur128_add_frames_float(reference, samples.data() + at * channels, size_t(hop));
            double value = 0;
            ebur128_loudness_shortterm(reference, &value);
            expected.push_back(value);
        }
        ASSERT_EQ(meter.shortTerm().size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            if (std::isinf(expected[i]))
                EXPECT_TRUE(std::isinf(meter.shortTerm()[i])) << i;
            else
                EXPECT_NEAR(meter.shortTerm()[i], expected[i], 1e-6) << "hop " << i << " rate " << rate;
        }
        ebur128_add_frames_float(reference, samples.data() + (frames / hop) * hop * channels,
                                 size_t(frames % hop));
        const mastering::LoudnessSummary summary = meter.summary();
        double integrated = 0, range = 0, peak = 0, channelPeak = 0;
        ebur128_loudness_global(reference, &integrated);
        ebur128_loudness_range(reference, &range);
        for (int c = 0; c < channels; ++c) {
            ebur128_true_peak(reference, unsigned(c), &channelPeak);
            peak = std::max(peak, channelPeak);
        }
        // Block powers summed from hops round differently in the last bits.
        EXPECT_NEAR(summary.integrated, integrated, 1e-9) << rate;
        EXPECT_NEAR(summary.range, range, 1e-9) << rate;
        EXPECT_GT(range, 3.0) << "the gates and percentiles are not exercised";
        EXPECT_DOUBLE_EQ(summary.truePeak, 20 * std::log10(peak));
        EXPECT_EQ(meter.frames(), frames);
        ebur128_destroy(&reference);
    }
}

double libebur128TruePeak(const std::vector<float>& samples, int channels, int rate) {
    ebur128_state* reference = ebur128_init(unsigned(channels), unsigned(rate), EBUR128_MODE_TRUE_PEAK);
    ebur128_add_frames_float(reference, samples.data(), samples.size() / size_t(channels));
    double peak = 0, channelPeak = 0;
    for (int c = 0; c < channels; ++c) {
        ebur128_true_peak(reference, unsigned(c), &channelPeak);
        peak = std::max(peak, channelPeak);
    }
    ebur128_destroy(&reference);
    return peak;
}

// Programmes whose inter-sample peaks lie well above their samples, in places that catch a lost history:
// a quarter-rate sine at 45 degrees (3 dB over), alternating full-scale runs and lone spikes placed
// around piece boundaries, on top of level-stepped noise.
std::vector<float> overs(int channels, int rate, double seconds, unsigned seed) {
    std::vector<float> samples = bursts(channels, rate, seconds);
    std::mt19937 random(seed);
    const size_t frames = samples.size() / size_t(channels);
    for (int event = 0; event < 12; ++event) {
        const size_t at = random() % (frames - 64);
        const auto c = size_t(random() % unsigned(channels));
        const float level = 0.1f + 0.07f * float(event);
        for (size_t i = 0; i < 32; ++i) {
            float& sample = samples[(at + i) * size_t(channels) + c];
            switch (event % 3) {
            case 0:
                sample = level * float(std::sin(std::numbers::pi / 2 * double(i) + std::numbers::pi / 4));
                break;
            case 1:
                sample = i < 6 ? level * (i % 2 ? -1.0f : 1.0f) : sample;
                break;
            default:
                sample = i == 0 ? -level : sample;
            }
        }
    }
    return samples;
}

TEST(TruePeakMeter, EqualsLibebur128OnTheWholeProgrammeWhateverThePieces) {
    for (const auto& [channels, rate] : {std::pair{2, 48000}, std::pair{1, 44100}, std::pair{2, 96000},
                                         std::pair{2, 192000}, std::pair{2, 8000}}) {
        for (unsigned seed = 1; seed <= 3; ++seed) {
            const auto samples = overs(channels, rate, 6.0, seed);
            const int64_t frames = int64_t(samples.size()) / channels;
            mastering::TruePeakMeter meter(channels, rate);
            // Pieces from one frame (shorter than the interpolator's memory) to a few thousand.
            for (int64_t at = 0, piece = 1; at < frames; at += piece, piece = (piece * 13 + seed) % 4801 + 1)
                meter.add(samples.data() + at * channels, std::min(piece, frames - at));
            EXPECT_EQ(meter.peak(), libebur128TruePeak(samples, channels, rate))
                << channels << " channels at " << rate << " Hz, seed " << seed;
        }
    }
}

TEST(TruePeakMeter, APeakAtTheStartOfAPieceIsMeasuredWithTheSamplesBeforeIt) {
    // Loud noise first, then quiet noise that cannot raise the peak, then a loud doublet right at the
    // start of a piece: its overshoot depends on the quiet samples before it, not on the loud ones that
    // libebur128 saw last.
    constexpr int kRate = 48000, kPiece = 4800;
    std::mt19937 random(3);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    std::vector<float> samples(size_t(2 * kPiece * 12));
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = (i < 2 * kPiece ? 0.1f : 0.01f) * noise(random);
    for (size_t i = 0; i < 2; ++i) samples[(10 * kPiece + i) * 2] = i % 2 ? -0.5f : 0.5f;
    mastering::TruePeakMeter meter(2, kRate);
    for (size_t at = 0; at < samples.size() / 2; at += kPiece) meter.add(samples.data() + at * 2, kPiece);
    EXPECT_GT(meter.peak(), 0.5);
    EXPECT_EQ(meter.peak(), libebur128TruePeak(samples, 2, kRate));
    EXPECT_LT(meter.measuredPieces(), 6);
}

TEST(TruePeakMeter, LeavesLibebur128OnlyThePiecesThatMayRaiseThePeak) {
    const auto samples = bursts(2, 48000, 120.0);
    mastering::TruePeakMeter meter(2, 48000);
    for (size_t at = 0; at < samples.size() / 2; at += 4800) meter.add(samples.data() + at * 2, 4800);
    EXPECT_EQ(meter.peak(), libebur128TruePeak(samples, 2, 48000));
    EXPECT_EQ(meter.pieces(), 1200);
    // Noise sets a new peak now and then; a handful of pieces, not a share of the programme.
    EXPECT_LT(meter.measuredPieces(), 60);
}

// Through the limiter in uneven pieces, from one frame to more than its own pieces.
template <typename Sample>
std::vector<Sample> limited(std::vector<Sample> samples, int channels, int rate, double ceiling,
                            unsigned seed = 1) {
    mastering::TruePeakLimiter limiter(channels, rate, ceiling);
    const int64_t frames = int64_t(samples.size()) / channels;
    for (int64_t at = 0, piece = 1; at < frames; at += piece, piece = (piece * 13 + seed) % 1201 + 1)
        limiter.process(samples.data() + at * channels, std::min(piece, frames - at));
    return samples;
}

TEST(TruePeakLimiter, HoldsLibebur128sTruePeakUnderTheCeilingAtEveryRate) {
    for (const auto& [channels, rate] :
         {std::pair{2, 48000}, std::pair{1, 44100}, std::pair{2, 96000}, std::pair{2, 192000}}) {
        for (const double ceiling : {-1.0, -6.0}) {
            auto samples = overs(channels, rate, 4.0, 5);
            // Inter-sample overs far above the ceiling, and a full-scale square wave.
            const double boost =
                std::pow(10.0, (12.0 + ceiling) / 20.0) / libebur128TruePeak(samples, channels, rate);
            for (float& sample : samples) sample = float(sample * boost);
            for (size_t i = size_t(rate); i < size_t(rate * 1.2); ++i)
                for (int c = 0; c < channels; ++c)
                    samples[i * size_t(channels) + size_t(c)] = (i / 7) % 2 ? 1.0f : -1.0f;
            for (size_t i = size_t(rate * 2); i < size_t(rate * 2.5); ++i)
                for (int c = 0; c < channels; ++c)
                    samples[i * size_t(channels) + size_t(c)] =
                        float(1.5 * std::sin(2 * std::numbers::pi * 60 * double(i) / rate) *
                                  (1 + std::sin(double(i) * 0.001)) +
                              0.9 * std::sin(2 * std::numbers::pi * (rate * 0.37) * double(i) / rate + c));
            const auto out = limited(samples, channels, rate, ceiling);
            EXPECT_LE(20 * std::log10(libebur128TruePeak(out, channels, rate)), ceiling + 0.1)
                << channels << " channels at " << rate << " Hz, ceiling " << ceiling;
        }
    }
}

TEST(TruePeakLimiter, ChangesOnlyTheNeighbourhoodOfAPeakWithASmoothRampAndKeepsTheRestAligned) {
    constexpr int kRate = 48000;
    const size_t peakAt = 3 * kRate;
    // Noise well under the ceiling, and one doublet far over it.
    std::vector<float> input = bursts(2, kRate, 6.0);
    input[2 * peakAt] = 1.5f;
    input[2 * peakAt + 2] = -1.5f;
    const std::vector<float> floats = limited(input, 2, kRate, -1.0);
    const std::vector<double> doubles =
        limited(std::vector<double>(input.begin(), input.end()), 2, kRate, -1.0);
    const auto latency = size_t(mastering::TruePeakLimiter(2, kRate, -1.0).latency());
    EXPECT_LT(latency, size_t(0.01 * kRate)); // a few milliseconds
    // Whatever pieces the samples come in.
    EXPECT_EQ(floats, limited(input, 2, kRate, -1.0, 7));

    // The gain at each frame, from the left channel where its sample is large enough to tell.
    double deepest = 1.0, steepest = 0.0, previous = 1.0;
    for (size_t frame = 0; frame + latency < floats.size() / 2; ++frame) {
        const float in = input[2 * frame], out = floats[2 * (frame + latency)];
        const bool near = frame + size_t(0.006 * kRate) >= peakAt && frame < peakAt + size_t(kRate);
        if (!near) {
            // Bit for bit, in both widths.
            ASSERT_EQ(out, in) << "frame " << frame;
            ASSERT_EQ(floats[2 * (frame + latency) + 1], input[2 * frame + 1]) << "frame " << frame;
            ASSERT_EQ(doubles[2 * (frame + latency)], double(in)) << "frame " << frame;
        } else if (std::abs(in) > 1e-3f) {
            const double gain = double(out) / double(in);
            deepest = std::min(deepest, gain);
            steepest = std::max(steepest, std::abs(gain - previous));
            previous = gain;
        }
    }
    EXPECT_LT(deepest, 0.6);
    // A ramp over milliseconds, not a jump: 2 ms at least from unity to the deepest gain.
    EXPECT_LT(steepest, (1.0 - deepest) / (0.002 * kRate));
}

// A gain of 1e-19 must be as exact as the sample it lowers: one sample of 1e19 (or of the largest float)
// among ordinary programme leaves the output under the ceiling, in either width.
TEST(TruePeakLimiter, HoldsTheCeilingForSamplesOfAnySize) {
    constexpr int kRate = 48000;
    const std::vector<float> programme = bursts(2, kRate, 3.0);
    for (const double size : {1e5, 1e10, 1e19, 3e38, 1e300}) {
        std::vector<double> input(programme.begin(), programme.end());
        input[2 * kRate] = size;
        input[2 * kRate + 3] = -size;
        const std::vector<double> doubles = limited(input, 2, kRate, -1.0);
        const std::vector<float> asFloats(doubles.begin(), doubles.end());
        EXPECT_LE(20 * std::log10(libebur128TruePeak(asFloats, 2, kRate)), -1.0 + 1e-3)
            << size << " as doubles";
        if (size > 3.4e38) continue;
        const std::vector<float> floats =
            limited(std::vector<float>(input.begin(), input.end()), 2, kRate, -1.0);
        EXPECT_LE(20 * std::log10(libebur128TruePeak(floats, 2, kRate)), -1.0 + 1e-3) << size << " as floats";
    }
}

TEST(LoudnessMeter, SilenceHasNoLoudness) {
    mastering::LoudnessMeter meter(2, 48000);
    std::vector<float> silence(2 * 48000 * 4, 0.0f);
    meter.add(silence.data(), 48000 * 4);
    const auto summary = meter.summary();
    EXPECT_TRUE(std::isinf(summary.integrated) && summary.integrated < 0);
    EXPECT_TRUE(std::isinf(summary.truePeak) && summary.truePeak < 0);
    EXPECT_EQ(summary.shortTermSpread, 0.0);
    ASSERT_EQ(meter.shortTerm().size(), 40u);
    EXPECT_TRUE(std::isinf(meter.shortTerm().back()));
}

TEST(ShortTermSpread, PercentilesOfTheGatedValuesAfterTheFirstWindow) {
    // 29 values of the partial first window, ignored whatever they are.
    std::vector<double> values(29, 0.0);
    for (int v = -30; v <= -20; ++v) values.push_back(v);
    values.push_back(-80.0); // below the absolute gate
    values.push_back(-55.0); // more than 20 LU below the mean of the rest
    mastering::LoudnessSummary summary;
    mastering::shortTermSpread(values, summary);
    // Eleven values, -30 to -20: the 10th percentile is the second, the 90th the tenth.
    EXPECT_DOUBLE_EQ(summary.shortTermLow, -29.0);
    EXPECT_DOUBLE_EQ(summary.shortTermHigh, -21.0);
    EXPECT_DOUBLE_EQ(summary.shortTermSpread, 8.0);

    std::vector<double> interpolated(29, -200.0);
    interpolated.insert(interpolated.end(), {-40.0, -30.0});
    mastering::shortTermSpread(interpolated, summary);
    EXPECT_DOUBLE_EQ(summary.shortTermLow, -39.0);
    EXPECT_DOUBLE_EQ(summary.shortTermHigh, -31.0);
}

// Rounding to 16 bits: each value on a step, dither of at most one step either way while the signal lies
// between steps, none once a channel has stayed on them (digital silence stays silent, a file passed through
// keeps its samples), the same noise on every run, and what lies beyond full scale clipped and counted.
TEST(PcmQuantizer, DithersBetweenStepsOnlyAndCountsWhatClips) {
    constexpr double kStep = 1.0 / 32768;
    const size_t frames = 4096;
    std::vector<float> input(2 * frames);
    for (size_t i = 0; i < frames; ++i) {
        input[2 * i] = float(0.3 * std::sin(0.01 * double(i)));                  // between steps
        input[2 * i + 1] = i < frames / 2 ? float(double(i % 7) * kStep) : 0.0f; // on steps, then silent
    }
    input[100] = 1.5f;
    input[102] = -2.0f;
    auto round = [&](bool dither) {
        mastering::PcmQuantizer quantizer(16, 2, dither);
        std::vector<int32_t> integers(input.size());
        std::vector<float> written(input.size());
        quantizer.convert(input.data(), input.size(), integers.data(), written.data());
        EXPECT_EQ(quantizer.clipped(), 2);
        return std::make_pair(integers, written);
    };
    const auto [integers, written] = round(true);
    EXPECT_EQ(round(true).first, integers) << "the same bytes on every run";
    size_t dithered = 0;
    for (size_t i = 0; i < input.size(); ++i) {
        ASSERT_EQ(integers[i] & 0xFFFF, 0) << i;
        const double value = double(integers[i] >> 16) * kStep;
        ASSERT_EQ(double(written[i]), value) << i;
        if (i == 100 || i == 102) {
            EXPECT_EQ(integers[i] >> 16, i == 100 ? 32767 : -32768);
            continue;
        }
        EXPECT_LE(std::abs(value - double(input[i])), 1.5 * kStep) << i;
        if (i % 2 == 1) {
            EXPECT_EQ(value, double(input[i])) << "on the steps already: unchanged, " << i;
        }
        dithered += value != std::nearbyint(double(input[i]) / kStep) * kStep;
    }
    EXPECT_GT(dithered, frames / 4) << "the tone is dithered";
    const auto plain = round(false).second;
    for (size_t i = 0; i < input.size(); i += 2) {
        if (i != 100 && i != 102) {
            EXPECT_EQ(double(plain[i]), std::nearbyint(double(input[i]) / kStep) * kStep) << i;
        }
    }
}

} // namespace
