// Levelling many files: what to render and where, on every core, with one summary for the batch.
#pragma once

#include "render/paths.h"
#include "render/render.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace render {

// One file of a batch and where it goes. `problem` says why it cannot be rendered when that is known
// before trying (two inputs that would write the same output, a folder that cannot be read).
struct BatchItem {
    std::filesystem::path input, output;
    std::string problem;
    uintmax_t bytes = 0; // the input's size, for estimating the time left
};

struct BatchOptions {
    RenderOptions render; // input and output are set for each file
    std::filesystem::path outDir;
    std::optional<std::string> extension; // of the outputs, without the dot; the input's when not given
    std::vector<std::string> inputs;      // files and folders
    std::optional<std::string> listFile;  // paths one a line; "-" for standard input
    // Every n-th file of the whole batch from the k-th on (k from 1): the same command with k from 1 to n
    // renders the batch in n parts, on as many machines.
    std::optional<std::pair<int, int>> shard;
    int jobs = 1;
    bool skipExisting = false;
    bool jsonEach = false; // a report beside each output, named after it
    bool display = false;  // one progress line for the batch, on a terminal
    bool log = false;      // a line per file as it ends
};

// Something a folder holds that is not rendered, and why: a link to nothing, a folder reached a second
// time, the output folder, a name that is no audio file's...
struct LeftOut {
    std::string path, reason;
};

struct BatchPlan {
    std::vector<BatchItem> items; // the whole batch, every part's
    std::vector<LeftOut> leftOut; // by path
};

// The files of the batch in order: files as named, folders' audio files (by name extension) sorted and
// with their layout under the folder kept under outDir, the list's entries after the arguments'. Folders
// reached through symbolic links are searched, each real folder once. Two inputs that would write one
// output are decided here, over the whole batch. Throws FileError when the list cannot be read,
// PathClash when the output folder is an input folder.
BatchPlan collectBatch(const BatchOptions& options);

// What the batch reads and writes, for checkPathClashes: inputs, the list, outputs and their reports.
std::vector<PathUse> batchPathUses(const BatchOptions& options, const std::vector<BatchItem>& items);

// The part of the batch options.shard asks for (every n-th file from the k-th), or all of it.
std::vector<BatchItem> shardOf(const BatchOptions& options, std::vector<BatchItem> items);

// The files the items write: outputs, and their reports with --json-each.
std::vector<std::filesystem::path> batchOutputs(const BatchOptions& options,
                                                const std::vector<BatchItem>& items);

struct BatchOutcome {
    // One JSON object per file, sorted by input: its status ("done", "skipped", "failed", "interrupted",
    // "not started"), the error and, when done, the file's report.
    std::vector<std::string> records;
    double wallSeconds = 0.0;
    bool warned = false;
};

// Renders the items on options.jobs threads, each its own plug-in instance. `stop` cancels the running
// renders (their temporary files are removed) and starts no more.
BatchOutcome runBatch(const BatchOptions& options, const std::vector<BatchItem>& items,
                      const std::atomic<bool>& stop);

// What a batch's summary says: a record per file, what was left out, the temporary files of killed runs
// that were removed, and the wall-clock time, unknown for merged parts.
struct BatchSummary {
    std::vector<std::string> records;
    std::vector<LeftOut> leftOut;
    size_t partialsRemoved = 0;
    std::optional<double> wallSeconds;
};

// The summaries of several runs of one batch (its parts, or a run and its resumption) as one. A record is
// the file's by input and output: a later one takes the place of an earlier one, but a file found done stays
// done; failures are kept like any record. Throws JsonError or FileError.
BatchSummary mergeSummaries(const std::vector<std::filesystem::path>& documents);

// The batch's summary: a table of the files and the totals, and one JSON document with a record per
// file.
std::string batchTable(const BatchSummary& summary);
std::string batchJson(const BatchSummary& summary);
// Whether any file failed or was not done.
bool batchIncomplete(const std::vector<std::string>& records);

} // namespace render
