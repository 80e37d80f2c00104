// Shared by the LV2 tests: the built bundle through our lilv host beside the built VST through our VST host,
// run in the same blocks with the same settings, each set the way its format sets it.
#pragma once

#include "hosting/lv2_plugin.h"
#include "hosting/plugin.h"
#include "leveler/parameter_table.h"
#include "lv2/ports.h"
#include "testkit/leveler_rig.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string_view>
#include <vector>

namespace lv2_test {

inline const std::filesystem::path kBundle = VANDREL_LV2_BUNDLE;

struct StereoFloats {
    std::vector<float> left, right;
    size_t frames() const { return left.size(); }
};

inline StereoFloats Floats(const leveler_test::Programme& programme, double gain = 1) {
    StereoFloats out;
    for (size_t i = 0; i < programme.left.size(); ++i) {
        out.left.push_back(static_cast<float>(programme.left[i] * gain));
        out.right.push_back(static_cast<float>(programme.right[i] * gain));
    }
    return out;
}

// A setting in the parameter's own units, made before block `block`.
struct Change {
    size_t block;
    std::string_view symbol;
    double value;
};

// The VST and the LV2 plug-in, opened for the same rate and block length, set and run alike.
struct Pair {
    std::unique_ptr<hosting::Plugin> vst;
    std::unique_ptr<hosting::Lv2Plugin> lv2;

    Pair(double rate, int32_t blockLength, bool vstTimeInfo = false) {
        hosting::HostOptions options;
        options.sampleRate = rate;
        options.blockSize = blockLength;
        vst = std::make_unique<hosting::Plugin>(VANDREL_PLUGIN_PATH, options);
        vst->open();
        vst->setSampleRate(rate);
        vst->setBlockSize(blockLength);
        if (vstTimeInfo) {
            // Playing at 120 beats per minute: the leveler reads it, and nothing it produces depends on it.
            vst2::VstTimeInfo time{};
            time.sampleRate = rate;
            time.tempo = 120;
            time.ppqPos = 16;
            time.timeSigNumerator = 3;
            time.timeSigDenominator = 4;
            time.flags = 2 | 512 | 1024 | 8192;
            vst->setTimeInfo(time);
        }
        hosting::Lv2Options lv2Options;
        lv2Options.sampleRate = rate;
        lv2Options.nominalBlockLength = blockLength;
        lv2Options.maxBlockLength = blockLength;
        lv2 = std::make_unique<hosting::Lv2Plugin>(kBundle, lv2port::kPluginUri, lv2Options);
    }

    void Start() {
        vst->resume();
        lv2->activate();
    }

    void Set(std::string_view symbol, double value) {
        const int32_t index = static_cast<int32_t>(&leveler::ParameterNamed(symbol) - leveler::kParameters);
        const leveler::ValueRange& range = leveler::kParameters[index].registered;
        vst->setParameter(index,
                          static_cast<float>((value - range.minimum) / (range.maximum - range.minimum)));
        lv2->control(symbol) = static_cast<float>(value);
    }

    // Runs `input` through both in blocks of the given lengths (repeated as needed), with the changes;
    // answers the two outputs.
    std::pair<StereoFloats, StereoFloats> Run(const StereoFloats& input, const std::vector<uint32_t>& lengths,
                                              const std::vector<Change>& changes = {}) {
        StereoFloats fromVst{std::vector<float>(input.frames()), std::vector<float>(input.frames())};
        StereoFloats fromLv2 = fromVst;
        size_t start = 0;
        for (size_t block = 0; start < input.frames(); ++block) {
            for (const Change& change : changes)
                if (change.block == block) Set(change.symbol, change.value);
            const auto frames = static_cast<uint32_t>(
                std::min<size_t>(lengths[block % lengths.size()], input.frames() - start));
            const float* in[] = {input.left.data() + start, input.right.data() + start};
            float* vstOut[] = {fromVst.left.data() + start, fromVst.right.data() + start};
            float* lv2Out[] = {fromLv2.left.data() + start, fromLv2.right.data() + start};
            // The VST interface takes its inputs as writable buffers; it does not write them.
            float* vstIn[] = {const_cast<float*>(in[0]), const_cast<float*>(in[1])};
            vst->processFloat(vstIn, vstOut, static_cast<int32_t>(frames));
            lv2->run(in, lv2Out, frames);
            start += frames;
        }
        return {std::move(fromVst), std::move(fromLv2)};
    }
};

// The first frame at which two outputs differ, or -1.
inline int64_t FirstDifference(const StereoFloats& a, const StereoFloats& b) {
    for (size_t i = 0; i < a.frames(); ++i)
        if (a.left[i] != b.left[i] || a.right[i] != b.right[i]) return static_cast<int64_t>(i);
    return a.frames() == b.frames() ? -1 : static_cast<int64_t>(std::min(a.frames(), b.frames()));
}

} // namespace lv2_test
