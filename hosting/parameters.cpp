#include "hosting/parameters.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <utility>
#include <vector>

namespace hosting {

namespace {

std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool sameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && sameText(text.substr(0, prefix.size()), prefix);
}

// Bisection steps: beyond the resolution of the 32-bit normalised value.
constexpr int kBisectionSteps = 30;
// Display texts sampled when looking for a text value or a step.
constexpr int kTextScanSteps = 1000;

// Units a parameter's name may end with when the plug-in reports no label.
constexpr const char* kUnitWords[] = {"LUFS", "LU", "dB", "dBFS", "dBTP", "Hz", "kHz", "ms", "%"};

// A name and the unit in brackets it ends with: "Input Trim [dB]", "Gate Speed (ms)". No unit without.
std::pair<std::string, std::string> splitUnit(const std::string& name) {
    const std::string trimmed = trim(name);
    const char close = trimmed.empty() ? '\0' : trimmed.back();
    if (close == ']' || close == ')') {
        const auto open = trimmed.rfind(close == ']' ? '[' : '(');
        if (open != std::string::npos && open > 0)
            return {trim(trimmed.substr(0, open)), trim(trimmed.substr(open + 1, trimmed.size() - open - 2))};
    }
    return {trimmed, ""};
}

std::string unitFromName(const std::string& name) {
    if (const std::string unit = splitUnit(name).second; !unit.empty()) return unit;
    // "Target LUFS"
    const std::string trimmed = trim(name);
    const auto space = trimmed.rfind(' ');
    const std::string last = space == std::string::npos ? "" : trimmed.substr(space + 1);
    for (const char* word : kUnitWords)
        if (sameText(last, word)) return last;
    return "";
}

// A numeric step printed without trailing zeros: 0.5, 1, 10.
std::string stepText(double step, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, step);
    std::string out = text;
    if (out.find('.') != std::string::npos) {
        while (out.back() == '0') out.pop_back();
        if (out.back() == '.') out.pop_back();
    }
    return out;
}

class ValueSearch {
public:
    ValueSearch(Plugin& plugin, int32_t index, std::string unit)
        : plugin_(plugin), index_(index), original_(plugin.parameter(index)),
          name_(trim(plugin.parameterName(index))), unit_(std::move(unit)) {}

    std::string display(float normalised) {
        plugin_.setParameter(index_, normalised);
        return plugin_.parameterDisplay(index_);
    }

    double valueAt(float normalised) {
        const auto number = parseDisplayNumber(display(normalised));
        return number ? number->value : std::nan("");
    }

    // Shows 0 and 1 only, with the change between them inside the range: not a 0-to-1 continuum.
    bool isNumericSwitch() {
        return valueAt(0.0f) == 0.0 && valueAt(1.0f) == 1.0 && valueAt(0.25f) == 0.0 && valueAt(0.75f) == 1.0;
    }

    // The most common distance between neighbouring values of the display, when it has fewer values than
    // half the points sampled; empty for a continuum or a text display.
    std::string step() {
        std::vector<double> values;
        int decimals = 0;
        for (int i = 0; i <= kTextScanSteps; ++i) {
            const auto number = parseDisplayNumber(display(float(i) / kTextScanSteps));
            if (!number || !std::isfinite(number->value)) return "";
            values.push_back(number->value);
            decimals = std::max(decimals, number->decimals);
        }
        std::sort(values.begin(), values.end());
        values.erase(std::unique(values.begin(), values.end()), values.end());
        if (values.size() < 2 || values.size() > kTextScanSteps / 2) return "";
        const double resolution = std::pow(10.0, -decimals);
        std::vector<long> gaps;
        for (size_t i = 1; i < values.size(); ++i)
            gaps.push_back(std::lround((values[i] - values[i - 1]) / resolution));
        std::sort(gaps.begin(), gaps.end());
        long common = gaps.front();
        size_t commonCount = 0;
        for (size_t i = 0; i < gaps.size();) {
            const size_t next = size_t(std::upper_bound(gaps.begin(), gaps.end(), gaps[i]) - gaps.begin());
            if (next - i > commonCount) commonCount = next - i, common = gaps[i];
            i = next;
        }
        return stepText(double(common) * resolution, decimals);
    }

    void restore() { plugin_.setParameter(index_, original_); }

    [[noreturn]] void fail(const std::string& reason) {
        plugin_.setParameter(index_, original_);
        throw ParameterError("parameter '" + name_ + "': " + reason);
    }

