// Levelling many files: what to render and where, on every core, with one summary for the batch.
#pragma once

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

// The files of the batch in order: files as named, folders' audio files (by name extension) sorted and
// with their layout under the folder kept under outDir, the list's entries after the arguments'.
// Throws FileError when the list cannot be read.
std::vector<BatchItem> collectBatch(const BatchOptions& options);

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

// Records of several batches (shards of one) as one, by output: a later record takes the place of an
// earlier one, but a file found done stays done. Throws JsonError or FileError.
std::vector<std::string> mergeRecords(const std::vector<std::filesystem::path>& documents);

// The batch's summary: a table of the files and the totals, and one JSON document with a record per
// file. The wall-clock time is unknown for merged shards.
std::string batchTable(const std::vector<std::string>& records, std::optional<double> wallSeconds);
std::string batchJson(const std::vector<std::string>& records, std::optional<double> wallSeconds);
// Whether any file failed or was not done.
bool batchIncomplete(const std::vector<std::string>& records);

} // namespace render
