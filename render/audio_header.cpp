#include "render/audio_header.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string_view>

namespace render {

namespace {

// A file read at given offsets.
class FileBytes {
public:
    explicit FileBytes(const std::filesystem::path& path) : file_(path, std::ios::binary) {
        std::error_code error;
        const auto size = std::filesystem::file_size(path, error);
        size_ = error ? 0 : int64_t(size);
    }

    int64_t size() const { return size_; }

    // `count` bytes from `offset`; empty when the file ends before.
    std::vector<uint8_t> at(int64_t offset, size_t count) {
        if (offset < 0 || offset + int64_t(count) > size_) return {};
        std::vector<uint8_t> bytes(count);
        file_.clear();
        file_.seekg(offset);
        if (!file_.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(count))) return {};
        return bytes;
    }

private:
    std::ifstream file_;
    int64_t size_ = 0;
};

uint64_t number(const uint8_t* bytes, int count, bool bigEndian) {
    uint64_t value = 0;
    for (int i = 0; i < count; ++i) value |= uint64_t(bytes[bigEndian ? count - 1 - i : i]) << (8 * i);
    return value;
}

bool named(const std::vector<uint8_t>& bytes, size_t at, std::string_view id) {
    return bytes.size() >= at + id.size() && std::memcmp(bytes.data() + at, id.data(), id.size()) == 0;
}

// WAVE format tags (or the extensible format's subformat) of samples that take blockAlign bytes a frame:
// PCM, float, A-law and µ-law.
bool plainWaveFormat(uint64_t tag) {
    return tag == 1 || tag == 3 || tag == 6 || tag == 7;
}

constexpr uint64_t kExtensibleTag = 0xFFFE;
constexpr uint64_t kUnsetSize = 0xFFFFFFFF;

// The format tag and bytes a frame from the body of a `fmt ` chunk; 0 for what is not plain samples.
uint64_t frameBytes(const std::vector<uint8_t>& body, bool bigEndian) {
    if (body.size() < 16) return 0;
    uint64_t tag = number(&body[0], 2, bigEndian);
    if (tag == kExtensibleTag && body.size() >= 26) tag = number(&body[24], 2, bigEndian);
    return plainWaveFormat(tag) ? number(&body[12], 2, bigEndian) : 0;
}

// Whether the bytes from `offset` to the end are chunks (a name of four printable characters and a size
// that fits), as after a data chunk that is really empty, rather than audio.
bool chunksToTheEnd(FileBytes& file, int64_t offset, bool bigEndian) {
    while (offset + 8 <= file.size()) {
        const auto header = file.at(offset, 8);
        for (size_t i = 0; i < 4; ++i)
            if (header[i] < 0x20 || header[i] > 0x7E) return false;
        const uint64_t size = number(&header[4], 4, bigEndian);
        offset += int64_t(8 + size + (size & 1));
    }
    return offset == file.size() || offset == file.size() + 1;
}

// Where chunks that follow audio of unknown length begin (a writer that streamed the audio and added its
// tags at the end, without going back to the sizes): the first known chunk name in the file's last 16 MiB,
// a whole number of frames after the audio begins, from which only chunks follow. The end of the file when
// there is none.
int64_t trailingChunks(FileBytes& file, int64_t audio, uint64_t frame, bool bigEndian) {
    static constexpr std::string_view kNames[] = {"LIST", "id3 ", "ID3 ", "bext", "iXML", "axml", "cue ",
                                                  "smpl", "inst", "PEAK", "JUNK", "_PMX", "cart", "umid"};
    constexpr int64_t kWindow = 16 << 20;
    const int64_t from = std::max(audio, file.size() - kWindow);
    const auto tail = file.at(from, size_t(file.size() - from));
    for (int64_t at = from; at + 8 <= file.size(); ++at) {
        const uint64_t audioBytes = uint64_t(at - audio);
        // Chunks start on even bytes: after an odd number of audio bytes comes a pad byte.
        const bool whole = audioBytes % frame == 0 || (audioBytes % 2 == 0 && (audioBytes - 1) % frame == 0 &&
                                                       (audioBytes - 1) % 2 == 1);
        if (!whole) continue;
        const std::string_view name(reinterpret_cast<const char*>(&tail[size_t(at - from)]), 4);
        if (std::find(std::begin(kNames), std::end(kNames), name) != std::end(kNames) &&
            chunksToTheEnd(file, at, bigEndian))
            return at;
    }
    return file.size();
}

// The size of a data chunk whose 32-bit size wrapped around at 4 GiB: the largest `declared` + k·4 GiB
// that the file holds with only chunks after it; nothing when there is none.
std::optional<uint64_t> unwrappedSize(FileBytes& file, int64_t audio, uint64_t declared) {
    std::optional<uint64_t> found;
    for (uint64_t size = declared + (uint64_t(1) << 32); audio + int64_t(size) <= file.size();
         size += uint64_t(1) << 32)
        if (chunksToTheEnd(file, audio + int64_t(size + (size & 1)), false)) found = size;
    return found;
}

void putNumber(std::vector<uint8_t>& bytes, size_t at, uint64_t value, size_t count, bool bigEndian) {
    for (size_t i = 0; i < count; ++i)
        bytes[at + (bigEndian ? count - 1 - i : i)] = uint8_t(value >> (8 * i));
}

// The header up to the audio with the data size set to `audioBytes`. A plain WAV's 32-bit size cannot hold
// more than 4 GiB: that header becomes RF64's, a ds64 chunk with the sizes before the file's own chunks.
std::optional<HeaderRepair> repairedHeader(FileBytes& file, int64_t audio, uint64_t audioBytes, bool wide,
                                           int64_t wideDataAt, bool bigEndian) {
    HeaderRepair repair{file.at(0, size_t(audio)), audio, int64_t(audioBytes)};
    if (repair.header.empty()) return std::nullopt;
    if (wide) {
        putNumber(repair.header, size_t(wideDataAt), audioBytes, 8, false);
    } else if (audioBytes < kUnsetSize) {
        putNumber(repair.header, size_t(audio - 4), audioBytes, 4, bigEndian);
    } else {
        if (bigEndian) return std::nullopt; // RF64 is little-endian only
        constexpr size_t kDs64 = 8 + 28;
        std::vector<uint8_t> header(12 + kDs64);
        std::memcpy(header.data(), "RF64\xFF\xFF\xFF\xFFWAVEds64", 16);
        putNumber(header, 16, 28, 4, false);
        const uint64_t total = header.size() + repair.header.size() - 12 + audioBytes;
        putNumber(header, 20, total - 8, 8, false); // the whole file's size
        putNumber(header, 28, audioBytes, 8, false);
        putNumber(header, 36, 0, 8, false); // the frame count, for compressed data only
        putNumber(header, 44, 0, 4, false); // no table of further sizes
        header.insert(header.end(), repair.header.begin() + 12, repair.header.end());
        putNumber(header, header.size() - 4, kUnsetSize, 4, false);
        repair.header = std::move(header);
    }
    return repair;
}

// RIFF, RIFX (big-endian) and RF64 or BW64 (sizes beyond 4 GiB in a ds64 chunk) WAV files.
std::optional<HeaderLength> waveLength(FileBytes& file, const std::vector<uint8_t>& start) {
    const bool bigEndian = named(start, 0, "RIFX");
    const bool wide = named(start, 0, "RF64") || named(start, 0, "BW64");
    std::optional<uint64_t> wideData;
    int64_t wideDataAt = 0;
    uint64_t frame = 0;
    for (int64_t at = 12; at + 8 <= file.size();) {
        const auto header = file.at(at, 8);
        const uint64_t size = number(&header[4], 4, bigEndian);
        if (named(header, 0, "ds64")) {
            const auto body = file.at(at + 8, 16);
            if (body.empty()) return std::nullopt;
            wideDataAt = at + 16;
            wideData = number(&body[8], 8, false);
        } else if (named(header, 0, "fmt ")) {
            frame = frameBytes(file.at(at + 8, size_t(std::min<uint64_t>(size, 26))), bigEndian);
        } else if (named(header, 0, "data")) {
            if (frame == 0) return std::nullopt;
            const uint64_t declared = wide && wideData ? *wideData : size;
            HeaderLength length;
            length.claimedFrames = int64_t(declared / frame);
            length.unfinished = declared == 0 || (!wide && declared == kUnsetSize);
            const int64_t audio = at + 8;
            const auto rest = uint64_t(file.size() - audio);
            // The audio's real size, where the header's is not it: up to the chunks a writer may have added
            // after it, or the end of the file, when the size was never filled in (libsndfile would read a
            // plain WAV's unset 0xFFFFFFFF through those chunks, and only as far as 4 GiB).
            std::optional<uint64_t> real;
            if ((declared == 0 && !chunksToTheEnd(file, audio, bigEndian)) ||
                (!wide && declared == kUnsetSize))
                real = uint64_t(trailingChunks(file, audio, frame, bigEndian) - audio);
            else if (!wide && rest > kUnsetSize &&
                     !chunksToTheEnd(file, audio + int64_t(declared + (declared & 1)), bigEndian))
                real = unwrappedSize(file, audio, declared);
            if (real)
                length.repair =
                    repairedHeader(file, audio, *real / frame * frame, wide, wideDataAt, bigEndian);
            return length;
        }
        at += int64_t(8 + size + (size & 1));
    }
    return std::nullopt;
}

// Sony Wave64: chunks named by GUIDs, with 64-bit sizes that count their own 24-byte header.
std::optional<HeaderLength> wave64Length(FileBytes& file) {
    static constexpr uint8_t kWaveGuidTail[] = {0xF3, 0xAC, 0xD3, 0x11, 0x8C, 0xD1,
                                                0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};
    constexpr int64_t kHeader = 24;
    uint64_t frame = 0;
    for (int64_t at = 40; at + kHeader <= file.size();) {
        const auto header = file.at(at, size_t(kHeader));
        const uint64_t size = number(&header[16], 8, false);
        const bool known = std::memcmp(&header[4], kWaveGuidTail, sizeof kWaveGuidTail) == 0;
        if (known && named(header, 0, "fmt ")) {
            frame = frameBytes(file.at(at + kHeader, 26), false);
        } else if (known && named(header, 0, "data")) {
            if (frame == 0) return std::nullopt;
            const uint64_t declared = size > uint64_t(kHeader) ? size - kHeader : 0;
            return HeaderLength{int64_t(declared / frame), declared == 0, std::nullopt};
        }
        if (size < uint64_t(kHeader)) return std::nullopt;
        at += int64_t((size + 7) & ~uint64_t(7));
    }
    return std::nullopt;
}

// AIFF and AIFF-C with uncompressed samples: the frame count is in the COMM chunk.
std::optional<HeaderLength> aiffLength(FileBytes& file, bool compressed) {
    static constexpr std::string_view kPlain[] = {"NONE", "sowt", "twos", "raw ", "fl32", "FL32", "fl64",
                                                  "FL64", "in24", "in32", "ulaw", "ULAW", "alaw", "ALAW"};
    for (int64_t at = 12; at + 8 <= file.size();) {
        const auto header = file.at(at, 8);
        const uint64_t size = number(&header[4], 4, true);
        if (named(header, 0, "COMM")) {
            const auto body = file.at(at + 8, compressed ? 22 : 18);
            if (body.empty()) return std::nullopt;
            if (compressed) {
                const std::string_view type(reinterpret_cast<const char*>(&body[18]), 4);
                if (std::find(std::begin(kPlain), std::end(kPlain), type) == std::end(kPlain))
                    return std::nullopt;
            }
            const auto frames = int64_t(number(&body[2], 4, true));
            return HeaderLength{frames, frames == 0, std::nullopt};
        }
        at += int64_t(8 + size + (size & 1));
    }
    return std::nullopt;
}

} // namespace

std::optional<HeaderLength> readHeaderLength(const std::filesystem::path& path) {
    FileBytes file(path);
    const auto start = file.at(0, 12);
    if (start.empty()) return std::nullopt;
    if ((named(start, 0, "RIFF") || named(start, 0, "RIFX") || named(start, 0, "RF64") ||
         named(start, 0, "BW64")) &&
        named(start, 8, "WAVE"))
        return waveLength(file, start);
    if (named(start, 0, "riff")) return wave64Length(file);
    if (named(start, 0, "FORM") && (named(start, 8, "AIFF") || named(start, 8, "AIFC")))
        return aiffLength(file, named(start, 8, "AIFC"));
    return std::nullopt;
}

} // namespace render
