// The built module driven the way the strictest hosts and plug-in validators drive it: lifecycles, threads,
// block sizes, sample rates, both sample widths, parameters, state chunks, hostile input and host habits.
// Every output must stay finite and bounded, and nothing may crash or leak.
#include "hosting/plugin.h"
#include "leveler/parameter_table.h"

#include <gtest/gtest.h>

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::filesystem::path kModule = VANDREL_PLUGIN_PATH;
constexpr int32_t kParameterCount = 14;
const double kLargestGain = leveler::LargestGainAllowed();

struct SliderRange {
    double minimum, maximum, step;
};
// Host parameter order.
constexpr SliderRange kRanges[kParameterCount] = {
    {-20, 20, 0.5}, {-46, 0, 1}, {-80, 0, 1}, {20, 2000, 10}, {0, 1, 1},  {0, 1, 0.1}, {0, 1, 1},
    {0, 20, 1},     {0, 20, 1},  {0, 20, 1},  {0, 20, 1},     {0, 20, 1}, {0, 20, 1},  {-3, 3, 0.1},
};

// The look-ahead of the three stages: each delays by half its two-channel region, less one sample.
int32_t ExpectedLatency(double rate) {
    const double l1 = 2 * std::floor(0.025 * rate);
    const double l2 = 2 * std::floor(0.03 * rate);
    const double l3 = 2 * std::floor(0.05 * rate);
    return static_cast<int32_t>((l1 + l2 + l3) / 2 - 3);
}

template <typename Sample> struct Stereo {
    std::vector<Sample> left, right;
    explicit Stereo(size_t frames = 0) : left(frames), right(frames) {}
    size_t Frames() const { return left.size(); }
    // Largest finite magnitude, at least 1 (silence may still be lifted to the noise floor's level).
    double Peak() const {
        double peak = 1;
        for (const auto* channel : {&left, &right})
            for (const Sample s : *channel)
                if (std::isfinite(s)) peak = std::max(peak, std::fabs(double(s)));
        return peak;
    }
    void Append(const Stereo& more) {
        left.insert(left.end(), more.left.begin(), more.left.end());
        right.insert(right.end(), more.right.begin(), more.right.end());
    }
};

// Test signals at 48 kHz unless said otherwise.
template <typename Sample>
Stereo<Sample> Tone(size_t frames, double amplitude, double hz = 440, double rate = 48000) {
    Stereo<Sample> s(frames);
    for (size_t i = 0; i < frames; ++i) {
        s.left[i] = Sample(amplitude * std::sin(2 * std::numbers::pi * hz * double(i) / rate));
        s.right[i] = Sample(amplitude * std::sin(2 * std::numbers::pi * hz * 1.5 * double(i) / rate));
    }
    return s;
}

template <typename Sample> Stereo<Sample> Square(size_t frames, double amplitude, size_t period = 480) {
    Stereo<Sample> s(frames);
    for (size_t i = 0; i < frames; ++i)
        s.left[i] = s.right[i] = Sample((i % period) < period / 2 ? amplitude : -amplitude);
    return s;
}

template <typename Sample> Stereo<Sample> Constant(size_t frames, Sample value) {
    Stereo<Sample> s(frames);
    std::fill(s.left.begin(), s.left.end(), value);
    std::fill(s.right.begin(), s.right.end(), value);
    return s;
}

// Noise made only of subnormal numbers of the sample type.
template <typename Sample> Stereo<Sample> DenormalNoise(size_t frames, uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> steps(-(1 << 20), 1 << 20);
    Stereo<Sample> s(frames);
    const Sample tiny = std::numeric_limits<Sample>::denorm_min();
    for (size_t i = 0; i < frames; ++i) {
        s.left[i] = tiny * Sample(steps(random));
        s.right[i] = tiny * Sample(steps(random));
    }
    return s;
}

template <typename Sample> Stereo<Sample> Noise(size_t frames, double amplitude, uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> uniform(-amplitude, amplitude);
    Stereo<Sample> s(frames);
    for (size_t i = 0; i < frames; ++i) {
        s.left[i] = Sample(uniform(random));
        s.right[i] = Sample(uniform(random));
    }
    return s;
}

