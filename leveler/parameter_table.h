// The leveler's parameters, one row each in host order: the slider behind it, a stable symbol and a unit
// for formats that describe their controls in files, the name and range the host is given, and the range
// and step of the panel's own slider. The DSP, the panel and every plug-in format read it from here.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <numeric>
#include <string_view>

namespace leveler {

struct ValueRange {
    double minimum, maximum, step;
};

struct ParameterRow {
    int32_t slider;     // the script's slider number: its entry in SliderValues and in the state
    const char* symbol; // stable snake_case identifier
    const char* name;   // as the host shows it
    const char* unit;   // empty for switches and amounts
    bool toggle;        // off (0) or on (1)
    double defaultValue;
    ValueRange registered; // what the host's normalised 0 to 1 spans, and its step
    ValueRange panel;      // what the panel's slider spans, and its step (toggles flip between 0 and 1)

    // What a setting may hold: the panel reaches beyond the registered range for some sliders, and a
    // state saved after such an edit must come back as it was.
    constexpr double Lowest() const { return std::min(registered.minimum, panel.minimum); }
    constexpr double Highest() const { return std::max(registered.maximum, panel.maximum); }
    constexpr double Limited(double value) const { return std::clamp(value, Lowest(), Highest()); }
    // The step that every value the host and the panel set lies on: the host's, or a finer one where the
    // panel's slider moves in steps the host's do not divide (the target's half LUFS). A format that declares
    // its controls' steps declares this one, so that what the panel writes is a declared value.
    constexpr double CommonStep() const {
        constexpr double kThousandths = 1000;
        const auto host = static_cast<long long>(registered.step * kThousandths + 0.5);
        const auto slider = static_cast<long long>(panel.step * kThousandths + 0.5);
        return static_cast<double>(std::gcd(host, slider)) / kThousandths;
    }
};

inline constexpr ValueRange kSwitch{0, 1, 1};

inline constexpr ParameterRow kParameters[] = {
    {1, "input_trim", "Input Trim [dB]", "dB", false, 0, {-20, 20, 0.5}, {-20, 20, 0.25}},
    {2, "target_lufs", "Target LUFS", "LUFS", false, -23, {-46, 0, 1}, {-46, 0, 0.5}},
    {3, "noise_floor", "Noise Floor [dBfs]", "dBFS", false, -40, {-80, 0, 1}, {-80, 0, 1}},
    {4, "gate_speed", "Gate Speed", "ms", false, 500, {20, 2000, 10}, {20, 2000, 10}},
    {5, "automatic_trim", "Automatic Trim", "", true, 1, kSwitch, kSwitch},
    {6, "hpf", "HPF", "", false, 0, {0, 1, 0.1}, {0, 1, 0.1}},
    {7, "automatic_threshold", "Automatic Threshold", "", true, 1, kSwitch, kSwitch},
    {10, "fast_max_attenuation", "Fast Dynamics Max Attenuation", "dB", false, 10, {0, 20, 1}, {0, 20, 1}},
    {11, "fast_max_gain", "Fast Dynamics Max Gain", "dB", false, 0, {0, 20, 1}, {0, 20, 1}},
    {12, "med_max_attenuation", "Med Dynamics Max Attenuation", "dB", false, 10, {0, 20, 1}, {0, 20, 1}},
    {13, "med_max_gain", "Med Dynamics Max Gain", "dB", false, 10, {0, 20, 1}, {0, 20, 1}},
    {14, "slow_max_attenuation", "Slow Dynamics Max Attenuation", "dB", false, 20, {0, 20, 1}, {0, 20, 1}},
    {15, "slow_max_gain", "Slow Dynamics Max Gain", "dB", false, 20, {0, 20, 1}, {0, 20, 1}},
    {20, "output_trim", "Output Trim [dB]", "dB", false, 0, {-3, 3, 0.1}, {-6, 6, 0.25}},
};
inline constexpr int32_t kParameterCount = static_cast<int32_t>(std::size(kParameters));

// The host's index of a slider's parameter; -1 for a slider that is no parameter.
constexpr int32_t ParameterIndexOfSlider(int32_t slider) {
    for (int32_t index = 0; index < kParameterCount; ++index)
        if (kParameters[index].slider == slider) return index;
    return -1;
}

// The row with a symbol; compilation fails for a symbol the table lacks.
constexpr const ParameterRow& ParameterNamed(std::string_view symbol) {
    for (const ParameterRow& row : kParameters)
        if (symbol == row.symbol) return row;
    throw "no parameter has this symbol";
}

// One past the largest slider number: the leveler keeps a copy of each slider up to it.
constexpr int32_t SliderNumberEnd() {
    int32_t end = 0;
    for (const ParameterRow& row : kParameters) end = std::max(end, row.slider + 1);
    return end;
}

// How far the output of finite input may rise above the input's peak (as a factor): the largest input
// trim, stage boosts and output trim the settings allow, and 14 dB more for the high-pass's overshoot and
// the automatic trim's drift beyond the largest trim.
inline double LargestGainAllowed() {
    constexpr double kMarginDecibels = 14;
    double decibels = kMarginDecibels;
    for (const ParameterRow& row : kParameters) {
        const std::string_view symbol = row.symbol;
        if (symbol == "input_trim" || symbol.ends_with("_max_gain") || symbol == "output_trim")
            decibels += row.Highest();
    }
    return std::pow(10, decibels / 20);
}

} // namespace leveler
