// Audio files through libsndfile: reading any format it knows, writing in a format chosen from the name.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

struct sf_private_tag;

namespace render {

struct RepairedFile;

// A failure about one file; what() is "FILE: reason".
class FileError : public std::runtime_error {
public:
    FileError(const std::filesystem::path& file, const std::string& reason);
};

class AudioReader {
public:
    explicit AudioReader(const std::filesystem::path& path);
    ~AudioReader();
    AudioReader(const AudioReader&) = delete;
    AudioReader& operator=(const AudioReader&) = delete;

    int channels() const { return channels_; }
    int sampleRate() const { return sampleRate_; }
    int format() const { return format_; }
    // As the header says; 0 when unknown.
    int64_t frames() const { return frames_; }
    bool lengthKnown() const { return lengthKnown_; }
    // Interleaved frames, full scale 1.0; answers how many were read, 0 at the end.
    int64_t read(float* interleaved, int64_t frames);
    int64_t read(double* interleaved, int64_t frames);
    // Once read to the end, when the file holds another length of audio than its header claims (a
    // recording whose header was never finished, a file cut short): how much each, for a warning.
    std::optional<std::string> lengthWarning() const;
    // The metadata libsndfile knows: its strings (title, artist...) by libsndfile's string type, and the
    // broadcast-wave `bext` chunk as libsndfile's SF_BROADCAST_INFO record, when the file has one.
    std::vector<std::pair<int, std::string>> strings() const;
    std::optional<std::vector<char>> broadcastInfo() const;

private:
    int64_t counted(int64_t got, int64_t asked);

    std::filesystem::path path_;
    std::unique_ptr<RepairedFile> repaired_; // read through it when the header needs mending
    sf_private_tag* file_ = nullptr;
    int channels_ = 0;
    int sampleRate_ = 0;
    int format_ = 0;
    int64_t frames_ = 0;
    bool lengthKnown_ = false;
    std::optional<int64_t> claimedFrames_;
    bool unfinishedHeader_ = false;
    int64_t framesRead_ = 0;
    bool atEnd_ = false;
    std::string brokenOff_; // why reading stopped before the end of the file
};

struct OutputFormat {
    int format = 0; // libsndfile's container and sample format
    // Why the sample format does not follow the input's; empty when it does or was asked for.
    std::string note;
    // A WAV that may pass the 4 GiB its 32-bit sizes reach is written as RF64, which libsndfile turns back
    // into a plain WAV when it stays smaller.
    bool rf64Downgrade = false;
};

// The libsndfile format for a file name, following the input's sample format where the container holds
// it, and the container's usual one (24-bit PCM, or the codec's own) where it does not. `sampleFormat` is
// one of pcm16, pcm24, pcm32, float, double; `frames` the length to write, when known. Throws FileError for
// names it cannot map.
OutputFormat outputFormatFor(const std::filesystem::path& path, int inputFormat,
                             const std::optional<std::string>& sampleFormat, int channels, int sampleRate,
                             std::optional<int64_t> frames);

// Whether a file's name extension is one of the audio formats libsndfile knows.
bool audioFileName(const std::filesystem::path& path);

// "FLAC, 16-bit PCM": libsndfile's names for the container and the sample format.
std::string describeFormat(int format);

// Makes a finished file the same, byte for byte, on every run of the same render: libsndfile numbers an
// Ogg stream at random, so each page of an Ogg file gets one fixed serial number (and its checksum anew).
// `named` names the file in messages. Throws FileError.
void makeReproducible(const std::filesystem::path& path, int format, const std::filesystem::path& named);

// Bits of an integer sample format (8 to 32), or 0 for floats and codecs.
int integerBits(int format);

class AudioWriter {
public:
    // Writes to an open descriptor (closed with the writer); `path` names the file in messages.
    AudioWriter(int descriptor, const std::filesystem::path& path, int format, int channels, int sampleRate,
                bool rf64Downgrade = false);
    ~AudioWriter();
    AudioWriter(const AudioWriter&) = delete;
    AudioWriter& operator=(const AudioWriter&) = delete;

    void write(const float* interleaved, int64_t frames);
    void write(const double* interleaved, int64_t frames);
    // Full-scale 32-bit integers; an integer format takes their top bits, exactly.
    void write(const int32_t* interleaved, int64_t frames);
    // Before the first write; false where the format has no place for it.
    bool setString(int type, const std::string& text);
    bool setBroadcastInfo(const std::vector<char>& info);
    // FLAC's compression level, 0 to 8, before the first write; other formats ignore it.
    void setFlacLevel(int level);
    // Flushes and closes; throws when the data did not reach the file.
    void close();
    // The format the file has, once closed: an RF64 that stayed small is a WAV.
    int format() const { return format_; }

private:
    void count(int64_t frames);

    std::filesystem::path path_;
    sf_private_tag* file_ = nullptr;
    int descriptor_ = -1; // libsndfile's to close
    int format_ = 0;
    bool rf64Downgrade_ = false;
    // A container whose sizes are 32-bit ends at 4 GiB: a write beyond it fails rather than wrap its header.
    int64_t frameBytes_ = 0, mostFrames_ = 0, framesWritten_ = 0;
};

} // namespace render