// Which samples of a block a host hands in: fixed, or a new random size from 1 to 4096 every block.
struct Blocking {
    int32_t size = 512;
    bool varying = false;
};

// Runs the whole input through the plug-in block by block, on the path of the sample type, into output
// buffers that start out as NaN so that any frame the plug-in skips shows.
template <typename Sample>
Stereo<Sample> Process(hosting::Plugin& plugin, const Stereo<Sample>& input, Blocking blocking = {},
                       bool inPlace = false) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int32_t> sizes(1, 4096);
    Stereo<Sample> output(input.Frames());
    std::vector<Sample> inLeft, inRight, outLeft, outRight;
    for (size_t start = 0; start < input.Frames();) {
        const auto wanted = static_cast<size_t>(blocking.varying ? sizes(random) : blocking.size);
        const size_t frames = std::min(wanted, input.Frames() - start);
        inLeft.assign(input.left.begin() + long(start), input.left.begin() + long(start + frames));
        inRight.assign(input.right.begin() + long(start), input.right.begin() + long(start + frames));
        outLeft.assign(frames, std::numeric_limits<Sample>::quiet_NaN());
        outRight.assign(frames, std::numeric_limits<Sample>::quiet_NaN());
        Sample* inputs[] = {inLeft.data(), inRight.data()};
        Sample* outputs[] = {inPlace ? inLeft.data() : outLeft.data(),
                             inPlace ? inRight.data() : outRight.data()};
        if constexpr (sizeof(Sample) == sizeof(float))
            plugin.processFloat(inputs, outputs, static_cast<int32_t>(frames));
        else
            plugin.processDouble(inputs, outputs, static_cast<int32_t>(frames));
        std::copy_n(outputs[0], frames, output.left.begin() + long(start));
        std::copy_n(outputs[1], frames, output.right.begin() + long(start));
        start += frames;
    }
    return output;
}

template <typename Sample>
::testing::AssertionResult FiniteAndBounded(const Stereo<Sample>& output, double inputPeak) {
    const double bound = kLargestGain * inputPeak;
    for (const auto* channel : {&output.left, &output.right})
        for (size_t i = 0; i < channel->size(); ++i) {
            const double value = (*channel)[i];
            if (!std::isfinite(value) || std::fabs(value) > bound)
                return ::testing::AssertionFailure()
                       << (channel == &output.left ? "left" : "right") << " sample " << i << " is " << value
                       << " (bound " << bound << ")";
        }
    return ::testing::AssertionSuccess();
}

template <typename Sample> double LargestDifference(const Stereo<Sample>& a, const Stereo<Sample>& b) {
    double largest = 0;
    for (size_t i = 0; i < std::min(a.Frames(), b.Frames()); ++i)
        largest = std::max({largest, std::fabs(double(a.left[i]) - double(b.left[i])),
                            std::fabs(double(a.right[i]) - double(b.right[i]))});
    return largest;
}

std::unique_ptr<hosting::Plugin> Opened(double rate = 48000, int32_t block = 512) {
    return hosting::openPlugin(kModule, rate, block);
}

std::unique_ptr<hosting::Plugin> Started(double rate = 48000, int32_t block = 512) {
    auto plugin = Opened(rate, block);
    plugin->resume();
    return plugin;
}

std::vector<uint8_t> ChunkOf(const std::vector<float>& values) {
    std::vector<uint8_t> bytes(values.size() * sizeof(float));
    std::memcpy(bytes.data(), values.data(), bytes.size());
    return bytes;
}

constexpr float kSentinel = -1000.0f;

// Restores like a host that frees its copy as soon as effSetChunk returns.
intptr_t RestoreAndFree(hosting::Plugin& plugin, const std::vector<uint8_t>& bytes) {
    auto* copy = new uint8_t[std::max<size_t>(bytes.size(), 1)];
    std::copy(bytes.begin(), bytes.end(), copy);
    const intptr_t answer = plugin.dispatcher(vst2::effSetChunk, 0, intptr_t(bytes.size()), copy);
    std::memset(copy, 0xA5, bytes.size());
    delete[] copy;
    return answer;
}

