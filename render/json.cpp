#include "render/json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace render {

namespace {

// The length of the UTF-8 sequence at the start of `text`, or 0 when it is not one.
size_t utf8Sequence(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    const size_t length = lead < 0x80                    ? 1
                          : lead >= 0xC2 && lead <= 0xDF ? 2
                          : lead >= 0xE0 && lead <= 0xEF ? 3
                          : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                         : 0;
    if (length == 0 || text.size() < length) return 0;
    for (size_t i = 1; i < length; ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return 0;
    const auto second = static_cast<unsigned char>(text[1]);
    // Overlong forms, surrogates and code points beyond U+10FFFF.
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
        (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F))
        return 0;
    return length;
}

// A byte that is not part of valid UTF-8 is written as this plus the byte: a lone low surrogate.
constexpr unsigned kEscapedByte = 0xDC00;

void appendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xC0 | code >> 6);
        out += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += char(0xE0 | code >> 12);
        out += char(0x80 | (code >> 6 & 0x3F));
        out += char(0x80 | (code & 0x3F));
    } else {
        out += char(0xF0 | code >> 18);
        out += char(0x80 | (code >> 12 & 0x3F));
        out += char(0x80 | (code >> 6 & 0x3F));
        out += char(0x80 | (code & 0x3F));
    }
}

} // namespace

bool isUtf8(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        const size_t sequence = utf8Sequence(text.substr(i));
        if (sequence == 0) return false;
        i += sequence;
    }
    return true;
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const size_t sequence = utf8Sequence(std::string_view(text).substr(i));
        char escaped[8];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20 || sequence == 0) {
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c < 0x80 ? c : kEscapedByte + c);
            out += escaped;
        } else {
            out.append(text, i, sequence);
            i += sequence;
            continue;
        }
        ++i;
    }
    return out + "\"";
}

