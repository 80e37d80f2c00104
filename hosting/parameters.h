// Parameters in their own units. VST 2.4 tells a host only normalised values and display texts,
// so values are found by searching the normalised range and reading the display back.
#pragma once

#include "hosting/plugin.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace hosting {

class ParameterError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The number at the start of a display text ("-16.00", " 220 Hz", "+3.5dB"), with how many
// decimals it shows; nothing when the text does not start with a number.
struct DisplayNumber {
    double value = 0.0;
    int decimals = 0;
};
std::optional<DisplayNumber> parseDisplayNumber(const std::string& text);

// Units a host knows for a plug-in's parameters besides what the plug-in reports, by parameter index; an
// empty text, or no entry, where it knows none. For plug-ins that report no unit labels.
using KnownUnits = std::vector<std::string>;

// A parameter's unit: the plug-in's label, else the unit known, else the one its name ends with
// ("Input Trim [dB]", "Target LUFS"); empty when there is none.
std::string parameterUnit(Plugin& plugin, int32_t index, const KnownUnits& known = {});

// A parameter by exact name (case ignored), by its name with its unit in brackets ("Gate Speed (ms)"), by
// unambiguous name prefix, or by number counted from 1.
int32_t findParameter(Plugin& plugin, const std::string& key, const KnownUnits& known = {});

// Sets the parameter so that its display shows `value` (a number, with or without the parameter's unit,
// one of its display texts such as "On", or off/on for a switch that shows 0 and 1); leaves it unchanged
// and throws ParameterError when no setting does. Answers the display text reached.
std::string setParameterValue(Plugin& plugin, int32_t index, const std::string& value,
                              const KnownUnits& known = {});

struct ParameterListing {
    std::string name;
    std::string unit;      // as parameterUnit() tells it; empty for a switch
    std::string atMinimum; // display at normalised 0
    std::string atMaximum; // display at normalised 1
    std::string step;      // between neighbouring values a numeric display shows; empty for a continuum
    std::string display;   // display now
    bool onOff = false;    // a switch shown as 0 and 1: the displays above read off and on
};
// Reads the displays across the range and restores the current value.
ParameterListing describeParameter(Plugin& plugin, int32_t index, const KnownUnits& known = {});
// A switch's display in words: "off" and "on" for 0 and 1, any other text as it is.
std::string switchWord(const std::string& display);

} // namespace hosting