// Every parameter reads back within 0 to 1, with a terminated name and a display text that shows the value
// applied: the same value, or (for a value the panel or the automatic controls took beyond the range) one
// beyond the end the host reads.
void ExpectReadableParameters(hosting::Plugin& plugin) {
    for (int32_t i = 0; i < kParameterCount; ++i) {
        SCOPED_TRACE("parameter " + std::to_string(i));
        const float normalised = plugin.parameter(i);
        ASSERT_GE(normalised, 0.0f);
        ASSERT_LE(normalised, 1.0f);
        EXPECT_FALSE(plugin.parameterName(i).empty());
        const std::string display = plugin.parameterDisplay(i);
        ASSERT_FALSE(display.empty());
        ASSERT_LT(display.size(), vst2::kParamTextCapacity);
        // "%.2f" of the slider value; the normalised value came through a 32-bit float.
        const SliderRange& r = kRanges[i];
        const double shown = std::stod(display);
        const double share = std::clamp((shown - r.minimum) / (r.maximum - r.minimum), 0.0, 1.0);
        EXPECT_NEAR(normalised, share,
                    (0.006 + 1.2e-7 * std::fabs(shown - r.minimum)) / (r.maximum - r.minimum))
            << display;
    }
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// Bytes the C library's allocator hands out right now, small blocks and mapped ones.
size_t AllocatedBytes() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

} // namespace

TEST(ValidatorLifecycle, OpensAndClosesTwoHundredTimesWithoutLeaking) {
    const auto input = Tone<float>(256, 0.5);
    auto cycle = [&](int i) {
        auto plugin = Opened(i % 2 ? 44100 : 48000, 256);
        if (i % 3 != 0) {
            plugin->resume();
            const auto output = Process(*plugin, input, {256});
            ASSERT_TRUE(FiniteAndBounded(output, input.Peak()));
        }
        plugin->close();
    };
    for (int i = 0; i < 10; ++i) cycle(i);
    const size_t settled = AllocatedBytes();
    for (int i = 10; i < 200; ++i) cycle(i);
    // The sanitizers' allocators keep their own books; their leak check runs at exit instead.
    if (!kSanitized) {
        EXPECT_LT(AllocatedBytes(), settled + 64 * 1024) << "grew from " << settled;
    }
}

TEST(ValidatorThreads, FourInstancesProcessAtOnceLikeOneAtATime) {
    constexpr int kInstances = 4;
    std::vector<Stereo<float>> inputs, expected(kInstances), actual(kInstances);
    for (int i = 0; i < kInstances; ++i) inputs.push_back(Noise<float>(48000, 0.1 * (i + 1), uint32_t(i)));
    for (int i = 0; i < kInstances; ++i) {
        auto plugin = Started();
        expected[size_t(i)] = Process(*plugin, inputs[size_t(i)], {256});
    }
    std::vector<std::unique_ptr<hosting::Plugin>> plugins;
    for (int i = 0; i < kInstances; ++i) plugins.push_back(Started());
    std::vector<std::thread> threads;
    for (int i = 0; i < kInstances; ++i)
        threads.emplace_back(
            [&, i] { actual[size_t(i)] = Process(*plugins[size_t(i)], inputs[size_t(i)], {256}); });
    for (auto& thread : threads) thread.join();
    for (int i = 0; i < kInstances; ++i) {
        ASSERT_TRUE(FiniteAndBounded(actual[size_t(i)], inputs[size_t(i)].Peak()));
        // Only the tiny per-block noise offset, drawn from one shared generator, may differ.
        EXPECT_LT(LargestDifference(actual[size_t(i)], expected[size_t(i)]), 1e-5) << "instance " << i;
    }
}

