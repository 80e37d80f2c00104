// What the panel shows of the running leveler, as single values that a plug-in format can hand to a panel
// in another process (LV2's output control ports) and that hosts can show themselves: the three stage gains,
// the output loudness and its distance to the target, the gate, the gating statistics, and the two sliders
// that the automatic controls move. One row each, in the order formats publish them.
#pragma once

#include "leveler/parameter_table.h"

#include <cstdint>
#include <iterator>
#include <span>

class TParvexEffect;

namespace leveler {

struct ReadingRow {
    const char* symbol; // stable snake_case identifier
    const char* name;
    const char* unit; // empty for ratios and switches
    bool toggle;
    double minimum, maximum;
    int32_t slider; // for the value of a slider: its number; else 0
};

inline constexpr ReadingRow kReadings[] = {
    {"fast_stage_gain", "Fast Stage Gain", "dB", false, -20, 20, 0},
    {"medium_stage_gain", "Medium Stage Gain", "dB", false, -20, 20, 0},
    {"slow_stage_gain", "Slow Stage Gain", "dB", false, -20, 20, 0},
    {"output_loudness", "Output Loudness", "LUFS", false, -70, 10, 0},
    {"loudness_to_target", "Loudness to Target", "LU", false, -80, 80, 0},
    {"gate_level", "Gate Level", "", false, 0, 1, 0},
    {"gating_ratio", "Gating Ratio", "", false, 0, 1, 0},
    {"excessive_gating", "Excessive Gating", "", true, 0, 1, 0},
    {"current_input_trim", "Current Input Trim [dB]", "dB", false, ParameterNamed("input_trim").Lowest(),
     ParameterNamed("input_trim").Highest(), ParameterNamed("input_trim").slider},
    {"current_noise_floor", "Current Noise Floor [dBfs]", "dBFS", false,
     ParameterNamed("noise_floor").Lowest(), ParameterNamed("noise_floor").Highest(),
     ParameterNamed("noise_floor").slider},
};
inline constexpr int32_t kReadingCount = static_cast<int32_t>(std::size(kReadings));

// The readings of a leveler, in table order, after a block. Audio thread: no allocation.
void TakeReadings(const TParvexEffect& effect, std::span<float, kReadingCount> values);

// Makes a leveler that processes nothing (a panel's own instance) show reading `index` as the processing
// one reported it: gains, loudness, gate and statistics are set; a slider's value is set and applied as the
// automatic controls apply theirs. Readings derived from others (the distance to the target, the warning)
// change nothing. Editor thread.
void ShowReading(TParvexEffect& effect, int32_t index, float value);

} // namespace leveler
