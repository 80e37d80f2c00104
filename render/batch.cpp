#include "render/batch.h"

#include "render/audio_file.h"
#include "render/json.h"
#include "render/progress.h"
#include "render/report.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace render {

namespace fs = std::filesystem;

namespace {

constexpr const char* kProgram = "vandrel2-render";

// Left out of a folder: anything whose name is not an audio file's. The table counts these rather than
// list them; the JSON summary lists them all.
constexpr const char* kNotAudioName = "not an audio file name";

// The input's own file, however it is named: two names of one file with one output are one item.
std::string inputIdentity(const fs::path& path) {
    std::error_code error;
    const auto canonical = fs::canonical(path, error);
    return error ? path.lexically_normal().string() : canonical.string();
}

class Collector {
public:
    explicit Collector(const BatchOptions& options) : options_(options) {
        std::error_code error;
        outDir_ = fs::weakly_canonical(fs::absolute(options.outDir), error);
    }

    void add(const std::string& entry) {
        const fs::path path = entry;
        std::error_code error;
        if (fs::is_directory(path, error))
            root(path);
        else
            file(path, path.filename());
    }

    BatchPlan take() {
        BatchPlan plan{std::move(items_), {}};
        for (auto& [path, reason] : leftOut_) plan.leftOut.push_back({path, std::move(reason)});
        return plan;
    }

private:
    void file(const fs::path& input, fs::path relative) {
        BatchItem item;
        item.input = input;
        if (options_.extension) relative.replace_extension("." + *options_.extension);
        item.output = (options_.outDir / relative).lexically_normal();
        const auto [named, first] = named_.emplace(inputIdentity(input) + '\0' + item.output.string(), input);
        if (!first) {
            leave(input, "the same file as " + named->second.string() + ", rendered once");
            return;
        }
        std::error_code error;
        const auto size = fs::file_size(input, error);
        item.bytes = error ? 0 : size;
        const auto [claimed, fresh] = claims_.emplace(item.output.string(), input);
        if (!fresh)
            item.problem = input.string() + " and " + claimed->second.string() +
                           " would both be written to " + item.output.string() + "; only " +
                           claimed->second.string() + " is rendered";
        items_.push_back(std::move(item));
    }

    // A folder named as an input. The output folder inside it is left out whether or not it exists yet, so
    // that every run and every part of the batch finds the same files.
    void root(const fs::path& folder) {
        std::error_code error;
        const fs::path real = fs::canonical(folder, error);
        if (!error && real == outDir_)
            throw PathClash(options_.outDir.string() + " (--out-dir) is the input folder " + folder.string() +
                            ": the outputs would be written among the inputs; give another folder");
        const auto inside = outDir_.lexically_relative(real);
        if (!error && !inside.empty() && *inside.begin() != "..")
            leave(folder / inside, "the output folder; not searched");
        search(folder, folder);
    }

    // The entries of a folder in name order: audio files taken, folders searched (through symbolic links,
    // each real folder once), the rest left out with the reason.
    void search(const fs::path& root, const fs::path& folder) {
        std::error_code error;
        const fs::path real = fs::canonical(folder, error);
        if (!error && real == outDir_) return leave(folder, "the output folder; not searched");
        if (!error) {
            const auto [seen, fresh] = searched_.emplace(real, folder);
            if (!fresh) return leave(folder, "leads to " + seen->second.string() + ", searched once");
        }
        std::vector<fs::path> entries;
        fs::directory_iterator it(folder, error);
        for (; !error && it != fs::directory_iterator(); it.increment(error)) entries.push_back(it->path());
        if (error) {
            BatchItem item;
            item.input = folder;
            item.problem = folder.string() + ": cannot read the folder: " + error.message();
            items_.push_back(std::move(item));
            return;
        }
        std::sort(entries.begin(), entries.end());
        for (const auto& entry : entries) {
            std::error_code linkError;
            const bool link = fs::is_symlink(fs::symlink_status(entry, linkError));
            const auto status = fs::status(entry, error);
            if (link && !fs::exists(status)) {
                leave(entry,
                      "a link to " + fs::read_symlink(entry, error).string() + ", which does not exist");
            } else if (error) {
                leave(entry, "cannot be read: " + error.message());
            } else if (fs::is_directory(status)) {
                search(root, entry);
            } else if (partialName(entry)) {
                leave(entry, "the temporary file of a render that did not finish");
            } else if (!audioFileName(entry)) {
                leave(entry, kNotAudioName);
            } else if (!fs::is_regular_file(status)) {
                leave(entry, "not a regular file");
            } else {
                file(entry, entry.lexically_relative(root));
            }
        }
    }

