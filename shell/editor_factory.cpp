#include "shell/editor_factory.h"

#include "shell/vest.h"

namespace {

VSTGUI::CKeyCode ToolkitKey(const vst2::VstKeyCode& key) {
    VSTGUI::CKeyCode code;
    code.character = key.character;
    code.virt = key.virt;
    code.modifier = key.modifier;
    return code;
}

} // namespace

CVeSTEditorAdapter::CVeSTEditorAdapter(TEditorHost* host, int32_t width, int32_t height)
    : host_(host), editor_(host, width, height) {}

bool CVeSTEditorAdapter::getRect(vst2::ERect** rect) {
    VSTGUI::Rect16* own = nullptr;
    if (!rect || !editor_.getRect(&own)) return false;
    rect_ = {own->top, own->left, own->bottom, own->right};
    *rect = &rect_;
    return true;
}

bool CVeSTEditorAdapter::open(void* parentWindow) {
    return editor_.open(parentWindow);
}

void CVeSTEditorAdapter::close() {
    const bool wasOpen = editor_.getFrame() != nullptr;
    editor_.close();
    if (wasOpen) host_->EditorClosed();
}

void CVeSTEditorAdapter::idle() {
    editor_.idle();
}

int32_t CVeSTEditorAdapter::onKeyDown(vst2::VstKeyCode& key) {
    VSTGUI::CKeyCode code = ToolkitKey(key);
    return editor_.onKeyDown(code) ? 1 : 0;
}

int32_t CVeSTEditorAdapter::onKeyUp(vst2::VstKeyCode& key) {
    VSTGUI::CKeyCode code = ToolkitKey(key);
    return editor_.onKeyUp(code) ? 1 : 0;
}

bool CVeSTEditorAdapter::setKnobMode(int32_t mode) {
    return editor_.setKnobMode(mode);
}

AEffEditor* CreateEditor(CVeST* wrapper, int32_t width, int32_t height) {
    return new CVeSTEditorAdapter(wrapper, width, height);
}
