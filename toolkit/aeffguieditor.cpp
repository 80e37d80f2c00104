#include "toolkit/aeffguieditor.h"

namespace VSTGUI {

AEffGUIEditor::~AEffGUIEditor() {
    AEffGUIEditor::close();
}

bool AEffGUIEditor::getRect(Rect16** result) {
    if (!result) return false;
    *result = &rect;
    return true;
}

bool AEffGUIEditor::open(void* parentWindow) {
    systemWindow = parentWindow;
    return true;
}

void AEffGUIEditor::close() {
    if (frame) frame->forget();
    frame = nullptr;
}

void AEffGUIEditor::idle() {
    if (frame) frame->idle();
}

bool AEffGUIEditor::onKeyDown(CKeyCode& key) {
    return frame && frame->onKeyDown(key) == 1;
}

bool AEffGUIEditor::onKeyUp(CKeyCode& key) {
    return frame && frame->onKeyUp(key) == 1;
}

bool AEffGUIEditor::onWheel(float) {
    return false;
}

bool AEffGUIEditor::setKnobMode(int mode) {
    knobMode = mode;
    return true;
}

} // namespace VSTGUI
