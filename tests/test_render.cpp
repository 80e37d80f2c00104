// vandrel2-render end to end: the built program on real files, with Debian's DPF plug-ins, the test
// fixture (a delay with latency and a state chunk), and Vandrel 2 itself once it is built.
#include <gtest/gtest.h>

#include <ebur128.h>
#include <sndfile.h>

#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <numbers>
#include <random>
#include <set>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;

const fs::path kRenderer = VANDREL_RENDER_PATH;
const fs::path kEq = "/usr/lib/vst/3BandEQ-vst.so";
const fs::path kFixture = fs::path(VANDREL_FIXTURE_DIR) / "fixture_delay.so";
constexpr int kRate = 48000;

struct RunResult {
    int status = -1;
    std::string out, err;
};

std::string quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string slurp(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

struct Audio {
    int channels = 0, rate = 0, format = 0;
    std::vector<double> samples; // interleaved
    size_t frames() const { return channels ? samples.size() / size_t(channels) : 0; }
    double at(size_t frame, int channel) const { return samples[frame * size_t(channels) + size_t(channel)]; }
};

void writeAudio(const fs::path& path, const Audio& audio) {
    SF_INFO info{};
    info.channels = audio.channels;
    info.samplerate = audio.rate;
    info.format = audio.format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    sf_writef_double(file, audio.samples.data(), sf_count_t(audio.frames()));
    sf_close(file);
}

Audio readAudio(const fs::path& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    Audio audio;
    if (file == nullptr) return audio;
    audio.channels = info.channels;
    audio.rate = info.samplerate;
    audio.format = info.format;
    audio.samples.resize(size_t(info.frames * info.channels));
    sf_readf_double(file, audio.samples.data(), info.frames);
    sf_close(file);
    return audio;
}

// Speech-like test signal: a tone whose level steps between loud and quiet, over a little noise.
Audio programme(int channels, double seconds, int format, unsigned seed = 1) {
    Audio audio{channels, kRate, format, {}};
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, 0.002);
    const auto frames = size_t(seconds * kRate);
    for (size_t i = 0; i < frames; ++i) {
        const double level = (i / (kRate * 6)) % 2 == 0 ? 0.4 : 0.05;
        for (int c = 0; c < channels; ++c)
            audio.samples.push_back(
                level * std::sin(2 * std::numbers::pi * (440.0 + 110 * c) * double(i) / kRate) +
                noise(random));
    }
    return audio;
}

double integratedLoudness(const Audio& audio) {
    ebur128_state* state = ebur128_init(unsigned(audio.channels), unsigned(audio.rate), EBUR128_MODE_I);
    if (audio.channels == 1) ebur128_set_channel(state, 0, EBUR128_DUAL_MONO);
    ebur128_add_frames_double(state, audio.samples.data(), audio.frames());
    double loudness = 0;
    ebur128_loudness_global(state, &loudness);
    ebur128_destroy(&state);
    return loudness;
}

// Whether text is well-formed UTF-8, as JSON text must be: no stray continuation bytes, overlong forms,
// surrogates or code points beyond U+10FFFF.
bool validUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const size_t length = lead < 0x80         ? 1
                              : (lead >> 5) == 6  ? 2
                              : (lead >> 4) == 14 ? 3
                              : (lead >> 3) == 30 ? 4
                                                  : 0;
        if (length == 0 || i + length > text.size()) return false;
        uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = code << 6 | (next & 0x3F);
        }
        const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        i += length;
    }
    return true;
}

