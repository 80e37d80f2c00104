#include "render/audio_file.h"

#include "render/audio_header.h"
#include "render/progress.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace render {

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

// Sample formats that any container holding them stores alike; codecs and companded formats are the
// input container's own business.
bool plainSamples(int subtype) {
    switch (subtype) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
        return true;
    default:
        return false;
    }
}

// libsndfile's name for a container or a sample format.
std::string formatName(int format) {
    SF_FORMAT_INFO info{};
    info.format = format;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) != 0 || info.name == nullptr)
        return "unknown";
    return info.name;
}

std::string subtypeName(int subtype) {
    static const std::pair<int, const char*> kNames[] = {
        {SF_FORMAT_PCM_S8, "8-bit PCM"},    {SF_FORMAT_PCM_U8, "8-bit unsigned PCM"},
        {SF_FORMAT_PCM_16, "16-bit PCM"},   {SF_FORMAT_PCM_24, "24-bit PCM"},
        {SF_FORMAT_PCM_32, "32-bit PCM"},   {SF_FORMAT_FLOAT, "32-bit float"},
        {SF_FORMAT_DOUBLE, "64-bit float"},
    };
    for (const auto& [format, name] : kNames)
        if (format == subtype) return name;
    return formatName(subtype);
}

// "WAV (Microsoft)", "FLAC (Free Lossless Audio Codec)": the name before its explanation.
std::string containerName(int format) {
    std::string name = formatName(format & SF_FORMAT_TYPEMASK);
    if (const auto paren = name.find(" ("); paren != std::string::npos) name.erase(paren);
    return name;
}

// The strings libsndfile reads and writes.
constexpr int kStringTypes[] = {SF_STR_TITLE,       SF_STR_COPYRIGHT, SF_STR_SOFTWARE, SF_STR_ARTIST,
                                SF_STR_COMMENT,     SF_STR_DATE,      SF_STR_ALBUM,    SF_STR_LICENSE,
                                SF_STR_TRACKNUMBER, SF_STR_GENRE};

// Room for a long coding history; libsndfile's own record keeps 256 characters of it.
using BroadcastInfo = SF_BROADCAST_INFO_VAR(16384);

bool valid(int format, int channels, int sampleRate) {
    SF_INFO info{};
    info.format = format;
    info.channels = channels;
    info.samplerate = sampleRate;
    return sf_format_check(&info) != 0;
}

} // namespace

// A file read through libsndfile's virtual I/O, with a few bytes of its header replaced.
struct RepairedFile {
    int descriptor = -1;
    int64_t size = 0, position = 0;
    HeaderRepair repair;

    ~RepairedFile() {
        if (descriptor >= 0) ::close(descriptor);
    }
};

namespace {

RepairedFile& repaired(void* file) {
    return *static_cast<RepairedFile*>(file);
}

SF_VIRTUAL_IO repairedIo = {
    [](void* file) -> sf_count_t { return repaired(file).size; },
    [](sf_count_t offset, int whence, void* file) -> sf_count_t {
        RepairedFile& f = repaired(file);
        f.position = offset + (whence == SEEK_CUR ? f.position : whence == SEEK_END ? f.size : 0);
        return f.position;
    },
    [](void* data, sf_count_t count, void* file) -> sf_count_t {
        RepairedFile& f = repaired(file);
        auto* out = static_cast<uint8_t*>(data);
        const auto& header = f.repair.header;
        const auto headerSize = int64_t(header.size());
        count = std::max<sf_count_t>(0, std::min<sf_count_t>(count, f.size - f.position));
        sf_count_t done = 0;
        if (f.position < headerSize) {
            done = std::min<sf_count_t>(count, headerSize - f.position);
            std::memcpy(out, header.data() + f.position, size_t(done));
        }
        while (done < count) {
            const ssize_t got = ::pread(f.descriptor, out + done, size_t(count - done),
                                        off_t(f.repair.audioAt + f.position + done - headerSize));
            if (got <= 0) break;
            done += got;
        }
        f.position += done;
        return done;
    },
    [](const void*, sf_count_t, void*) -> sf_count_t { return 0; },
    [](void* file) -> sf_count_t { return repaired(file).position; },
};

} // namespace

