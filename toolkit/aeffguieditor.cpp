#include "toolkit/aeffguieditor.h"

#if defined(_WIN32)
#include <ole2.h>
#endif

namespace VSTGUI {

// Windows: the editor's thread runs OLE (drag and drop, the clipboard and other shell services the window
// may meet need it), for as long as the editor lives.
AEffGUIEditor::AEffGUIEditor() {
#if defined(_WIN32)
    const HRESULT result = OleInitialize(nullptr);
    oleInitialized = result == S_OK || result == S_FALSE;
#endif
}

AEffGUIEditor::~AEffGUIEditor() {
    AEffGUIEditor::close();
#if defined(_WIN32)
    if (oleInitialized) OleUninitialize();
#endif
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
