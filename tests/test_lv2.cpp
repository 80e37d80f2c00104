// The LV2 bundle as LV2 hosts meet it: Debian's validator on its Turtle, our lilv host for its ports and its
// sound against the VST's through our VST host, its state in a session, and lv2apply against the renderer.
#include "leveler/delivery_presets.h"
#include "leveler/readings.h"
#include "runtime/parvex.h"
#include "testkit/lv2_pair.h"

#include <gtest/gtest.h>

#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace fs = std::filesystem;
using namespace lv2_test;

namespace {

std::string ReadFile(const fs::path& path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// A folder of the test's own, removed with it.
struct TempFolder {
    fs::path path;
    TempFolder() {
        char pattern[] = "/tmp/vandrel-lv2-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~TempFolder() { fs::remove_all(path); }
    fs::path operator/(const std::string& name) const { return path / name; }
};

// Random block lengths from 1 to `longest`, both ends included.
std::vector<uint32_t> VaryingLengths(uint32_t longest, unsigned seed) {
    std::minstd_rand random(seed);
    std::vector<uint32_t> lengths = {1, longest};
    for (int i = 0; i < 61; ++i) lengths.push_back(1 + static_cast<uint32_t>(random() % longest));
    return lengths;
}

} // namespace

TEST(Lv2Bundle, PassesDebiansValidatorWithoutErrorOrWarning) {
    TempFolder temp;
    const std::string command =
        "lv2_validate " + (kBundle / "manifest.ttl").string() + " " + (kBundle / "vandrel2.ttl").string() +
        " " + (kBundle / "vandrel2_ui.ttl").string() + " " + (kBundle / "presets.ttl").string() + " >" +
        (temp / "out.txt").string() + " 2>&1";
    const int status = std::system(command.c_str());
    const std::string report = ReadFile(temp / "out.txt");
    EXPECT_EQ(status, 0) << report;
    EXPECT_NE(report.find("Found 0 errors"), std::string::npos) << report;
    // The validator's own list names a file that it then skips; nothing else may be said.
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);)
        if (!line.starts_with("Found 0 errors") && !line.starts_with("Skipping file /usr/lib/lv2/"))
            ADD_FAILURE() << "validator says: " << line;
}

// The plug-in's binary needs no window system and no 2-D graphics; the UI's does.
TEST(Lv2Bundle, OnlyTheUiBinaryLinksTheWindowSystem) {
    TempFolder temp;
    auto needed = [&](const char* binary) {
        const std::string command =
            "readelf -d " + (kBundle / binary).string() + " >" + (temp / "d.txt").string();
        EXPECT_EQ(std::system(command.c_str()), 0);
        std::string libraries;
        std::istringstream lines(ReadFile(temp / "d.txt"));
        for (std::string line; std::getline(lines, line);)
            if (line.find("(NEEDED)") != std::string::npos) libraries += line.substr(line.find('[')) + " ";
        return libraries;
    };
    const std::string dsp = needed(lv2port::kDspBinary), ui = needed(lv2port::kUiBinary);
    for (const char* library : {"libX11", "libcairo", "libfontconfig"}) {
        EXPECT_EQ(dsp.find(library), std::string::npos) << dsp;
        EXPECT_NE(ui.find(library), std::string::npos) << ui;
    }
    EXPECT_EQ(dsp.find("libpng"), std::string::npos) << dsp;
}

