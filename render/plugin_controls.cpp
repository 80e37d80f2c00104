#include "render/plugin_controls.h"

#include "hosting/parameters.h"
#include "render/progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace render {

std::optional<double> displayedValue(hosting::Plugin& plugin, const std::string& name,
                                     std::optional<float> normalised) {
    try {
        const int32_t index = hosting::findParameter(plugin, name);
        const float current = plugin.parameter(index);
        if (normalised) plugin.setParameter(index, *normalised);
        const auto number = hosting::parseDisplayNumber(plugin.parameterDisplay(index));
        if (normalised) plugin.setParameter(index, current);
        if (number) return number->value;
    } catch (const hosting::ParameterError&) {
    }
    return std::nullopt;
}

std::vector<std::pair<std::string, std::string>> presetSettings(const leveler::DeliveryPreset& preset) {
    std::vector<std::pair<std::string, std::string>> settings;
    for (const leveler::PresetSetting& setting : preset.settings)
        if (setting.symbol != nullptr)
            settings.emplace_back(leveler::ParameterNamed(setting.symbol).name,
                                  formatted(setting.value, "%g"));
    return settings;
}

std::optional<double> raiseTargetForMono(hosting::Plugin& plugin, double target,
                                         std::vector<std::string>& notes) {
    const std::string value = formatted(std::round(target + kDualMonoDb), "%g");
    try {
        hosting::setParameterValue(plugin, hosting::findParameter(plugin, kTargetParameter), value);
        return displayedValue(plugin, kTargetParameter);
    } catch (const hosting::ParameterError&) {
        notes.push_back("the plug-in's target cannot be raised to " + value +
                        " LUFS for a mono file counted once; it reads about 3 LU under the target");
        return std::nullopt;
    }
}

LoudnessCorrection correctLoudness(hosting::Plugin& plugin, double correctionDb) {
    LoudnessCorrection correction;
    correction.gainDb = correctionDb;
    if (plugin.uniqueId() != kVandrelId) return correction;
    try {
        const int32_t index = hosting::findParameter(plugin, kOutputTrimParameter);
        const auto listing = hosting::describeParameter(plugin, index);
        const auto lowest = hosting::parseDisplayNumber(listing.atMinimum);
        const auto highest = hosting::parseDisplayNumber(listing.atMaximum);
        const auto now = hosting::parseDisplayNumber(listing.display);
        if (!lowest || !highest || !now) return correction;
        const double step = listing.step.empty() ? 0.01 : std::stod(listing.step);
        const double wanted =
            std::clamp(std::round((now->value + correctionDb) / step) * step,
                       std::min(lowest->value, highest->value), std::max(lowest->value, highest->value));
        char value[32];
        std::snprintf(value, sizeof value, "%.*f", now->decimals, wanted);
        const auto reached = hosting::parseDisplayNumber(hosting::setParameterValue(plugin, index, value));
        if (!reached) return correction;
        correction.trimFrom = now->value;
        correction.trimTo = reached->value;
        // Within half a step the trim has it all.
        const double rest = correctionDb - (reached->value - now->value);
        correction.gainDb = std::abs(rest) > step / 2 + 1e-9 ? rest : 0.0;
    } catch (const hosting::ParameterError&) {
    }
    return correction;
}

ParameterTrace::ParameterTrace(hosting::Plugin& plugin, const std::string& name) : plugin_(plugin) {
    try {
        index_ = hosting::findParameter(plugin, name);
    } catch (const hosting::ParameterError&) {
    }
}

void ParameterTrace::look(int64_t frame) {
    if (index_ < 0) return;
    const auto number = hosting::parseDisplayNumber(plugin_.parameterDisplay(index_));
    if (number && (changes_.empty() || changes_.back().second != number->value))
        changes_.emplace_back(frame, number->value);
}

} // namespace render
