#include "format/panel_link.h"

#include "format/panel_input.h"
#include "runtime/parvex.h"

namespace format {

void TPanelLink::DrawWith(VSTGUI::CDrawContext* context, double width, double height) {
    surface_.context = context;
    EffectDraw(width, height);
    surface_.context = nullptr;
}

void TPanelLink::InvalidateEditor() {
    if (CVeSTEditor* editor = PanelEditor()) editor->invalidate();
}

bool TPanelLink::GetEditorSize(int32_t& width, int32_t& height) {
    const CVeSTEditor* editor = PanelEditor();
    if (!editor) return false;
    width = editor->getWidth();
    height = editor->getHeight();
    return true;
}

bool TPanelLink::SetDrawMode(int32_t mode) {
    return surface_.SetDrawMode(mode);
}
bool TPanelLink::SetFillColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha) {
    return surface_.SetFillColor(red, green, blue, alpha);
}
bool TPanelLink::SetFontColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha) {
    return surface_.SetFontColor(red, green, blue, alpha);
}
bool TPanelLink::FillRect(double left, double top, double right, double bottom) {
    return surface_.FillRect(left, top, right, bottom);
}
bool TPanelLink::DrawTextInRect(const char* text, double left, double top, double right, double bottom,
                                int32_t alignment) {
    return surface_.DrawTextInRect(text, left, top, right, bottom, alignment);
}
double TPanelLink::GetTextWidth(const char* text) {
    return surface_.GetTextWidth(text);
}
bool TPanelLink::SelectFont(const std::string& face, int32_t size, int32_t style) {
    return surface_.SelectFont(face, size, style);
}
bool TPanelLink::DrawImageRect(TImageSlot* slot, double left, double top, double right, double bottom,
                               double sourceX, double sourceY) {
    return surface_.DrawImageRect(slot, left, top, right, bottom, sourceX, sourceY);
}
TImageSlot* TPanelLink::NewImageSlot() {
    return ::NewImageSlot();
}

void TPanelLink::EditorIdle() {
    EffectIdle();
}
void TPanelLink::EditorDraw(VSTGUI::CDrawContext* context, double width, double height) {
    DrawWith(context, width, height);
}
void TPanelLink::EditorMouseDown(double x, double y, int32_t buttons) {
    EffectMouseDown(x, y, buttons);
}
void TPanelLink::EditorMouseUp(double x, double y, int32_t buttons) {
    EffectMouseUp(x, y, buttons);
}
void TPanelLink::EditorMouseMoved(double x, double y, int32_t buttons) {
    EffectMouseMove(x, y, buttons);
}
void TPanelLink::EditorKeyDown(int32_t character, uint8_t modifier, uint8_t virtualKey) {
    EffectKeyDown(character, modifier, virtualKey);
}
void TPanelLink::EditorKeyUp(int32_t character, uint8_t modifier, uint8_t virtualKey) {
    EffectKeyUp(character, modifier, virtualKey);
}

void TPanelLink::EditorClosed() {
    TParvex* effect = PanelEffect();
    if (!effect) return;
    EditorMouseUp(effect->MouseX, effect->MouseY, 0);
    int32_t width = 0, height = 0;
    GetEditorSize(width, height);
    DrawWith(nullptr, width, height);
}

void TPanelLink::EffectIdle() {
    if (TParvex* effect = PanelEffect()) effect->DoIdle();
}
void TPanelLink::EffectDraw(double, double) {
    if (TParvex* effect = PanelEffect()) effect->DoGraphics();
}
void TPanelLink::EffectMouseDown(double x, double y, int32_t buttons) {
    if (TParvex* effect = PanelEffect()) PanelMouseDown(*effect, x, y, buttons);
}
void TPanelLink::EffectMouseUp(double x, double y, int32_t) {
    if (TParvex* effect = PanelEffect()) PanelMouseUp(*effect, x, y);
}
void TPanelLink::EffectMouseMove(double x, double y, int32_t) {
    if (TParvex* effect = PanelEffect()) PanelMouseMove(*effect, x, y);
}

} // namespace format
