// vandrel2-render end to end: the built program on real files, with Debian's DPF plug-ins, the test
// fixture (a delay with latency and a state chunk), and Vandrel 2 itself once it is built.
#include "test_render_support.h"

#include "leveler/parameter_table.h"

#include <taglib/aifffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tpropertymap.h>
#include <taglib/wavfile.h>
#include <taglib/xiphcomment.h>

namespace {

using namespace render_test;

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
    // Another compression level: other bytes, the same samples.
    ASSERT_EQ(run({file("in.flac"), file("level8.flac"), "--plugin", kEq, "-q", "--flac-level", "8"}).status,
              0);
    EXPECT_FALSE(slurp(file("level8.flac")) == slurp(file("out.flac")));
    expectSameAudio(readAudio(file("level8.flac")), flac, 0.0);

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
    const auto low = listedRow(list.out, "Low");
    EXPECT_EQ(low.at("Unit"), "dB") << list.out;
    EXPECT_EQ(low.at("Range"), "-24.000000 to 24.000000") << list.out;
    EXPECT_EQ(low.at("Step"), "") << list.out; // a continuum
    EXPECT_EQ(low.at("Value"), "-12.500000") << list.out;
    EXPECT_EQ(listedRow(list.out, "Low-Mid Freq").at("Value"), "220.000000") << list.out;
    EXPECT_EQ(listedRow(list.out, "Low-Mid Freq").at("Unit"), "Hz") << list.out;
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
    expectFailure({file("in.wav"), file("in.wav"), "--plugin", kEq},
                  "in.wav (the output file) is the same file as", "in.wav (the input file)", inputs);
    expectFailure({file("in.wav"), (dir_ / "." / "in.wav").string(), "--plugin", kEq},
                  "./in.wav (the output file)",
                  "is the same file as " + file("in.wav").string() + " (the input file)", inputs);
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
    const std::map<std::string, std::string> gainRow = {
        {"#", "1"},   {"Name", "Gain"},    {"Unit", "dB"},    {"Range", "-24.00 to 24.00"},
        {"Step", ""}, {"Default", "0.00"}, {"Value", "-3.00"}};
    EXPECT_EQ(listedRow(list.out, "Gain"), gainRow) << list.out;
    const std::map<std::string, std::string> polarity = {
        {"#", "3"},   {"Name", "Polarity"},  {"Unit", ""},         {"Range", "Normal to Inverted"},
        {"Step", ""}, {"Default", "Normal"}, {"Value", "Inverted"}};
    EXPECT_EQ(listedRow(list.out, "Polarity"), polarity) << list.out;
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

TEST_F(Render, EverySignalThatEndsARunRemovesItsOutputAndExitsWithItsNumber) {
    writeAudio(file("in.wav"), programme(2, 60.0, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
    // Ctrl-C, kill, and a terminal or SSH session that closes.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        const std::string in = file("in.wav"), out = file("out.wav"), plugin = kFixture;
        std::vector<std::string> args = {kRenderer, in, out, "--plugin", plugin, "--block", "1", "--quiet"};
        std::vector<char*> argv;
        for (auto& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, file("err.txt").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t child = 0;
        ASSERT_EQ(posix_spawn(&child, kRenderer.c_str(), &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        // Wait for the partial output to appear: in plain sight, named after the output.
        for (int i = 0; i < 500 && leftovers({"in.wav", "err.txt"}).empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const auto partial = leftovers({"in.wav", "err.txt"});
        ASSERT_EQ(partial.size(), 1u);
        EXPECT_EQ(partial[0].rfind("out.wav.partial-", 0), 0u) << partial[0];
        kill(child, signal);
        int status = 0;
        for (int i = 0; i < 1000 && waitpid(child, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (kill(child, 0) == 0) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            FAIL() << "the renderer did not stop on signal " << signal;
        }
        ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
        EXPECT_EQ(slurp(file("err.txt")), "vandrel2-render: interrupted; no output written\n");
        EXPECT_EQ(leftovers({"in.wav", "err.txt"}), std::vector<std::string>{});
    }
}

TEST_F(Render, WhatTheOutputCannotHoldFallsBackAndTagsAndBextComeAlong) {
    // MP3 into WAV: WAV holds no MP3 data, so 24-bit PCM, said in the report.
    Audio mp3 = programme(2, 2.0, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III);
    writeAudio(file("in.mp3"), mp3);
    ASSERT_EQ(readAudio(file("in.mp3")).format, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III);
    const RunResult converted =
        run({file("in.mp3"), file("out.wav"), "--plugin", kFixture, "--json", file("r.json")});
    ASSERT_EQ(converted.status, 0) << converted.err;
    EXPECT_EQ(readAudio(file("out.wav")).format, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    EXPECT_NE(converted.out.find("written as 24-bit PCM"), std::string::npos) << converted.out;
    EXPECT_NE(report(file("r.json")).text("output.format_note").find("24-bit PCM"), std::string::npos);
    // Into Ogg Vorbis, twice: libsndfile numbers the stream at random, the renderer does not.
    for (const char* name : {"a.ogg", "b.ogg"})
        ASSERT_EQ(run({file("in.mp3"), file(name), "--plugin", kFixture, "-q"}).status, 0);
    EXPECT_EQ(slurp(file("a.ogg")), slurp(file("b.ogg")));
    EXPECT_EQ(readAudio(file("a.ogg")).frames(), readAudio(file("in.mp3")).frames());

    // A broadcast WAV with tags, into WAV and into FLAC (which has a place for the tags only).
    writeAudio(file("tagged.wav"), programme(2, 1.0, SF_FORMAT_WAV | SF_FORMAT_PCM_16), [](SNDFILE* tagged) {
        sf_set_string(tagged, SF_STR_TITLE, "Episode 12");
        sf_set_string(tagged, SF_STR_ARTIST, "Quellory Radio");
        SF_BROADCAST_INFO bext{};
        std::snprintf(bext.description, sizeof bext.description, "Interview, take 3");
        std::snprintf(bext.originator, sizeof bext.originator, "Studio B");
        bext.time_reference_low = 123456;
        EXPECT_EQ(sf_command(tagged, SFC_SET_BROADCAST_INFO, &bext, sizeof bext), SF_TRUE);
    });
    for (const char* name : {"tagged-out.wav", "tagged-out.flac"}) {
        ASSERT_EQ(run({file("tagged.wav"), file(name), "--plugin", kFixture, "-q", "--json", file("t.json")})
                      .status,
                  0);
        SF_INFO info{};
        SNDFILE* out = sf_open(file(name).c_str(), SFM_READ, &info);
        ASSERT_NE(out, nullptr);
        EXPECT_STREQ(sf_get_string(out, SF_STR_TITLE), "Episode 12") << name;
        EXPECT_STREQ(sf_get_string(out, SF_STR_ARTIST), "Quellory Radio") << name;
        SF_BROADCAST_INFO bext{};
        const bool hasBext = sf_command(out, SFC_GET_BROADCAST_INFO, &bext, sizeof bext) == SF_TRUE;
        sf_close(out);
        const Json json = report(file("t.json"));
        if (std::string(name).ends_with(".wav")) {
            ASSERT_TRUE(hasBext);
            EXPECT_STREQ(bext.description, "Interview, take 3");
            EXPECT_STREQ(bext.originator, "Studio B");
            EXPECT_EQ(bext.time_reference_low, 123456u);
            EXPECT_EQ(json.count("output.metadata_dropped"), 0u);
        } else {
            ASSERT_EQ(json.count("output.metadata_dropped"), 1u);
            EXPECT_EQ(json.text("output.metadata_dropped.0"), "bext");
        }
        EXPECT_EQ(json.text("output.metadata_carried.0"), "title");
    }
}

// The pictures of a file as TagLib reads them: ID3's in MP3, WAV and AIFF, FLAC's and Ogg's blocks.
std::vector<std::string> picturesIn(const fs::path& path) {
    std::vector<std::string> found;
    TagLib::FileRef ref(path.c_str());
    if (ref.isNull()) return found;
    TagLib::ID3v2::Tag* id3 = nullptr;
    if (auto* mp3 = dynamic_cast<TagLib::MPEG::File*>(ref.file())) id3 = mp3->ID3v2Tag();
    if (auto* wav = dynamic_cast<TagLib::RIFF::WAV::File*>(ref.file())) id3 = wav->ID3v2Tag();
    if (auto* aiff = dynamic_cast<TagLib::RIFF::AIFF::File*>(ref.file())) id3 = aiff->tag();
    if (id3 != nullptr)
        for (const auto* frame : id3->frameList("APIC")) {
            const auto data = static_cast<const TagLib::ID3v2::AttachedPictureFrame*>(frame)->picture();
            found.emplace_back(data.data(), data.size());
        }
    TagLib::List<TagLib::FLAC::Picture*> blocks;
    if (auto* flac = dynamic_cast<TagLib::FLAC::File*>(ref.file())) blocks = flac->pictureList();
    if (auto* comment = dynamic_cast<TagLib::Ogg::XiphComment*>(ref.tag())) blocks = comment->pictureList();
    for (const auto* block : blocks) found.emplace_back(block->data().data(), block->data().size());
    return found;
}

TEST_F(Render, EveryTagGoesWhereTheOutputFormatHoldsItAndTheReportSaysWhatDidNot) {
    // A FLAC with libsndfile's samples and TagLib's tags: letters beyond ASCII, an ISRC, a licence, a cover.
    writeAudio(file("in.flac"), programme(2, 1.0, SF_FORMAT_FLAC | SF_FORMAT_PCM_16));
    const std::vector<std::pair<std::string, std::string>> tags = {
        {"TITLE", "Flüsse"},        {"ARTIST", "Zoë Quellory"}, {"ALBUM", "Wasser"},
        {"DATE", "2024-05-01"},     {"GENRE", "Podcast"},       {"COMMENT", "Folge über Flüsse"},
        {"TRACKNUMBER", "7"},       {"ISRC", "DEA122400007"},   {"COPYRIGHT", "2024 Quellory"},
        {"LICENSE", "CC BY-SA 4.0"}};
    const std::string cover = std::string("\x89PNG\r\n\x1a\n", 8) + "a cover";
    {
        TagLib::FLAC::File flac(file("in.flac").c_str());
        for (const auto& [key, value] : tags)
            flac.xiphComment(true)->addField(key, TagLib::String(value, TagLib::String::UTF8));
        auto* picture = new TagLib::FLAC::Picture;
        picture->setType(TagLib::FLAC::Picture::FrontCover);
        picture->setMimeType("image/png");
        picture->setData(TagLib::ByteVector(cover.data(), unsigned(cover.size())));
        flac.addPicture(picture);
        ASSERT_TRUE(flac.save());
    }
    const std::vector<std::string> all = {"title",     "artist",  "album",        "date",
                                          "genre",     "comment", "track number", "ISRC",
                                          "copyright", "license", "picture"};
    for (const std::string format : {"wav", "flac", "aiff", "mp3", "ogg", "opus", "caf"}) {
        const std::string name = "out." + format;
        const RunResult result =
            run({file("in.flac"), file(name), "--plugin", kFixture, "--json", file("r.json")});
        ASSERT_EQ(result.status, 0) << result.err;
        const Json json = report(file("r.json"));
        std::vector<std::string> carried, dropped;
        for (size_t i = 0; i < json.count("output.metadata_carried"); ++i)
            carried.push_back(json.text("output.metadata_carried." + std::to_string(i)));
        for (size_t i = 0; i < json.count("output.metadata_dropped"); ++i)
            dropped.push_back(json.text("output.metadata_dropped." + std::to_string(i)));
        if (format == "caf") {
            // Through libsndfile's strings: no place for an ISRC or a picture.
            EXPECT_EQ(dropped, (std::vector<std::string>{"ISRC", "picture"}));
            EXPECT_NE(result.out.find("Not carried: ISRC, picture\n"), std::string::npos) << result.out;
            SF_INFO info{};
            SNDFILE* caf = sf_open(file(name).c_str(), SFM_READ, &info);
            ASSERT_NE(caf, nullptr);
            EXPECT_STREQ(sf_get_string(caf, SF_STR_TITLE), "Flüsse");
            EXPECT_STREQ(sf_get_string(caf, SF_STR_LICENSE), "CC BY-SA 4.0");
            sf_close(caf);
            continue;
        }
        EXPECT_EQ(carried, all) << name;
        EXPECT_EQ(dropped, std::vector<std::string>{}) << name;
        EXPECT_EQ(result.out.find("Not carried"), std::string::npos) << result.out;
        TagLib::FileRef written(file(name).c_str());
        ASSERT_FALSE(written.isNull()) << name;
        const TagLib::PropertyMap properties = written.file()->properties();
        for (const auto& [key, value] : tags) {
            ASSERT_EQ(properties[key].size(), 1u) << name << " " << key;
            EXPECT_EQ(properties[key].front().to8Bit(true), value) << name << " " << key;
        }
        EXPECT_EQ(picturesIn(file(name)), std::vector<std::string>{cover}) << name;
        // The same render writes the same bytes, tags and all.
        ASSERT_EQ(run({file("in.flac"), file("again." + format), "--plugin", kFixture, "-q"}).status, 0);
        EXPECT_TRUE(slurp(file(name)) == slurp(file("again." + format))) << name;
    }
    // MP3: ID3v2.4, whose text frames say UTF-8 (encoding 3) and hold it; no Latin-1 ID3v1 tag at the end.
    const std::string mp3 = slurp(file("out.mp3"));
    EXPECT_EQ(mp3.substr(0, 4), "ID3\x04");
    EXPECT_NE(mp3.find(std::string("TIT2\0\0\0\x08\0\0\x03"
                                   "Fl\xC3\xBCsse",
                                   17)),
              std::string::npos);
    EXPECT_NE(mp3.substr(mp3.size() - 128, 3), "TAG");
    // An MP3 whose frames say Latin-1 but hold UTF-8, as libsndfile writes them, is read as the UTF-8 it is.
    writeAudio(file("lame.mp3"), programme(2, 1.0, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III),
               [](SNDFILE* mp3) { sf_set_string(mp3, SF_STR_TITLE, "Flüsse"); });
    ASSERT_EQ(run({file("lame.mp3"), file("lame.flac"), "--plugin", kFixture, "-q"}).status, 0);
    EXPECT_EQ(TagLib::FileRef(file("lame.flac").c_str()).tag()->title().to8Bit(true), "Flüsse");
    // WAV's RIFF INFO and AIFF's own chunks, as libsndfile and players that read no ID3 see them.
    for (const char* name : {"out.wav", "out.aiff"}) {
        SF_INFO info{};
        SNDFILE* written = sf_open(file(name).c_str(), SFM_READ, &info);
        ASSERT_NE(written, nullptr);
        EXPECT_STREQ(sf_get_string(written, SF_STR_TITLE), "Flüsse") << name;
        EXPECT_STREQ(sf_get_string(written, SF_STR_ARTIST), "Zoë Quellory") << name;
        EXPECT_STREQ(sf_get_string(written, SF_STR_COPYRIGHT), "2024 Quellory") << name;
        EXPECT_EQ(readAudio(file(name)).frames(), size_t(kRate)) << name;
        sf_close(written);
    }
}

TEST_F(Render, SixteenBitOutputIsDitheredTheSameEveryTimeAndSilenceStaysSilent) {
    // Silence, a 1 kHz tone of 0.3 steps of 16-bit, silence: rounded without dither the tone is gone.
    const double step = 1.0 / 32768, amplitude = 0.3 * step;
    Audio input{1, kRate, SF_FORMAT_WAV | SF_FORMAT_FLOAT, std::vector<double>(4 * kRate, 0.0)};
    for (size_t i = kRate; i < 3 * kRate; ++i)
        input.samples[i] = amplitude * std::sin(2 * std::numbers::pi * 1000 * double(i) / kRate);
    writeAudio(file("in.wav"), input);
    const auto render = [&](const std::string& name, std::vector<std::string> extra) {
        std::vector<std::string> args = {file("in.wav"), file(name),        "--plugin", kFixture,
                                         "-q",           "--sample-format", "pcm16"};
        args.insert(args.end(), extra.begin(), extra.end());
        EXPECT_EQ(run(args).status, 0);
        return readAudio(file(name));
    };
    // The tone's amplitude in the output, and the spread of what is left besides the tone, in steps.
    const auto analyse = [&](const Audio& out) {
        if (out.samples.size() != input.samples.size()) return std::pair<double, double>{NAN, NAN};
        double sine = 0, cosine = 0, error = 0;
        const size_t first = kRate + kRate / 10, last = 3 * kRate - kRate / 10;
        for (size_t i = first; i < last; ++i) {
            const double phase = 2 * std::numbers::pi * 1000 * double(i) / kRate;
            sine += out.samples[i] * std::sin(phase), cosine += out.samples[i] * std::cos(phase);
            error += std::pow(out.samples[i] - input.samples[i], 2);
        }
        const double n = double(last - first);
        return std::pair{2 * std::hypot(sine, cosine) / n / step, std::sqrt(error / n) / step};
    };

    const Audio dithered = render("dithered.wav", {});
    ASSERT_EQ(dithered.samples.size(), input.samples.size());
    const auto [tone, spread] = analyse(dithered);
    EXPECT_NEAR(tone, 0.3, 0.03);
    // TPDF of one step either way plus rounding: a spread of half a step (rounding alone gives 0.29).
    EXPECT_NEAR(spread, 0.5, 0.03);
    // Silence before and after stays digital silence, away from where the tone ends.
    for (size_t i = 0; i < 4 * size_t(kRate); ++i) {
        if (i < size_t(kRate) || i > 3 * size_t(kRate) + 64) {
            ASSERT_EQ(dithered.samples[i], 0.0) << "frame " << i;
        }
    }
    // The same command writes the same bytes.
    render("again.wav", {});
    EXPECT_EQ(slurp(file("again.wav")), slurp(file("dithered.wav")));

    const auto [plainTone, plainSpread] = analyse(render("plain.wav", {"--no-dither"}));
    EXPECT_LT(plainTone, 0.01);
    EXPECT_NEAR(plainSpread, 0.3 / std::sqrt(2.0), 0.01); // all zeros: the tone is the error
}

// Bytes with a little-endian number of `width` bytes put at `offset`.
std::string patched(std::string bytes, size_t offset, uint64_t value, size_t width) {
    for (size_t i = 0; i < width; ++i) bytes[offset + i] = char(value >> (8 * i) & 0xFF);
    return bytes;
}

TEST_F(Render, DamagedRecordingsAreLevelledAsFarAsTheyGoWithAWarningOfWhatTheHeaderClaimsAndTheFileHolds) {
    constexpr size_t kFrames = 96000; // two seconds
    const Audio source = programme(2, 2.0, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    ASSERT_EQ(source.frames(), kFrames);
    fs::create_directories(file("in"));
    std::map<std::string, std::string> made;
    for (const auto& [name, format] : std::vector<std::pair<std::string, int>>{{"wav", SF_FORMAT_WAV},
                                                                               {"rf64", SF_FORMAT_RF64},
                                                                               {"w64", SF_FORMAT_W64},
                                                                               {"aiff", SF_FORMAT_AIFF},
                                                                               {"flac", SF_FORMAT_FLAC}}) {
        Audio audio = source;
        audio.format = format | SF_FORMAT_PCM_16;
        writeAudio(file("good." + name), audio);
        made[name] = slurp(file("good." + name));
        fs::rename(file("good." + name), file("in/good." + name));
    }
    // The samples as 16-bit files hold them.
    const Audio held = readAudio(file("in/good.wav"));
    const std::string& wav = made["wav"];
    ASSERT_EQ(wav.substr(36, 4), "data"); // a plain 44-byte header: the data size at byte 40
    const size_t wideData = made["rf64"].find("ds64") + 16, w64Data = made["w64"].find("data") + 16;
    const std::string twoSeconds = "0:02 of audio (96000 frames)";
    const std::string tagsAfter("LIST\x16\0\0\0INFOISFT\x0a\0\0\0Recorder\0\0", 30);
    struct Damage {
        std::string name, bytes;
        size_t frames;       // found in the file; 0 for some but not all
        std::string warning; // empty for none
    };
    const std::vector<Damage> damaged = {
        // A recorder that stopped before filling in the sizes.
        {"unfinished.wav", patched(wav, 40, 0, 4), kFrames,
         "the header was never finished: it claims 0:00 of audio (0 frames), the file holds 0:02 (96000 "
         "frames); read to the end of the file"},
        {"unset.wav", patched(wav, 40, 0xFFFFFFFF, 4), kFrames,
         "the header was never finished: it claims 6:12:50 of audio (1073741823 frames), the file holds 0:02 "
         "(96000 frames)"},
        // A writer that streamed the audio, added its tags at the end and never went back to the sizes.
        {"tagged-after.wav", patched(wav, 40, 0, 4) + tagsAfter, kFrames,
         "the header was never finished: it claims 0:00 of audio (0 frames), the file holds 0:02 (96000 "
         "frames)"},
        {"unset-tagged-after.wav", patched(wav, 40, 0xFFFFFFFF, 4) + tagsAfter, kFrames,
         "the header was never finished: it claims 6:12:50 of audio (1073741823 frames), the file holds 0:02 "
         "(96000 frames)"},
        {"unfinished.rf64", patched(made["rf64"], wideData, 0, 8), kFrames,
         "the header was never finished: it claims 0:00 of audio (0 frames), the file holds 0:02"},
        {"unfinished.w64", patched(made["w64"], w64Data, 0, 8), kFrames,
         "the header was never finished: it claims 0:00 of audio (0 frames), the file holds 0:02"},
        // Headers that claim more than the file holds: copies cut short.
        {"claims-more.wav", patched(wav, 40, 4 * 2 * kFrames, 4), kFrames,
         "the header claims 0:04 of audio (192000 frames), the file holds only 0:02 (96000 frames): cut "
         "short "
         "or damaged; levelled as far as it goes"},
        {"cut.wav", wav.substr(0, 44 + 4 * kFrames / 2 + 3), kFrames / 2,
         "the header claims " + twoSeconds + ", the file holds only 0:01 (48000 frames)"},
        {"cut.aiff", made["aiff"].substr(0, made["aiff"].size() / 2), 0, "the header claims " + twoSeconds},
        {"cut.flac", made["flac"].substr(0, made["flac"].size() / 2), 0,
         "the header claims " + twoSeconds + ", the audio breaks off after"},
        // Really empty: the data chunk holds nothing and another chunk follows it.
        {"empty.wav",
         patched(wav.substr(0, 40) + std::string(4, '\0') + "LIST" + std::string("\4\0\0\0INFO", 8), 4,
                 36 + 12, 4),
         0, ""},
    };
    for (const auto& damage : damaged)
        std::ofstream(file("in/" + damage.name), std::ios::binary) << damage.bytes;

    const auto check = [&](const std::string& name, const std::string& output, const std::string& messages) {
        const auto found =
            std::find_if(damaged.begin(), damaged.end(), [&](const auto& d) { return d.name == name; });
        const bool good = found == damaged.end();
        const Audio out = readAudio(output);
        if (good || found->frames > 0 || found->name == "empty.wav") {
            EXPECT_EQ(out.frames(), good ? kFrames : found->frames) << name;
        } else {
            EXPECT_GT(out.frames(), 0u) << name;
            EXPECT_LT(out.frames(), kFrames) << name;
        }
        // The samples the file holds, exactly.
        EXPECT_TRUE(std::equal(out.samples.begin(), out.samples.end(), held.samples.begin())) << name;
        if (good || found->warning.empty())
            EXPECT_EQ(messages.find("warning"), std::string::npos) << name << ": " << messages;
        else
            EXPECT_NE(messages.find(found->warning), std::string::npos) << name << ": " << messages;
    };
    for (const auto& entry : fs::directory_iterator(file("in"))) {
        const std::string name = entry.path().filename().string();
        const RunResult result = run({entry.path(), file("out.wav"), "--plugin", kFixture, "--no-ceiling",
                                      "--sample-format", "float", "-q"});
        ASSERT_EQ(result.status, 0) << name << ": " << result.err;
        check(name, file("out.wav"), result.err);
    }
    // In a batch, each is done with its warning and complete: a resumed batch rightly leaves it alone.
    const RunResult batch = run({"--plugin", kFixture, "--out-dir", file("out"), file("in"), "--no-ceiling",
                                 "--no-dither", "--json", file("batch.json"), "--strict", "-q"});
    EXPECT_EQ(batch.status, 3) << batch.err;
    const Json summary = report(file("batch.json"));
    EXPECT_EQ(*summary.number("totals.done"), double(damaged.size() + made.size()));
    for (size_t i = 0; i < summary.count("files"); ++i) {
        const std::string at = "files." + std::to_string(i);
        std::string warnings;
        for (size_t w = 0; w < summary.count(at + ".report.warnings"); ++w)
            warnings += "warning: " + summary.text(at + ".report.warnings." + std::to_string(w)) + "\n";
        check(fs::path(summary.text(at + ".input")).filename(), summary.text(at + ".output"), warnings);
    }
}

TEST_F(Render, SmallerPoints) {
    writeAudio(file("in.wav"), programme(2, 0.5, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
    // A file name that is not UTF-8 still gives valid JSON, and reads back byte for byte.
    const std::string latin1 = "caf\xE9.wav";
    fs::copy_file(file("in.wav"), file(latin1));
    ASSERT_EQ(
        run({file(latin1), file("out.wav"), "--plugin", kFixture, "-q", "--json", file("r.json")}).status, 0);
    const Json json = report(file("r.json"));
    EXPECT_EQ(json.text("input.file"), file(latin1).string());
    EXPECT_NE(slurp(file("r.json")).find("caf\\udce9.wav"), std::string::npos);

    // An output that exists keeps its permissions.
    ASSERT_EQ(chmod(file("out.wav").c_str(), 0640), 0);
    ASSERT_EQ(run({file("in.wav"), file("out.wav"), "--plugin", kFixture, "-q"}).status, 0);
    struct stat status {};
    ASSERT_EQ(stat(file("out.wav").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);

    const RunResult version = run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("vandrel2-render 1.", 0), 0u) << version.out;
    EXPECT_NE(version.out.find("libsndfile"), std::string::npos) << version.out;
    EXPECT_NE(run({"--help"}).out.find("--true-peak"), std::string::npos);

    // One of a thing is one: a delay of 1 sample, a batch of 1 file.
    const RunResult delayed =
        run({file("in.wav"), file("delayed.wav"), "--plugin", kFixture, "--set", "Delay=1"});
    EXPECT_NE(delayed.out.find("latency 1 sample, compensated"), std::string::npos) << delayed.out;
    const RunResult single = run({"--out-dir", file("one"), file("in.wav"), "--plugin", kFixture});
    EXPECT_NE(single.out.find("\n1 file: 1 done"), std::string::npos) << single.out;
    // A format or a setting that cannot be is a mistake in the command: found before any file is tried.
    for (const auto& [args, reason] : {std::pair<std::vector<std::string>, std::string>{
                                           {"--format", "xyz"}, "unknown audio format '.xyz'"},
                                       {{"--set", "Gain=100"}, "outside its range"}}) {
        std::vector<std::string> command = {"--out-dir", file("batch"), file("in.wav"), "--plugin", kFixture};
        command.insert(command.end(), args.begin(), args.end());
        const RunResult refused = run(command);
        EXPECT_EQ(refused.status, 2) << refused.err;
        EXPECT_NE(refused.err.find(reason), std::string::npos) << refused.err;
        EXPECT_EQ(std::count(refused.err.begin(), refused.err.end(), '\n'), 1) << refused.err;
        EXPECT_FALSE(fs::exists(file("batch/in.wav")));
    }
    EXPECT_EQ(run({file("in.wav"), file("loud.wav"), "--plugin", kFixture, "--set", "Gain=100"}).status, 2);
}

#ifdef VANDREL_PLUGIN_PATH

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

const fs::path kInterview = fs::path(VANDREL_SOURCE_DIR) / "examples" / "interview.flac";

TEST_F(RenderVandrel, LevelledToMinus16TheWrittenFileStaysUnderTheCeilingAndTheReportDescribesIt) {
    // The bundled interview's first 30 s (host and guest), into 16-bit FLAC as it comes and 24-bit WAV, and
    // without the ceiling into 16-bit FLAC, where the loudest peaks clip, and into floats, the loudness the
    // ceiling is held against.
    Audio interview = readAudio(kInterview);
    interview.samples.resize(size_t(30 * interview.rate * interview.channels));
    writeAudio(file("in.flac"), interview);
    struct Case {
        std::string name;
        std::vector<std::string> extra;
    };
    const Case cases[] = {{"out.flac", {}},
                          {"out.wav", {"--sample-format", "pcm24"}},
                          {"open.flac", {"--no-ceiling"}},
                          {"open.wav", {"--no-ceiling", "--sample-format", "float"}}};
    std::map<std::string, Measured> written;
    for (const auto& [name, extra] : cases) {
        std::vector<std::string> args = {file("in.flac"), file(name), "--target",
                                         "-16",           "--json",   file(name + ".json")};
        args.insert(args.end(), extra.begin(), extra.end());
        const RunResult result = run(args);
        ASSERT_EQ(result.status, 0) << result.err;
        written[name] = measure(readAudio(file(name)));
        const Measured& file = written[name];
        const Json json = report(this->file(name + ".json"));
        // The report is of the samples in the file.
        EXPECT_NEAR(*json.number("output.integrated_lufs"), file.integrated, 0.01) << name;
        EXPECT_NEAR(*json.number("output.true_peak_dbtp"), file.truePeak, 0.01) << name;
        EXPECT_NEAR(file.integrated, -16.0, 1.0) << name;
        EXPECT_EQ(*json.number("target.lufs"), -16.0);
        EXPECT_NEAR(*json.number("target.deviation_lu"), *json.number("output.integrated_lufs") + 16.0, 1e-3);
        if (name.starts_with("out")) {
            EXPECT_LE(file.truePeak, -1.0 + 0.1) << name;
            EXPECT_EQ(*json.number("output.clipped_samples"), 0.0) << name;
            EXPECT_EQ(result.err, "") << name;
        } else if (name == "open.flac") {
            const double clipped = *json.number("output.clipped_samples");
            EXPECT_GT(clipped, 0.0);
            EXPECT_NE(result.err.find("warning: " + std::to_string(int64_t(clipped)) + " samples clipped"),
                      std::string::npos)
                << result.err;
        }
    }
    // Transparent: the loudness barely moves.
    EXPECT_LT(std::abs(written["out.flac"].integrated - written["open.wav"].integrated), 0.3);
    EXPECT_LT(std::abs(written["out.wav"].integrated - written["open.wav"].integrated), 0.3);
    // Dither and all, the same command writes the same bytes.
    ASSERT_EQ(run({file("in.flac"), file("again.flac"), "--target", "-16", "-q"}).status, 0);
    EXPECT_EQ(slurp(file("again.flac")), slurp(file("out.flac")));
}

TEST_F(RenderVandrel, AQuietRecordingUnderTheNoiseFloorIsWarnedOfWithTheFloorToSet) {
    // The interview 35 dB down: about -60 LUFS, peaks about -41 dBFS, under the default floor of -40.
    Audio quiet = readAudio(kInterview);
    for (double& sample : quiet.samples) sample *= std::pow(10.0, -35.0 / 20.0);
    quiet.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    writeAudio(file("quiet.wav"), quiet);
    const RunResult result = run({file("quiet.wav"), file("out.wav"), "-q", "--json", file("r.json")});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.err.find("warning: "), std::string::npos);
    EXPECT_NE(result.err.find("below the Noise Floor"), std::string::npos) << result.err;
    EXPECT_EQ(report(file("r.json")).count("warnings"), 1u);
    const RunResult strict = run({file("quiet.wav"), file("strict.wav"), "-q", "--strict"});
    EXPECT_EQ(strict.status, 3);
    EXPECT_EQ(strict.err, result.err);
    EXPECT_TRUE(fs::exists(file("strict.wav")));
    // The floor it suggests opens the gate: the output is no longer silent.
    const std::string marker = "--set \"Noise Floor=";
    const auto at = result.err.find(marker);
    ASSERT_NE(at, std::string::npos) << result.err;
    const std::string floor =
        result.err.substr(at + marker.size(), result.err.find('"', at + marker.size()) - at - marker.size());
    EXPECT_LE(std::stod(floor), -50.0);
    ASSERT_EQ(run({file("quiet.wav"), file("opened.wav"), "-q", "--set", "Noise Floor=" + floor}).status, 0);
    EXPECT_GT(integratedLoudness(readAudio(file("opened.wav"))), -40.0);
}

TEST_F(RenderVandrel, StatesAreCheckedBeforeRenderingAndNeverWrittenOverTheInput) {
    writeAudio(file("in.wav"), programme(2, 0.5, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
    const std::string input = slurp(file("in.wav"));
    ASSERT_EQ(run({"--list-params", "--set", "Target LUFS=-16", "--save-state", file("good.state")}).status,
              0);
    const std::string good = slurp(file("good.state"));
    ASSERT_EQ(good.size(), 260u);
    const auto state = [&](const std::string& name, const std::string& bytes) {
        std::ofstream(file(name), std::ios::binary) << bytes;
    };
    std::mt19937 random(4);
    std::string noise(260, '\0');
    for (char& byte : noise) byte = char(random());
    state("noise.state", noise);
    state("short.state", good.substr(0, 256));
    std::string nan = good;
    const float notANumber = std::nanf("");
    for (size_t at = 4; at < nan.size(); at += 4) std::memcpy(&nan[at], &notANumber, 4);
    state("nan.state", nan);
    fs::copy_file(kInterview, file("interview.flac"));
    fs::create_directory(file("folder.state"));
    const std::set<std::string> files = {"in.wav",    "good.state",     "noise.state", "short.state",
                                         "nan.state", "interview.flac", "folder.state"};
    const std::string out = file("out.wav");
    expectFailure({file("in.wav"), out, "--load-state", file("noise.state")}, "noise.state",
                  "is not a Vandrel 2 state: it does not begin with the state's marker", files);
    expectFailure({file("in.wav"), out, "--load-state", file("short.state")}, "short.state",
                  "256 bytes where a state has 260", files);
    expectFailure({file("in.wav"), out, "--load-state", file("nan.state")}, "nan.state",
                  "value 1 is not a finite number", files);
    expectFailure({file("in.wav"), out, "--load-state", file("interview.flac")}, "interview.flac",
                  "is not a Vandrel 2 state", files);
    expectFailure({file("in.wav"), out, "--load-state", file("folder.state")}, "folder.state", "is a folder",
                  files);
    expectFailure({"--list-params", file("in.wav"), "--save-state", file("in.wav")}, "in.wav",
                  "is the input file", files);
    for (const char* option : {"--save-state", "--json", "--plot"}) {
        expectFailure({file("in.wav"), out, option, file("in.wav")}, "in.wav (" + std::string(option) + ")",
                      "is the same file as " + file("in.wav").string() + " (the input file)", files);
        expectFailure({file("in.wav"), out, option, out}, "out.wav (" + std::string(option) + ")",
                      "is the same file as " + out + " (the output file)", files);
    }
    EXPECT_EQ(slurp(file("in.wav")), input);
    // A good state is taken, and settings apply after it.
    ASSERT_EQ(
        run({file("in.wav"), out, "-q", "--load-state", file("good.state"), "--json", file("r.json")}).status,
        0);
    EXPECT_EQ(*report(file("r.json")).number("target.lufs"), -16.0);
}

TEST_F(RenderVandrel, ParametersByNameAndNumberAndState) {
    const RunResult byName = run({"--list-params", "--set", "Target LUFS=-16", "--set", "Automatic Trim=off",
                                  "--save-state", file("a.bin")});
    ASSERT_EQ(byName.status, 0) << byName.err;
    const std::map<std::string, std::string> target = {
        {"#", "2"},    {"Name", "Target LUFS"}, {"Unit", "LUFS"},   {"Range", "-46.00 to 0.00"},
        {"Step", "1"}, {"Default", "-23.00"},   {"Value", "-16.00"}};
    EXPECT_EQ(listedRow(byName.out, "Target LUFS"), target) << byName.out;
    // Steps as the plug-in rounds to them; switches in words.
    EXPECT_EQ(listedRow(byName.out, "Input Trim [dB]").at("Step"), "0.5") << byName.out;
    EXPECT_EQ(listedRow(byName.out, "Input Trim [dB]").at("Unit"), "dB") << byName.out;
    EXPECT_EQ(listedRow(byName.out, "Gate Speed").at("Step"), "10") << byName.out;
    EXPECT_EQ(listedRow(byName.out, "HPF").at("Step"), "0.1") << byName.out;
    const std::map<std::string, std::string> automatic = {
        {"#", "5"},   {"Name", "Automatic Trim"}, {"Unit", ""},    {"Range", "off / on"},
        {"Step", ""}, {"Default", "on"},          {"Value", "off"}};
    EXPECT_EQ(listedRow(byName.out, "Automatic Trim"), automatic) << byName.out;
    EXPECT_EQ(fs::file_size(file("a.bin")), 260u);
    ASSERT_EQ(
        run({"--list-params", "--set", "2=-16", "--set", "5=0", "--save-state", file("off.bin")}).status, 0);
    EXPECT_EQ(slurp(file("a.bin")), slurp(file("off.bin")));
    // A value the plug-in does not take is a mistake in the command, as any bad option value is.
    writeAudio(file("in.wav"), programme(2, 0.5, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
    const RunResult stepped = run({file("in.wav"), file("out.wav"), "--target", "-16.5"});
    EXPECT_EQ(stepped.status, 2);
    EXPECT_NE(stepped.err.find("cannot be set to -16.5"), std::string::npos) << stepped.err;
    const RunResult notSwitched = run({"--list-params", "--set", "Automatic Trim=2"});
    EXPECT_EQ(notSwitched.status, 2);
    EXPECT_NE(notSwitched.err.find("'2' is not a value it takes (off or on)"), std::string::npos)
        << notSwitched.err;
    EXPECT_EQ(notSwitched.err.find(".00"), std::string::npos) << notSwitched.err;

    // Every unit the parameter table gives, though the plug-in reports none; a name may carry its unit,
    // as the README writes them, and so may a value.
    const RunResult units = run({"--list-params", "--set", "Gate Speed (ms)=300", "--set",
                                 "Fast Dynamics Max Gain (dB)=3 dB", "--set", "Noise Floor [dBfs]=-50 dBFS"});
    ASSERT_EQ(units.status, 0) << units.err;
    for (const auto& row : leveler::kParameters)
        EXPECT_EQ(listedRow(units.out, row.name).at("Unit"), row.unit) << row.name << "\n" << units.out;
    EXPECT_EQ(listedRow(units.out, "Gate Speed").at("Value"), "300.00") << units.out;
    EXPECT_EQ(listedRow(units.out, "Fast Dynamics Max Gain").at("Value"), "3.00") << units.out;
    EXPECT_EQ(listedRow(units.out, "Noise Floor [dBfs]").at("Value"), "-50.00") << units.out;
    const RunResult otherUnit = run({"--list-params", "--set", "Gate Speed (s)=0.3"});
    EXPECT_EQ(otherUnit.status, 2);
    EXPECT_NE(otherUnit.err.find("parameter 'Gate Speed' is in ms, not s"), std::string::npos)
        << otherUnit.err;
}
#endif

} // namespace