    std::string reachNumber(double wanted, const std::string& request) {
        const std::string lowText = display(0.0f), highText = display(1.0f);
        const auto low = parseDisplayNumber(lowText), high = parseDisplayNumber(highText);
        if (!low || !high) return reachText(request);
        const bool rising = high->value >= low->value;
        // A value counts as reached when the display shows it to its own precision, or as closely
        // as a 32-bit normalised value can come to it.
        const double tolerance = std::max(0.5 * std::pow(10.0, -std::max(low->decimals, high->decimals)),
                                          std::abs(high->value - low->value) * 0x1p-22);
        const double lowest = std::min(low->value, high->value), highest = std::max(low->value, high->value);
        const std::string unit = unit_.empty() ? "" : " " + unit_;
        if (wanted < lowest - tolerance || wanted > highest + tolerance)
            fail(request + " is outside its range " + trim(rising ? lowText : highText) + " to " +
                 trim(rising ? highText : lowText) + unit);

        // Along t the display rises; t is the normalised value, reversed for a falling display.
        auto at = [&](double t) { return float(rising ? t : 1.0 - t); };
        auto valueAt = [&](double t) {
            const auto number = parseDisplayNumber(display(at(t)));
            return number ? number->value : std::nan("");
        };
        // The stretch of t whose display is within tolerance of the wanted value.
        double first = 0.0, last = 1.0;
        if (!(valueAt(0.0) >= wanted - tolerance)) {
            double below = 0.0, above = 1.0;
            for (int i = 0; i < kBisectionSteps; ++i) {
                const double middle = 0.5 * (below + above);
                (valueAt(middle) >= wanted - tolerance ? above : below) = middle;
            }
            first = above;
        }
        if (!(valueAt(1.0) <= wanted + tolerance)) {
            double below = 0.0, above = 1.0;
            for (int i = 0; i < kBisectionSteps; ++i) {
                const double middle = 0.5 * (below + above);
                (valueAt(middle) <= wanted + tolerance ? below : above) = middle;
            }
            last = below;
        }
        std::string nearest;
        double nearestDistance = INFINITY;
        for (double t : {0.5 * (first + last), first, last}) {
            const std::string shown = display(at(t));
            const auto number = parseDisplayNumber(shown);
            if (!number) continue;
            const double distance = std::abs(number->value - wanted);
            if (distance <= tolerance) return trim(shown);
            if (distance < nearestDistance) nearestDistance = distance, nearest = trim(shown);
        }
        fail("cannot be set to " + request + unit + " (nearest: " + nearest + unit + ")");
    }

    std::string reachText(const std::string& request) {
        int runStart = -1, runEnd = -1;
        std::vector<std::string> shown;
        for (int i = 0; i <= kTextScanSteps; ++i) {
            const std::string text = trim(display(float(i) / kTextScanSteps));
            if (sameText(text, request)) {
                if (runStart < 0) runStart = i;
                if (runEnd == i - 1 || runEnd < 0) runEnd = i;
            }
            if (std::find(shown.begin(), shown.end(), text) == shown.end() && shown.size() < 6)
                shown.push_back(text);
        }
        if (runStart >= 0) {
            const std::string text = trim(display(0.5f * float(runStart + runEnd) / kTextScanSteps));
            if (sameText(text, request)) return text;
        }
        std::string examples;
        for (const auto& text : shown) examples += (examples.empty() ? "'" : ", '") + text + "'";
        fail("'" + request + "' is not a value it takes (it shows " + examples + ")");
    }

private:
    Plugin& plugin_;
    int32_t index_;
    float original_;
    std::string name_;
    std::string unit_;
};

} // namespace

std::optional<DisplayNumber> parseDisplayNumber(const std::string& text) {
    const char* start = text.c_str();
    while (*start == ' ' || *start == '\t') ++start;
    // Hexadecimal and "nan" are not what a display means; "-inf" (a silent gain) is.
    if (!(std::isdigit(static_cast<unsigned char>(*start)) || *start == '-' || *start == '+' ||
          *start == '.' || std::tolower(static_cast<unsigned char>(*start)) == 'i'))
        return std::nullopt;
    if (startsWith(start, "0x") || startsWith(start, "-0x") || startsWith(start, "+0x")) return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(start, &end);
    if (end == start || std::isnan(value)) return std::nullopt;
    DisplayNumber number{value, 0};
    if (const char* point = std::find(start, static_cast<const char*>(end), '.'); point != end)
        while (point + 1 + number.decimals < end &&
               std::isdigit(static_cast<unsigned char>(point[1 + number.decimals])))
            ++number.decimals;
    return number;
}