AudioReader::AudioReader(const std::filesystem::path& path) : path_(path) {
    std::error_code error;
    if (!std::filesystem::exists(path, error)) throw FileError(path, "no such file");
    if (std::filesystem::is_directory(path, error)) throw FileError(path, "is a folder, not an audio file");
    const auto header = readHeaderLength(path);
    SF_INFO info{};
    if (header && header->repair) {
        repaired_ = std::make_unique<RepairedFile>();
        repaired_->descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (repaired_->descriptor < 0)
            throw FileError(path, "cannot read: " + std::string(std::strerror(errno)));
        repaired_->repair = *header->repair;
        repaired_->size = int64_t(repaired_->repair.header.size()) + repaired_->repair.audioBytes;
        file_ = sf_open_virtual(&repairedIo, SFM_READ, &info, repaired_.get());
    } else {
        file_ = sf_open(path.c_str(), SFM_READ, &info);
    }
    if (file_ == nullptr) throw FileError(path, "cannot read as audio: " + lastError(nullptr));
    channels_ = info.channels;
    sampleRate_ = info.samplerate;
    format_ = info.format;
    lengthKnown_ = info.frames >= 0 && info.frames < SF_COUNT_MAX;
    frames_ = lengthKnown_ ? info.frames : 0;
    if (header) {
        claimedFrames_ = header->claimedFrames;
        unfinishedHeader_ = header->unfinished;
    } else if ((format_ & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC && frames_ > 0) {
        // FLAC's stream header counts the samples exactly; other codecs' counts may be estimates.
        claimedFrames_ = frames_;
    }
}

AudioReader::~AudioReader() {
    if (file_ != nullptr) sf_close(file_);
}

// A file whose audio breaks off in a damaged frame (a FLAC file cut short) ends there, with a warning; a
// failure of the disk, or a file that gives no audio at all, is an error.
int64_t AudioReader::counted(int64_t got, int64_t asked) {
    if (atEnd_) return 0;
    if (got < asked && sf_error(file_) != SF_ERR_NO_ERROR) {
        if (sf_error(file_) == SF_ERR_SYSTEM || framesRead_ + got == 0)
            throw FileError(path_, lastError(file_));
        brokenOff_ = lastError(file_);
    }
    framesRead_ += got;
    atEnd_ = got < asked;
    return got;
}

int64_t AudioReader::read(float* interleaved, int64_t frames) {
    return counted(atEnd_ ? 0 : sf_readf_float(file_, interleaved, frames), frames);
}

int64_t AudioReader::read(double* interleaved, int64_t frames) {
    return counted(atEnd_ ? 0 : sf_readf_double(file_, interleaved, frames), frames);
}

std::optional<std::string> AudioReader::lengthWarning() const {
    if (!atEnd_) return std::nullopt;
    const auto amount = [&](int64_t frames, const char* what) {
        return formatClock(double(frames) / sampleRate_) + what + " (" + std::to_string(frames) + " frames)";
    };
    const std::string claims =
        claimedFrames_ ? "the header claims " + amount(*claimedFrames_, " of audio") + ", " : "";
    if (!brokenOff_.empty())
        return claims + "the audio breaks off after " + amount(framesRead_, "") + " (" + brokenOff_ +
               "): cut short or damaged; levelled as far as it goes";
    if (!claimedFrames_ || *claimedFrames_ == framesRead_) return std::nullopt;
    if (unfinishedHeader_)
        return "the header was never finished: it claims " + amount(*claimedFrames_, " of audio") +
               ", the file holds " + amount(framesRead_, "") + "; read to the end of the file";
    if (framesRead_ < *claimedFrames_)
        return claims + "the file holds only " + amount(framesRead_, "") +
               ": cut short or damaged; levelled as far as it goes";
    return claims + "the file holds " + amount(framesRead_, "") + "; read to the end of the file";
}

std::vector<std::pair<int, std::string>> AudioReader::strings() const {
    std::vector<std::pair<int, std::string>> found;
    for (const int type : kStringTypes)
        if (const char* text = sf_get_string(file_, type); text != nullptr && *text != '\0')
            found.emplace_back(type, text);
    return found;
}

std::optional<std::vector<char>> AudioReader::broadcastInfo() const {
    BroadcastInfo info{};
    if (sf_command(file_, SFC_GET_BROADCAST_INFO, &info, sizeof info) != SF_TRUE) return std::nullopt;
    const auto* bytes = reinterpret_cast<const char*>(&info);
    // Up to the end of the coding history: libsndfile takes no more than that back.
    const size_t history = std::min<size_t>(info.coding_history_size, sizeof info.coding_history);
    return std::vector<char>(bytes, bytes + offsetof(BroadcastInfo, coding_history) + history);
}

namespace {

// The Ogg page checksum: CRC-32 with polynomial 0x04C11DB7, not reflected, starting from 0.
uint32_t oggChecksum(const std::vector<unsigned char>& page) {
    static const auto kTable = [] {
        std::array<uint32_t, 256> table{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t r = i << 24;
            for (int bit = 0; bit < 8; ++bit) r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
            table[i] = r;
        }
        return table;
    }();
    uint32_t crc = 0;
    for (unsigned char byte : page) crc = (crc << 8) ^ kTable[((crc >> 24) ^ byte) & 0xFF];
    return crc;
}

} // namespace

void makeReproducible(const std::filesystem::path& path, int format, const std::filesystem::path& named) {
    if ((format & SF_FORMAT_TYPEMASK) != SF_FORMAT_OGG) return;
    constexpr uint32_t kSerial = 0x56324C56; // any fixed number serves
    constexpr size_t kHeader = 27, kSerialAt = 14, kChecksumAt = 22, kSegmentsAt = 26;
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    std::vector<unsigned char> page;
    for (std::streamoff at = 0;;) {
        page.resize(kHeader);
        file.seekg(at);
        if (!file.read(reinterpret_cast<char*>(page.data()), kHeader)) break;
        if (std::memcmp(page.data(), "OggS", 4) != 0)
            throw FileError(named, "cannot finish writing: not an Ogg page");
        const size_t segments = page[kSegmentsAt];
        page.resize(kHeader + segments);
        file.read(reinterpret_cast<char*>(page.data() + kHeader), std::streamsize(segments));
        size_t body = 0;
        for (size_t s = 0; s < segments; ++s) body += page[kHeader + s];
        page.resize(kHeader + segments + body);
        file.read(reinterpret_cast<char*>(page.data() + kHeader + segments), std::streamsize(body));
        if (!file) throw FileError(named, "cannot finish writing: a cut Ogg page");
        for (size_t b = 0; b < 4; ++b) page[kSerialAt + b] = (kSerial >> (8 * b)) & 0xFF;
        std::fill_n(page.begin() + kChecksumAt, 4, 0);
        const uint32_t checksum = oggChecksum(page);
        for (size_t b = 0; b < 4; ++b) page[kChecksumAt + b] = (checksum >> (8 * b)) & 0xFF;
        file.seekp(at);
        file.write(reinterpret_cast<const char*>(page.data()), std::streamsize(kHeader));
        if (!file) throw FileError(named, "cannot finish writing: " + std::string(std::strerror(errno)));
        at += std::streamoff(page.size());
    }
}

bool audioFileName(const std::filesystem::path& path) {
    std::string extension = lowercase(path.extension().string());
    return extension.size() > 1 && containerFor(extension.substr(1), 0).has_value();
}

std::string describeFormat(int format) {
    return containerName(format) + ", " + subtypeName(format & SF_FORMAT_SUBMASK);
}

int integerBits(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
        return 8;
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_ALAC_16:
        return 16;
    case SF_FORMAT_ALAC_20:
        return 20;
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_ALAC_24:
        return 24;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_ALAC_32:
        return 32;
    default:
        return 0;
    }
}

