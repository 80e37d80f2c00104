// The editor side of the wrapper: the panel's events reach the effect through the callback table.
#include "shell/editor_factory.h"
#include "shell/vest.h"

CVeSTEditor* CVeST::PanelEditor() const {
    auto* adapter = dynamic_cast<CVeSTEditorAdapter*>(getEditor());
    return adapter ? &adapter->Editor() : nullptr;
}

void CVeST::EffectIdle() {
    if (callbacks_.Idle) callbacks_.Idle(this);
}
void CVeST::EffectDraw(double width, double height) {
    if (callbacks_.Draw) callbacks_.Draw(this, width, height);
}
void CVeST::EffectMouseDown(double x, double y, int32_t buttons) {
    if (callbacks_.MouseDown) callbacks_.MouseDown(this, x, y, buttons);
}
void CVeST::EffectMouseUp(double x, double y, int32_t buttons) {
    if (callbacks_.MouseUp) callbacks_.MouseUp(this, x, y, buttons);
}
void CVeST::EffectMouseMove(double x, double y, int32_t buttons) {
    if (callbacks_.MouseMove) callbacks_.MouseMove(this, x, y, buttons);
}
void CVeST::EffectKeyDown(int32_t character, uint8_t modifier, uint8_t virtualKey) {
    if (callbacks_.KeyDown) callbacks_.KeyDown(this, character, modifier, virtualKey);
}
void CVeST::EffectKeyUp(int32_t character, uint8_t modifier, uint8_t virtualKey) {
    if (callbacks_.KeyUp) callbacks_.KeyUp(this, character, modifier, virtualKey);
}
