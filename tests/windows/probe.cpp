#include "tests/windows/probe.h"

#include "hosting/plugin.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>

namespace probe {

namespace {

// Our own generator and no library mathematics, so that the input is the same bits everywhere.
struct Lcg {
    uint64_t state;
    uint32_t Next() {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(state >> 33);
    }
    double Uniform() { return Next() / 2147483648.0 - 1.0; }
};

// 64-bit FNV-1a over bytes.
struct Fingerprint {
    uint64_t value = 14695981039346656037ull;
    void Add(const void* data, size_t bytes) {
        const auto* p = static_cast<const unsigned char*>(data);
        for (size_t i = 0; i < bytes; ++i) value = (value ^ p[i]) * 1099511628211ull;
    }
};

std::string Hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "%016" PRIx64, value);
    return text;
}

std::string FloatBits(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    char text[16];
    std::snprintf(text, sizeof text, "%08" PRIx32, bits);
    return text;
}

// Low-passed noise whose level steps by about 10 dB every 0.7 s, with a pause in every third step: the
// gate closes and opens, the stages and automatic controls all move.
struct Programme {
    std::vector<double> left, right;
};

Programme MakeProgramme(double rate, double seconds, uint64_t seed) {
    Lcg random{seed};
    const auto frames = static_cast<size_t>(rate * seconds);
    const auto step = static_cast<size_t>(rate * 0.7);
    Programme p{std::vector<double>(frames), std::vector<double>(frames)};
    double level = 0.1, l = 0, r = 0;
    for (size_t i = 0; i < frames; ++i) {
        if (i % step == 0 && i > 0) level = random.Next() % 2 ? level * 3.16 : level / 3.16;
        const bool pause = (i / step) % 3 == 2;
        l = 0.9 * l + 0.1 * random.Uniform();
        r = 0.8 * r + 0.2 * random.Uniform();
        p.left[i] = pause ? 0.0 : level * l;
        p.right[i] = pause ? 0.0 : level * (r + 0.5 * l);
    }
    return p;
}

std::unique_ptr<hosting::Plugin> Started(const std::filesystem::path& module, double rate, int32_t block) {
    auto plugin = hosting::openPlugin(module, rate, block);
    plugin->resume();
    return plugin;
}

// Runs the programme through the plug-in in blocks of `block` frames in one width, moving one parameter
// every quarter second; answers the fingerprint of the output and whether all of it was finite.
template <typename Sample>
std::pair<uint64_t, bool> Run(hosting::Plugin& plugin, const Programme& programme, double rate, int32_t block,
                              bool automate) {
    const size_t frames = programme.left.size();
    std::vector<Sample> left(frames), right(frames);
    for (size_t i = 0; i < frames; ++i) {
        left[i] = static_cast<Sample>(programme.left[i]);
        right[i] = static_cast<Sample>(programme.right[i]);
    }
    const auto quarter = static_cast<size_t>(rate / 4);
    Lcg random{7};
    Fingerprint fingerprint;
    bool finite = true;
    size_t nextChange = quarter;
    for (size_t start = 0; start < frames; start += static_cast<size_t>(block)) {
        if (automate && start >= nextChange) {
            plugin.setParameter(static_cast<int32_t>(random.Next() % 14),
                                static_cast<float>(random.Next() % 1001) / 1000.0f);
            nextChange += quarter;
        }
        const auto count = static_cast<int32_t>(std::min<size_t>(static_cast<size_t>(block), frames - start));
        Sample* channels[] = {left.data() + start, right.data() + start};
        if constexpr (sizeof(Sample) == 4)
            plugin.processFloat(channels, channels, count);
        else
            plugin.processDouble(channels, channels, count);
    }
    for (size_t i = 0; i < frames; ++i) finite = finite && std::isfinite(left[i]) && std::isfinite(right[i]);
    fingerprint.Add(left.data(), frames * sizeof(Sample));
    fingerprint.Add(right.data(), frames * sizeof(Sample));
    return {fingerprint.value, finite};
}

std::string Check(const std::string& name, bool passed) {
    return "check " + name + (passed ? " ok" : " FAILED");
}

void DescribeParameters(hosting::Plugin& plugin, std::vector<std::string>& lines) {
    for (int32_t i = 0; i < plugin.numParams(); ++i) {
        lines.push_back("parameter " + std::to_string(i) + " name '" + plugin.parameterName(i) + "' label '" +
                        plugin.parameterLabel(i) + "' default " + FloatBits(plugin.parameter(i)) + " '" +
                        plugin.parameterDisplay(i) + "'");
        const float original = plugin.parameter(i);
        std::string grid = "parameter " + std::to_string(i) + " grid";
        for (int step = 0; step <= 10; ++step) {
            plugin.setParameter(i, static_cast<float>(step) / 10.0f);
            grid += " " + FloatBits(plugin.parameter(i)) + " '" + plugin.parameterDisplay(i) + "'";
        }
        plugin.setParameter(i, original);
        lines.push_back(grid);
    }
}

std::string ChunkText(const std::vector<uint8_t>& chunk) {
    std::string text = "chunk " + std::to_string(chunk.size()) + " bytes";
    Fingerprint fingerprint;
    fingerprint.Add(chunk.data(), chunk.size());
    return text + " " + Hex(fingerprint.value);
}

} // namespace

