// JSON as the renderer writes and reads it: its reports, and the batch records merged from shards.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace render {

// A string as JSON. File names are bytes, not always UTF-8: valid UTF-8 is written as it is, and each byte
// that is not part of it as a lone low surrogate, \udc80 to \udcff for bytes 0x80 to 0xFF (the "surrogate
// escape" Python's os.fsdecode uses), which no valid UTF-8 gives. The text stays valid JSON and every name
// reads back byte for byte, here and with Python's os.fsencode.
std::string jsonString(const std::string& text);
// Whether text is well-formed UTF-8 throughout.
bool isUtf8(std::string_view text);
// Three decimals; null for what is not finite.
std::string jsonNumber(double value);
std::string jsonStrings(const std::vector<std::string>& texts);

class JsonError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A parsed value that remembers how it was written: a number keeps its text, so that a document read and
// written again says the same thing.
class JsonValue {
public:
    enum class Kind { Null, Boolean, Number, String, Array, Object };

    // Throws JsonError for anything that is not one JSON value.
    static JsonValue parse(const std::string& text);

    Kind kind() const { return kind_; }
    // The member or element at a dotted path ("output.integrated_lufs", "files.3"), or nullptr.
    const JsonValue* find(const std::string& path) const;
    std::optional<double> number(const std::string& path) const;
    std::optional<std::string> string(const std::string& path) const;
    const std::vector<JsonValue>& elements() const { return elements_; }
    // On one line, members in the order they came.
    std::string text() const;

private:
    friend class JsonReader;
    Kind kind_ = Kind::Null;
    std::string scalar_; // a number's or literal's text, a string's value
    std::vector<JsonValue> elements_;
    std::vector<std::pair<std::string, JsonValue>> members_;
};

} // namespace render
