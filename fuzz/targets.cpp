#include "fuzz/targets.h"

#include "fuzz/bytes.h"
#include "fuzz/instance.h"
#include "leveler/leveler.h"
#include "leveler/parameter_table.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
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

// The sample rates hosts run at, from telephone speech to eight times 48 kHz.
constexpr float kSampleRates[] = {8000,  11025, 16000, 22050,  32000,  44100,  48000,
                                  64000, 88200, 96000, 176400, 192000, 352800, 384000};

float AnyRate(ByteReader& input) {
    return kSampleRates[input.Byte() % std::size(kSampleRates)];
}

// What the output may reach: the largest finite input so far times the largest gain the settings allow.
struct OutputBound {
    const double largestGain = leveler::LargestGainAllowed();
    double inputPeak = 1;

    template <typename Sample> void See(const std::vector<Sample>& samples) {
        for (const Sample s : samples)
            if (std::isfinite(s)) inputPeak = std::max(inputPeak, std::fabs(double(s)));
    }
    template <typename Sample> void Check(const std::vector<Sample>& samples) const {
        for (const Sample s : samples) {
            Expect(std::isfinite(s), "output sample is not finite");
            Expect(std::fabs(double(s)) <= largestGain * inputPeak, "output sample out of bounds");
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

// Every parameter reads back within 0 to 1, with texts that fit the host's buffers.
void CheckParameters(LevelerInstance& plugin) {
    vst2::AEffect* record = plugin.Record();
    for (int32_t index = 0; index < plugin.ParameterCount(); ++index) {
        const float value = record->getParameter(record, index);
        Expect(value >= 0.0f && value <= 1.0f, "parameter reads back outside 0 to 1");
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

// A value of the kind the next byte chooses, from `low` to `high` or one that hosts and damaged files
// produce: beyond the range, +-1e30, subnormal, NaN or infinite, any bit pattern, the float extremes.
float AnyValue(ByteReader& input, double low, double high) {
    const uint8_t kind = input.Byte();
    const bool up = kind & 0x80;
    const double unit = input.Word() / 65535.0;
    switch (kind % 8) {
    case 0:
        return float(low + unit * (high - low));
    case 1:
        return float(up ? high + unit * 1000 : low - unit * 1000);
    case 2:
        return up ? 1e30f : -1e30f;
    case 3:
        return std::numeric_limits<float>::denorm_min() * float(unit * 65535) * (up ? 1.0f : -1.0f);
    case 4:
        return up ? std::numeric_limits<float>::quiet_NaN()
                  : (kind & 0x40 ? 1.0f : -1.0f) * std::numeric_limits<float>::infinity();
    case 5:
        return input.Take<float>();
    case 6:
        return up ? std::numeric_limits<float>::max() : std::numeric_limits<float>::lowest();
    default:
        return float(up ? high : low);
    }
}

// A state chunk of up to 69 values: the sentinel (or, now and then, not) and slider entries from 1 on, each
// of any kind around its parameter's range.
std::vector<uint8_t> AnyChunk(ByteReader& input) {
    const uint8_t layout = input.Byte();
    std::vector<float> values(layout % 70);
    for (size_t i = 0; i < values.size(); ++i) {
        if (i == 0 && !(layout & 0x80)) {
            values[i] = -1000.0f;
            continue;
        }
        const int32_t parameter = leveler::ParameterIndexOfSlider(int32_t(i));
        const double low = parameter < 0 ? 0 : leveler::kParameters[parameter].Lowest();
        const double high = parameter < 0 ? 1 : leveler::kParameters[parameter].Highest();
        values[i] = AnyValue(input, low, high);
    }
    std::vector<uint8_t> bytes(values.size() * sizeof(float));
    if (!bytes.empty()) std::memcpy(bytes.data(), values.data(), bytes.size());
    return bytes;
}

// A block of programme a host would send: a tone of up to +6 dBFS with a little noise, and its inverse at
// half the level.
template <typename Sample>
void RunCleanBlock(LevelerInstance& plugin, ByteReader& input, size_t frames, double rate, bool inPlace,
                   OutputBound& bound) {
    std::vector<Sample> left(frames), right(frames);
    const double amplitude = input.Byte() / 128.0;
    const double w = 2 * 3.141592653589793 * (20 + 80 * input.Byte()) / rate;
    uint32_t noise = input.Byte();
    for (size_t i = 0; i < left.size(); ++i) {
        noise = noise * 1664525u + 1013904223u;
        const double wobble = (double(noise >> 8) / double(1u << 24) - 0.5) * 0.02;
        left[i] = Sample(amplitude * (std::sin(w * double(i)) + wobble));
        right[i] = Sample(-left[i] * 0.5);
    }
    RunBlock(plugin, left, right, inPlace, bound);
}

// A block of raw bit patterns from the input: any float or double at all, NaN, infinities and subnormals.
template <typename Sample>
void RunRawBlock(LevelerInstance& plugin, ByteReader& input, size_t frames, bool inPlace,
                 OutputBound& bound) {
    std::vector<Sample> left(frames), right(frames);
    for (size_t i = 0; i < frames; ++i) {
        left[i] = input.Take<Sample>();
        right[i] = input.Take<Sample>();
    }
    RunBlock(plugin, left, right, inPlace, bound);
}

// Silence long enough for the gate to close and the automatic threshold to act.
void RunSilence(LevelerInstance& plugin, size_t frames, OutputBound& bound) {
    std::vector<float> left(frames), right(frames);
    RunBlock(plugin, left, right, false, bound);
}

} // namespace

int ChunkRestore(const uint8_t* data, size_t size) {
    LevelerInstance plugin;
    plugin.SetSampleRate(48000);
    plugin.SetBlockSize(64);
    plugin.Resume();
    OutputBound bound;
    RunToneBlock<float>(plugin, 64, bound);

    Expect(RestoreChunk(plugin, data, size) == static_cast<intptr_t>(size), "effSetChunk answer");
    CheckParameters(plugin);
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
            record->setParameter(record, index, input.Take<float>());
            break;
        }
        case 1: {
            const int32_t index = nextIndex();
            const float value = record->getParameter(record, index);
            if (index < 0 || index >= count) Expect(value == 0.0f, "parameter outside the table reads 0");
            Expect(value >= 0.0f && value <= 1.0f, "parameter reads back outside 0 to 1");
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
    CheckParameters(plugin);
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
    plugin.SetSampleRate(AnyRate(input));
    plugin.SetBlockSize(input.Word() % 8193);
    plugin.Resume();
    vst2::AEffect* record = plugin.Record();
    OutputBound bound;

    for (int step = 0; step < 64 && !input.Empty(); ++step) {
        const uint8_t op = input.Byte();
        switch (op % 5) {
        case 0:
            RunRawBlock<float>(plugin, input, input.Word() % 1025, op & 0x80, bound);
            break;
        case 1:
            RunRawBlock<double>(plugin, input, input.Word() % 513, op & 0x80, bound);
            break;
        case 2: {
            const int32_t index = input.Byte() % plugin.ParameterCount();
            record->setParameter(record, index, float(input.Word()) / 65535.0f);
            break;
        }
        case 3:
            RunSilence(plugin, input.Word() % 8193, bound);
            break;
        default:
            plugin.Suspend();
            plugin.SetSampleRate(AnyRate(input));
            plugin.Resume();
            break;
        }
    }
    return 0;
}

int MixedTraffic(const uint8_t* data, size_t size) {
    ByteReader input(data, size);
    LevelerInstance plugin;
    float rate = AnyRate(input);
    plugin.SetSampleRate(rate);
    plugin.SetBlockSize(input.Word() % 8193);
    plugin.Resume();
    vst2::AEffect* record = plugin.Record();
    const int32_t count = plugin.ParameterCount();
    OutputBound bound;
    // About a second and a half of audio at 48 kHz in all, so that a run stays quick under the sanitizers.
    size_t framesLeft = size_t{1} << 16;
    auto frames = [&](size_t wanted) {
        const size_t granted = std::min(wanted, framesLeft);
        framesLeft -= granted;
        return granted;
    };

    for (int step = 0; step < 96 && !input.Empty() && framesLeft > 0; ++step) {
        const uint8_t op = input.Byte();
        const bool wide = op & 0x80;
        switch (op % 7) {
        case 0:
        case 1: {
            const int32_t index = input.Byte() % count;
            record->setParameter(record, index, AnyValue(input, 0, 1));
            break;
        }
        case 2: {
            const std::vector<uint8_t> chunk = AnyChunk(input);
            Expect(RestoreChunk(plugin, chunk.data(), chunk.size()) == intptr_t(chunk.size()),
                   "effSetChunk answer");
            CheckParameters(plugin);
            break;
        }
        case 3: {
            const size_t length = frames(input.Word() % 4097);
            if (wide)
                RunCleanBlock<double>(plugin, input, length, rate, op & 0x40, bound);
            else
                RunCleanBlock<float>(plugin, input, length, rate, op & 0x40, bound);
            break;
        }
        case 4: {
            const size_t length = frames(input.Word() % 257);
            if (wide)
                RunRawBlock<double>(plugin, input, length, op & 0x40, bound);
            else
                RunRawBlock<float>(plugin, input, length, op & 0x40, bound);
            break;
        }
        case 5:
            RunSilence(plugin, frames(input.Word() % 8193), bound);
            break;
        default:
            plugin.Suspend();
            rate = AnyRate(input);
            plugin.SetSampleRate(rate);
            if (wide) plugin.SetBlockSize(input.Word() % 8193);
            plugin.Resume();
            break;
        }
    }
    CheckParameters(plugin);
    return 0;
}

} // namespace fuzz
