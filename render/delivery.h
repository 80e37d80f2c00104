// Delivery presets as the renderer takes them, and its verdict on a render: each limit of the preset, the
// figure measured on the written file and whether it passes.
#pragma once

#include "leveler/delivery_presets.h"
#include "render/render.h"

#include <optional>
#include <string>
#include <vector>

namespace render {

// Judged on the figures as reported, to a tenth of a unit.
bool withinTolerance(double integrated, double target, double tolerance);
bool atOrUnder(double truePeak, double ceiling);

// The presets, one a line: name, target, true peak, tolerance and use.
std::string presetListing();
// "podcast, streaming, ...".
std::string presetNames();

struct VerdictCheck {
    std::string name; // "integrated loudness", "true peak"
    std::string unit;
    double lowest, highest; // the limits; -inf when there is none below
    double measured;
    bool pass;
};

struct Verdict {
    std::string preset;
    std::vector<VerdictCheck> checks;
    bool pass() const;
};

// The verdict on the written file, for a render with a preset.
std::optional<Verdict> verdictFor(const RenderOptions& options, const RenderResult& result);
std::string verdictText(const Verdict& verdict);
std::string verdictJson(const std::optional<Verdict>& verdict);
// "the output fails the podcast preset: integrated loudness -17.3 LUFS, outside -17.0 to -15.0".
std::string verdictWarning(const Verdict& verdict);

} // namespace render
