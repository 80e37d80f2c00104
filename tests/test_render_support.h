// Shared by the renderer's tests: audio files written and read with libsndfile, an independent
// loudness measurement with libebur128, a strict JSON reader, and a fixture that runs the built renderer in
// a folder of its own.
#pragma once

#include <gtest/gtest.h>

#include <ebur128.h>
#include <sndfile.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <numbers>
#include <random>
#include <set>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace render_test {

namespace fs = std::filesystem;

const fs::path kRenderer = VANDREL_RENDER_PATH;
const fs::path kEq = "/usr/lib/vst/3BandEQ-vst.so";
const fs::path kFixture = fs::path(VANDREL_FIXTURE_DIR) / "fixture_delay.so";
constexpr int kRate = 48000;

struct RunResult {
    int status = -1;
    std::string out, err;
};

std::string quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string slurp(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

struct Audio {
    int channels = 0, rate = 0, format = 0;
    std::vector<double> samples; // interleaved
    size_t frames() const { return channels ? samples.size() / size_t(channels) : 0; }
    double at(size_t frame, int channel) const { return samples[frame * size_t(channels) + size_t(channel)]; }
};

// `tag` sets what goes into the file before its samples.
void writeAudio(const fs::path& path, const Audio& audio, const std::function<void(SNDFILE*)>& tag = {}) {
    SF_INFO info{};
    info.channels = audio.channels;
    info.samplerate = audio.rate;
    info.format = audio.format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    if (tag) tag(file);
    sf_writef_double(file, audio.samples.data(), sf_count_t(audio.frames()));
    sf_close(file);
}

Audio readAudio(const fs::path& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    Audio audio;
    if (file == nullptr) return audio;
    audio.channels = info.channels;
    audio.rate = info.samplerate;
    audio.format = info.format;
    audio.samples.resize(size_t(info.frames * info.channels));
    sf_readf_double(file, audio.samples.data(), info.frames);
    sf_close(file);
    return audio;
}

// Speech-like test signal: a tone whose level steps between loud and quiet, over a little noise.
Audio programme(int channels, double seconds, int format, unsigned seed = 1) {
    Audio audio{channels, kRate, format, {}};
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, 0.002);
    const auto frames = size_t(seconds * kRate);
    for (size_t i = 0; i < frames; ++i) {
        const double level = (i / (kRate * 6)) % 2 == 0 ? 0.4 : 0.05;
        for (int c = 0; c < channels; ++c)
            audio.samples.push_back(
                level * std::sin(2 * std::numbers::pi * (440.0 + 110 * c) * double(i) / kRate) +
                noise(random));
    }
    return audio;
}

// Integrated loudness (LUFS) and true peak (dBTP), by libebur128 on the whole programme, as a standard
// meter reads a file: a mono file's channel counted once.
struct Measured {
    double integrated = 0, truePeak = 0;
};

Measured measure(const Audio& audio) {
    ebur128_state* state =
        ebur128_init(unsigned(audio.channels), unsigned(audio.rate), EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
    ebur128_add_frames_double(state, audio.samples.data(), audio.frames());
    Measured measured;
    ebur128_loudness_global(state, &measured.integrated);
    double peak = 0, channelPeak = 0;
    for (int c = 0; c < audio.channels; ++c) {
        ebur128_true_peak(state, unsigned(c), &channelPeak);
        peak = std::max(peak, channelPeak);
    }
    measured.truePeak = 20 * std::log10(peak);
    ebur128_destroy(&state);
    return measured;
}

double integratedLoudness(const Audio& audio) {
    return measure(audio).integrated;
}

// Whether text is well-formed UTF-8, as JSON text must be: no stray continuation bytes, overlong forms,
// surrogates or code points beyond U+10FFFF.
bool validUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const size_t length = lead < 0x80         ? 1
                              : (lead >> 5) == 6  ? 2
                              : (lead >> 4) == 14 ? 3
                              : (lead >> 3) == 30 ? 4
                                                  : 0;
        if (length == 0 || i + length > text.size()) return false;
        uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = code << 6 | (next & 0x3F);
        }
        const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        i += length;
    }
    return true;
}