    void leave(const fs::path& path, const std::string& reason) { leftOut_.emplace(path.string(), reason); }

    const BatchOptions& options_;
    fs::path outDir_;
    std::vector<BatchItem> items_;
    std::map<std::string, fs::path> claims_; // output, by the input that writes it
    std::map<std::string, fs::path> named_;  // input and output, by the first name of the input
    std::map<fs::path, fs::path> searched_;  // real folders, by the name they were first reached by
    std::map<std::string, std::string> leftOut_;
};

std::string record(const BatchItem& item, const std::string& status, const std::string& error,
                   std::optional<double> seconds, const std::string& report) {
    return "{\"input\": " + jsonString(item.input.string()) +
           ", \"output\": " + jsonString(item.output.string()) + ", \"status\": " + jsonString(status) +
           ", \"error\": " + (error.empty() ? "null" : jsonString(error)) +
           ", \"seconds\": " + (seconds ? jsonNumber(*seconds) : "null") +
           ", \"report\": " + (report.empty() ? "null" : report) + "}";
}

// A record's file: its input and output, byte for byte.
std::pair<std::string, std::string> recordKey(const JsonValue& record) {
    return {record.string("input").value_or(""), record.string("output").value_or("")};
}

// Records in the one form both a batch and a merge of its runs write: read back, on one line, by input and
// output.
std::vector<std::string> canonical(const std::vector<std::string>& records) {
    std::vector<std::pair<std::pair<std::string, std::string>, std::string>> keyed;
    for (const auto& text : records) {
        const JsonValue value = JsonValue::parse(text);
        keyed.emplace_back(recordKey(value), value.text());
    }
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> out;
    for (auto& [key, text] : keyed) out.push_back(std::move(text));
    return out;
}

// What a batch shows while it runs and as each file ends.
class BatchDisplay {
public:
    BatchDisplay(const BatchOptions& options, const std::vector<BatchItem>& items)
        : options_(options), items_(items), start_(std::chrono::steady_clock::now()) {
        for (const auto& item : items) totalBytes_ += item.bytes;
    }

    void finished(size_t index, const std::string& status, const std::string& line, double audioSeconds,
                  const std::vector<std::string>& warnings, const std::vector<std::string>& notes) {
        std::lock_guard lock(mutex_);
        ++done_;
        doneBytes_ += items_[index].bytes;
        audioDone_ += audioSeconds;
        failed_ += status == "failed";
        clearLine();
        if (options_.log || status == "failed")
            std::fprintf(stderr, "%s: [%zu/%zu] %s\n", kProgram, done_, items_.size(), line.c_str());
        for (const auto& warning : warnings)
            std::fprintf(stderr, "%s: warning: %s: %s\n", kProgram, items_[index].input.c_str(),
                         warning.c_str());
        for (const auto& note : notes)
            if (notesShown_.insert(note).second)
                std::fprintf(stderr, "%s: note: %s\n", kProgram, note.c_str());
        drawn_ = false;
    }

    // The progress line: files done and in all, hours of audio, speed and the time left.
    void draw(const std::vector<RenderProgress>& running, const std::vector<size_t>& runningItems) {
        if (!options_.display) return;
        std::lock_guard lock(mutex_);
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        double audio = audioDone_, bytes = double(doneBytes_);
        for (size_t slot = 0; slot < running.size(); ++slot) {
            if (runningItems[slot] >= items_.size()) continue;
            const auto& progress = running[slot];
            const int64_t written = progress.framesWritten.load(), total = progress.framesTotal.load();
            const int rate = progress.sampleRate.load();
            if (rate > 0) audio += double(written) / rate;
            if (total > 0)
                bytes += double(items_[runningItems[slot]].bytes) * double(written) / double(total);
        }
        char line[256];
        const double speed = elapsed > 0 ? audio / elapsed : 0.0;
        std::snprintf(line, sizeof line, "\r%zu/%zu files  %s of audio  %.0fx real time", done_,
                      items_.size(), formatClock(audio).c_str(), speed);
        std::string text = line;
        if (bytes > 0 && totalBytes_ > 0)
            text += "  " + formatClock(elapsed * (double(totalBytes_) - bytes) / bytes) + " left";
        if (failed_ > 0) text += "  " + std::to_string(failed_) + " failed";
        std::fputs((text + "\033[K").c_str(), stderr);
        std::fflush(stderr);
        drawn_ = true;
    }

