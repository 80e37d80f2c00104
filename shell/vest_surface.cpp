// The editor and drawing-surface side of the wrapper.
#include "shell/vest.h"

void CVeST::InvalidateEditor() {}

bool CVeST::GetEditorSize(int32_t&, int32_t&) {
    return false;
}
bool CVeST::SetDrawMode(int32_t) {
    return false;
}
bool CVeST::SetFillColor(uint8_t, uint8_t, uint8_t, uint8_t) {
    return false;
}
bool CVeST::SetFontColor(uint8_t, uint8_t, uint8_t, uint8_t) {
    return false;
}
bool CVeST::FillRect(double, double, double, double) {
    return false;
}
bool CVeST::DrawTextInRect(const char*, double, double, double, double, int32_t) {
    return false;
}
double CVeST::GetTextWidth(const char*) {
    return 0;
}
bool CVeST::SelectFont(const std::string&, int32_t, int32_t) {
    return false;
}
bool CVeST::DrawImageRect(TImageSlot*, double, double, double, double, double, double) {
    return false;
}
TImageSlot* CVeST::NewImageSlot() {
    return nullptr;
}