// Every control input is the VST parameter of the same number: its name, its range as the VST displays
// it at 0 and at 1, its default as displayed after opening, and as many steps as the VST's display takes.
TEST(Lv2Bundle, PortsAreTheVstParametersReadingsAndLatency) {
    hosting::Lv2Plugin lv2(kBundle, lv2port::kPluginUri);
    hosting::Plugin vst(VANDREL_PLUGIN_PATH);
    vst.open();
    const auto& ports = lv2.ports();
    ASSERT_EQ(ports.size(), 4u + 14u + leveler::kReadingCount + 1u);
    for (uint32_t i = 0; i < 4; ++i) {
        EXPECT_TRUE(ports[i].audio);
        EXPECT_EQ(ports[i].input, i < 2);
    }
    auto display = [](float value) {
        char text[32];
        std::snprintf(text, sizeof text, "%.2f", value);
        return std::string(text);
    };
    const std::string units = "http://lv2plug.in/ns/extensions/units#";
    for (int32_t index = 0; index < 14; ++index) {
        const hosting::Lv2Port& port = ports[4 + static_cast<uint32_t>(index)];
        SCOPED_TRACE(port.symbol);
        EXPECT_TRUE(port.control && port.input);
        EXPECT_EQ(port.symbol, leveler::kParameters[index].symbol);
        EXPECT_EQ(port.name, vst.parameterName(index));
        EXPECT_EQ(display(port.defaultValue), vst.parameterDisplay(index));
        vst.setParameter(index, 0.0f);
        EXPECT_EQ(display(port.minimum), vst.parameterDisplay(index));
        vst.setParameter(index, 1.0f);
        EXPECT_EQ(display(port.maximum), vst.parameterDisplay(index));
        if (port.has("http://lv2plug.in/ns/lv2core#toggled")) {
            EXPECT_TRUE(port.symbol.starts_with("automatic_"));
            continue;
        }
        // The declared steps hold every value a host sets (walking the VST's normalised range finely) and
        // every value the panel's slider writes within the port's range (the target's half LUFS).
        ASSERT_GT(port.rangeSteps, 1);
        const double step = (double(port.maximum) - port.minimum) / (port.rangeSteps - 1);
        const bool whole = port.has("http://lv2plug.in/ns/lv2core#integer");
        auto declared = [&](double value) {
            const double steps = (value - port.minimum) / step;
            return std::abs(steps - std::round(steps)) < 1e-6 && (!whole || value == std::floor(value));
        };
        for (int k = 0; k <= 4000; ++k) {
            vst.setParameter(index, static_cast<float>(k) / 4000.0f);
            EXPECT_TRUE(declared(std::stod(vst.parameterDisplay(index)))) << vst.parameterDisplay(index);
        }
        const leveler::ValueRange& panel = leveler::kParameters[index].panel;
        const auto panelSteps = static_cast<int>(std::round((panel.maximum - panel.minimum) / panel.step));
        for (int k = 0; k <= panelSteps; ++k) {
            const double value = panel.minimum + k * panel.step;
            if (value >= port.minimum && value <= port.maximum) {
                EXPECT_TRUE(declared(value)) << value;
            }
        }
    }
    EXPECT_EQ(ports[4].unit, units + "db");
    EXPECT_EQ(lv2.port("target_lufs").unit, "urn:quellory:vandrel2#lufs");
    EXPECT_EQ(lv2.port("noise_floor").unit, "urn:quellory:vandrel2#dbfs");
    EXPECT_EQ(lv2.port("gate_speed").unit, units + "ms");
    for (int32_t index = 0; index < leveler::kReadingCount; ++index) {
        const hosting::Lv2Port& port = ports[lv2port::kFirstReading + static_cast<uint32_t>(index)];
        EXPECT_TRUE(port.control && !port.input) << port.symbol;
        EXPECT_EQ(port.symbol, leveler::kReadings[index].symbol);
    }
    const hosting::Lv2Port& latency = ports.back();
    EXPECT_EQ(latency.symbol, "latency");
    EXPECT_TRUE(latency.has("http://lv2plug.in/ns/lv2core#reportsLatency"));
}

