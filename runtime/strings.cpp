#include "runtime/parvex.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>

std::string& CParvexStrings::GetString(double id) {
    return Strings[ToIndex(id)];
}

int32_t CParvexStrings::SetString(int32_t id, const std::string& text) {
    Strings[id] = text;
    return id;
}

void CParvexStrings::SetFileName(int32_t id, const std::string& name) {
    FileNames[id] = name;
}

namespace {

bool IsAlpha(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

enum class Conversion { kFloat, kInteger, kText, kNone };

Conversion ConversionOf(char letter) {
    if (std::strchr("EGefg", letter)) return Conversion::kFloat;
    if (std::strchr("Xcdiox", letter) || letter == 'u') return Conversion::kInteger;
    if (letter == 's') return Conversion::kText;
    return Conversion::kNone;
}

// Only flags, a width and a precision may stand between the percent sign and the letter; anything else
// ('*', '$', a second '%', length modifiers) would make the C library read arguments we never passed.
// Answers the conversion directive to hand to it, or nothing. Widths and precisions in the billions would
// make it allocate and fill gigabytes; bounded as here, the first 511 characters, all that is kept, stay the
// same.
std::optional<std::string> PlainSpecification(const std::string& directive) {
    constexpr size_t kWidthBound = 4096, kPrecisionBound = 2048;
    std::string plain = "%";
    size_t i = 1;
    const size_t end = directive.size() - 1;
    auto copyNumber = [&](size_t bound) {
        const size_t first = i;
        size_t value = 0;
        for (; i < end && IsDigit(directive[i]); ++i)
            value = std::min(value * 10 + size_t(directive[i] - '0'), bound);
        if (i > first) plain += std::to_string(value);
    };
    for (; i < end && std::strchr("-+ #0'", directive[i]); ++i) plain += directive[i];
    copyNumber(kWidthBound);
    if (i < end && directive[i] == '.') {
        plain += directive[i++];
        copyNumber(kPrecisionBound);
    }
    if (i != end) return std::nullopt;
    return plain + directive[end];
}

} // namespace

double CParvexStrings::FormatStringList(double destination, double format, const double* values,
                                        size_t count) {
    const std::string text = GetString(format);
    std::string output;
    size_t next = 0;
    auto take = [&]() { return next < count ? values[next++] : (++next, 0.0); };
    auto append = [&](const char* bytes, size_t length) {
        const size_t room = kFormatResultLimit - output.size();
        output.append(bytes, length < room ? length : room);
    };

    for (size_t i = 0; i < text.size() && output.size() < kFormatResultLimit;) {
        if (text[i] != '%') {
            output.push_back(text[i++]);
            continue;
        }
        size_t end = i + 1;
        while (end < text.size() && !IsAlpha(text[end])) ++end;
        if (end >= text.size()) break; // unfinished conversion directive: dropped, scan ends
        const std::string directive = text.substr(i, end - i + 1);
        i = end + 1;
        const Conversion conversion = ConversionOf(directive.back());
        if (conversion == Conversion::kNone) continue;

        const double value = take();
        const std::optional<std::string> plain = PlainSpecification(directive);
        if (directive.size() > kFormatSpecLimit || !plain) continue;
        char buffer[kFormatResultLimit + 1];
        int written = 0;
        switch (conversion) {
        case Conversion::kFloat:
            written = std::snprintf(buffer, sizeof buffer, plain->c_str(), value);
            break;
        case Conversion::kInteger:
            written = std::snprintf(buffer, sizeof buffer, plain->c_str(), ToIndex(value));
            break;
        case Conversion::kText:
            written = std::snprintf(buffer, sizeof buffer, plain->c_str(), GetString(value).c_str());
            break;
        case Conversion::kNone:
            break;
        }
        if (written > 0) append(buffer, std::min<size_t>(static_cast<size_t>(written), sizeof buffer - 1));
    }
    GetString(destination) = output;
    return destination;
}