std::string parameterUnit(Plugin& plugin, int32_t index, const KnownUnits& known) {
    if (std::string label = trim(plugin.parameterLabel(index)); !label.empty()) return label;
    if (size_t(index) < known.size() && !known[size_t(index)].empty()) return known[size_t(index)];
    return unitFromName(plugin.parameterName(index));
}

int32_t findParameter(Plugin& plugin, const std::string& key, const KnownUnits& known) {
    const std::string wanted = trim(key);
    const auto [wantedName, wantedUnit] = splitUnit(wanted);
    const int32_t count = plugin.numParams();
    std::vector<int32_t> exact, withUnit, prefixed;
    for (int32_t i = 0; i < count; ++i) {
        const std::string name = trim(plugin.parameterName(i));
        if (sameText(name, wanted))
            exact.push_back(i);
        else if (!wantedUnit.empty() && sameText(splitUnit(name).first, wantedName))
            withUnit.push_back(i);
        else if (!wanted.empty() && startsWith(name, wanted))
            prefixed.push_back(i);
    }
    if (exact.size() == 1) return exact.front();
    if (exact.empty() && withUnit.size() == 1) {
        const int32_t index = withUnit.front();
        const std::string unit = parameterUnit(plugin, index, known);
        if (sameText(unit, wantedUnit)) return index;
        const std::string name = "parameter '" + trim(plugin.parameterName(index)) + "'";
        throw ParameterError(unit.empty() ? name + " has no unit"
                                          : name + " is in " + unit + ", not " + wantedUnit);
    }
    if (exact.empty() && !wanted.empty() && std::all_of(wanted.begin(), wanted.end(), ::isdigit)) {
        const long number = std::strtol(wanted.c_str(), nullptr, 10);
        if (number >= 1 && number <= count) return int32_t(number - 1);
        throw ParameterError("no parameter number " + wanted + " (the plug-in has " + std::to_string(count) +
                             ", numbered from 1)");
    }
    const auto& matches = exact.empty() ? prefixed : exact;
    if (matches.size() == 1) return matches.front();
    if (matches.empty()) throw ParameterError("unknown parameter '" + wanted + "' (see --list-params)");
    std::string names;
    for (int32_t i : matches) names += (names.empty() ? "" : ", ") + std::to_string(i + 1);
    throw ParameterError("parameter '" + wanted + "' is ambiguous: numbers " + names + " match");
}

std::string setParameterValue(Plugin& plugin, int32_t index, const std::string& value,
                              const KnownUnits& known) {
    const std::string unit = parameterUnit(plugin, index, known);
    ValueSearch search(plugin, index, unit);
    const std::string request = trim(value);
    const char* start = request.c_str();
    char* end = nullptr;
    const double number = std::strtod(start, &end);
    // A number may carry the parameter's unit ("-16 LUFS").
    const bool numeric =
        end != start && std::isfinite(number) && (trim(end).empty() || sameText(trim(end), unit));
    const bool numericSwitch = search.isNumericSwitch();
    search.restore();
    if (numericSwitch) {
        // Off and on, or the 0 and 1 its display shows.
        if (sameText(request, "off") || sameText(request, "on"))
            return search.reachNumber(sameText(request, "on") ? 1.0 : 0.0, request);
        if (numeric && (number == 0.0 || number == 1.0)) return search.reachNumber(number, request);
        search.fail("'" + request + "' is not a value it takes (off or on)");
    }
    return numeric ? search.reachNumber(number, request) : search.reachText(request);
}

ParameterListing describeParameter(Plugin& plugin, int32_t index, const KnownUnits& known) {
    ParameterListing listing;
    listing.name = trim(plugin.parameterName(index));
    listing.unit = parameterUnit(plugin, index, known);
    listing.display = trim(plugin.parameterDisplay(index));
    ValueSearch search(plugin, index, listing.unit);
    listing.atMinimum = trim(search.display(0.0f));
    listing.atMaximum = trim(search.display(1.0f));
    listing.onOff = search.isNumericSwitch();
    if (listing.onOff) {
        listing.unit.clear();
        listing.atMinimum = switchWord(listing.atMinimum);
        listing.atMaximum = switchWord(listing.atMaximum);
        listing.display = switchWord(listing.display);
    } else {
        listing.step = search.step();
    }
    search.restore();
    return listing;
}

std::string switchWord(const std::string& display) {
    const auto number = parseDisplayNumber(display);
    if (number && number->value == 0.0) return "off";
    if (number && number->value == 1.0) return "on";
    return trim(display);
}

} // namespace hosting