TEST(ValidatorProcessing, BeforeAnyResumeAndAfterSuspendStaysFinite) {
    const auto input = Tone<float>(4096, 0.5);
    // With the defaults, and with every parameter moved (the high-pass filter on) before the first resume.
    for (const bool moved : {false, true}) {
        SCOPED_TRACE(moved ? "parameters moved" : "defaults");
        auto plugin = Opened();
        if (moved)
            for (int32_t i = 0; i < kParameterCount; ++i) plugin->setParameter(i, 0.5f);
        // Long enough for any block-rate control to run away.
        const auto longer = Tone<float>(moved ? 480000 : 4096, 0.5);
        EXPECT_TRUE(FiniteAndBounded(Process(*plugin, longer, {512}), input.Peak())) << "before any resume";
        EXPECT_TRUE(FiniteAndBounded(Process(*plugin, Tone<double>(4096, 0.5), {512}), 1.0)) << "64-bit";
        plugin->resume();
        EXPECT_TRUE(FiniteAndBounded(Process(*plugin, input, {512}), input.Peak())) << "resumed";
        plugin->suspend();
        EXPECT_TRUE(FiniteAndBounded(Process(*plugin, input, {512}), input.Peak())) << "after suspend";
        plugin->resume();
        EXPECT_TRUE(FiniteAndBounded(Process(*plugin, input, {512}), input.Peak())) << "resumed again";
    }
}

TEST(ValidatorProcessing, BlockSizesDoNotChangeTheOutput) {
    // Within the first second no block-rate control has acted yet, so the blocking must not matter.
    const auto input = Noise<float>(40000, 0.3, 11);
    auto reference = Started(48000, 64);
    const auto expected = Process(*reference, input, {64});
    ASSERT_TRUE(FiniteAndBounded(expected, input.Peak()));
    for (const int32_t size : {1, 7, 511, 4096, 8192}) {
        auto plugin = Started(48000, size);
        const auto output = Process(*plugin, input, {size});
        ASSERT_TRUE(FiniteAndBounded(output, input.Peak())) << "blocks of " << size;
        EXPECT_LT(LargestDifference(output, expected), 1e-5) << "blocks of " << size;
    }
    auto varying = Started(48000, 4096);
    const auto output = Process(*varying, input, {0, true});
    ASSERT_TRUE(FiniteAndBounded(output, input.Peak()));
    EXPECT_LT(LargestDifference(output, expected), 1e-5) << "varying blocks";
}

TEST(ValidatorProcessing, EmptyBlocksTouchNoBuffer) {
    auto plugin = Started();
    float left[4], right[4];
    std::fill_n(left, 4, 0.25f);
    std::fill_n(right, 4, -0.25f);
    float* channels[] = {left, right};
    plugin->processFloat(channels, channels, 0);
    double wide[4] = {0.5, 0.5, 0.5, 0.5};
    double* wideChannels[] = {wide, wide};
    plugin->processDouble(wideChannels, wideChannels, 0);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(left[i], 0.25f);
        EXPECT_EQ(right[i], -0.25f);
        EXPECT_EQ(wide[i], 0.5);
    }
    const auto input = Tone<float>(2048, 0.5);
    EXPECT_TRUE(FiniteAndBounded(Process(*plugin, input, {512}), input.Peak()));
}

TEST(ValidatorProcessing, SampleRatesSetTheLatencyAndKeepTheOutputFinite) {
    auto plugin = Opened(44100);
    for (const double rate : {22050.0, 44100.0, 48000.0, 88200.0, 96000.0, 192000.0, 44100.0}) {
        SCOPED_TRACE(rate);
        plugin->suspend();
        plugin->setSampleRate(rate);
        plugin->resume();
        const auto input = Tone<float>(size_t(rate / 4), 0.5, 440, rate);
        const auto output = Process(*plugin, input, {512});
        ASSERT_TRUE(FiniteAndBounded(output, input.Peak()));
        EXPECT_EQ(plugin->initialDelay(), ExpectedLatency(rate));
    }
    EXPECT_EQ(ExpectedLatency(48000), 5037);
    EXPECT_EQ(ExpectedLatency(44100), 4627);
}

