#include "fuzz/targets.h"

#include "fuzz/bytes.h"
#include "fuzz/instance.h"
#include "leveler/leveler.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace fuzz {

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

void Expect(bool holds, const char* what) {
    if (!holds) Fail(what);
}

// Input trim, the three stages' boosts and the output trim at their largest come to 86 dB; 100 dB leaves
// room for the automatic trim's drift over the longest input.
constexpr double kLargestGain = 1e5;
constexpr float kSampleRates[] = {22050, 44100, 48000, 88200, 96000, 192000};

// What the output may reach: the largest finite input so far times the largest gain.
struct OutputBound {
    double inputPeak = 1;
    // False once a parameter was driven far outside what a host sends; then only finiteness counts.
    bool applies = true;

    template <typename Sample> void See(const std::vector<Sample>& samples) {
        for (const Sample s : samples)
            if (std::isfinite(s)) inputPeak = std::max(inputPeak, std::fabs(double(s)));
    }
    template <typename Sample> void Check(const std::vector<Sample>& samples) const {
        for (const Sample s : samples) {
            Expect(std::isfinite(s), "output sample is not finite");
            if (applies)
                Expect(std::fabs(double(s)) <= kLargestGain * inputPeak, "output sample out of bounds");
        }
    }
};

// One stereo block through the 32-bit or 64-bit path, in place or into separate buffers.
template <typename Sample>
void RunBlock(LevelerInstance& plugin, std::vector<Sample>& left, std::vector<Sample>& right, bool inPlace,
              OutputBound& bound) {
    bound.See(left);
    bound.See(right);
    std::vector<Sample> outLeft(left.size()), outRight(right.size());
    Sample* inputs[] = {left.data(), right.data()};
    Sample* outputs[] = {inPlace ? left.data() : outLeft.data(), inPlace ? right.data() : outRight.data()};
    vst2::AEffect* record = plugin.Record();
    const auto frames = static_cast<int32_t>(left.size());
    if constexpr (sizeof(Sample) == sizeof(float))
        record->processReplacing(record, inputs, outputs, frames);
    else
        record->processDoubleReplacing(record, inputs, outputs, frames);
    bound.Check(inPlace ? left : outLeft);
    bound.Check(inPlace ? right : outRight);
}

// A block of a 997 Hz tone at -12 dBFS on the left and its inverse on the right.
template <typename Sample> void RunToneBlock(LevelerInstance& plugin, int32_t frames, OutputBound& bound) {
    std::vector<Sample> left(static_cast<size_t>(frames)), right(left.size());
    for (int32_t i = 0; i < frames; ++i) {
        left[size_t(i)] = Sample(0.25 * std::sin(0.13 * i));
        right[size_t(i)] = -left[size_t(i)];
    }
    RunBlock(plugin, left, right, false, bound);
}

// A host text buffer: the plug-in must terminate within the capacity and write nothing beyond it.
void CheckText(LevelerInstance& plugin, int32_t opcode, int32_t index) {
    constexpr char kUntouched = 0x5A;
    char text[vst2::kParamTextCapacity + 32];
    std::memset(text, kUntouched, sizeof text);
    plugin.Dispatch(opcode, index, 0, text);
    const bool terminated = std::memchr(text, 0, vst2::kParamTextCapacity) != nullptr;
    const bool wroteNothing = text[0] == kUntouched;
    Expect(terminated || wroteNothing, "parameter text not terminated within the host's buffer");
    for (size_t i = vst2::kParamTextCapacity; i < sizeof text; ++i)
        Expect(text[i] == kUntouched, "parameter text written past the host's buffer");
}

void CheckParameters(LevelerInstance& plugin, bool valuesPlausible) {
    vst2::AEffect* record = plugin.Record();
    for (int32_t index = 0; index < plugin.ParameterCount(); ++index) {
        const float value = record->getParameter(record, index);
        if (valuesPlausible) Expect(std::isfinite(value), "parameter reads back as not finite");
        CheckText(plugin, vst2::effGetParamDisplay, index);
        CheckText(plugin, vst2::effGetParamName, index);
        CheckText(plugin, vst2::effGetParamLabel, index);
    }
}

std::vector<uint8_t> SavedChunk(LevelerInstance& plugin) {
    void* data = nullptr;
    const intptr_t size = plugin.Dispatch(vst2::effGetChunk, 0, 0, &data);
    Expect(size > 0 && data != nullptr, "no state chunk");
    const auto* bytes = static_cast<const uint8_t*>(data);
    return {bytes, bytes + size};
}

// Like a host that frees its copy as soon as effSetChunk returns: the plug-in gets storage of exactly the
// given size, which the sanitizers watch.
intptr_t RestoreChunk(LevelerInstance& plugin, const uint8_t* data, size_t size) {
    auto copy = std::make_unique<uint8_t[]>(size);
    if (size) std::memcpy(copy.get(), data, size);
    return plugin.Dispatch(vst2::effSetChunk, 0, static_cast<intptr_t>(size), copy.get());
}

} // namespace

int ChunkRestore(const uint8_t* data, size_t size) {
    LevelerInstance plugin;
    plugin.SetSampleRate(48000);
    plugin.SetBlockSize(64);
    plugin.Resume();
    OutputBound bound;
    bound.applies = false; // a chunk may hold any slider value at all
    RunToneBlock<float>(plugin, 64, bound);

    Expect(RestoreChunk(plugin, data, size) == static_cast<intptr_t>(size), "effSetChunk answer");
    CheckParameters(plugin, true);
    for (int block = 0; block < 4; ++block) RunToneBlock<float>(plugin, 64, bound);
    RunToneBlock<double>(plugin, 64, bound);

    // Whatever was accepted saves and restores to the same chunk.
    const std::vector<uint8_t> saved = SavedChunk(plugin);
    Expect(saved.size() == 260, "saved chunk size");
    RestoreChunk(plugin, saved.data(), saved.size());
    Expect(SavedChunk(plugin) == saved, "state round trip");
    return 0;
}

