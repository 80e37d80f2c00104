#include "render/tags.h"

#include "render/json.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <sndfile.h>
#include <string_view>
#include <taglib/aifffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/infotag.h>
#include <taglib/mpegfile.h>
#include <taglib/opusfile.h>
#include <taglib/tfilestream.h>
#include <taglib/tpropertymap.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>
#include <taglib/xiphcomment.h>

namespace render {

namespace {

TagLib::String toTagLib(const std::string& text) {
    return TagLib::String(text, TagLib::String::UTF8);
}

std::string fromTagLib(const TagLib::String& text) {
    return text.to8Bit(true);
}

std::string joined(const std::vector<std::string>& values) {
    std::string text;
    for (const auto& value : values) text += (text.empty() ? "" : "; ") + value;
    return text;
}

// Text in ID3 frames marked Latin-1 that is UTF-8 beyond ASCII, as libsndfile (through LAME) and other
// tools write it, is read as the UTF-8 it is: Latin-1 text hardly ever forms such sequences.
TagLib::String latin1OrUtf8(const TagLib::ByteVector& data) {
    const std::string_view bytes(data.data(), data.size());
    const bool utf8 =
        std::any_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) != 0; }) && isUtf8(bytes);
    return TagLib::String(data, utf8 ? TagLib::String::UTF8 : TagLib::String::Latin1);
}

class Id3v2Latin1 : public TagLib::ID3v2::Latin1StringHandler {
public:
    TagLib::String parse(const TagLib::ByteVector& data) const override { return latin1OrUtf8(data); }
};

class Id3v1Latin1 : public TagLib::ID3v1::StringHandler {
public:
    TagLib::String parse(const TagLib::ByteVector& data) const override {
        return latin1OrUtf8(data).stripWhiteSpace();
    }
};

// TagLib keeps the handlers for the life of the program; they are installed once, before the first file.
void readLatin1AsUtf8() {
    static const Id3v2Latin1 id3v2;
    static const Id3v1Latin1 id3v1;
    static const bool installed = [] {
        TagLib::ID3v2::Tag::setLatin1StringHandler(&id3v2);
        TagLib::ID3v1::Tag::setStringHandler(&id3v1);
        return true;
    }();
    (void)installed;
}

// libsndfile's strings by TagLib's names.
constexpr std::pair<int, const char*> kStringKeys[] = {
    {SF_STR_TITLE, "TITLE"},
    {SF_STR_ARTIST, "ARTIST"},
    {SF_STR_ALBUM, "ALBUM"},
    {SF_STR_DATE, "DATE"},
    {SF_STR_GENRE, "GENRE"},
    {SF_STR_COMMENT, "COMMENT"},
    {SF_STR_TRACKNUMBER, "TRACKNUMBER"},
    {SF_STR_COPYRIGHT, "COPYRIGHT"},
    {SF_STR_LICENSE, "LICENSE"},
    {SF_STR_SOFTWARE, "ENCODING"},
};

// The RIFF INFO fields of a WAV that players show, by TagLib's names; the first of two for one name is the
// one written. INFO's own "ISRC" field names the source of the material, not a recording code.
constexpr std::pair<const char*, const char*> kInfoFields[] = {
    {"INAM", "TITLE"},     {"IART", "ARTIST"},   {"IPRD", "ALBUM"},       {"ICRD", "DATE"},
    {"IGNR", "GENRE"},     {"ICMT", "COMMENT"},  {"ITRK", "TRACKNUMBER"}, {"IPRT", "TRACKNUMBER"},
    {"ICOP", "COPYRIGHT"}, {"ISFT", "ENCODING"},
};

// Tags in words for the report, in the order it lists them; others go by their name in lower case.
constexpr std::pair<const char*, const char*> kWords[] = {
    {"TITLE", "title"},
    {"ARTIST", "artist"},
    {"ALBUM", "album"},
    {"DATE", "date"},
    {"GENRE", "genre"},
    {"COMMENT", "comment"},
    {"TRACKNUMBER", "track number"},
    {"ISRC", "ISRC"},
    {"COPYRIGHT", "copyright"},
    {"LICENSE", "license"},
    {"ENCODING", "software"},
};