TEST(ValidatorProcessing, AnImpulseLeavesAfterExactlyTheReportedLatency) {
    for (const double rate : {22050.0, 48000.0, 96000.0, 192000.0}) {
        SCOPED_TRACE(rate);
        auto plugin = Started(rate, 1024);
        Stereo<double> input(size_t(ExpectedLatency(rate)) + 2048);
        input.left[100] = input.right[100] = 0.5;
        const auto output = Process(*plugin, input, {1024});
        ASSERT_TRUE(FiniteAndBounded(output, 1.0));
        const auto loudest = std::max_element(output.left.begin(), output.left.end(),
                                              [](double a, double b) { return std::fabs(a) < std::fabs(b); });
        EXPECT_EQ(loudest - output.left.begin(), 100 + plugin->initialDelay());
        EXPECT_GT(std::fabs(*loudest), 0.05);
    }
}

TEST(ValidatorProcessing, ThirtyTwoAndSixtyFourBitPathsAgree) {
    const auto narrow = Noise<float>(30000, 0.4, 5);
    Stereo<double> wide(narrow.Frames());
    std::copy(narrow.left.begin(), narrow.left.end(), wide.left.begin());
    std::copy(narrow.right.begin(), narrow.right.end(), wide.right.begin());
    auto a = Started();
    auto b = Started();
    auto c = Started();
    const auto viaFloat = Process(*a, narrow, {512});
    const auto viaDouble = Process(*b, wide, {512});
    const auto inPlace = Process(*c, narrow, {512}, true);
    ASSERT_TRUE(FiniteAndBounded(viaFloat, 1.0));
    ASSERT_TRUE(FiniteAndBounded(viaDouble, 1.0));
    double largest = 0;
    for (size_t i = 0; i < viaFloat.Frames(); ++i)
        largest = std::max(largest, std::fabs(double(viaFloat.left[i]) - viaDouble.left[i]));
    EXPECT_LT(largest, 1e-5);
    EXPECT_LT(LargestDifference(inPlace, viaFloat), 1e-5);
}

TEST(ValidatorInput, HostileSignalsGiveFiniteBoundedOutputOnBothPaths) {
    constexpr size_t kFrames = 24000;
    struct Case {
        const char* name;
        Stereo<float> narrow;
        Stereo<double> wide;
    };
    const float fmax = std::numeric_limits<float>::max();
    std::vector<Case> cases;
    cases.push_back({"silence", Stereo<float>(kFrames), Stereo<double>(kFrames)});
    cases.push_back({"full-scale square", Square<float>(kFrames, 1), Square<double>(kFrames, 1)});
    cases.push_back({"DC", Constant<float>(kFrames, 1), Constant<double>(kFrames, -1)});
    cases.push_back({"denormal noise", DenormalNoise<float>(kFrames, 1), DenormalNoise<double>(kFrames, 2)});
    cases.push_back({"huge", Square<float>(kFrames, 1e30), Square<double>(kFrames, 1e30)});
    cases.push_back({"largest", Square<float>(kFrames, fmax), Square<double>(kFrames, 1e300)});
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto narrowPlugin = Started();
        EXPECT_TRUE(FiniteAndBounded(Process(*narrowPlugin, c.narrow, {512}), c.narrow.Peak()));
        auto widePlugin = Started();
        EXPECT_TRUE(FiniteAndBounded(Process(*widePlugin, c.wide, {512}), c.wide.Peak()));
    }
}

TEST(ValidatorInput, NonFiniteSamplesLeaveNoTrace) {
    const auto clean = Tone<double>(48000, 0.3);
    auto poisoned = clean;
    const double bad[] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                          -std::numeric_limits<double>::infinity()};
    for (size_t i = 1000; i < 2000; i += 37) poisoned.left[i] = poisoned.right[i + 1] = bad[i % 3];
    auto plugin = Started();
    auto output = Process(*plugin, poisoned, {512});
    ASSERT_TRUE(FiniteAndBounded(output, 1.0));
    // Afterwards the plug-in behaves as if nothing had happened: one second of tone, then the same tone
    // through a fresh instance, end alike once the loudness detectors have forgotten the start.
    auto later = Process(*plugin, Tone<double>(96000, 0.3), {512});
    ASSERT_TRUE(FiniteAndBounded(later, 1.0));
    auto fresh = Started();
    auto reference = Process(*fresh, Tone<double>(144000, 0.3), {512});
    double rmsLater = 0, rmsReference = 0;
    for (size_t i = 48000; i < 96000; ++i) {
        rmsLater += later.left[i] * later.left[i];
        rmsReference += reference.left[i + 48000] * reference.left[i + 48000];
    }
    EXPECT_NEAR(10 * std::log10(rmsLater / rmsReference), 0.0, 3.0);
}