// Just enough JSON to check that a report parses and to read its values by path ("output.integrated_lufs",
// "warnings.0").
class Json {
public:
    explicit Json(const std::string& text) : text_(text), valid_(validUtf8(text)) {
        skip();
        value("");
        skip();
        if (pos_ != text_.size()) fail();
    }
    bool valid() const { return valid_; }
    std::optional<double> number(const std::string& path) const {
        auto found = numbers_.find(path);
        return found == numbers_.end() ? std::nullopt : std::optional<double>(found->second);
    }
    std::string text(const std::string& path) const {
        auto found = strings_.find(path);
        return found == strings_.end() ? "" : found->second;
    }
    bool has(const std::string& path) const { return keys_.count(path) > 0; }
    size_t count(const std::string& path) const {
        size_t n = 0;
        while (has(path + "." + std::to_string(n))) ++n;
        return n;
    }

private:
    void fail() { valid_ = false, pos_ = text_.size(); }
    void skip() {
        while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    }
    bool eat(char c) {
        skip();
        if (pos_ < text_.size() && text_[pos_] == c) return ++pos_, true;
        return false;
    }
    std::string string() {
        if (!eat('"')) return fail(), "";
        std::string out;
        while (pos_ < text_.size() && text_[pos_] != '"') {
            if (static_cast<unsigned char>(text_[pos_]) < 0x20) return fail(), "";
            if (text_[pos_] == '\\') ++pos_;
            out += text_[pos_++];
        }
        if (!eat('"')) fail();
        return out;
    }
    void value(const std::string& path) {
        keys_.insert(path);
        skip();
        if (pos_ >= text_.size()) return fail();
        const char c = text_[pos_];
        if (c == '{') {
            ++pos_;
            if (eat('}')) return;
            do {
                skip();
                const std::string key = string();
                if (!eat(':')) return fail();
                value(path.empty() ? key : path + "." + key);
            } while (eat(','));
            if (!eat('}')) fail();
        } else if (c == '[') {
            ++pos_;
            if (eat(']')) return;
            size_t index = 0;
            do value(path + "." + std::to_string(index++));
            while (eat(','));
            if (!eat(']')) fail();
        } else if (c == '"') {
            strings_[path] = string();
        } else if (text_.compare(pos_, 4, "true") == 0 || text_.compare(pos_, 4, "null") == 0) {
            pos_ += 4;
        } else if (text_.compare(pos_, 5, "false") == 0) {
            pos_ += 5;
        } else {
            char* end = nullptr;
            const double number = std::strtod(text_.c_str() + pos_, &end);
            if (end == text_.c_str() + pos_) return fail();
            numbers_[path] = number;
            pos_ = size_t(end - text_.c_str());
        }
    }
    std::string text_;
    size_t pos_ = 0;
    bool valid_ = true;
    std::map<std::string, double> numbers_;
    std::map<std::string, std::string> strings_;
    std::set<std::string> keys_;
};

class Render : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vandrel_render_" + std::to_string(getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path file(const std::string& name) const { return dir_ / name; }

    RunResult run(const std::vector<std::string>& args) const {
        std::string command = quote(kRenderer.string());
        for (const auto& arg : args) command += " " + quote(arg);
        command += " >" + quote(file("stdout.txt").string()) + " 2>" + quote(file("stderr.txt").string());
        RunResult result;
        result.status = WEXITSTATUS(std::system(command.c_str()));
        result.out = slurp(file("stdout.txt"));
        result.err = slurp(file("stderr.txt"));
        fs::remove(file("stdout.txt"));
        fs::remove(file("stderr.txt"));
        return result;
    }

    // Everything in the test folder but the given files: what a failed render must not leave behind.
    std::vector<std::string> leftovers(const std::set<std::string>& expected) const {
        std::vector<std::string> extra;
        for (const auto& entry : fs::directory_iterator(dir_))
            if (!expected.count(entry.path().filename().string()))
                extra.push_back(entry.path().filename().string());
        return extra;
    }

    // A failure: non-zero exit, one line naming the file, nothing written.
    void expectFailure(const std::vector<std::string>& args, const std::string& named,
                       const std::string& reason, const std::set<std::string>& files) const {
        const RunResult result = run(args);
        EXPECT_NE(result.status, 0) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_EQ(result.err.rfind("vandrel2-render: ", 0), 0u) << result.err;
        EXPECT_NE(result.err.find(named), std::string::npos) << result.err;
        EXPECT_NE(result.err.find(reason), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(leftovers(files), std::vector<std::string>{}) << result.err;
    }

    fs::path dir_;
};