// Same input, settings and blocks: the same output bits as the VST, at every common rate, with blocks
// varying from 1 to the nominal length, with parameters changed between blocks. The VST host plays at a
// tempo; the LV2 host has no time information to give, and no output depends on it.
TEST(Lv2Plugin, SoundsLikeTheVstAtEveryRateAndBlockLength) {
    for (const double rate : {44100.0, 48000.0, 88200.0, 96000.0, 176400.0, 192000.0}) {
        SCOPED_TRACE(rate);
        const StereoFloats input = Floats(leveler_test::MusicLike(rate, 1.5, 3), 0.5);
        Pair pair(rate, 512, true);
        pair.Start();
        const std::vector<Change> changes = {
            {3, "target_lufs", -16}, {40, "hpf", 0.4},          {41, "fast_max_gain", 6},
            {90, "gate_speed", 120}, {91, "output_trim", -1.3}, {120, "automatic_trim", 0},
        };
        const auto [vst, lv2] = pair.Run(input, VaryingLengths(512, static_cast<unsigned>(rate)), changes);
        EXPECT_EQ(FirstDifference(vst, lv2), -1);
        EXPECT_EQ(pair.lv2->latency(), static_cast<float>(pair.vst->initialDelay()));
        EXPECT_GT(pair.lv2->latency(), 0.1 * rate - 10); // the look-ahead, about 105 ms
    }
    for (const uint32_t length : {1u, 8192u}) {
        SCOPED_TRACE(length);
        const StereoFloats input = Floats(leveler_test::MusicLike(48000, 1.0, 4), 0.3);
        Pair pair(48000, static_cast<int32_t>(length));
        pair.Start();
        const auto [vst, lv2] = pair.Run(input, {length}, {{2, "target_lufs", -30}});
        EXPECT_EQ(FirstDifference(vst, lv2), -1);
    }
}

// The delivery presets as a host lists them, and each applied over settings far from it: every control takes
// the preset's value (the target, its own settings, the defaults for the rest), and the plug-in then sounds
// as the VST set to the same values does.
TEST(Lv2Plugin, DeliveryPresetsAreListedAndSetEveryControl) {
    hosting::Lv2Plugin listing(kBundle, lv2port::kPluginUri);
    const auto presets = listing.presets();
    ASSERT_EQ(presets.size(), leveler::kDeliveryPresetCount);
    const StereoFloats programme = Floats(leveler_test::MusicLike(48000, 4, 3), 0.2);
    for (const leveler::DeliveryPreset& preset : leveler::kDeliveryPresets) {
        const auto listed = std::find_if(presets.begin(), presets.end(), [&](const hosting::Lv2Preset& p) {
            return p.label == preset.label;
        });
        ASSERT_NE(listed, presets.end()) << preset.label;
        EXPECT_EQ(listed->uri, std::string(lv2port::kPluginUri) + ":preset:" + preset.name);

        Pair pair(48000, 256);
        for (const leveler::ParameterRow& row : leveler::kParameters)
            pair.lv2->control(row.symbol) = static_cast<float>(row.registered.maximum);
        pair.lv2->applyPreset(listed->uri);
        for (const leveler::ParameterRow& row : leveler::kParameters) {
            double expected = row.defaultValue;
            if (std::string_view(row.symbol) == "target_lufs") expected = preset.targetLufs;
            for (const leveler::PresetSetting& setting : preset.settings)
                if (setting.symbol != nullptr && std::string_view(setting.symbol) == row.symbol)
                    expected = setting.value;
            EXPECT_EQ(pair.lv2->control(row.symbol), static_cast<float>(expected))
                << preset.name << " " << row.symbol;
            pair.Set(row.symbol, expected);
        }
        pair.Start();
        const auto [fromVst, fromLv2] = pair.Run(programme, {256});
        EXPECT_EQ(FirstDifference(fromVst, fromLv2), -1) << preset.name;
    }
    EXPECT_THROW(listing.applyPreset(std::string(lv2port::kPluginUri) + ":preset:none"), hosting::Lv2Error);
}