// Just enough JSON to check that a report parses and to read its values by path ("output.integrated_lufs",
// "warnings.0").
class Json {
public:
    explicit Json(const std::string& text) : text_(text), valid_(validUtf8(text)) {
        skip();
        value("");
        skip();
        if (pos_ != text_.size()) fail();
    }
    bool valid() const { return valid_; }
    std::optional<double> number(const std::string& path) const {
        auto found = numbers_.find(path);
        return found == numbers_.end() ? std::nullopt : std::optional<double>(found->second);
    }
    std::string text(const std::string& path) const {
        auto found = strings_.find(path);
        return found == strings_.end() ? "" : found->second;
    }
    bool has(const std::string& path) const { return keys_.count(path) > 0; }
    size_t count(const std::string& path) const {
        size_t n = 0;
        while (has(path + "." + std::to_string(n))) ++n;
        return n;
    }

private:
    void fail() { valid_ = false, pos_ = text_.size(); }
    void skip() {
        while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    }
    bool eat(char c) {
        skip();
        if (pos_ < text_.size() && text_[pos_] == c) return ++pos_, true;
        return false;
    }
    std::string string() {
        if (!eat('"')) return fail(), "";
        std::string out;
        while (pos_ < text_.size() && text_[pos_] != '"') {
            if (static_cast<unsigned char>(text_[pos_]) < 0x20) return fail(), "";
            if (text_[pos_] != '\\') {
                out += text_[pos_++];
                continue;
            }
            const char escaped = pos_ + 1 < text_.size() ? text_[pos_ + 1] : '\0';
            pos_ += 2;
            if (escaped == 'u') {
                // Characters of the first plane, as UTF-8; a lone surrogate from U+DC80 to U+DCFF is a byte
                // of a file name that is not UTF-8.
                const unsigned code = unsigned(std::strtoul(text_.substr(pos_, 4).c_str(), nullptr, 16));
                pos_ += 4;
                if (code >= 0xDC80 && code <= 0xDCFF) {
                    out += char(code & 0xFF);
                } else if (code < 0x80) {
                    out += char(code);
                } else if (code < 0x800) {
                    out += char(0xC0 | code >> 6), out += char(0x80 | (code & 0x3F));
                } else {
                    out += char(0xE0 | code >> 12), out += char(0x80 | (code >> 6 & 0x3F)),
                        out += char(0x80 | (code & 0x3F));
                }
            } else if (std::string("\"\\/").find(escaped) != std::string::npos) {
                out += escaped;
            } else {
                const std::string from = "bfnrt", to = "\b\f\n\r\t";
                if (from.find(escaped) == std::string::npos) return fail(), "";
                out += to[from.find(escaped)];
            }
        }
        if (!eat('"')) fail();
        return out;
    }
    void value(const std::string& path) {
        keys_.insert(path);
        skip();
        if (pos_ >= text_.size()) return fail();
        const char c = text_[pos_];
        if (c == '{') {
            ++pos_;
            if (eat('}')) return;
            do {
                skip();
                const std::string key = string();
                if (!eat(':')) return fail();
                value(path.empty() ? key : path + "." + key);
            } while (eat(','));
            if (!eat('}')) fail();
        } else if (c == '[') {
            ++pos_;
            if (eat(']')) return;
            size_t index = 0;
            do value(path + "." + std::to_string(index++));
            while (eat(','));
            if (!eat(']')) fail();
        } else if (c == '"') {
            strings_[path] = string();
        } else if (text_.compare(pos_, 4, "true") == 0 || text_.compare(pos_, 4, "null") == 0) {
            pos_ += 4;
        } else if (text_.compare(pos_, 5, "false") == 0) {
            pos_ += 5;
        } else {
            char* end = nullptr;
            const double number = std::strtod(text_.c_str() + pos_, &end);
            if (end == text_.c_str() + pos_) return fail();
            numbers_[path] = number;
            pos_ = size_t(end - text_.c_str());
        }
    }
    std::string text_;
    size_t pos_ = 0;
    bool valid_ = true;
    std::map<std::string, double> numbers_;
    std::map<std::string, std::string> strings_;
    std::set<std::string> keys_;
};