std::string wordFor(const std::string& key) {
    for (const auto& [name, word] : kWords)
        if (key == name) return word;
    std::string word = key;
    std::transform(word.begin(), word.end(), word.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return word;
}

// The keys of `texts` in the report's order.
std::vector<std::string> reportOrder(const std::map<std::string, std::vector<std::string>>& texts) {
    std::vector<std::string> keys;
    for (const auto& [name, word] : kWords)
        if (texts.count(name)) keys.push_back(name);
    for (const auto& [key, values] : texts)
        if (std::find(keys.begin(), keys.end(), key) == keys.end()) keys.push_back(key);
    return keys;
}

// How TagLib holds tags in a libsndfile format.
enum class Family { None, Mpeg, Wav, Aiff, Flac, Vorbis, Opus };

Family familyOf(int format) {
    switch (format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_MPEG:
        return Family::Mpeg;
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX:
        return Family::Wav;
    case SF_FORMAT_AIFF:
        return Family::Aiff;
    case SF_FORMAT_FLAC:
        return Family::Flac;
    case SF_FORMAT_OGG:
        if ((format & SF_FORMAT_SUBMASK) == SF_FORMAT_VORBIS) return Family::Vorbis;
        if ((format & SF_FORMAT_SUBMASK) == SF_FORMAT_OPUS) return Family::Opus;
        return Family::None;
    default:
        return Family::None;
    }
}

// A file opened with TagLib, with the tag its format keeps text and pictures in.
struct Tagged {
    std::unique_ptr<TagLib::FileStream> stream;
    std::unique_ptr<TagLib::File> file;
    TagLib::ID3v2::Tag* id3 = nullptr;           // MP3, WAV, AIFF
    TagLib::Ogg::XiphComment* comment = nullptr; // FLAC, Ogg
    TagLib::RIFF::Info::Tag* info = nullptr;     // WAV
    TagLib::FLAC::File* flac = nullptr;          // keeps pictures in blocks of their own
};

// Nothing when TagLib does not know the format or cannot read the file as one.
std::optional<Tagged> openTagged(const std::filesystem::path& path, Family family, bool readOnly) {
    readLatin1AsUtf8();
    Tagged tagged;
    tagged.stream = std::make_unique<TagLib::FileStream>(path.c_str(), readOnly);
    if (!tagged.stream->isOpen()) return std::nullopt;
    TagLib::IOStream* stream = tagged.stream.get();
    auto* frames = TagLib::ID3v2::FrameFactory::instance();
    switch (family) {
    case Family::Mpeg: {
        auto file = std::make_unique<TagLib::MPEG::File>(stream, frames, false);
        tagged.id3 = file->ID3v2Tag(true);
        tagged.file = std::move(file);
        break;
    }
    case Family::Wav: {
        auto file = std::make_unique<TagLib::RIFF::WAV::File>(stream, false);
        tagged.id3 = file->ID3v2Tag();
        tagged.info = file->InfoTag();
        tagged.file = std::move(file);
        break;
    }
    case Family::Aiff: {
        auto file = std::make_unique<TagLib::RIFF::AIFF::File>(stream, false);
        tagged.id3 = file->tag();
        tagged.file = std::move(file);
        break;
    }
    case Family::Flac: {
        auto file = std::make_unique<TagLib::FLAC::File>(stream, frames, false);
        tagged.comment = file->xiphComment(true);
        tagged.flac = file.get();
        tagged.file = std::move(file);
        break;
    }
    case Family::Vorbis: {
        auto file = std::make_unique<TagLib::Ogg::Vorbis::File>(stream, false);
        tagged.comment = file->tag();
        tagged.file = std::move(file);
        break;
    }
    case Family::Opus: {
        auto file = std::make_unique<TagLib::Ogg::Opus::File>(stream, false);
        tagged.comment = file->tag();
        tagged.file = std::move(file);
        break;
    }
    case Family::None:
        return std::nullopt;
    }
    if (!tagged.file->isValid() || (tagged.id3 == nullptr && tagged.comment == nullptr)) return std::nullopt;
    return tagged;
}

TagPicture pictureOf(const TagLib::FLAC::Picture& picture) {
    const TagLib::ByteVector data = picture.data();
    return {fromTagLib(picture.mimeType()), fromTagLib(picture.description()), int(picture.type()),
            std::vector<char>(data.begin(), data.end())};
}

std::vector<TagPicture> picturesOf(Tagged& tagged) {
    std::vector<TagPicture> pictures;
    if (tagged.id3 != nullptr) {
        for (const auto* frame : tagged.id3->frameList("APIC"))
            if (const auto* picture = dynamic_cast<const TagLib::ID3v2::AttachedPictureFrame*>(frame)) {
                const TagLib::ByteVector data = picture->picture();
                pictures.push_back({fromTagLib(picture->mimeType()), fromTagLib(picture->description()),
                                    int(picture->type()), std::vector<char>(data.begin(), data.end())});
            }
    } else {
        for (const auto* picture : tagged.flac ? tagged.flac->pictureList() : tagged.comment->pictureList())
            pictures.push_back(pictureOf(*picture));
    }
    return pictures;
}

// Text as TagLib reads it: for WAV the ID3 chunk first, then RIFF INFO for what it lacks.
void readText(Tagged& tagged, Family family, FileTags& tags) {
    TagLib::PropertyMap properties;
    if (family == Family::Wav) {
        if (static_cast<TagLib::RIFF::WAV::File&>(*tagged.file).hasID3v2Tag())
            properties = tagged.id3->properties();
    } else {
        properties = tagged.file->properties();
    }
    for (const auto& [key, values] : properties) {
        auto& texts = tags.texts[fromTagLib(key)];
        for (const auto& value : values) texts.push_back(fromTagLib(value));
    }
    for (const auto& item : properties.unsupportedData())
        if (item != "APIC") tags.unread.push_back((tagged.id3 ? "ID3 frame " : "") + fromTagLib(item));
    if (tagged.info == nullptr) return;
    for (const auto& [field, text] : tagged.info->fieldListMap()) {
        const std::string id(field.data(), field.size());
        const auto known = std::find_if(std::begin(kInfoFields), std::end(kInfoFields),
                                        [&](const auto& row) { return id == row.first; });
        if (known == std::end(kInfoFields))
            tags.unread.push_back("RIFF INFO " + id);
        else if (!text.isEmpty() && !tags.texts.count(known->second))
            tags.texts[known->second] = {fromTagLib(text)};
    }
}

void writeText(Tagged& tagged, const FileTags& tags) {
    // What the encoder wrote of its own (an Ogg's ENCODER) stays unless the input has the same tag.
    TagLib::PropertyMap properties = tagged.id3 ? tagged.id3->properties() : tagged.comment->properties();
    for (const auto& [key, values] : tags.texts) {
        TagLib::StringList list;
        for (const auto& value : values) list.append(toTagLib(value));
        properties.replace(toTagLib(key), list);
    }
    if (tagged.id3)
        tagged.id3->setProperties(properties);
    else
        tagged.comment->setProperties(properties);
    if (tagged.info == nullptr) return;
    std::vector<std::string> written;
    for (const auto& [field, key] : kInfoFields) {
        const auto found = tags.texts.find(key);
        if (found == tags.texts.end() || std::find(written.begin(), written.end(), key) != written.end())
            continue;
        tagged.info->setFieldText(field, toTagLib(joined(found->second)));
        written.push_back(key);
    }
}

void writePictures(Tagged& tagged, const std::vector<TagPicture>& pictures) {
    if (tagged.id3 != nullptr) {
        tagged.id3->removeFrames("APIC");
        for (const auto& picture : pictures) {
            auto frame = std::make_unique<TagLib::ID3v2::AttachedPictureFrame>();
            frame->setTextEncoding(TagLib::String::UTF8);
            frame->setMimeType(toTagLib(picture.mimeType));
            frame->setDescription(toTagLib(picture.description));
            frame->setType(TagLib::ID3v2::AttachedPictureFrame::Type(picture.type));
            frame->setPicture(TagLib::ByteVector(picture.data.data(), unsigned(picture.data.size())));
            tagged.id3->addFrame(frame.release());
        }
        return;
    }
    if (tagged.flac)
        tagged.flac->removePictures();
    else
        tagged.comment->removeAllPictures();
    for (const auto& picture : pictures) {
        auto block = std::make_unique<TagLib::FLAC::Picture>();
        block->setMimeType(toTagLib(picture.mimeType));
        block->setDescription(toTagLib(picture.description));
        block->setType(TagLib::FLAC::Picture::Type(picture.type));
        block->setData(TagLib::ByteVector(picture.data.data(), unsigned(picture.data.size())));
        if (tagged.flac)
            tagged.flac->addPicture(block.release());
        else
            tagged.comment->addPicture(block.release());
    }
}

bool save(Tagged& tagged, Family family) {
    switch (family) {
    case Family::Mpeg:
        // ID3v1 holds Latin-1 only, in 30 characters: a player reading it would show less.
        return static_cast<TagLib::MPEG::File&>(*tagged.file)
            .save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, TagLib::ID3v2::v4,
                  TagLib::File::DoNotDuplicate);
    case Family::Wav:
        return static_cast<TagLib::RIFF::WAV::File&>(*tagged.file)
            .save(TagLib::RIFF::WAV::File::AllTags, TagLib::File::StripOthers, TagLib::ID3v2::v4);
    case Family::Aiff:
        return static_cast<TagLib::RIFF::AIFF::File&>(*tagged.file).save(TagLib::ID3v2::v4);
    default:
        return tagged.file->save();
    }
}