TEST(ValidatorParameters, EveryValueReadsBackAndKeepsTheOutputFinite) {
    auto plugin = Started();
    ASSERT_EQ(plugin->numParams(), kParameterCount);
    std::mt19937 random(2024);
    std::uniform_real_distribution<float> unit(0, 1);
    const auto input = Noise<float>(2048, 0.5, 9);
    // What hosts send besides 0 to 1: a little outside, far outside, subnormal, not a number.
    const float special[] = {0.0f,  1.0f,   -0.01f, 1.01f,   -1e-6f, 1.000001f,
                             1e30f, -1e30f, 2e-40f, -2e-40f, NAN};
    for (int32_t i = 0; i < kParameterCount; ++i) {
        SCOPED_TRACE("parameter " + std::to_string(i));
        const std::string name = plugin->parameterName(i);
        EXPECT_FALSE(name.empty());
        std::vector<float> values(std::begin(special), std::end(special));
        for (int k = 0; k < 20; ++k) values.push_back(unit(random));
        for (const float x : values) {
            SCOPED_TRACE(x);
            const float before = plugin->parameter(i);
            plugin->setParameter(i, x);
            const float got = plugin->parameter(i);
            const SliderRange& r = kRanges[i];
            // The value lands on a whole step, within a step of where the host put it clamped to 0 to 1; a
            // value that is not a number changes nothing.
            if (std::isnan(x)) {
                EXPECT_EQ(got, before);
            } else {
                const double value = r.minimum + double(got) * (r.maximum - r.minimum);
                EXPECT_NEAR(value / r.step, std::round(value / r.step), 1e-3);
                EXPECT_NEAR(got, std::clamp(x, 0.0f, 1.0f), r.step / (r.maximum - r.minimum) / 2 + 1e-6);
            }
            // Setting what was read back changes nothing.
            plugin->setParameter(i, got);
            EXPECT_EQ(plugin->parameter(i), got);
            EXPECT_EQ(plugin->parameterName(i), name);
            ExpectReadableParameters(*plugin);
            ASSERT_TRUE(FiniteAndBounded(Process(*plugin, input, {512}), input.Peak()));
        }
    }
}

TEST(ValidatorParameters, RandomSettingsOverTimeStayFinite) {
    auto plugin = Started(44100, 256);
    std::mt19937 random(77);
    std::uniform_real_distribution<float> unit(0, 1);
    std::uniform_int_distribution<int32_t> index(0, kParameterCount - 1);
    // Programme and pauses, so that the gate and both automatic controls get to act.
    for (int round = 0; round < 12; ++round) {
        for (int k = 0; k < 4; ++k) plugin->setParameter(index(random), unit(random));
        const auto input = round % 3 == 2 ? Stereo<float>(44100)
                                          : Noise<float>(44100, 0.05 * (round % 5 + 1), uint32_t(round));
        ASSERT_TRUE(FiniteAndBounded(Process(*plugin, input, {256}), 1.0)) << "round " << round;
        ExpectReadableParameters(*plugin);
    }
}