// One row of a --list-params listing by its parameter's name, as columns cut where the header's titles
// begin; empty when there is no such row.
std::map<std::string, std::string> listedRow(const std::string& listing, const std::string& name) {
    std::vector<std::string> lines;
    for (size_t at = 0, end; at < listing.size(); at = end + 1) {
        end = listing.find('\n', at);
        if (end == std::string::npos) end = listing.size();
        lines.push_back(listing.substr(at, end - at));
    }
    const auto header =
        std::find_if(lines.begin(), lines.end(), [](const auto& line) { return line.rfind("#", 0) == 0; });
    if (header == lines.end()) return {};
    std::vector<std::pair<std::string, size_t>> columns;
    for (size_t at = 0; at < header->size();) {
        const size_t end = std::min(header->find(' ', at), header->size());
        columns.emplace_back(header->substr(at, end - at), at);
        at = header->find_first_not_of(' ', end);
        if (at == std::string::npos) break;
    }
    const auto cut = [](const std::string& line, size_t from, size_t to) {
        std::string text = from < line.size() ? line.substr(from, to - from) : "";
        text.erase(0, std::min(text.find_first_not_of(' '), text.size()));
        return text.substr(0, text.find_last_not_of(' ') + 1);
    };
    for (auto line = header + 1; line != lines.end(); ++line) {
        std::map<std::string, std::string> row;
        for (size_t c = 0; c < columns.size(); ++c)
            row[columns[c].first] = cut(*line, columns[c].second,
                                        c + 1 < columns.size() ? columns[c + 1].second : std::string::npos);
        if (row["Name"] == name) return row;
    }
    return {};
}

class Render : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vandrel_render_" + std::to_string(getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path file(const std::string& name) const { return dir_ / name; }

    RunResult run(const std::vector<std::string>& args) const {
        std::string command = quote(kRenderer.string());
        for (const auto& arg : args) command += " " + quote(arg);
        command += " >" + quote(file("stdout.txt").string()) + " 2>" + quote(file("stderr.txt").string());
        RunResult result;
        result.status = WEXITSTATUS(std::system(command.c_str()));
        result.out = slurp(file("stdout.txt"));
        result.err = slurp(file("stderr.txt"));
        fs::remove(file("stdout.txt"));
        fs::remove(file("stderr.txt"));
        return result;
    }

    // Everything in the test folder but the given files: what a failed render must not leave behind.
    std::vector<std::string> leftovers(const std::set<std::string>& expected) const {
        std::vector<std::string> extra;
        for (const auto& entry : fs::directory_iterator(dir_))
            if (!expected.count(entry.path().filename().string()))
                extra.push_back(entry.path().filename().string());
        return extra;
    }

    // A failure: non-zero exit, one line naming the file, nothing written.
    void expectFailure(const std::vector<std::string>& args, const std::string& named,
                       const std::string& reason, const std::set<std::string>& files) const {
        const RunResult result = run(args);
        EXPECT_NE(result.status, 0) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_EQ(result.err.rfind("vandrel2-render: ", 0), 0u) << result.err;
        EXPECT_NE(result.err.find(named), std::string::npos) << result.err;
        EXPECT_NE(result.err.find(reason), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(leftovers(files), std::vector<std::string>{}) << result.err;
    }

    fs::path dir_;
};

// Reads a report and checks that it parses.
Json report(const fs::path& path) {
    const Json json(slurp(path));
    EXPECT_TRUE(json.valid()) << slurp(path);
    return json;
}

#ifdef VANDREL_PLUGIN_PATH
class RenderVandrel : public Render {
protected:
    void SetUp() override {
        if (!fs::exists(VANDREL_PLUGIN_PATH)) GTEST_SKIP() << "no " VANDREL_PLUGIN_PATH;
        Render::SetUp();
    }
};
#endif

// The files under a folder, by their path in it.
inline std::set<std::string> filesUnder(const fs::path& folder) {
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (!entry.is_directory()) files.insert(entry.path().lexically_relative(folder).string());
    return files;
}

// A batch summary without the figures that depend on timing.
inline std::string timingFree(std::string summary) {
    for (const std::string key : {"\"seconds\": ", "\"render_seconds\": ", "\"wall_seconds\": "})
        for (size_t at = summary.find(key); at != std::string::npos; at = summary.find(key, at + 1)) {
            const size_t value = at + key.size();
            summary.replace(value, summary.find_first_of(",}", value) - value, "null");
        }
    return summary;
}

} // namespace render_test