// The tags of a file in libsndfile format `format`: TagLib's where it reads the format (for WAV both the
// ID3 chunk and RIFF INFO), else the strings libsndfile read; for AIFF both.
FileTags readTags(const std::filesystem::path& path, int format,
                  const std::vector<std::pair<int, std::string>>& strings) {
    FileTags tags;
    const Family family = familyOf(format);
    auto tagged = openTagged(path, family, true);
    if (tagged) {
        readText(*tagged, family, tags);
        tags.pictures = picturesOf(*tagged);
    }
    // libsndfile reads an AIFF's own text chunks, and what TagLib cannot read.
    if (!tagged || family == Family::Aiff)
        for (const auto& [type, text] : strings)
            for (const auto& [known, key] : kStringKeys)
                if (known == type && !tags.texts.count(key)) tags.texts[key] = {text};
    return tags;
}

} // namespace

TagCarrier::TagCarrier(const std::filesystem::path& input, const AudioReader& reader)
    : tags_(readTags(input, reader.format(), reader.strings())), bext_(reader.broadcastInfo()) {}

void TagCarrier::beforeAudio(AudioWriter& writer, int format) const {
    if (bext_) writer.setBroadcastInfo(*bext_);
    const Family family = familyOf(format);
    if (family != Family::None && family != Family::Aiff) return;
    for (const auto& [type, key] : kStringKeys)
        if (const auto found = tags_.texts.find(key); found != tags_.texts.end())
            writer.setString(type, joined(found->second));
}