TEST(ValidatorParameters, SetFromTwoThreadsAtOnceWhileAudioRuns) {
    auto plugin = Started();
    std::atomic<bool> stop{false};
    auto automate = [&](uint32_t seed) {
        std::mt19937 random(seed);
        std::uniform_real_distribution<float> unit(0, 1);
        for (int k = 0; k < 20000; ++k) {
            plugin->setParameter(int32_t(k % kParameterCount), unit(random));
            (void)plugin->parameter(int32_t((k + 3) % kParameterCount));
        }
    };
    std::thread audio([&] {
        const auto input = Noise<float>(512, 0.3, 1);
        while (!stop.load()) ASSERT_TRUE(FiniteAndBounded(Process(*plugin, input, {512}), 1.0));
    });
    std::thread first(automate, 1u), second(automate, 2u);
    first.join();
    second.join();
    stop = true;
    audio.join();
    ExpectReadableParameters(*plugin);
}

TEST(ValidatorState, RoundTripsAtRandomSettings) {
    std::mt19937 random(31);
    std::uniform_real_distribution<float> unit(0, 1);
    for (int round = 0; round < 10; ++round) {
        auto source = Started();
        for (int32_t i = 0; i < kParameterCount; ++i) source->setParameter(i, unit(random));
        const auto saved = source->chunk();
        ASSERT_EQ(saved.size(), 260u);
        auto target = Started(44100);
        EXPECT_EQ(RestoreAndFree(*target, saved), 260);
        // Saved as 32-bit floats.
        for (int32_t i = 0; i < kParameterCount; ++i)
            EXPECT_NEAR(target->parameter(i), source->parameter(i), 1e-6);
        EXPECT_EQ(target->chunk(), saved);
        const auto input = Noise<float>(4096, 0.3, uint32_t(round));
        EXPECT_TRUE(FiniteAndBounded(Process(*target, input, {512}), 1.0));
    }
}

TEST(ValidatorState, DamagedChunksAreSurvived) {
    std::mt19937 random(5);
    std::uniform_int_distribution<int> byte(0, 255);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    auto base = Started();
    const auto defaults = base->chunk();
    std::vector<float> values(defaults.size() / 4);
    std::memcpy(values.data(), defaults.data(), defaults.size());

    struct Case {
        std::string name;
        std::vector<uint8_t> bytes;
    };
    std::vector<Case> cases;
    for (const size_t length : {0, 1, 3, 4, 5, 6, 7, 9, 37, 100, 259})
        cases.push_back({"truncated to " + std::to_string(length),
                         std::vector<uint8_t>(defaults.begin(), defaults.begin() + long(length))});
    auto oversized = values;
    oversized.resize(400, 3.5f);
    cases.push_back({"oversized", ChunkOf(oversized)});
    std::vector<float> allNan(65, nan);
    cases.push_back({"all NaN", ChunkOf(allNan)});
    allNan[0] = kSentinel;
    cases.push_back({"sentinel and NaN", ChunkOf(allNan)});
    std::vector<float> infinite(65, inf);
    infinite[0] = kSentinel;
    for (size_t i = 1; i < infinite.size(); i += 2) infinite[i] = -inf;
    cases.push_back({"sentinel and infinities", ChunkOf(infinite)});
    for (int k = 0; k < 8; ++k) {
        std::vector<uint8_t> bytes(size_t(byte(random)) * 3);
        for (auto& b : bytes) b = uint8_t(byte(random));
        cases.push_back({"random " + std::to_string(k), bytes});
        if (bytes.size() >= 4) {
            std::memcpy(bytes.data(), &kSentinel, 4);
            cases.push_back({"random after the sentinel " + std::to_string(k), bytes});
        }
    }

    const auto input = Noise<float>(8192, 0.3, 8);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto plugin = Started();
        Process(*plugin, input, {512});
        EXPECT_EQ(RestoreAndFree(*plugin, c.bytes), intptr_t(c.bytes.size()));
        ExpectReadableParameters(*plugin);
        const auto output = Process(*plugin, input, {512});
        EXPECT_TRUE(
            std::all_of(output.left.begin(), output.left.end(), [](float s) { return std::isfinite(s); }));
        EXPECT_TRUE(
            std::all_of(output.right.begin(), output.right.end(), [](float s) { return std::isfinite(s); }));
        // Whatever was accepted saves and restores to itself.
        const auto saved = plugin->chunk();
        ASSERT_EQ(saved.size(), 260u);
        RestoreAndFree(*plugin, saved);
        EXPECT_EQ(plugin->chunk(), saved);
    }
    // A chunk without the sentinel changes nothing at all.
    auto plugin = Started();
    std::vector<float> wrong = values;
    wrong[0] = -999.0f;
    wrong[1] = 12.0f;
    RestoreAndFree(*plugin, ChunkOf(wrong));
    EXPECT_EQ(plugin->chunk(), defaults);
}