class RenderThirdParty : public Render {
protected:
    void SetUp() override {
        if (!fs::exists(kEq)) GTEST_SKIP() << "dpf-plugins-vst is not installed";
        Render::SetUp();
    }
};

void expectSameAudio(const Audio& a, const Audio& b, double tolerance) {
    ASSERT_EQ(a.channels, b.channels);
    ASSERT_EQ(a.frames(), b.frames());
    double worst = 0;
    for (size_t i = 0; i < a.samples.size(); ++i)
        worst = std::max(worst, std::abs(a.samples[i] - b.samples[i]));
    EXPECT_LE(worst, tolerance);
}

// The plug-in's output as a pure gain of its input: the gain in dB and the largest difference left.
std::pair<double, double> fittedGain(const Audio& input, const Audio& output) {
    double xy = 0, xx = 0;
    for (size_t i = 0; i < input.samples.size(); ++i)
        xy += input.samples[i] * output.samples[i], xx += input.samples[i] * input.samples[i];
    const double gain = xy / xx;
    double residual = 0;
    for (size_t i = 0; i < input.samples.size(); ++i)
        residual = std::max(residual, std::abs(output.samples[i] - gain * input.samples[i]));
    return {20 * std::log10(std::abs(gain)), residual};
}

TEST_F(RenderThirdParty, WavRoundTripKeepsFormatLengthAndSamplesAndLeavesTheInputAlone) {
    // Read in pieces of 16384 frames, the last one of only 50.
    const Audio input = programme(2, (9 * 16384 + 50.5) / kRate, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    ASSERT_EQ(input.frames(), 9 * 16384 + 50u);
    writeAudio(file("in.wav"), input);
    const std::string before = slurp(file("in.wav"));
    const RunResult result = run({file("in.wav"), file("out.wav"), "--plugin", kEq, "--block", "333"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, ""); // no progress bar without a terminal
    EXPECT_NE(result.out.find("Integrated loudness"), std::string::npos);
    EXPECT_NE(result.out.find("3 Band EQ"), std::string::npos);
    const Audio output = readAudio(file("out.wav"));
    EXPECT_EQ(output.format, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    EXPECT_EQ(output.rate, kRate);
    // A neutral EQ: the same samples within 24-bit rounding of its float arithmetic.
    expectSameAudio(output, readAudio(file("in.wav")), 1e-5);
    EXPECT_EQ(slurp(file("in.wav")), before);
    EXPECT_EQ(leftovers({"in.wav", "out.wav"}), std::vector<std::string>{});
}

TEST_F(RenderThirdParty, FlacRoundTripAndConversionsFollowTheOutputName) {
    writeAudio(file("in.flac"), programme(2, 2.0, SF_FORMAT_FLAC | SF_FORMAT_PCM_16));
    ASSERT_EQ(run({file("in.flac"), file("out.flac"), "--plugin", kEq, "--quiet"}).status, 0);
    const Audio flac = readAudio(file("out.flac"));
    EXPECT_EQ(flac.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    expectSameAudio(flac, readAudio(file("in.flac")), 1.0 / 32768 + 1e-9);

    // Float WAV to FLAC: FLAC holds no floats, so 24-bit; FLAC to WAV keeps 16-bit.
    writeAudio(file("float.wav"), programme(2, 1.0, SF_FORMAT_WAV | SF_FORMAT_FLOAT));
    ASSERT_EQ(run({file("float.wav"), file("float.flac"), "--plugin", kEq, "--quiet"}).status, 0);
    EXPECT_EQ(readAudio(file("float.flac")).format, SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
    ASSERT_EQ(run({file("in.flac"), file("back.wav"), "--plugin", kEq, "--quiet"}).status, 0);
    EXPECT_EQ(readAudio(file("back.wav")).format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    ASSERT_EQ(run({file("in.flac"), file("wide.wav"), "--plugin", kEq, "--quiet", "--sample-format", "float"})
                  .status,
              0);
    EXPECT_EQ(readAudio(file("wide.wav")).format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
}

TEST_F(RenderThirdParty, MonoIsFedToBothChannelsAndWrittenBackAsMono) {
    writeAudio(file("mono.wav"), programme(1, 2.0, SF_FORMAT_WAV | SF_FORMAT_FLOAT));
    ASSERT_EQ(
        run({file("mono.wav"), file("out.wav"), "--plugin", kEq, "--quiet", "--set", "Master=-6"}).status, 0);
    const Audio input = readAudio(file("mono.wav")), output = readAudio(file("out.wav"));
    ASSERT_EQ(output.channels, 1);
    ASSERT_EQ(output.frames(), input.frames());
    // DPF's dB conversion is a little off: -6 dB comes out as -6.02 dB.
    const auto [gainDb, residual] = fittedGain(input, output);
    EXPECT_NEAR(gainDb, -6.0, 0.05);
    EXPECT_LT(residual, 1e-5);
}

TEST_F(RenderThirdParty, ParametersByNameAndByNumberInTheirOwnUnits) {
    writeAudio(file("in.wav"), programme(2, 1.0, SF_FORMAT_WAV | SF_FORMAT_FLOAT));
    ASSERT_EQ(run({file("in.wav"), file("name.wav"), "--plugin", kEq, "-q", "--set", "master=-6"}).status, 0);
    ASSERT_EQ(run({file("in.wav"), file("number.wav"), "--plugin", kEq, "-q", "--set", "4=-6 dB"}).status, 0);
    const Audio input = readAudio(file("in.wav")), byName = readAudio(file("name.wav"));
    expectSameAudio(byName, readAudio(file("number.wav")), 0.0);
    const auto [gainDb, residual] = fittedGain(input, byName);
    EXPECT_NEAR(gainDb, -6.0, 0.05);
    EXPECT_LT(residual, 1e-5);

    const RunResult list = run({"--list-params", "--plugin", kEq, "--set", "Low=-12.5"});
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_NE(list.out.find("Low"), std::string::npos);
    EXPECT_NE(list.out.find("-24.000000 to 24.000000 dB"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("-12.500000 dB"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("220.000000 Hz"), std::string::npos) << list.out;
}

TEST_F(RenderThirdParty, JsonReportParsesAndAgreesWithAnIndependentMeasurement) {
    writeAudio(file("in.wav"), programme(2, 12.0, SF_FORMAT_WAV | SF_FORMAT_PCM_24));
    const RunResult result = run({file("in.wav"), file("out.wav"), "--plugin", kEq, "--set", "Master=-3",
                                  "--json", file("report.json"), "--plot", file("plot.png")});
    ASSERT_EQ(result.status, 0) << result.err;
    const Json json(slurp(file("report.json")));
    ASSERT_TRUE(json.valid()) << slurp(file("report.json"));
    const double inputLoudness = integratedLoudness(readAudio(file("in.wav")));
    const double outputLoudness = integratedLoudness(readAudio(file("out.wav")));
    EXPECT_NEAR(*json.number("input.integrated_lufs"), inputLoudness, 0.01);
    EXPECT_NEAR(*json.number("output.integrated_lufs"), outputLoudness, 0.01);
    EXPECT_NEAR(outputLoudness - inputLoudness, -3.0, 0.05);
    for (const char* key : {"loudness_range_lu", "true_peak_dbtp", "short_term_spread_lu",
                            "short_term_p10_lufs", "short_term_p90_lufs"}) {
        EXPECT_TRUE(json.number(std::string("input.") + key)) << key;
        EXPECT_TRUE(json.number(std::string("output.") + key)) << key;
    }
    // The programme steps 18 dB between its loud and quiet halves.
    EXPECT_NEAR(*json.number("input.short_term_spread_lu"), 18.0, 1.0);
    EXPECT_NEAR(*json.number("output.true_peak_dbtp") - *json.number("input.true_peak_dbtp"), -3.0, 0.05);
    EXPECT_EQ(*json.number("frames"), 12.0 * kRate);
    EXPECT_EQ(*json.number("plugin.latency_samples"), 0.0);
    EXPECT_TRUE(json.has("plugin.name"));

    const std::string png = slurp(file("plot.png"));
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
    EXPECT_GT(png.size(), 10000u); // axes, text and curves, not an empty picture
}

TEST_F(RenderThirdParty, SixtyFourBitPathNeedsAPluginThatHasIt) {
    writeAudio(file("in.wav"), programme(2, 0.5, SF_FORMAT_WAV | SF_FORMAT_FLOAT));
    expectFailure({file("in.wav"), file("out.wav"), "--plugin", kEq, "--double"}, kEq.string(), "64-bit",
                  {"in.wav"});
}

TEST_F(RenderThirdParty, EveryFailureIsOneLineWithNoOutput) {
    writeAudio(file("in.wav"), programme(2, 0.5, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
    writeAudio(file("three.wav"), programme(3, 0.5, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
    std::ofstream(file("text.wav")) << "this is not audio\n";
    const std::set<std::string> inputs = {"in.wav", "three.wav", "text.wav"};
    const std::string out = file("out.wav");
    expectFailure({file("missing.wav"), out, "--plugin", kEq}, "missing.wav", "no such file", inputs);
    expectFailure({file("text.wav"), out, "--plugin", kEq}, "text.wav", "cannot read", inputs);
    expectFailure({file("three.wav"), out, "--plugin", kEq}, "three.wav", "3 channels", inputs);
    expectFailure({file("in.wav"), out, "--plugin", kEq, "--set", "Loudness=3"}, kEq.string(),
                  "unknown parameter 'Loudness'", inputs);
    expectFailure({file("in.wav"), out, "--plugin", kEq, "--set", "Low=40"}, kEq.string(),
                  "outside its range", inputs);
    expectFailure({file("in.wav"), out, "--plugin", kEq, "--set", "Low=loud"}, kEq.string(), "not a value",
                  inputs);
    expectFailure({file("in.wav"), out, "--plugin", kEq, "--set", "9=1"}, kEq.string(),
                  "no parameter number 9", inputs);
    expectFailure({file("in.wav"), (dir_ / "missing" / "out.wav").string(), "--plugin", kEq},
                  "missing/out.wav", "folder does not exist", inputs);
    expectFailure({file("in.wav"), file("in.wav"), "--plugin", kEq}, "in.wav", "is the input file", inputs);
    expectFailure({file("in.wav"), (dir_ / "." / "in.wav").string(), "--plugin", kEq}, "in.wav",
                  "is the input file", inputs);
    expectFailure({file("in.wav"), file("out.xyz"), "--plugin", kEq}, "out.xyz", "unknown audio format",
                  inputs);
    ASSERT_EQ(mkfifo(file("pipe.wav").c_str(), 0600), 0);
    expectFailure({file("in.wav"), file("pipe.wav"), "--plugin", kEq}, "pipe.wav", "not a regular file",
                  {"in.wav", "three.wav", "text.wav", "pipe.wav"});
    EXPECT_TRUE(fs::is_fifo(file("pipe.wav")));
    fs::remove(file("pipe.wav"));
    expectFailure({file("in.wav"), out, "--plugin", file("missing.so")}, "missing.so", "no such file",
                  inputs);
    expectFailure({file("in.wav"), out, "--plugin", file("text.wav")}, "text.wav", "cannot load", inputs);
    expectFailure({file("in.wav"), out, "--plugin", kEq, "--load-state", file("none.bin")}, "none.bin",
                  "no such file", inputs);
    expectFailure({file("in.wav"), out, "--plugin", kEq, "--save-state", file("state.bin")}, "state.bin",
                  "no state", inputs);
    expectFailure({file("in.wav"), out, "--plugin", kEq, "--json", (dir_ / "no" / "r.json").string()},
                  "r.json", "folder does not exist", inputs);
    expectFailure({file("in.wav"), out, "--plugin", kEq, "--block", "0"}, "--block", "whole number", inputs);
    expectFailure({file("in.wav"), out, "--plugin", kEq, "--frobnicate"}, "--frobnicate", "unknown option",
                  inputs);
    expectFailure({file("in.wav")}, "needs an input and an output", "", inputs);
}

TEST_F(Render, LatencyIsCompensatedByDefaultAndKeptOnRequest) {
    // Several block sizes, among them ones that do not divide the length or the delay.
    for (const std::string block : {"512", "333", "64", "7000"}) {
        Audio impulse{2, kRate, SF_FORMAT_WAV | SF_FORMAT_FLOAT, std::vector<double>(2 * 20000, 0.0)};
        impulse.samples[2 * 1000] = 0.5;
        impulse.samples[2 * 19990 + 1] = -0.25; // near the end: must survive the flush
        writeAudio(file("impulse.wav"), impulse);
        for (const bool compensated : {true, false}) {
            std::vector<std::string> args = {
                file("impulse.wav"), file("out.wav"), "--plugin",     kFixture, "--block", block, "--set",
                "Delay=4321",        "--json",        file("r.json"), "-q"};
            if (!compensated) args.push_back("--no-latency-compensation");
            const RunResult result = run(args);
            ASSERT_EQ(result.status, 0) << result.err;
            const Audio out = readAudio(file("out.wav"));
            ASSERT_EQ(out.frames(), 20000u);
            const size_t shift = compensated ? 0 : 4321;
            for (size_t i = 0; i < out.frames(); ++i) {
                const double left = i == 1000 + shift ? 0.5 : 0.0;
                const double right = i == 19990 + shift ? -0.25 : 0.0;
                ASSERT_EQ(out.at(i, 0), left) << "block " << block << " frame " << i;
                ASSERT_EQ(out.at(i, 1), right) << "block " << block << " frame " << i;
            }
            EXPECT_EQ(*Json(slurp(file("r.json"))).number("plugin.latency_samples"), 4321.0);
        }
    }
}

TEST_F(Render, EmptyInputAndLinkedOutput) {
    writeAudio(file("empty.wav"), Audio{2, kRate, SF_FORMAT_WAV | SF_FORMAT_PCM_16, {}});
    fs::create_directories(file("real"));
    fs::create_symlink(file("real") / "out.wav", file("link.wav"));
    const RunResult result =
        run({file("empty.wav"), file("link.wav"), "--plugin", kFixture, "--json", file("r.json"), "-q"});
    ASSERT_EQ(result.status, 0) << result.err;
    // Written through the link; the link stays.
    EXPECT_TRUE(fs::is_symlink(file("link.wav")));
    const Audio out = readAudio(file("real") / "out.wav");
    EXPECT_EQ(out.channels, 2);
    EXPECT_EQ(out.frames(), 0u);
    const Json json(slurp(file("r.json")));
    ASSERT_TRUE(json.valid());
    EXPECT_EQ(*json.number("frames"), 0.0);
    EXPECT_FALSE(json.number("output.integrated_lufs")); // null: no loudness
}

TEST_F(Render, StateIsSavedAndRestored) {
    writeAudio(file("in.wav"), programme(2, 1.0, SF_FORMAT_WAV | SF_FORMAT_FLOAT));
    ASSERT_EQ(run({file("in.wav"), file("a.wav"), "--plugin", kFixture, "-q", "--set", "Gain=-12", "--set",
                   "Polarity=Inverted", "--save-state", file("state.bin")})
                  .status,
              0);
    EXPECT_EQ(fs::file_size(file("state.bin")), 16u);
    ASSERT_EQ(
        run({file("in.wav"), file("b.wav"), "--plugin", kFixture, "-q", "--load-state", file("state.bin")})
            .status,
        0);
    const Audio a = readAudio(file("a.wav")), b = readAudio(file("b.wav")), input = readAudio(file("in.wav"));
    expectSameAudio(a, b, 0.0);
    const double gain = -std::pow(10.0, -12.0 / 20.0);
    for (size_t i = 0; i < input.samples.size(); i += 89)
        EXPECT_NEAR(a.samples[i], input.samples[i] * gain, 1e-6);

    // Settings apply after the state; listing shows both, and the default from before either.
    const RunResult list =
        run({"--list-params", "--plugin", kFixture, "--load-state", file("state.bin"), "--set", "1=-3"});
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_NE(list.out.find("-24.00 to 24.00 dB  0.00 dB    -3.00 dB"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("Normal to Inverted  Normal     Inverted"), std::string::npos) << list.out;
}

TEST_F(Render, SixtyFourBitPathKeepsDoublePrecision) {
    Audio input = programme(2, 0.5, SF_FORMAT_WAV | SF_FORMAT_DOUBLE);
    for (size_t i = 0; i < input.samples.size(); ++i) input.samples[i] += 1e-13 * double(i % 7);
    writeAudio(file("in.wav"), input);
    ASSERT_EQ(
        run({file("in.wav"), file("out.wav"), "--plugin", kFixture, "-q", "--double", "--set", "Gain=-6"})
            .status,
        0);
    const Audio out = readAudio(file("out.wav"));
    ASSERT_EQ(out.format, SF_FORMAT_WAV | SF_FORMAT_DOUBLE);
    const double gain = std::pow(10.0, -6.0 / 20.0);
    for (size_t i = 0; i < input.samples.size(); ++i)
        ASSERT_NEAR(out.samples[i], input.samples[i] * gain, 1e-15);
}

TEST_F(Render, ProgressBarOnlyOnATerminal) {
    writeAudio(file("in.wav"), programme(2, 20.0, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
    // `script` gives the renderer a terminal.
    if (std::system("command -v script >/dev/null") != 0) GTEST_SKIP() << "no script(1)";
    const std::string command = quote(kRenderer) + " " + quote(file("in.wav")) + " " +
                                quote(file("out.wav")) + " --plugin " + quote(kFixture) +
                                " --block 16 --set Delay=2000";
    ASSERT_EQ(
        std::system(("script -qec " + quote(command) + " /dev/null >" + quote(file("tty.txt"))).c_str()), 0);
    const std::string screen = slurp(file("tty.txt"));
    EXPECT_NE(screen.find("% "), std::string::npos) << screen;
    EXPECT_NE(screen.find("x real time"), std::string::npos) << screen;
    EXPECT_NE(screen.find(" left"), std::string::npos) << screen;
    EXPECT_NE(screen.find("Integrated loudness"), std::string::npos) << screen;

    const RunResult quiet = run({file("in.wav"), file("quiet.wav"), "--plugin", kFixture, "--quiet"});
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.out + quiet.err, "");
}

TEST_F(Render, InterruptionLeavesNoFileBehind) {
    writeAudio(file("in.wav"), programme(2, 60.0, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
    const std::string in = file("in.wav"), out = file("out.wav"), plugin = kFixture;
    std::vector<std::string> args = {kRenderer, in, out, "--plugin", plugin, "--block", "1", "--quiet"};
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, file("err.txt").c_str(), O_WRONLY | O_CREAT,
                                     0644);
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, kRenderer.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    // Wait for the temporary output to appear, then interrupt.
    for (int i = 0; i < 500 && leftovers({"in.wav", "err.txt"}).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(leftovers({"in.wav", "err.txt"}).size(), 1u);
    kill(child, SIGINT);
    int status = 0;
    for (int i = 0; i < 1000 && waitpid(child, &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (kill(child, 0) == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        FAIL() << "the renderer did not stop on SIGINT";
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_EQ(slurp(file("err.txt")), "vandrel2-render: interrupted; no output written\n");
    EXPECT_EQ(leftovers({"in.wav", "err.txt"}), std::vector<std::string>{});
}

#ifdef VANDREL_PLUGIN_PATH
class RenderVandrel : public Render {
protected:
    void SetUp() override {
        if (!fs::exists(VANDREL_PLUGIN_PATH)) GTEST_SKIP() << "no " VANDREL_PLUGIN_PATH;
        Render::SetUp();
    }
};

TEST_F(RenderVandrel, FindsThePluginBesideItAndAlignsAnImpulse) {
    Audio impulse{2, kRate, SF_FORMAT_WAV | SF_FORMAT_FLOAT, std::vector<double>(2 * kRate, 0.0)};
    impulse.samples[2 * 20000] = impulse.samples[2 * 20000 + 1] = 0.5;
    writeAudio(file("impulse.wav"), impulse);
    for (const bool compensated : {true, false}) {
        std::vector<std::string> args = {file("impulse.wav"), file("out.wav"), "-q", "--json",
                                         file("r.json")};
        if (!compensated) args.push_back("--no-latency-compensation");
        const RunResult result = run(args);
        ASSERT_EQ(result.status, 0) << result.err;
        const Json json(slurp(file("r.json")));
        EXPECT_EQ(*json.number("plugin.latency_samples"), 5037.0);
        const Audio out = readAudio(file("out.wav"));
        ASSERT_EQ(out.frames(), size_t(kRate));
        size_t peak = 0;
        for (size_t i = 0; i < out.frames(); ++i)
            if (std::abs(out.at(i, 0)) > std::abs(out.at(peak, 0))) peak = i;
        EXPECT_EQ(peak, compensated ? 20000u : 25037u);
    }
}

TEST_F(RenderVandrel, AWriteThatFailsPartWayIsOneLineAndLeavesNoFile) {
    // Writing runs on a thread of its own; a file size limit makes it fail after about 100 KB.
    writeAudio(file("in.wav"), programme(2, 10.0, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
    const std::string command = "ulimit -f 200; trap '' XFSZ; " + quote(kRenderer.string()) + " " +
                                quote(file("in.wav").string()) + " " + quote(file("out.wav").string()) +
                                " -q 2>" + quote(file("err.txt").string());
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    const std::string error = slurp(file("err.txt"));
    EXPECT_EQ(error.rfind("vandrel2-render: " + file("out.wav").string() + ": ", 0), 0u) << error;
    EXPECT_NE(error.find("File too large"), std::string::npos) << error;
    EXPECT_EQ(std::count(error.begin(), error.end(), '\n'), 1) << error;
    EXPECT_EQ(leftovers({"in.wav", "err.txt"}), std::vector<std::string>{});
}

TEST_F(RenderVandrel, ParametersByNameAndNumberAndState) {
    const RunResult byName =
        run({"--list-params", "--set", "Target LUFS=-16", "--save-state", file("a.bin")});
    ASSERT_EQ(byName.status, 0) << byName.err;
    // Its row: number, name, range, default, value.
    const auto name = byName.out.find("Target LUFS");
    ASSERT_NE(name, std::string::npos) << byName.out;
    const auto row = byName.out.rfind('\n', name) + 1;
    const std::string line = byName.out.substr(row, byName.out.find('\n', row) - row);
    EXPECT_EQ(line.rfind("2 ", 0), 0u) << line;
    const auto range = line.find("-46.00 to 0.00"), fallback = line.find("-23.00"),
               value = line.find("-16.00");
    EXPECT_TRUE(range != std::string::npos && fallback > range && value > fallback &&
                value != std::string::npos)
        << line;
    EXPECT_EQ(fs::file_size(file("a.bin")), 260u);
    ASSERT_EQ(run({"--list-params", "--set", "2=-16", "--save-state", file("b.bin")}).status, 0);
    EXPECT_EQ(slurp(file("a.bin")), slurp(file("b.bin")));
    const RunResult stepped = run({"--list-params", "--set", "Target LUFS=-16.5"});
    EXPECT_NE(stepped.status, 0);
    EXPECT_NE(stepped.err.find("cannot be set to -16.5"), std::string::npos) << stepped.err;
}
#endif

} // namespace