    void end() {
        std::lock_guard lock(mutex_);
        clearLine();
    }

private:
    void clearLine() {
        if (!drawn_) return;
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        drawn_ = false;
    }

    const BatchOptions& options_;
    const std::vector<BatchItem>& items_;
    const std::chrono::steady_clock::time_point start_;
    std::mutex mutex_;
    size_t done_ = 0, failed_ = 0;
    uintmax_t totalBytes_ = 0, doneBytes_ = 0;
    double audioDone_ = 0.0;
    bool drawn_ = false;
    std::set<std::string> notesShown_;
};

std::string figure(double value) {
    return formatted(value, "%.1f");
}

} // namespace

BatchPlan collectBatch(const BatchOptions& options) {
    Collector collector(options);
    for (const auto& input : options.inputs) collector.add(input);
    if (options.listFile) {
        std::ifstream file;
        std::istream* list = &std::cin;
        if (*options.listFile != "-") {
            std::error_code error;
            if (fs::is_directory(*options.listFile, error))
                throw FileError(*options.listFile, "is a folder, not a list of files");
            file.open(*options.listFile);
            if (!file) throw FileError(*options.listFile, "cannot read the list of files");
            list = &file;
        }
        for (std::string line; std::getline(*list, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty()) collector.add(line);
        }
    }
    return collector.take();
}

std::vector<PathUse> batchPathUses(const BatchOptions& options, const std::vector<BatchItem>& items) {
    std::vector<PathUse> uses;
    if (options.listFile && *options.listFile != "-")
        uses.push_back({*options.listFile, "--from-list", false});
    for (const auto& item : items) uses.push_back({item.input, "an input", false});
    for (const auto& item : items) {
        if (!item.problem.empty()) continue;
        uses.push_back({item.output, "the output of " + item.input.string(), true});
        if (options.jsonEach)
            uses.push_back({item.output.string() + ".json", "the report of " + item.input.string(), true});
    }
    return uses;
}

std::vector<BatchItem> shardOf(const BatchOptions& options, std::vector<BatchItem> items) {
    if (!options.shard) return items;
    const auto [part, parts] = *options.shard;
    std::vector<BatchItem> mine;
    for (size_t i = size_t(part - 1); i < items.size(); i += size_t(parts))
        mine.push_back(std::move(items[i]));
    return mine;
}

std::vector<fs::path> batchOutputs(const BatchOptions& options, const std::vector<BatchItem>& items) {
    std::vector<fs::path> outputs;
    for (const auto& item : items) {
        if (!item.problem.empty()) continue;
        outputs.push_back(item.output);
        if (options.jsonEach) outputs.push_back(item.output.string() + ".json");
    }
    return outputs;
}

