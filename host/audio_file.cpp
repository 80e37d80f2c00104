#include "host/audio_file.h"

#include <algorithm>
#include <cctype>
#include <sndfile.h>
#include <unistd.h>
#include <vector>

namespace host {

FileError::FileError(const std::filesystem::path& file, const std::string& reason)
    : std::runtime_error(file.string() + ": " + reason) {}

namespace {

std::string lastError(SNDFILE* file) {
    std::string text = sf_strerror(file);
    // libsndfile's messages sometimes span lines; a failure is reported on one.
    std::replace(text.begin(), text.end(), '\n', ' ');
    while (!text.empty() && (text.back() == ' ' || text.back() == '.')) text.pop_back();
    return text;
}

std::string lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

// Container for a file extension: libsndfile's own list, and the usual spellings it lacks.
std::optional<int> containerFor(const std::string& extension, int inputFormat) {
    const int inputMajor = inputFormat & SF_FORMAT_TYPEMASK;
    if (extension == "wav" && (inputMajor == SF_FORMAT_WAVEX || inputMajor == SF_FORMAT_RF64))
        return inputMajor;
    static const std::pair<const char*, int> kAliases[] = {
        {"wav", SF_FORMAT_WAV},  {"aif", SF_FORMAT_AIFF}, {"aifc", SF_FORMAT_AIFF}, {"ogg", SF_FORMAT_OGG},
        {"opus", SF_FORMAT_OGG}, {"mp3", SF_FORMAT_MPEG}, {"mat", SF_FORMAT_MAT5},
    };
    for (const auto& [name, container] : kAliases)
        if (extension == name) return container;
    int count = 0;
    sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof count);
    for (int i = 0; i < count; ++i) {
        SF_FORMAT_INFO info{};
        info.format = i;
        sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof info);
        if (info.extension != nullptr && extension == info.extension) return info.format;
    }
    return std::nullopt;
}

std::optional<int> sampleFormatFor(const std::string& name) {
    static const std::pair<const char*, int> kNames[] = {
        {"pcm16", SF_FORMAT_PCM_16}, {"pcm24", SF_FORMAT_PCM_24},  {"pcm32", SF_FORMAT_PCM_32},
        {"float", SF_FORMAT_FLOAT},  {"double", SF_FORMAT_DOUBLE},
    };
    for (const auto& [text, format] : kNames)
        if (name == text) return format;
    return std::nullopt;
}

bool valid(int format, int channels, int sampleRate) {
    SF_INFO info{};
    info.format = format;
    info.channels = channels;
    info.samplerate = sampleRate;
    return sf_format_check(&info) != 0;
}

} // namespace

AudioReader::AudioReader(const std::filesystem::path& path) : path_(path) {
    std::error_code error;
    if (!std::filesystem::exists(path, error)) throw FileError(path, "no such file");
    if (std::filesystem::is_directory(path, error)) throw FileError(path, "is a folder, not an audio file");
    SF_INFO info{};
    file_ = sf_open(path.c_str(), SFM_READ, &info);
    if (file_ == nullptr) throw FileError(path, "cannot read as audio: " + lastError(nullptr));
    channels_ = info.channels;
    sampleRate_ = info.samplerate;
    format_ = info.format;
    frames_ = info.frames > 0 && info.frames < SF_COUNT_MAX ? info.frames : 0;
}

AudioReader::~AudioReader() {
    if (file_ != nullptr) sf_close(file_);
}

int64_t AudioReader::read(float* interleaved, int64_t frames) {
    const sf_count_t got = sf_readf_float(file_, interleaved, frames);
    if (got < frames && sf_error(file_) != SF_ERR_NO_ERROR) throw FileError(path_, lastError(file_));
    return got;
}

int64_t AudioReader::read(double* interleaved, int64_t frames) {
    const sf_count_t got = sf_readf_double(file_, interleaved, frames);
    if (got < frames && sf_error(file_) != SF_ERR_NO_ERROR) throw FileError(path_, lastError(file_));
    return got;
}

int outputFormatFor(const std::filesystem::path& path, int inputFormat,
                    const std::optional<std::string>& sampleFormat, int channels, int sampleRate) {
    std::string extension = lowercase(path.extension().string());
    if (!extension.empty()) extension.erase(0, 1);
    const auto container = containerFor(extension, inputFormat);
    if (!container)
        throw FileError(path, extension.empty() ? "no file name extension to choose the audio format by"
                                                : "unknown audio format '." + extension + "'");
    const int inputMajor = inputFormat & SF_FORMAT_TYPEMASK;
    // Same container as the input: keep its byte order too.
    const int endian = *container == inputMajor ? inputFormat & SF_FORMAT_ENDMASK : 0;

    if (sampleFormat) {
        const auto subtype = sampleFormatFor(*sampleFormat);
        if (!subtype) throw FileError(path, "unknown sample format '" + *sampleFormat + "'");
        if (!valid(*container | *subtype, channels, sampleRate))
            throw FileError(path,
                            "the '." + extension + "' format cannot hold " + *sampleFormat + " samples");
        return *container | *subtype | endian;
    }
    std::vector<int> candidates;
    if (*container == SF_FORMAT_OGG)
        candidates = {extension == "opus" ? SF_FORMAT_OPUS : SF_FORMAT_VORBIS};
    else if (*container == SF_FORMAT_MPEG)
        candidates = {SF_FORMAT_MPEG_LAYER_III};
    else
        candidates = {inputFormat & SF_FORMAT_SUBMASK, SF_FORMAT_PCM_24, SF_FORMAT_PCM_16, SF_FORMAT_FLOAT};
    for (int subtype : candidates)
        if (valid(*container | subtype | endian, channels, sampleRate)) return *container | subtype | endian;
    throw FileError(path, "the '." + extension + "' format cannot hold " + std::to_string(channels) +
                              " channels at " + std::to_string(sampleRate) + " Hz");
}

AudioWriter::AudioWriter(int descriptor, const std::filesystem::path& path, int format, int channels,
                         int sampleRate)
    : path_(path) {
    SF_INFO info{};
    info.format = format;
    info.channels = channels;
    info.samplerate = sampleRate;
    file_ = sf_open_fd(descriptor, SFM_WRITE, &info, SF_TRUE);
    if (file_ == nullptr) {
        ::close(descriptor);
        throw FileError(path, "cannot write: " + lastError(nullptr));
    }
    // Samples beyond full scale are clipped in integer formats rather than wrapped around.
    sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
}

AudioWriter::~AudioWriter() {
    if (file_ != nullptr) sf_close(file_);
}

void AudioWriter::write(const float* interleaved, int64_t frames) {
    if (sf_writef_float(file_, interleaved, frames) != frames) throw FileError(path_, lastError(file_));
}

void AudioWriter::write(const double* interleaved, int64_t frames) {
    if (sf_writef_double(file_, interleaved, frames) != frames) throw FileError(path_, lastError(file_));
}

void AudioWriter::close() {
    SNDFILE* file = file_;
    file_ = nullptr;
    sf_write_sync(file);
    const int error = sf_close(file);
    if (error != 0) throw FileError(path_, std::string("cannot finish writing: ") + sf_error_number(error));
}

} // namespace host
