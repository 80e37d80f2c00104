// What the renderer knows of plug-ins beyond what they report through VST 2.4.
#pragma once

#include "hosting/parameters.h"

#include <cstdint>

namespace render {

// Vandrel 2's unique identifier, 'QMV7'.
inline constexpr int32_t kVandrelId = 0x514D5637;

// The units of Vandrel 2's parameters, from its parameter table: it reports none to hosts, and names only
// some in its parameter names. Nothing for other plug-ins.
hosting::KnownUnits knownUnits(hosting::Plugin& plugin);

} // namespace render