BatchOutcome runBatch(const BatchOptions& options, const std::vector<BatchItem>& items,
                      const std::atomic<bool>& stop) {
    const auto start = std::chrono::steady_clock::now();
    const size_t workers = std::max<size_t>(1, std::min(size_t(std::max(options.jobs, 1)), items.size()));
    RenderOptions base = options.render;
    base.progress = false;
    // A job reads, levels, measures and writes on its own thread: the cores are used by jobs, so -j N takes
    // N cores. Only a batch with fewer files than jobs lets a render spread its stages over the cores left.
    base.oneThread = base.oneThread || workers >= size_t(std::max(options.jobs, 1));

    BatchDisplay display(options, items);
    std::vector<std::string> records(items.size());
    std::vector<RenderProgress> progress(workers);
    std::vector<size_t> runningItems(workers, items.size());
    std::atomic<size_t> next{0};
    std::atomic<bool> warned{false};
    std::mutex mutex;
    std::condition_variable changed;
    size_t finishedWorkers = 0;

    const auto renderOne = [&](size_t index, RenderProgress& counter) {
        const BatchItem& item = items[index];
        if (!item.problem.empty()) {
            records[index] = record(item, "failed", item.problem, std::nullopt, "");
            display.finished(index, "failed", "failed: " + item.problem, 0, {}, {});
            return;
        }
        std::error_code error;
        if (options.skipExisting && fs::exists(item.output, error)) {
            records[index] = record(item, "skipped", "", std::nullopt, "");
            display.finished(index, "skipped", "skipped, already there: " + item.output.string(), 0, {}, {});
            return;
        }
        RenderOptions render = base;
        render.input = item.input;
        render.output = item.output;
        render.progressCounter = &counter;
        const auto began = std::chrono::steady_clock::now();
        const auto seconds = [&] {
            return std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        };
        try {
            if (!item.output.parent_path().empty()) fs::create_directories(item.output.parent_path());
            const RenderResult result = render::renderFile(render, stop);
            std::string report = jsonReport(render, result);
            if (options.jsonEach) writeTextFile(item.output.string() + ".json", report);
            const auto warnings = warningsFor(render, result);
            warned = warned || !warnings.empty();
            const double audio = result.sampleRate > 0 ? double(result.frames) / result.sampleRate : 0.0;
            records[index] = record(item, "done", "", result.seconds, JsonValue::parse(report).text());
            display.finished(index, "done",
                             "done: " + item.input.string() + " -> " + item.output.string() + " (" +
                                 figure(result.output.integrated) + " LUFS, " + figure(result.seconds) +
                                 " s)",
                             audio, warnings, result.notes);
        } catch (const Interrupted&) {
            records[index] =
                record(item, "interrupted", "stopped by a signal; nothing written", seconds(), "");
            display.finished(index, "interrupted", "interrupted: " + item.input.string(), 0, {}, {});
        } catch (const std::exception& failure) {
            std::string reason = failure.what();
            std::replace(reason.begin(), reason.end(), '\n', ' ');
            records[index] = record(item, "failed", reason, seconds(), "");
            display.finished(index, "failed", "failed: " + reason, 0, {}, {});
        }
    };

    std::vector<std::thread> threads;
    for (size_t slot = 0; slot < workers; ++slot)
        threads.emplace_back([&, slot] {
            for (;;) {
                const size_t index = next.fetch_add(1);
                if (index >= items.size() || stop.load()) break;
                progress[slot].framesWritten = 0;
                progress[slot].framesTotal = 0;
                progress[slot].sampleRate = 0;
                {
                    std::lock_guard lock(mutex);
                    runningItems[slot] = index;
                }
                renderOne(index, progress[slot]);
                std::lock_guard lock(mutex);
                runningItems[slot] = items.size();
            }
            std::lock_guard lock(mutex);
            ++finishedWorkers;
            changed.notify_all();
        });
    {
        std::unique_lock lock(mutex);
        while (finishedWorkers < workers) {
            changed.wait_for(lock, std::chrono::milliseconds(250));
            const auto running = runningItems;
            lock.unlock();
            display.draw(progress, running);
            lock.lock();
        }
    }
    for (auto& thread : threads) thread.join();
    display.end();

    for (size_t i = 0; i < items.size(); ++i)
        if (records[i].empty()) records[i] = record(items[i], "not started", "", std::nullopt, "");
    BatchOutcome outcome;
    outcome.records = canonical(records);
    outcome.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    outcome.warned = warned;
    return outcome;
}

