// What a render did beyond one pass through the plug-in, for its report: a mono file counted once, a
// loudness correction, a codec's output decoded and checked against the ceiling.
#pragma once

#include "render/render.h"

#include <string>

namespace render {

// Lines of the text report, each beginning with its label; empty when there is nothing to say.
std::string passesText(const RenderResult& result);
// Members of the JSON report: "mono", "correction" and "decoded_check", each null when not done.
std::string passesJson(const RenderResult& result);

} // namespace render