int ParameterCalls(const uint8_t* data, size_t size) {
    ByteReader input(data, size);
    LevelerInstance plugin;
    plugin.SetSampleRate(44100);
    plugin.SetBlockSize(32);
    vst2::AEffect* record = plugin.Record();
    const int32_t count = plugin.ParameterCount();
    OutputBound bound;
    bool plausible = true;

    // Mostly valid indices, one either side of the range, and now and then any 32-bit index.
    auto nextIndex = [&]() -> int32_t {
        const uint8_t choice = input.Byte();
        if (choice >= 240) return input.Take<int32_t>();
        return int32_t(choice % (count + 2)) - 1;
    };
    for (int call = 0; call < 256 && !input.Empty(); ++call) {
        switch (input.Byte() % 8) {
        case 0: {
            const int32_t index = nextIndex();
            const float value = input.Take<float>();
            // A host sends 0 to 1; values well beyond that may legitimately drive the output anywhere.
            if (!(value >= -1.0f && value <= 2.0f)) plausible = false;
            record->setParameter(record, index, value);
            break;
        }
        case 1: {
            const int32_t index = nextIndex();
            const float value = record->getParameter(record, index);
            if (index < 0 || index >= count) Expect(value == 0.0f, "parameter outside the table reads 0");
            if (plausible) Expect(std::isfinite(value), "parameter reads back as not finite");
            break;
        }
        case 2:
            CheckText(plugin, vst2::effGetParamDisplay, nextIndex());
            break;
        case 3:
            CheckText(plugin, vst2::effGetParamName, nextIndex());
            break;
        case 4:
            CheckText(plugin, vst2::effGetParamLabel, nextIndex());
            break;
        case 5: {
            const int32_t index = nextIndex();
            char scratch[256] = "0.5";
            Expect(plugin.Dispatch(vst2::effCanBeAutomated, index) == 1, "effCanBeAutomated");
            plugin.Dispatch(vst2::effString2Parameter, index, 0, scratch);
            plugin.Dispatch(vst2::effGetParameterProperties, index, 0, scratch);
            break;
        }
        case 6:
            bound.applies = plausible;
            RunToneBlock<float>(plugin, 32, bound);
            break;
        default:
            if (plugin.Resumed())
                plugin.Suspend();
            else
                plugin.Resume();
            break;
        }
    }
    CheckParameters(plugin, plausible);
    return 0;
}

int FormatText(const uint8_t* data, size_t size) {
    constexpr double kFormatId = 190000;
    constexpr double kDestinationId = 190001;
    ByteReader input(data, size);
    TParvexEffect effect;
    effect.DoReset();
    const uint8_t layout = input.Byte();
    // Up to eight values; fewer than the format's conversions is allowed and reads zeros.
    const size_t count = layout % 9;
    double values[8] = {};
    for (size_t i = 0; i < count; ++i) values[i] = input.Take<double>();
    // Sometimes the format is also the destination, as when effect code reformats a text in place.
    const double destination = (layout & 0x80) ? kFormatId : kDestinationId;
    effect.SetString(static_cast<int32_t>(kFormatId), input.Rest());

    Expect(effect.FormatStringList(destination, kFormatId, values, count) == destination, "answer is the id");
    Expect(effect.GetString(destination).size() <= CParvexStrings::kFormatResultLimit, "result too long");
    return 0;
}

int ProcessAudio(const uint8_t* data, size_t size) {
    ByteReader input(data, size);
    LevelerInstance plugin;
    plugin.SetSampleRate(kSampleRates[input.Byte() % std::size(kSampleRates)]);
    plugin.SetBlockSize(input.Word() % 8193);
    plugin.Resume();
    vst2::AEffect* record = plugin.Record();
    OutputBound bound;

    // Raw bit patterns: any float or double at all, NaN, infinities and denormals included.
    auto samples = [&]<typename Sample>(std::vector<Sample>& left, std::vector<Sample>& right) {
        for (size_t i = 0; i < left.size(); ++i) {
            left[i] = input.Take<Sample>();
            right[i] = input.Take<Sample>();
        }
    };
    for (int step = 0; step < 64 && !input.Empty(); ++step) {
        const uint8_t op = input.Byte();
        switch (op % 5) {
        case 0: {
            std::vector<float> left(input.Word() % 1025), right(left.size());
            samples(left, right);
            RunBlock(plugin, left, right, op & 0x80, bound);
            break;
        }
        case 1: {
            std::vector<double> left(input.Word() % 513), right(left.size());
            samples(left, right);
            RunBlock(plugin, left, right, op & 0x80, bound);
            break;
        }
        case 2: {
            const int32_t index = input.Byte() % plugin.ParameterCount();
            record->setParameter(record, index, float(input.Word()) / 65535.0f);
            break;
        }
        case 3: {
            // Silence long enough for the gate to close.
            std::vector<float> left(input.Word() % 8193), right(left.size());
            RunBlock(plugin, left, right, false, bound);
            break;
        }
        default:
            plugin.Suspend();
            plugin.SetSampleRate(kSampleRates[input.Byte() % std::size(kSampleRates)]);
            plugin.Resume();
            break;
        }
    }
    return 0;
}

} // namespace fuzz
