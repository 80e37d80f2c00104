// The editor's events as the effect takes them, whatever window system and plug-in format deliver them:
// pointer position and buttons are stored for the panel to read on its next frame, and every pointer event
// raises the frame rate to at least 30 so that the panel follows. Editor thread only.
#pragma once

#include "runtime/parvex.h"

#include <cstdint>

namespace format {

// Buttons in the toolkit's bits (left 2, middle 4, right 8, shift 16, control 32, alt 64).
void PanelMouseDown(TParvex& effect, double x, double y, int32_t toolkitButtons);
void PanelMouseUp(TParvex& effect, double x, double y);
void PanelMouseMove(TParvex& effect, double x, double y);

// The toolkit's button bits in the effect's: left 1, right 2, control 4, shift 8, alt 16, middle 64.
int32_t EffectButtons(int32_t toolkitButtons);

} // namespace format
