// vandrel2-render on batches: many files on several jobs, failures, signals and resuming, and the GNU
// parallel recipe that spreads a batch over machines. Each output must be what a single render of its
// file writes.
#include "test_render_support.h"

namespace {

using namespace render_test;

// Everything under a folder, by path: each file's bytes, each link's target. What a refused command must
// leave as it was.
std::map<std::string, std::string> snapshot(const fs::path& folder) {
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string name = entry.path().lexically_relative(folder).string();
        if (entry.is_symlink())
            tree[name] = "link to " + fs::read_symlink(entry.path()).string();
        else if (entry.is_regular_file())
            tree[name] = slurp(entry.path());
        else
            tree[name] = "folder";
    }
    return tree;
}

// The record of the file whose input ends with `name`.
std::string recordStatus(const Json& json, const std::string& name, const std::string& key = "status") {
    for (size_t i = 0; i < json.count("files"); ++i)
        if (json.text("files." + std::to_string(i) + ".input").ends_with(name))
            return json.text("files." + std::to_string(i) + "." + key);
    return "no record";
}

#ifdef VANDREL_PLUGIN_PATH
TEST_F(RenderVandrel, EachFileIsWrittenAsItsSingleRenderWhateverTheJobsWithTheFoldersLayoutAndFailuresApart) {
    fs::create_directories(file("in/sub/deeper"));
    writeAudio(file("in/a.wav"), programme(2, 3.0, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1));
    writeAudio(file("in/sub/deeper/b.flac"), programme(2, 4.0, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 2));
    writeAudio(file("in/sub/c.wav"), programme(1, 2.0, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 3));
    // Between the others in the order files are taken, and a name that is no audio file's, left alone.
    std::ofstream(file("in/sub/bad.wav")) << "not audio\n";
    std::ofstream(file("in/notes.txt")) << "not audio either\n";
    const std::map<std::string, std::string> outputs = {
        {"a.wav", "a.flac"}, {"sub/deeper/b.flac", "sub/deeper/b.flac"}, {"sub/c.wav", "sub/c.flac"}};

    for (const std::string jobs : {"1", "2"}) {
        const std::string out = "out" + jobs;
        std::vector<std::string> args = {"--out-dir", file(out), "--format",         "flac", "-j", jobs,
                                         file("in"),  "--json",  file(out + ".json")};
        // Leaving the inputs unmeasured changes nothing that is written; each file's own report beside it,
        // only when asked for.
        const bool measured = jobs == "1";
        args.push_back(measured ? "--json-each" : "--no-input-loudness");
        const RunResult result = run(args);
        EXPECT_EQ(result.status, 4) << result.err;
        // A line per file on stderr, the failure among them; the table names it and why.
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 4) << result.err;
        EXPECT_NE(result.err.find("failed: " + file("in/sub/bad.wav").string() + ": cannot read as audio"),
                  std::string::npos)
            << result.err;
        EXPECT_NE(result.out.find("3 done, 1 failed"), std::string::npos) << result.out;
        EXPECT_NE(result.out.find("bad.wav: cannot read as audio"), std::string::npos) << result.out;

        std::set<std::string> expected;
        for (const auto& [input, output] : outputs) {
            expected.insert(output);
            if (measured) expected.insert(output + ".json");
        }
        EXPECT_EQ(filesUnder(file(out)), expected);
        const Json json = report(file(out + ".json"));
        ASSERT_EQ(json.count("files"), 4u);
        EXPECT_EQ(*json.number("totals.done"), 3.0);
        EXPECT_EQ(*json.number("totals.failed"), 1.0);
        EXPECT_EQ(recordStatus(json, "bad.wav"), "failed");
        EXPECT_NE(recordStatus(json, "bad.wav", "error").find("cannot read as audio"), std::string::npos);
        // Each record describes the file written.
        for (size_t i = 0; i < json.count("files"); ++i) {
            const std::string at = "files." + std::to_string(i);
            if (json.text(at + ".status") != "done") continue;
            const double written = integratedLoudness(readAudio(json.text(at + ".output")));
            EXPECT_NEAR(*json.number(at + ".report.output.integrated_lufs"), written, 0.01) << at;
            EXPECT_EQ(json.number(at + ".report.input.integrated_lufs").has_value(), measured) << at;
            if (measured) {
                EXPECT_EQ(report(json.text(at + ".output") + ".json").number("output.integrated_lufs"),
                          json.number(at + ".report.output.integrated_lufs"));
            }
        }
    }
    fs::create_directories(file("single/sub/deeper"));
    for (const auto& [input, output] : outputs) {
        ASSERT_EQ(run({file("in/" + input), file("single/" + output), "-q"}).status, 0) << input;
        const std::string single = slurp(file("single/" + output));
        EXPECT_TRUE(slurp(file("out1/" + output)) == single) << output;
        EXPECT_TRUE(slurp(file("out2/" + output)) == single) << output;
    }
}