namespace {

// Bytes a sample takes in a file; 0 for codecs.
int64_t sampleBytes(int subtype) {
    switch (subtype) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW:
        return 1;
    case SF_FORMAT_PCM_16:
        return 2;
    case SF_FORMAT_PCM_24:
        return 3;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
        return 4;
    case SF_FORMAT_DOUBLE:
        return 8;
    default:
        return 0;
    }
}

// The most a container with 32-bit sizes holds, less room for its header, tags and bext chunk.
constexpr int64_t kMost32BitBytes = 0xFFFFFFFFll - (1 << 20);

bool sizedIn32Bits(int format) {
    const int container = format & SF_FORMAT_TYPEMASK;
    return container == SF_FORMAT_WAV || container == SF_FORMAT_WAVEX || container == SF_FORMAT_AIFF;
}

// A WAV that may pass 4 GiB becomes RF64: unknown lengths, and estimates with a margin for inputs whose
// length is approximate.
OutputFormat sizedForLength(OutputFormat chosen, int channels, std::optional<int64_t> frames) {
    const int container = chosen.format & SF_FORMAT_TYPEMASK;
    if (container != SF_FORMAT_WAV && container != SF_FORMAT_WAVEX) return chosen;
    const int64_t known = sampleBytes(chosen.format & SF_FORMAT_SUBMASK), bytes = known > 0 ? known : 4;
    if (frames && *frames <= kMost32BitBytes / 5 * 4 / (bytes * channels)) return chosen;
    chosen.format = SF_FORMAT_RF64 | (chosen.format & SF_FORMAT_SUBMASK);
    chosen.rf64Downgrade = true;
    return chosen;
}

} // namespace