// The automatic trim moves "Input Trim" inside the plug-in while the host's control stays where the user
// left it: the control does not pull it back, the reading reports where it went, and a session saved with
// the LV2 plays on like one saved with the VST at the same moment. A control the host then changes is
// applied.
TEST(Lv2Plugin, AutomaticTrimDriftsIsReportedAndComesBackWithTheSession) {
    constexpr double kRate = 48000;
    const StereoFloats quiet = Floats(leveler_test::MusicLike(kRate, 7, 5), 0.3);
    const std::vector<uint32_t> blocks = {512, 256, 512, 100};
    Pair before(kRate, 512);
    before.Start();
    const auto [vstFirst, lv2First] = before.Run(quiet, blocks);
    ASSERT_EQ(FirstDifference(vstFirst, lv2First), -1);
    const float drifted = before.lv2->control("current_input_trim");
    EXPECT_GE(drifted, 1.0f) << "the quiet programme should have raised the trim";
    EXPECT_EQ(before.lv2->control("input_trim"), 0.0f);
    EXPECT_FLOAT_EQ(before.vst->parameter(0), (drifted + 20) / 40);

    const std::vector<uint8_t> chunk = before.vst->chunk();
    const std::string session = before.lv2->saveState();
    Pair after(kRate, 512);
    after.vst->setChunk(chunk);
    after.lv2->restoreState(session);
    after.Start();
    const StereoFloats more = Floats(leveler_test::MusicLike(kRate, 3, 6), 0.3);
    const auto [vstThen, lv2Then] = after.Run(more, blocks, {{200, "input_trim", 5}});
    EXPECT_EQ(FirstDifference(vstThen, lv2Then), -1);
    EXPECT_EQ(after.lv2->control("current_input_trim"), 5.0f);
}

// lv2apply, which gives a plug-in no features (so no block length) and runs it one frame at a time, against
// the renderer with whole blocks of the length the plug-in then takes, no latency compensation and no
// ceiling, on a quiet programme the automatic trim works on, with the target set through the control.
TEST(Lv2Plugin, Lv2applyRendersWhatTheRendererRendersThroughTheVst) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "lv2apply cannot load a module built with a sanitizer";
#endif
    TempFolder temp;
    constexpr int kRate = 48000;
    const StereoFloats programme = Floats(leveler_test::MusicLike(kRate, 6, 8), 0.1);
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open((temp / "in.wav").c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    std::vector<float> frames;
    for (size_t i = 0; i < programme.frames(); ++i) {
        frames.push_back(programme.left[i]);
        frames.push_back(programme.right[i]);
    }
    sf_writef_float(file, frames.data(), static_cast<sf_count_t>(programme.frames()));
    sf_close(file);

    fs::create_directory(temp / "lv2");
    fs::create_directory_symlink(fs::absolute(kBundle), temp / "lv2" / "vandrel2.lv2");
    const std::string lv2apply = "LV2_PATH=" + (temp / "lv2").string() + " lv2apply -i " +
                                 (temp / "in.wav").string() + " -o " + (temp / "lv2.wav").string() +
                                 " -c target_lufs -18 " + lv2port::kPluginUri + " 2>" +
                                 (temp / "lv2apply.txt").string();
    ASSERT_EQ(std::system(lv2apply.c_str()), 0) << ReadFile(temp / "lv2apply.txt");
    const std::string render = std::string(VANDREL_RENDER_PATH) + " " + (temp / "in.wav").string() + " " +
                               (temp / "vst.wav").string() + " --plugin " + VANDREL_PLUGIN_PATH +
                               " --block " + std::to_string(CParvexSamples::kDefaultBlockFrames) +
                               " --no-latency-compensation --no-ceiling --sample-format float" +
                               " --target -18 --quiet";
    ASSERT_EQ(std::system(render.c_str()), 0);

    auto read = [](const fs::path& path) {
        SF_INFO readInfo{};
        SNDFILE* in = sf_open(path.c_str(), SFM_READ, &readInfo);
        std::vector<float> samples(static_cast<size_t>(readInfo.frames * readInfo.channels));
        if (in) sf_readf_float(in, samples.data(), readInfo.frames);
        sf_close(in);
        return samples;
    };
    const std::vector<float> fromLv2 = read(temp / "lv2.wav"), fromVst = read(temp / "vst.wav");
    ASSERT_EQ(fromLv2.size(), frames.size());
    ASSERT_EQ(fromVst.size(), frames.size());
    size_t differing = 0;
    for (size_t i = 0; i < frames.size(); ++i) differing += fromLv2[i] != fromVst[i];
    EXPECT_EQ(differing, 0u);
    // And it did level: the output is not the input.
    EXPECT_NE(fromLv2, frames);
}
