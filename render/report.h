// The loudness report of a render: a table for people, JSON for scripts, a PNG plot.
#pragma once

#include "render/render.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace render {

// How far the output may miss its target before the renderer warns.
inline constexpr double kTargetTolerance = 2.0; // LU

// What went wrong without stopping the render: an input whose header claims another length than it holds,
// samples not numbers or clipped, a decoded file over the ceiling, a target missed by more than the
// tolerance (or a preset failed) and stretches left far under it, with the cause that can be seen.
std::vector<std::string> warningsFor(const RenderOptions& options, const RenderResult& result);

std::string textReport(const RenderOptions& options, const RenderResult& result);
std::string jsonReport(const RenderOptions& options, const RenderResult& result);

// Short-term loudness of input and output over time with the target line, and the gain applied.
void writePlot(const std::filesystem::path& path, const RenderOptions& options, const RenderResult& result,
               std::optional<double> target);

// Cairo and fontconfig keep fonts cached for the life of the process; a program that drew a plot
// releases them before it exits, when nothing else draws any more, so leak checkers see a clean exit.
void releaseFontCaches();

} // namespace render