OutputFormat outputFormatFor(const std::filesystem::path& path, int inputFormat,
                             const std::optional<std::string>& sampleFormat, int channels, int sampleRate,
                             std::optional<int64_t> frames) {
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
        return sizedForLength({*container | *subtype | endian, "", false}, channels, frames);
    }
    const int inputSubtype = inputFormat & SF_FORMAT_SUBMASK;
    std::vector<int> candidates;
    if (*container == SF_FORMAT_OGG) {
        candidates = {extension == "opus" ? SF_FORMAT_OPUS : SF_FORMAT_VORBIS};
    } else if (*container == SF_FORMAT_MPEG) {
        candidates = {SF_FORMAT_MPEG_LAYER_III};
    } else {
        // libsndfile accepts MP3 data in a WAV header, for one, but cannot write it.
        if (*container == inputMajor || plainSamples(inputSubtype)) candidates.push_back(inputSubtype);
        candidates.insert(candidates.end(), {SF_FORMAT_PCM_24, SF_FORMAT_PCM_16, SF_FORMAT_FLOAT});
    }
    for (int subtype : candidates) {
        const int format = *container | subtype | endian;
        if (!valid(format, channels, sampleRate)) continue;
        std::string note;
        if (subtype != inputSubtype)
            note = containerName(format) + " cannot hold the input's " + subtypeName(inputSubtype) +
                   "; written as " + subtypeName(subtype);
        return sizedForLength({format, note, false}, channels, frames);
    }
    throw FileError(path, "the '." + extension + "' format cannot hold " + counted(channels, "channel") +
                              " at " + std::to_string(sampleRate) + " Hz");
}

AudioWriter::AudioWriter(int descriptor, const std::filesystem::path& path, int format, int channels,
                         int sampleRate, bool rf64Downgrade)
    : path_(path), descriptor_(descriptor), format_(format), rf64Downgrade_(rf64Downgrade) {
    SF_INFO info{};
    info.format = format;
    info.channels = channels;
    info.samplerate = sampleRate;
    file_ = sf_open_fd(descriptor, SFM_WRITE, &info, SF_TRUE);
    if (file_ == nullptr) {
        ::close(descriptor);
        throw FileError(path, "cannot write: " + lastError(nullptr));
    }
    if (rf64Downgrade) sf_command(file_, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
    // Samples beyond full scale are clipped in integer formats rather than wrapped around.
    sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    // The PEAK chunk of float files holds the time of writing: the same render would give other bytes.
    sf_command(file_, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    frameBytes_ = sampleBytes(format & SF_FORMAT_SUBMASK) * channels;
    if (sizedIn32Bits(format) && frameBytes_ > 0) mostFrames_ = kMost32BitBytes / frameBytes_;
}

AudioWriter::~AudioWriter() {
    if (file_ != nullptr) sf_close(file_);
}

void AudioWriter::count(int64_t frames) {
    framesWritten_ += frames;
    if (mostFrames_ > 0 && framesWritten_ > mostFrames_)
        throw FileError(path_, "grows past the 4 GiB that " + containerName(format_) +
                                   " can hold; name the output .rf64 or .w64 for longer files");
}

void AudioWriter::write(const float* interleaved, int64_t frames) {
    count(frames);
    if (sf_writef_float(file_, interleaved, frames) != frames) throw FileError(path_, lastError(file_));
}

void AudioWriter::write(const double* interleaved, int64_t frames) {
    count(frames);
    if (sf_writef_double(file_, interleaved, frames) != frames) throw FileError(path_, lastError(file_));
}

void AudioWriter::write(const int32_t* interleaved, int64_t frames) {
    count(frames);
    if (sf_writef_int(file_, interleaved, frames) != frames) throw FileError(path_, lastError(file_));
}

bool AudioWriter::setString(int type, const std::string& text) {
    return sf_set_string(file_, type, text.c_str()) == 0;
}

bool AudioWriter::setBroadcastInfo(const std::vector<char>& info) {
    std::vector<char> copy = info;
    return sf_command(file_, SFC_SET_BROADCAST_INFO, copy.data(), int(copy.size())) == SF_TRUE;
}

void AudioWriter::setFlacLevel(int level) {
    if ((format_ & SF_FORMAT_TYPEMASK) != SF_FORMAT_FLAC) return;
    // libsndfile maps 0 to 1 onto FLAC's levels 0 to 8.
    double scaled = std::clamp(level, 0, 8) / 8.0;
    sf_command(file_, SFC_SET_COMPRESSION_LEVEL, &scaled, sizeof scaled);
}

void AudioWriter::close() {
    SNDFILE* file = file_;
    file_ = nullptr;
    sf_write_sync(file);
    // libsndfile writes an RF64 that stays under 4 GiB as a WAV (with the extensible format header).
    struct stat written {};
    if (rf64Downgrade_ && ::fstat(descriptor_, &written) == 0 && written.st_size < 0xFFFFFFFFll)
        format_ = SF_FORMAT_WAVEX | (format_ & SF_FORMAT_SUBMASK);
    const int error = sf_close(file);
    if (error != 0) throw FileError(path_, std::string("cannot finish writing: ") + sf_error_number(error));
}

} // namespace render
