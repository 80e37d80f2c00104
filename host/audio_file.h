// Audio files through libsndfile: reading any format it knows, writing in a format chosen from the name.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

struct sf_private_tag;

namespace host {

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
    // Interleaved frames, full scale 1.0; answers how many were read, 0 at the end.
    int64_t read(float* interleaved, int64_t frames);
    int64_t read(double* interleaved, int64_t frames);

private:
    std::filesystem::path path_;
    sf_private_tag* file_ = nullptr;
    int channels_ = 0;
    int sampleRate_ = 0;
    int format_ = 0;
    int64_t frames_ = 0;
};

// The libsndfile format (container and sample format) for a file name, following the input's
// sample format where the container allows it. `sampleFormat` is one of pcm16, pcm24, pcm32,
// float, double. Throws FileError for names it cannot map.
int outputFormatFor(const std::filesystem::path& path, int inputFormat,
                    const std::optional<std::string>& sampleFormat, int channels, int sampleRate);

class AudioWriter {
public:
    // Writes to an open descriptor (closed with the writer); `path` names the file in messages.
    AudioWriter(int descriptor, const std::filesystem::path& path, int format, int channels, int sampleRate);
    ~AudioWriter();
    AudioWriter(const AudioWriter&) = delete;
    AudioWriter& operator=(const AudioWriter&) = delete;

    void write(const float* interleaved, int64_t frames);
    void write(const double* interleaved, int64_t frames);
    // Flushes and closes; throws when the data did not reach the file.
    void close();

private:
    std::filesystem::path path_;
    sf_private_tag* file_ = nullptr;
};

} // namespace host