TEST_F(RenderVandrel, TheGnuParallelRecipeWritesWhatThePlainBatchWritesAndMergesItsSummary) {
    fs::create_directories(file("in/season 1"));
    for (unsigned i = 0; i < 5; ++i)
        writeAudio(file("in/season 1/episode " + std::to_string(i) + ".wav"),
                   programme(2, 1.5 + i, SF_FORMAT_WAV | SF_FORMAT_PCM_16, i));
    const std::vector<std::string> batch = {"--out-dir", file("levelled"), "--format", "flac", file("in")};
    std::vector<std::string> plain = batch;
    plain.insert(plain.end(), {"--json", file("plain.json"), "-q"});
    ASSERT_EQ(run(plain).status, 0);
    fs::rename(file("levelled"), file("plain"));
    const std::string plainSummary = timingFree(slurp(file("plain.json")));

    // On local jobs, and through the path that logs in to a machine (":" is this one).
    for (const std::string logins : {"", ":"}) {
        std::string command = quote(VANDREL_SOURCE_DIR "/scripts/batch_parallel.sh") + " -n 3 -r " +
                              quote(kRenderer) + " -o " + quote(file("merged.json"));
        if (!logins.empty()) command += " -S " + quote(logins);
        command += " --";
        for (const auto& arg : batch) command += " " + quote(arg);
        command += " >" + quote(file("table.txt")) + " 2>" + quote(file("err.txt"));
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << slurp(file("err.txt"));
        EXPECT_NE(slurp(file("table.txt")).find("5 files: 5 done"), std::string::npos)
            << slurp(file("table.txt"));
        // Three parts' records, merged into what the plain batch wrote.
        EXPECT_EQ(filesUnder(file("merged.parts")).size(), 3u);
        EXPECT_EQ(timingFree(slurp(file("merged.json"))), plainSummary);
        EXPECT_EQ(filesUnder(file("levelled")), filesUnder(file("plain")));
        for (const auto& name : filesUnder(file("plain")))
            EXPECT_TRUE(slurp(file("levelled") / name) == slurp(file("plain") / name)) << name;
        fs::remove_all(file("levelled"));
        fs::remove_all(file("merged.parts"));
    }
}
#endif

