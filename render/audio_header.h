// What an audio file's own header says about the length of its audio, read apart from libsndfile: libsndfile
// fits a WAV's data size to the file without a word, and takes a size of 0 (a recorder that crashed before
// finishing its header) for no audio at all.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace render {

// What a reader is handed in place of the file: `header`, then `audioBytes` of the file's own bytes from
// `audioAt`.
struct HeaderRepair {
    std::vector<uint8_t> header;
    int64_t audioAt = 0, audioBytes = 0;
};

struct HeaderLength {
    int64_t claimedFrames = 0; // as the header says
    // The data size was never filled in: 0, or 0xFFFFFFFF in a plain WAV.
    bool unfinished = false;
    // For a WAV whose data size reads 0 while audio follows, or a plain WAV whose audio runs past the 4 GiB
    // its sizes reach (never filled in, or wrapped around): a header that gives the audio's whole length,
    // as RF64 beyond 4 GiB.
    std::optional<HeaderRepair> repair;
};

// The length a WAV (RIFF, RIFX, RF64), Sony Wave64 or AIFF file of plain samples claims; nothing for other
// files, and for files whose layout it does not follow (libsndfile may still read them).
std::optional<HeaderLength> readHeaderLength(const std::filesystem::path& path);

} // namespace render
