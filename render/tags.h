// Tags carried from an input file to its output: title, artist, ISRC, copyright, licence and the rest,
// attached pictures, and a broadcast WAV's bext chunk.
#pragma once

#include "render/audio_file.h"

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace render {

struct TagPicture {
    std::string mimeType, description;
    int type = 0; // front cover, artist... as ID3 and FLAC number them
    std::vector<char> data;
    bool operator==(const TagPicture&) const = default;
};

// Tags by TagLib's names for them ("TITLE", "ISRC", "LICENSE"), each with its values.
struct FileTags {
    std::map<std::string, std::vector<std::string>> texts;
    std::vector<TagPicture> pictures;
    // Found but not carried ("ID3 frame PRIV"), in words.
    std::vector<std::string> unread;
};

// What reached the output and what did not, in words: "title", "ISRC", "picture", "bext".
struct CarriedTags {
    std::vector<std::string> carried, dropped;
};

// Tags go into the output in two steps. libsndfile writes the bext chunk, and the strings where TagLib
// cannot write the format (and an AIFF's own text chunks), before the first sample. TagLib writes the tags
// once libsndfile has closed the file: ID3v2.4 in UTF-8 for MP3 (and in an ID3 chunk of WAV and AIFF, with
// RIFF INFO beside it in WAV), Vorbis comments for FLAC, Ogg Vorbis and Opus. What it writes is fixed by
// the tags alone, so the same render gives the same bytes.
class TagCarrier {
public:
    // Reads the input's tags and bext chunk.
    TagCarrier(const std::filesystem::path& input, const AudioReader& reader);

    // Before the first sample.
    void beforeAudio(AudioWriter& writer, int format) const;
    // Once libsndfile has closed `written`: writes the tags and reads the file back to tell what it holds.
    // `named` names the file in messages. Throws FileError when the tags cannot be written.
    CarriedTags afterAudio(const std::filesystem::path& written, int format,
                           const std::filesystem::path& named) const;

private:
    FileTags tags_;
    std::optional<std::vector<char>> bext_;
};

} // namespace render