BatchSummary mergeSummaries(const std::vector<fs::path>& documents) {
    std::map<std::pair<std::string, std::string>, JsonValue> byFile;
    std::map<std::string, std::string> leftOut;
    BatchSummary summary;
    for (const auto& path : documents) {
        std::ifstream file(path, std::ios::binary);
        if (!file) throw FileError(path, "cannot read");
        const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        JsonValue document;
        try {
            document = JsonValue::parse(text);
        } catch (const JsonError& error) {
            throw FileError(path, error.what());
        }
        const JsonValue* files = document.find("files");
        if (files == nullptr || files->kind() != JsonValue::Kind::Array)
            throw FileError(path, "not a batch summary: it has no \"files\"");
        for (const auto& entry : files->elements()) {
            if (!entry.string("input") || !entry.string("output") || !entry.string("status"))
                throw FileError(path, "a record without input, output or status");
            const auto key = recordKey(entry);
            const auto earlier = byFile.find(key);
            if (earlier != byFile.end() && earlier->second.string("status") == "done" &&
                entry.string("status") != "done")
                continue;
            byFile.insert_or_assign(key, entry);
        }
        if (const JsonValue* left = document.find("left_out"); left != nullptr)
            for (const auto& entry : left->elements())
                leftOut.emplace(entry.string("path").value_or(""), entry.string("reason").value_or(""));
        summary.partialsRemoved += size_t(document.number("totals.partials_removed").value_or(0.0));
    }
    std::vector<std::string> records;
    for (const auto& [key, entry] : byFile) records.push_back(entry.text());
    summary.records = canonical(records);
    for (auto& [path, reason] : leftOut) summary.leftOut.push_back({path, std::move(reason)});
    return summary;
}

namespace {

struct Totals {
    std::map<std::string, size_t> statuses;
    double audioSeconds = 0.0, renderSeconds = 0.0;
    size_t warned = 0;
    size_t failedVerdicts = 0; // outputs that fail their preset
};

Totals totalsOf(const std::vector<std::string>& records) {
    Totals totals;
    for (const auto& text : records) {
        const JsonValue value = JsonValue::parse(text);
        ++totals.statuses[value.string("status").value_or("")];
        // Whole frames at a whole rate: the same sum from a batch and from its merged shards.
        const auto frames = value.number("report.frames"), rate = value.number("report.sample_rate");
        if (frames && rate && *rate > 0) totals.audioSeconds += *frames / *rate;
        totals.renderSeconds += value.number("seconds").value_or(0.0);
        const JsonValue* warnings = value.find("report.warnings");
        totals.warned += warnings != nullptr && !warnings->elements().empty();
        const JsonValue* verdict = value.find("report.verdict.pass");
        totals.failedVerdicts += verdict != nullptr && verdict->text() == "false";
    }
    return totals;
}

const char* const kStatuses[] = {"done", "skipped", "failed", "interrupted", "not started"};

std::string cell(std::optional<double> value, const char* format = "%.1f") {
    return value ? formatted(*value, format) : "-";
}

} // namespace

