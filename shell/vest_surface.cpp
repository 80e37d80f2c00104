// The editor and drawing-surface side of the wrapper.
#include "shell/vest.h"

#include "runtime/parvex.h"
#include "shell/editor_factory.h"

void CVeST::DrawWith(VSTGUI::CDrawContext* context, double width, double height) {
    if (!callbacks_.Draw) return;
    surface_.context = context;
    callbacks_.Draw(this, width, height);
    surface_.context = nullptr;
}

CVeSTEditor* CVeST::PanelEditor() const {
    auto* adapter = dynamic_cast<CVeSTEditorAdapter*>(getEditor());
    return adapter ? &adapter->Editor() : nullptr;
}

void CVeST::InvalidateEditor() {
    if (CVeSTEditor* editor = PanelEditor()) editor->invalidate();
}

bool CVeST::GetEditorSize(int32_t& width, int32_t& height) {
    const CVeSTEditor* editor = PanelEditor();
    if (!editor) return false;
    width = editor->getWidth();
    height = editor->getHeight();
    return true;
}

void CVeST::EditorIdle() {
    if (callbacks_.Idle) callbacks_.Idle(this);
}
void CVeST::EditorDraw(VSTGUI::CDrawContext* context, double width, double height) {
    DrawWith(context, width, height);
}
void CVeST::EditorMouseDown(double x, double y, int32_t buttons) {
    if (callbacks_.MouseDown) callbacks_.MouseDown(this, x, y, buttons);
}
void CVeST::EditorMouseUp(double x, double y, int32_t buttons) {
    if (callbacks_.MouseUp) callbacks_.MouseUp(this, x, y, buttons);
}
void CVeST::EditorMouseMoved(double x, double y, int32_t buttons) {
    if (callbacks_.MouseMove) callbacks_.MouseMove(this, x, y, buttons);
}

// The panel lets go of whatever the pointer held, in a frame that draws nothing, so that a drag ends and the
// host hears the end of the edit now rather than when the editor opens again.
void CVeST::EditorClosed() {
    if (!effect_) return;
    EditorMouseUp(effect_->MouseX, effect_->MouseY, 0);
    int32_t width = 0, height = 0;
    GetEditorSize(width, height);
    DrawWith(nullptr, width, height);
}

void CVeST::EditorKeyDown(int32_t character, uint8_t modifier, uint8_t virtualKey) {
    if (callbacks_.KeyDown) callbacks_.KeyDown(this, character, modifier, virtualKey);
}
void CVeST::EditorKeyUp(int32_t character, uint8_t modifier, uint8_t virtualKey) {
    if (callbacks_.KeyUp) callbacks_.KeyUp(this, character, modifier, virtualKey);
}

bool CVeST::SetDrawMode(int32_t mode) {
    return surface_.SetDrawMode(mode);
}
bool CVeST::SetFillColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha) {
    return surface_.SetFillColor(red, green, blue, alpha);
}
bool CVeST::SetFontColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha) {
    return surface_.SetFontColor(red, green, blue, alpha);
}
bool CVeST::FillRect(double left, double top, double right, double bottom) {
    return surface_.FillRect(left, top, right, bottom);
}
bool CVeST::DrawTextInRect(const char* text, double left, double top, double right, double bottom,
                           int32_t alignment) {
    return surface_.DrawTextInRect(text, left, top, right, bottom, alignment);
}
double CVeST::GetTextWidth(const char* text) {
    return surface_.GetTextWidth(text);
}
bool CVeST::SelectFont(const std::string& face, int32_t size, int32_t style) {
    return surface_.SelectFont(face, size, style);
}
bool CVeST::DrawImageRect(TImageSlot* slot, double left, double top, double right, double bottom,
                          double sourceX, double sourceY) {
    return surface_.DrawImageRect(slot, left, top, right, bottom, sourceX, sourceY);
}
TImageSlot* CVeST::NewImageSlot() {
    return ::NewImageSlot();
}