TEST(ValidatorState, HostHandsBackTheChunkItWasLent) {
    auto plugin = Started();
    plugin->setParameter(0, 0.75f);
    void* lent = nullptr;
    const intptr_t size = plugin->dispatcher(vst2::effGetChunk, 0, 0, &lent);
    ASSERT_EQ(size, 260);
    const std::vector<uint8_t> before(static_cast<uint8_t*>(lent), static_cast<uint8_t*>(lent) + size);
    EXPECT_EQ(plugin->dispatcher(vst2::effSetChunk, 0, size, lent), size);
    EXPECT_EQ(plugin->chunk(), before);
    EXPECT_FLOAT_EQ(plugin->parameter(0), 0.75f);
}

// A chunk's settings come back within what the host or the panel can set: a panel's Output Trim of 6 dB
// exactly, values far outside the ranges at their ends, and the output bounded by the largest gains.
TEST(ValidatorState, SettingsFarOutsideTheirRangesComeBackWithinThem) {
    // Slider entries 1 to 64 after the sentinel; the registered ones by slider number.
    auto chunkWith = [](std::initializer_list<std::pair<int, float>> sliders) {
        std::vector<float> values(65, 0.0f);
        values[0] = kSentinel;
        for (const auto& [number, value] : sliders) values[size_t(number)] = value;
        return ChunkOf(values);
    };
    struct Case {
        const char* name;
        std::vector<uint8_t> chunk;
        const char* inputTrim; // display after the restore
        const char* outputTrim;
    };
    const Case cases[] = {
        {"panel edits", chunkWith({{1, -19.75f}, {2, -23.5f}, {3, -40}, {4, 500}, {20, 6}}), "-19.75",
         "6.00"},
        {"negative gate speed and HPF", chunkWith({{2, -23}, {3, -40}, {4, -1}, {6, -0.5f}}), "0.00", "0.00"},
        {"huge trims", chunkWith({{1, 5000}, {2, -23}, {3, -40}, {4, 500}, {20, 1e30f}}), "20.00", "6.00"},
        {"tiny trims", chunkWith({{1, -1e30f}, {2, -1e30f}, {3, -1e30f}, {4, 500}, {20, -5000}}), "-20.00",
         "-6.00"},
        {"huge stage limits", chunkWith({{2, 3e38f}, {4, 500}, {10, 1e38f}, {11, -1e38f}, {15, 1e9f}}),
         "0.00", "0.00"},
    };
    auto signal = Noise<float>(48000, 0.3, 12);
    signal.Append(Stereo<float>(96000));
    signal.Append(Noise<float>(48000, 0.3, 13));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto plugin = Started();
        RestoreAndFree(*plugin, c.chunk);
        EXPECT_EQ(plugin->parameterDisplay(0), c.inputTrim);
        EXPECT_EQ(plugin->parameterDisplay(13), c.outputTrim);
        ExpectReadableParameters(*plugin);
        const auto saved = plugin->chunk();
        RestoreAndFree(*plugin, saved);
        EXPECT_EQ(plugin->chunk(), saved) << "what came back saves and restores to itself";
        EXPECT_TRUE(FiniteAndBounded(Process(*plugin, signal, {512}), signal.Peak()));
    }
    // The panel's edits come back exactly as saved.
    auto plugin = Started();
    const auto panelEdits = chunkWith({{1, -19.75f}, {2, -23.5f}, {3, -40}, {4, 500}, {20, 6}});
    RestoreAndFree(*plugin, panelEdits);
    EXPECT_EQ(plugin->chunk(), panelEdits);
    EXPECT_EQ(plugin->parameter(13), 1.0f) << "the host reads the end of its range";
}