TEST_F(Render, EveryFileARunWritesIsCheckedAgainstEveryFileItReadsOrWritesBeforeAnythingIsTouched) {
    const auto f = [&](const std::string& name) { return file(name).string(); };
    fs::create_directories(f("in/sub"));
    fs::create_directories(f("other"));
    for (const std::string name : {"in/ep01.wav", "in/ep02.wav", "in/sub/ep03.wav", "other/ep01.wav"})
        writeAudio(f(name), programme(2, 0.5, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
    std::ofstream(f("list.txt")) << f("in/ep01.wav") << "\n";
    fs::create_directory_symlink(f("in"), f("in-link"));
    const std::string in = f("in"), out = f("out");
    const std::vector<std::string> batch = {"--plugin", kFixture, "--out-dir", out, in};
    const auto with = [&](std::vector<std::string> args, const std::vector<std::string>& more) {
        args.insert(args.end(), more.begin(), more.end());
        return args;
    };
    struct Clash {
        std::vector<std::string> args;
        std::string written, other; // as the error names them
    };
    const std::vector<Clash> clashes = {
        {with(batch, {"--json", f("in/ep02.wav")}), f("in/ep02.wav") + " (--json)",
         f("in/ep02.wav") + " (an input)"},
        {with(batch, {"--json", f("out/ep01.wav")}), f("out/ep01.wav") + " (--json)",
         f("out/ep01.wav") + " (the output of " + f("in/ep01.wav") + ")"},
        {with(batch, {"--json-each", "--json", f("out/sub/ep03.wav.json")}),
         f("out/sub/ep03.wav.json") + " (--json)", " (the report of " + f("in/sub/ep03.wav") + ")"},
        {{"--plugin", kFixture, "--out-dir", out, "--from-list", f("list.txt"), "--json", f("list.txt")},
         f("list.txt") + " (--json)",
         f("list.txt") + " (--from-list)"},
        // One file's output is another's input.
        {{"--plugin", kFixture, "--out-dir", f("other"), f("in/ep01.wav"), f("other/ep01.wav")},
         f("other/ep01.wav") + " (the output of " + f("in/ep01.wav") + ")",
         f("other/ep01.wav")},
        {{"--plugin", kFixture, "--out-dir", in, in}, in + " (--out-dir)", "the input folder " + in},
        {{"--plugin", kFixture, "--out-dir", f("in-link"), in},
         f("in-link") + " (--out-dir)",
         "the input folder " + in},
        {{f("in/ep01.wav"), f("o.wav"), "--plugin", kFixture, "--json", f("r"), "--plot", f("r")},
         f("r") + " (--plot)",
         f("r") + " (--json)"},
        {{f("in/ep01.wav"), f("o.wav"), "--plugin", kFixture, "--save-state", f("s"), "--json", f("s")},
         f("s") + " (--save-state)",
         f("s") + " (--json)"},
    };
    const auto before = snapshot(dir_);
    for (const auto& clash : clashes) {
        const RunResult result = run(clash.args);
        EXPECT_EQ(result.status, 2) << clash.written << ": " << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_NE(result.err.find(clash.written), std::string::npos) << result.err;
        EXPECT_NE(result.err.find(clash.other), std::string::npos) << result.err;
        EXPECT_TRUE(snapshot(dir_) == before) << clash.written;
    }
    // A state read and saved back, as the settings change it, is one use of its file.
    ASSERT_EQ(run({f("in/ep01.wav"), f("o.wav"), "--plugin", kFixture, "--save-state", f("s"), "-q"}).status,
              0);
    EXPECT_EQ(run({f("in/ep01.wav"), f("o.wav"), "--plugin", kFixture, "--load-state", f("s"), "--save-state",
                   f("s"), "--set", "Gain=6", "-q"})
                  .status,
              0);
}

TEST_F(Render, LinkedFoldersAreSearchedEachRealFolderOnceAndWhatIsLeftOutIsListedWithTheReason) {
    // Seasons on another disk, linked in twice; a link back up; a link to nothing; a pipe with an audio
    // name; a text file; and the output folder inside the input.
    fs::create_directories(file("disk2/season 1"));
    fs::create_directories(file("in/extras"));
    writeAudio(file("in/ep00.wav"), programme(2, 0.5, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1));
    writeAudio(file("disk2/season 1/ep01.wav"), programme(2, 0.5, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2));
    fs::create_directory_symlink(file("disk2/season 1"), file("in/season 1"));
    fs::create_directory_symlink(file("disk2/season 1"), file("in/the first season"));
    fs::create_directory_symlink("..", file("in/extras/up"));
    fs::create_symlink(file("disk2/gone.wav"), file("in/extras/gone.wav"));
    ASSERT_EQ(mkfifo(file("in/extras/live.wav").c_str(), 0600), 0);
    std::ofstream(file("in/extras/notes.txt")) << "not audio\n";
    const std::map<std::string, std::string> leftOut = {
        {"in/extras/gone.wav", "a link to " + file("disk2/gone.wav").string() + ", which does not exist"},
        {"in/extras/live.wav", "not a regular file"},
        {"in/extras/notes.txt", "not an audio file name"},
        {"in/extras/up", "leads to " + file("in").string() + ", searched once"},
        {"in/levelled", "the output folder; not searched"},
        {"in/the first season", "leads to " + file("in/season 1").string() + ", searched once"},
    };
    // Twice: the output folder is left out before it exists and after.
    for (const std::string json : {"first.json", "second.json"}) {
        const RunResult result = run({"--plugin", kFixture, "--out-dir", file("in/levelled"), file("in"),
                                      "--json", file(json), "--skip-existing", "-j", "2"});
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(filesUnder(file("in/levelled")), (std::set<std::string>{"ep00.wav", "season 1/ep01.wav"}));
        const Json summary = report(file(json));
        ASSERT_EQ(summary.count("left_out"), leftOut.size()) << slurp(file(json));
        EXPECT_EQ(*summary.number("totals.left_out"), double(leftOut.size()));
        size_t i = 0;
        for (const auto& [path, reason] : leftOut) {
            const std::string at = "left_out." + std::to_string(i++);
            EXPECT_EQ(summary.text(at + ".path"), file(path).string());
            EXPECT_EQ(summary.text(at + ".reason"), reason);
            if (reason != "not an audio file name") {
                EXPECT_NE(result.out.find("  " + file(path).string() + ": " + reason + "\n"),
                          std::string::npos)
                    << result.out;
            }
        }
        EXPECT_NE(result.out.find("Left out (6):"), std::string::npos) << result.out;
        EXPECT_NE(result.out.find("1 file not audio by name (.txt)"), std::string::npos) << result.out;
    }
    EXPECT_EQ(recordStatus(report(file("second.json")), "ep01.wav"), "skipped");
}

TEST_F(Render, PartsOfABatchMergeIntoTheWholeBatchFailuresAndNamesThatAreNotUtf8Included) {
    fs::create_directories(file("in"));
    // Two inputs for one output; two names that differ in bytes, not once read as Latin-1.
    const std::vector<std::string> names = {"x.wav", "x.flac", "bad\xFF.wav", "bad\xC3\xBF.wav", "y.wav"};
    for (unsigned i = 0; i < names.size(); ++i)
        writeAudio(file("in/" + names[i]), programme(2, 0.5 + 0.1 * i, SF_FORMAT_WAV | SF_FORMAT_PCM_16, i));
    const std::vector<std::string> batch = {"--plugin", kFixture, "--out-dir", file("levelled"),
                                            "--format", "flac",   file("in"),  "-q"};
    auto whole = batch;
    whole.insert(whole.end(), {"--json", file("whole.json")});
    EXPECT_EQ(run(whole).status, 4);
    const std::string collision = file("in/x.wav").string() + " and " + file("in/x.flac").string() +
                                  " would both be written to " + file("levelled/x.flac").string();
    EXPECT_NE(recordStatus(report(file("whole.json")), "x.wav", "error").find(collision), std::string::npos);
    fs::rename(file("levelled"), file("whole"));

    std::vector<std::string> merge = {"--merge-reports"};
    for (const std::string part : {"1/2", "2/2"}) {
        auto args = batch;
        const std::string json = file("part" + part.substr(0, 1) + ".json");
        args.insert(args.end(), {"--shard", part, "--json", json});
        run(args);
        merge.push_back(json);
    }
    merge.insert(merge.end(), {"--json", file("merged.json")});
    const RunResult merged = run(merge);
    EXPECT_EQ(merged.status, 4) << merged.out;
    EXPECT_NE(merged.out.find("5 files: 4 done, 1 failed"), std::string::npos) << merged.out;
    EXPECT_NE(merged.out.find(collision), std::string::npos) << merged.out;
    EXPECT_EQ(timingFree(slurp(file("merged.json"))), timingFree(slurp(file("whole.json"))));
    EXPECT_EQ(filesUnder(file("levelled")), filesUnder(file("whole")));

    // Every name reads back byte for byte, as a file that is there.
    const Json summary = report(file("merged.json"));
    std::set<std::string> inputs, outputs;
    for (size_t i = 0; i < summary.count("files"); ++i) {
        inputs.insert(summary.text("files." + std::to_string(i) + ".input"));
        outputs.insert(summary.text("files." + std::to_string(i) + ".output"));
    }
    std::set<std::string> expected;
    for (const auto& name : names) expected.insert(file("in/" + name).string());
    EXPECT_EQ(inputs, expected);
    for (const auto& output : outputs) EXPECT_TRUE(fs::exists(output)) << output;
    EXPECT_TRUE(fs::exists(file("levelled/bad\xFF.flac")));
    EXPECT_TRUE(fs::exists(file("levelled/bad\xC3\xBF.flac")));
}

TEST_F(Render, AnInterruptedBatchLeavesOnlyWholeFilesSaysWhatWasDoneAndResumesWithSkipExisting) {
    // One-frame blocks make the renders slow enough to stop part way.
    fs::create_directories(file("in"));
    writeAudio(file("in/0-short.wav"), programme(2, 0.5, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
    std::ofstream list(file("list.txt"));
    list << file("in/0-short.wav").string() << "\n\n";
    for (const std::string name : {"1-long.wav", "2-long.wav", "3-long.wav"}) {
        writeAudio(file("in/" + name), programme(2, 40.0, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
        list << file("in/" + name).string() << "\n";
    }
    list.close();
    // The list on standard input, as from find or a pipe.
    std::vector<std::string> args = {kRenderer,  "--out-dir", file("out"),       "--from-list", "-",
                                     "--plugin", kFixture,    "--block",         "1",           "-j",
                                     "2",        "--json",    file("first.json")};
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, file("list.txt").c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, file("table.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, file("err.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, kRenderer.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    // Stop it once the short file is written and both jobs are inside long ones.
    const auto partials = [&] {
        size_t count = 0;
        if (fs::exists(file("out")))
            for (const auto& name : filesUnder(file("out")))
                count += name.find(".partial-") != std::string::npos;
        return count;
    };
    for (int i = 0; i < 3000 && !(fs::exists(file("out/0-short.wav")) && partials() == 2); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(partials(), 2u) << slurp(file("err.txt"));
    kill(child, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGINT);

    EXPECT_EQ(filesUnder(file("out")), std::set<std::string>{"0-short.wav"});
    const std::string table = slurp(file("table.txt"));
    EXPECT_NE(table.find("4 files: 1 done, 2 interrupted, 1 not started"), std::string::npos) << table;
    EXPECT_NE(slurp(file("err.txt")).find("interrupted; the files done are complete"), std::string::npos);
    const Json first = report(file("first.json"));
    EXPECT_EQ(recordStatus(first, "0-short.wav"), "done");
    EXPECT_EQ(recordStatus(first, "3-long.wav"), "not started");

    // What a killed run leaves: temporary files of outputs, one of them still being written (locked by its
    // writer), and one of a file that is not this batch's.
    const std::vector<std::string> stale = {"0-short.wav.partial-Ab12Cd", "3-long.wav.partial-x9Y8z7"};
    for (const auto& name : stale) std::ofstream(file("out/" + name)) << "cut";
    std::ofstream(file("out/2-long.wav.partial-Live01")) << "being written";
    std::ofstream(file("out/other.wav.partial-Qq11Ww")) << "not this batch's";
    const int writing = open(file("out/2-long.wav.partial-Live01").c_str(), O_RDONLY);
    ASSERT_EQ(flock(writing, LOCK_EX), 0);

    // Run again: what is there stays as it is, the rest is rendered whole.
    const auto written = fs::last_write_time(file("out/0-short.wav"));
    const RunResult resumed = run({"--out-dir", file("out"), "--from-list", file("list.txt"), "--plugin",
                                   kFixture, "--skip-existing", "--json", file("second.json")});
    close(writing);
    EXPECT_EQ(resumed.status, 0) << resumed.err;
    EXPECT_NE(resumed.out.find("4 files: 3 done, 1 skipped"), std::string::npos) << resumed.out;
    EXPECT_NE(resumed.err.find("removed 2 temporary files that interrupted runs left"), std::string::npos)
        << resumed.err;
    EXPECT_EQ(*report(file("second.json")).number("totals.partials_removed"), 2.0);
    for (const auto& name : stale) EXPECT_FALSE(fs::exists(file("out/" + name))) << name;
    EXPECT_TRUE(fs::exists(file("out/2-long.wav.partial-Live01")));
    EXPECT_TRUE(fs::exists(file("out/other.wav.partial-Qq11Ww")));
    fs::remove(file("out/2-long.wav.partial-Live01"));
    fs::remove(file("out/other.wav.partial-Qq11Ww"));
    EXPECT_EQ(fs::last_write_time(file("out/0-short.wav")), written);
    EXPECT_EQ(recordStatus(report(file("second.json")), "0-short.wav"), "skipped");
    for (const std::string name : {"0-short.wav", "1-long.wav", "2-long.wav", "3-long.wav"})
        EXPECT_EQ(readAudio(file("out/" + name)).frames(), readAudio(file("in/" + name)).frames()) << name;
    // Both runs merged: one summary of the whole batch, the short file done in the first.
    const RunResult merged =
        run({"--merge-reports", file("first.json"), file("second.json"), "--json", file("all.json")});
    EXPECT_EQ(merged.status, 0) << merged.err;
    EXPECT_NE(merged.out.find("4 files: 4 done"), std::string::npos) << merged.out;
}

} // namespace