std::string batchTable(const BatchSummary& summary) {
    const auto& records = summary.records;
    const auto& wallSeconds = summary.wallSeconds;
    std::vector<std::vector<std::string>> rows = {{"In LUFS", "Out LUFS", "In LRA", "Out LRA", "In dBTP",
                                                   "Out dBTP", "Dev LU", "Time", "Status", "File"}};
    std::string failures;
    for (const auto& text : records) {
        const JsonValue value = JsonValue::parse(text);
        const auto field = [&](const char* path) { return value.number(std::string("report.") + path); };
        const std::string status = value.string("status").value_or("");
        rows.push_back({cell(field("input.integrated_lufs")), cell(field("output.integrated_lufs")),
                        cell(field("input.loudness_range_lu")), cell(field("output.loudness_range_lu")),
                        cell(field("input.true_peak_dbtp")), cell(field("output.true_peak_dbtp")),
                        cell(field("target.deviation_lu"), "%+.1f"), cell(value.number("seconds"), "%.1f s"),
                        status, value.string("input").value_or("")});
        if (const auto error = value.string("error"); error && status == "failed")
            failures += "  " + *error + "\n";
    }
    std::vector<size_t> widths(rows[0].size(), 0);
    for (const auto& row : rows)
        for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
    std::string out;
    for (const auto& row : rows) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c) {
            const size_t gap = widths[c] - row[c].size();
            // Figures to the right, words to the left.
            if (c + 2 < row.size())
                line += std::string(gap + (c ? 2 : 0), ' ') + row[c];
            else
                line += "  " + row[c] + (c + 1 < row.size() ? std::string(gap, ' ') : "");
        }
        out += line + "\n";
    }
    const Totals totals = totalsOf(records);
    out += "\n" + counted(int64_t(records.size()), "file") + ":";
    bool first = true;
    for (const char* status : kStatuses)
        if (const auto found = totals.statuses.find(status); found != totals.statuses.end()) {
            out += std::string(first ? " " : ", ") + std::to_string(found->second) + " " + status;
            first = false;
        }
    out += "; " + formatClock(totals.audioSeconds) + " of audio";
    if (wallSeconds) {
        char line[96];
        std::snprintf(line, sizeof line, " in %.1f s, %.0fx real time", *wallSeconds,
                      *wallSeconds > 0 ? totals.audioSeconds / *wallSeconds : 0.0);
        out += line;
    }
    out += "\n";
    if (totals.warned > 0) out += std::to_string(totals.warned) + " with warnings (see the report of each)\n";
    if (totals.failedVerdicts > 0)
        out += std::to_string(totals.failedVerdicts) + " failing their preset (see the verdict of each)\n";
    if (!failures.empty()) out += "Failed:\n" + failures;
    if (summary.partialsRemoved > 0)
        out += "Removed " + std::to_string(summary.partialsRemoved) +
               " temporary files that interrupted runs left of these outputs\n";
    if (!summary.leftOut.empty()) out += "Left out (" + std::to_string(summary.leftOut.size()) + "):\n";
    std::map<std::string, size_t> notAudio; // by name extension
    for (const auto& [path, reason] : summary.leftOut) {
        if (reason == kNotAudioName)
            ++notAudio[fs::path(path).extension().string()];
        else
            out += "  " + path + ": " + reason + "\n";
    }
    if (!notAudio.empty()) {
        size_t count = 0;
        std::string extensions;
        for (const auto& [extension, files] : notAudio) {
            count += files;
            extensions += (extensions.empty() ? "" : ", ") + (extension.empty() ? "no extension" : extension);
        }
        out += "  " + std::to_string(count) + (count == 1 ? " file" : " files") + " not audio by name (" +
               extensions + "), each listed in the JSON summary\n";
    }
    return out;
}

std::string batchJson(const BatchSummary& summary) {
    const auto& records = summary.records;
    const Totals totals = totalsOf(records);
    std::string out = "{\n  \"files\": [";
    for (size_t i = 0; i < records.size(); ++i) out += (i ? ",\n    " : "\n    ") + records[i];
    out += records.empty() ? "],\n" : "\n  ],\n";
    out += "  \"left_out\": [";
    for (size_t i = 0; i < summary.leftOut.size(); ++i)
        out += (i ? ",\n    " : "\n    ") + std::string("{\"path\": ") + jsonString(summary.leftOut[i].path) +
               ", \"reason\": " + jsonString(summary.leftOut[i].reason) + "}";
    out += summary.leftOut.empty() ? "],\n" : "\n  ],\n";
    out += "  \"totals\": {\"files\": " + std::to_string(records.size());
    for (const char* status : kStatuses) {
        std::string key = status;
        std::replace(key.begin(), key.end(), ' ', '_');
        const auto found = totals.statuses.find(status);
        out += ", " + jsonString(key) + ": " +
               std::to_string(found == totals.statuses.end() ? 0 : found->second);
    }
    out += ", \"with_warnings\": " + std::to_string(totals.warned) +
           ", \"failing_preset\": " + std::to_string(totals.failedVerdicts) +
           ", \"audio_seconds\": " + jsonNumber(totals.audioSeconds) +
           ", \"render_seconds\": " + jsonNumber(totals.renderSeconds) +
           ", \"wall_seconds\": " + (summary.wallSeconds ? jsonNumber(*summary.wallSeconds) : "null") +
           ", \"left_out\": " + std::to_string(summary.leftOut.size()) +
           ", \"partials_removed\": " + std::to_string(summary.partialsRemoved) + "}\n}\n";
    return out;
}

bool batchIncomplete(const std::vector<std::string>& records) {
    const Totals totals = totalsOf(records);
    return totals.statuses.size() > totals.statuses.count("done") + totals.statuses.count("skipped");
}

} // namespace render
