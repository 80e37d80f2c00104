// The editor and drawing-surface side of the wrapper.
#include "shell/vest.h"

void CVeST::DrawWith(VSTGUI::CDrawContext* context, double width, double height) {
    if (!callbacks_.Draw) return;
    surface_.context = context;
    callbacks_.Draw(this, width, height);
    surface_.context = nullptr;
}

void CVeST::InvalidateEditor() {}

bool CVeST::GetEditorSize(int32_t&, int32_t&) {
    return false;
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
