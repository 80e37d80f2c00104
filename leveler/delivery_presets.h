// Delivery presets: the integrated loudness a platform or broadcaster asks for, the true peak it allows and
// how far the loudness may stray, with the leveler's settings that suit the programme it takes. The renderer
// levels and judges a file by them; the LV2 bundle ships them as presets of the plug-in.
#pragma once

#include "leveler/parameter_table.h"

#include <cstddef>
#include <iterator>
#include <string_view>

namespace leveler {

// A setting by the parameter's stable symbol, in the parameter's own units.
struct PresetSetting {
    const char* symbol;
    double value;
};

struct DeliveryPreset {
    const char* name;  // as the command line takes it
    const char* label; // as a host lists it
    const char* use;   // one line on what it is for
    double targetLufs;
    double truePeakDbtp; // the largest true peak allowed
    double toleranceLu;  // either side of the target
    // Settings other than the target that differ from the defaults; unused entries have no symbol.
    PresetSetting settings[2];
};

inline constexpr DeliveryPreset kDeliveryPresets[] = {
    {"podcast",
     "Podcast (-16 LUFS)",
     "Spoken word on podcast platforms (Apple Podcasts and the like)",
     -16,
     -1,
     1,
     {}},
    // Music holds steady notes for seconds; the automatic threshold would climb on them and then gate the
    // quiet passage that follows.
    {"streaming",
     "Streaming music (-14 LUFS)",
     "Music on streaming services that play at -14 LUFS",
     -14,
     -1,
     1,
     {{"automatic_threshold", 0}}},
    {"ebu-r128", "EBU R 128 broadcast (-23 LUFS)", "Broadcast in Europe (EBU R 128)", -23, -1, 0.5, {}},
    {"atsc-a85", "ATSC A/85 broadcast (-24 LKFS)", "Broadcast in North America (ATSC A/85)", -24, -2, 2, {}},
};
inline constexpr size_t kDeliveryPresetCount = std::size(kDeliveryPresets);

// The preset with a name; null when there is none.
constexpr const DeliveryPreset* DeliveryPresetNamed(std::string_view name) {
    for (const DeliveryPreset& preset : kDeliveryPresets)
        if (name == preset.name) return &preset;
    return nullptr;
}

// Every setting names a parameter and stays in the range a host can set; the target fits its parameter.
constexpr bool PresetsFitTheParameters() {
    const ParameterRow& target = ParameterNamed("target_lufs");
    for (const DeliveryPreset& preset : kDeliveryPresets) {
        if (preset.targetLufs < target.registered.minimum || preset.targetLufs > target.registered.maximum)
            return false;
        for (const PresetSetting& setting : preset.settings) {
            if (setting.symbol == nullptr) continue;
            const ParameterRow& row = ParameterNamed(setting.symbol);
            if (setting.value < row.registered.minimum || setting.value > row.registered.maximum)
                return false;
        }
    }
    return true;
}
static_assert(PresetsFitTheParameters());

} // namespace leveler