std::string jsonNumber(double value) {
    if (!std::isfinite(value)) return "null";
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

std::string jsonStrings(const std::vector<std::string>& texts) {
    std::string out = "[";
    for (const auto& text : texts) out += (out.size() > 1 ? ", " : "") + jsonString(text);
    return out + "]";
}

class JsonReader {
public:
    explicit JsonReader(const std::string& text) : text_(text) {}

    JsonValue document() {
        JsonValue value = read(0);
        skip();
        if (at_ != text_.size()) fail("text after the value");
        return value;
    }

private:
    // Deeper than any report goes; a hostile file cannot exhaust the stack.
    static constexpr int kDeepest = 64;

    [[noreturn]] void fail(const std::string& what) const {
        throw JsonError("not valid JSON at byte " + std::to_string(at_) + ": " + what);
    }
    void skip() {
        while (at_ < text_.size() &&
               (text_[at_] == ' ' || text_[at_] == '\n' || text_[at_] == '\r' || text_[at_] == '\t'))
            ++at_;
    }
    bool eat(char c) {
        skip();
        if (at_ < text_.size() && text_[at_] == c) return ++at_, true;
        return false;
    }
    unsigned hex4() {
        if (at_ + 4 > text_.size()) fail("a cut \\u escape");
        unsigned code = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[at_++];
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
            if (digit < 0) fail("a bad \\u escape");
            code = code * 16 + unsigned(digit);
        }
        return code;
    }
    std::string string() {
        if (!eat('"')) fail("a string expected");
        std::string out;
        for (;;) {
            if (at_ >= text_.size()) fail("an unterminated string");
            const char c = text_[at_++];
            if (c == '"') return out;
            if (static_cast<unsigned char>(c) < 0x20) fail("a control character in a string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= text_.size()) fail("an unterminated string");
            const char escaped = text_[at_++];
            static const std::string kFrom = "\"\\/bfnrt", kTo = "\"\\/\b\f\n\r\t";
            if (escaped == 'u') {
                unsigned code = hex4();
                if (code >= 0xD800 && code < 0xDC00 && text_.compare(at_, 2, "\\u") == 0) {
                    at_ += 2;
                    const unsigned low = hex4();
                    if (low < 0xDC00 || low > 0xDFFF) fail("a lone surrogate");
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                }
                if (code >= kEscapedByte + 0x80 && code <= kEscapedByte + 0xFF)
                    out += char(code - kEscapedByte); // a byte of a name that is not UTF-8
                else if (code >= 0xD800 && code <= 0xDFFF)
                    fail("a lone surrogate");
                else
                    appendUtf8(out, code);
            } else if (const auto found = kFrom.find(escaped); found != std::string::npos) {
                out += kTo[found];
            } else {
                fail("an unknown escape");
            }
        }
    }
    JsonValue read(int depth) {
        if (depth > kDeepest) fail("nested too deeply");
        skip();
        if (at_ >= text_.size()) fail("a value expected");
        JsonValue value;
        const char c = text_[at_];
        if (c == '{') {
            ++at_;
            value.kind_ = JsonValue::Kind::Object;
            if (eat('}')) return value;
            do {
                skip();
                std::string key = string();
                if (!eat(':')) fail("':' expected");
                value.members_.emplace_back(std::move(key), read(depth + 1));
            } while (eat(','));
            if (!eat('}')) fail("'}' expected");
        } else if (c == '[') {
            ++at_;
            value.kind_ = JsonValue::Kind::Array;
            if (eat(']')) return value;
            do value.elements_.push_back(read(depth + 1));
            while (eat(','));
            if (!eat(']')) fail("']' expected");
        } else if (c == '"') {
            value.kind_ = JsonValue::Kind::String;
            value.scalar_ = string();
        } else {
            for (const char* literal : {"true", "false", "null"})
                if (text_.compare(at_, std::strlen(literal), literal) == 0) {
                    value.kind_ = literal[0] == 'n' ? JsonValue::Kind::Null : JsonValue::Kind::Boolean;
                    value.scalar_ = literal;
                    at_ += std::strlen(literal);
                    return value;
                }
            // strtod alone would take "inf", "nan" and hexadecimal too.
            if (c != '-' && (c < '0' || c > '9')) fail("a value expected");
            const char* start = text_.c_str() + at_;
            char* end = nullptr;
            std::strtod(start, &end);
            value.kind_ = JsonValue::Kind::Number;
            value.scalar_.assign(start, size_t(end - start));
            at_ += size_t(end - start);
        }
        return value;
    }

    const std::string& text_;
    size_t at_ = 0;
};

JsonValue JsonValue::parse(const std::string& text) {
    return JsonReader(text).document();
}

const JsonValue* JsonValue::find(const std::string& path) const {
    const JsonValue* value = this;
    for (size_t at = 0; value != nullptr && at <= path.size();) {
        const size_t dot = std::min(path.find('.', at), path.size());
        const std::string key = path.substr(at, dot - at);
        const JsonValue* next = nullptr;
        if (value->kind_ == Kind::Object) {
            for (const auto& [name, member] : value->members_)
                if (name == key) next = &member;
        } else if (value->kind_ == Kind::Array && !key.empty() &&
                   key.find_first_not_of("0123456789") == std::string::npos) {
            const size_t index = std::stoul(key);
            if (index < value->elements_.size()) next = &value->elements_[index];
        }
        value = next;
        at = dot + 1;
    }
    return value;
}

std::optional<double> JsonValue::number(const std::string& path) const {
    const JsonValue* value = find(path);
    if (value == nullptr || value->kind_ != Kind::Number) return std::nullopt;
    return std::strtod(value->scalar_.c_str(), nullptr);
}

std::optional<std::string> JsonValue::string(const std::string& path) const {
    const JsonValue* value = find(path);
    if (value == nullptr || value->kind_ != Kind::String) return std::nullopt;
    return value->scalar_;
}

std::string JsonValue::text() const {
    switch (kind_) {
    case Kind::String:
        return jsonString(scalar_);
    case Kind::Array: {
        std::string out = "[";
        for (const auto& element : elements_) out += (out.size() > 1 ? ", " : "") + element.text();
        return out + "]";
    }
    case Kind::Object: {
        std::string out = "{";
        for (const auto& [name, member] : members_)
            out += (out.size() > 1 ? ", " : "") + jsonString(name) + ": " + member.text();
        return out + "}";
    }
    default:
        return scalar_;
    }
}

} // namespace render