std::vector<std::string> Describe(const std::filesystem::path& module) {
    std::vector<std::string> lines;
    {
        auto plugin = Started(module, 48000, 512);
        const vst2::AEffect* effect = plugin->effect();
        lines.push_back("effect name '" + plugin->effectName() + "' vendor '" + plugin->vendorString() +
                        "' product '" + plugin->productString() + "' version " +
                        std::to_string(plugin->vendorVersion()));
        char id[5] = {char(effect->uniqueID >> 24), char(effect->uniqueID >> 16), char(effect->uniqueID >> 8),
                      char(effect->uniqueID), 0};
        lines.push_back("id " + std::string(id) + " inputs " + std::to_string(plugin->numInputs()) +
                        " outputs " + std::to_string(plugin->numOutputs()) + " parameters " +
                        std::to_string(plugin->numParams()) + " programs " +
                        std::to_string(effect->numPrograms) + " flags " + std::to_string(plugin->flags()) +
                        " latency " + std::to_string(plugin->initialDelay()));
        const auto rect = plugin->editorRect();
        lines.push_back("editor " + (rect ? std::to_string(rect->right - rect->left) + " x " +
                                                std::to_string(rect->bottom - rect->top)
                                          : std::string("none")));
        lines.push_back("canDo receiveVstMidiEvent " + std::to_string(plugin->canDo("receiveVstMidiEvent")) +
                        " offline " + std::to_string(plugin->canDo("offline")));
        DescribeParameters(*plugin, lines);
        lines.push_back("default " + ChunkText(plugin->chunk()));

        // A chunk taken at other settings restores them in a fresh instance.
        Lcg random{3};
        for (int32_t i = 0; i < plugin->numParams(); ++i)
            plugin->setParameter(i, static_cast<float>(random.Next() % 101) / 100.0f);
        const std::vector<uint8_t> chunk = plugin->chunk();
        lines.push_back("changed " + ChunkText(chunk));
        auto restored = Started(module, 48000, 512);
        restored->setChunk(chunk);
        bool same = restored->chunk() == chunk;
        for (int32_t i = 0; i < plugin->numParams(); ++i)
            same = same && restored->parameter(i) == plugin->parameter(i);
        lines.push_back(Check("chunk-round-trip", same));
    }

    // Fifty instances opened and closed, each with a block before and after resume.
    bool lifecycle = true;
    for (int n = 0; n < 50 && lifecycle; ++n) {
        hosting::Plugin plugin(module);
        plugin.open();
        float left[64] = {}, right[64] = {};
        float* channels[] = {left, right};
        plugin.processFloat(channels, channels, 64);
        plugin.resume();
        plugin.processFloat(channels, channels, 64);
        plugin.suspend();
        for (float s : left) lifecycle = lifecycle && std::isfinite(s);
        plugin.close();
        lifecycle = lifecycle && plugin.isClosed();
    }
    lines.push_back(Check("lifecycle", lifecycle));

    for (const double rate : kSampleRates) {
        const Programme programme = MakeProgramme(rate, 3.0, 11);
        for (const bool wide : {false, true}) {
            auto plugin = Started(module, rate, 512);
            const auto [print, finite] = wide ? Run<double>(*plugin, programme, rate, 512, true)
                                              : Run<float>(*plugin, programme, rate, 512, true);
            lines.push_back("rate " + std::to_string(static_cast<int>(rate)) +
                            (wide ? " 64-bit" : " 32-bit") + " latency " +
                            std::to_string(plugin->initialDelay()) + " output " + Hex(print));
            lines.push_back(
                Check("finite-" + std::to_string(static_cast<int>(rate)) + (wide ? "-64" : "-32"), finite));
        }
    }
    const Programme programme = MakeProgramme(48000, 3.0, 5);
    for (const int32_t block : {1, 7, 64, 511, 4096, 8192}) {
        auto plugin = Started(module, 48000, block);
        const auto [print, finite] = Run<float>(*plugin, programme, 48000, block, false);
        lines.push_back("block " + std::to_string(block) + " output " + Hex(print) +
                        (finite ? "" : " not finite"));
    }
    return lines;
}

bool ProcessProgramme(const std::filesystem::path& module, const std::filesystem::path& input, double rate,
                      const std::filesystem::path& output32, const std::filesystem::path& output64) {
    std::ifstream in(input, std::ios::binary);
    std::vector<float> interleaved;
    float frame[2];
    while (in.read(reinterpret_cast<char*>(frame), sizeof frame))
        interleaved.insert(interleaved.end(), frame, frame + 2);
    if (interleaved.empty()) return false;
    const size_t frames = interleaved.size() / 2;
    constexpr int32_t kBlock = 512;

    std::ofstream out32(output32, std::ios::binary), out64(output64, std::ios::binary);
    auto narrow = Started(module, rate, kBlock);
    auto wide = Started(module, rate, kBlock);
    std::vector<float> l(kBlock), r(kBlock);
    std::vector<double> dl(kBlock), dr(kBlock);
    for (size_t start = 0; start < frames; start += kBlock) {
        const auto count = static_cast<int32_t>(std::min<size_t>(kBlock, frames - start));
        for (int32_t i = 0; i < count; ++i) {
            l[i] = interleaved[2 * (start + i)];
            r[i] = interleaved[2 * (start + i) + 1];
            dl[i] = l[i];
            dr[i] = r[i];
        }
        float* channels[] = {l.data(), r.data()};
        narrow->processFloat(channels, channels, count);
        double* wideChannels[] = {dl.data(), dr.data()};
        wide->processDouble(wideChannels, wideChannels, count);
        for (int32_t i = 0; i < count; ++i) {
            const float f[2] = {l[i], r[i]};
            const double d[2] = {dl[i], dr[i]};
            out32.write(reinterpret_cast<const char*>(f), sizeof f);
            out64.write(reinterpret_cast<const char*>(d), sizeof d);
        }
    }
    return out32.good() && out64.good();
}

} // namespace probe
