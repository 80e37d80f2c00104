// What kept a render's output from its target, as far as the render can see it: the input's own level and
// peaks against the plug-in's noise floor as it moved, the gain the plug-in applied, and the ceiling. Each
// cause comes with the setting that fixes it.
#pragma once

#include "render/render.h"

#include <string>
#include <vector>

namespace render {

// How far under the target the output may stay, and for how long, before a stretch is warned of.
inline constexpr double kQuietStretchLu = 10.0;
inline constexpr double kQuietStretchSeconds = 10.0;

// Why the whole output missed its target; empty when nothing seen explains it.
std::string targetMissCause(const RenderResult& result);

// Stretches of programme (input above the absolute gate of a loudness measurement) over which the output
// stayed more than kQuietStretchLu under the target for more than kQuietStretchSeconds, one warning each,
// with their times, the cause and the setting that fixes it.
std::vector<std::string> quietStretchWarnings(const RenderResult& result);

// Input samples that were not finite numbers, and the plug-in's, set to 0.
std::vector<std::string> sampleWarnings(const RenderResult& result);

} // namespace render