CarriedTags TagCarrier::afterAudio(const std::filesystem::path& written, int format,
                                   const std::filesystem::path& named) const {
    const Family family = familyOf(format);
    FileTags held;
    if (family == Family::None) {
        held = readTags(written, format, AudioReader(written).strings());
    } else {
        if (!tags_.texts.empty() || !tags_.pictures.empty()) {
            auto tagged = openTagged(written, family, false);
            if (!tagged) throw FileError(named, "cannot write its tags: TagLib cannot read it");
            writeText(*tagged, tags_);
            writePictures(*tagged, tags_.pictures);
            if (!save(*tagged, family)) throw FileError(named, "cannot write its tags");
        }
        held = readTags(written, format, {});
    }

    CarriedTags result;
    for (const auto& key : reportOrder(tags_.texts)) {
        const auto& values = tags_.texts.at(key);
        const auto found = held.texts.find(key);
        // libsndfile adds its own name and version to the software it is given.
        const bool kept = found != held.texts.end() &&
                          (family == Family::None ? joined(found->second).rfind(joined(values), 0) == 0
                                                  : found->second == values);
        (kept ? result.carried : result.dropped).push_back(wordFor(key));
    }
    if (!tags_.pictures.empty())
        (held.pictures == tags_.pictures ? result.carried : result.dropped).push_back("picture");
    result.dropped.insert(result.dropped.end(), tags_.unread.begin(), tags_.unread.end());
    if (bext_) (AudioReader(written).broadcastInfo() ? result.carried : result.dropped).push_back("bext");
    return result;
}

} // namespace render
