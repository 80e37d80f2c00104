// The plug-in's parameters as a render reads and moves them beyond the user's own settings: values read
// off their displays, a preset's settings, the target raised for a mono file, a loudness correction on the
// Output Trim, and a parameter followed while the plug-in moves it itself.
#pragma once

#include "hosting/plugin.h"
#include "leveler/delivery_presets.h"
#include "render/known_plugins.h"
#include "render/render.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace render {

// The number a parameter's display shows, for a parameter found by its name or the start of it; at the
// normalised value given, or as it stands.
std::optional<double> displayedValue(hosting::Plugin& plugin, const std::string& name,
                                     std::optional<float> normalised = std::nullopt);

// A preset's settings for Vandrel 2, as --set takes them: parameter name and value.
std::vector<std::pair<std::string, std::string>> presetSettings(const leveler::DeliveryPreset& preset);

// A stereo effect fed a mono file's channel on both inputs hears it 3 dB louder than BS.1770 counts one
// channel: its target goes up by as much (in its own steps), so that the file reads the target. Answers
// the target set, or nothing (with a note) when it cannot go that high.
std::optional<double> raiseTargetForMono(hosting::Plugin& plugin, double target,
                                         std::vector<std::string>& notes);

// The plug-in's own Output Trim takes a loudness correction where it reaches, in its own steps, so that a
// host reproduces the result with that setting; what lies beyond its range goes to a gain before the
// ceiling. Vandrel 2's trim is a plain gain after the leveler; another plug-in's is not known to be.
LoudnessCorrection correctLoudness(hosting::Plugin& plugin, double correctionDb);

// A parameter's number, as its display shows it, followed through a render: each change with the input
// frame by which the plug-in had made it. Nothing for a plug-in without the parameter.
class ParameterTrace {
public:
    ParameterTrace(hosting::Plugin& plugin, const std::string& name);
    void look(int64_t frame);
    const std::vector<std::pair<int64_t, double>>& changes() const { return changes_; }

private:
    hosting::Plugin& plugin_;
    int32_t index_ = -1;
    std::vector<std::pair<int64_t, double>> changes_;
};

} // namespace render
