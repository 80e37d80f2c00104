#include "editor/vest_editor.h"

#include "toolkit/frame.h"

using namespace VSTGUI;

void CVeSTView::draw(CDrawContext* context) {
    const CRect& size = getViewSize();
    host->EditorDraw(context, size.right - size.left, size.bottom - size.top);
}

int CVeSTView::onMouseDown(const CPoint& where, int buttons) {
    host->EditorMouseDown(where.x, where.y, buttons);
    return 1;
}

int CVeSTView::onMouseUp(const CPoint& where, int buttons) {
    host->EditorMouseUp(where.x, where.y, buttons);
    return 1;
}

int CVeSTView::onMouseMoved(const CPoint& where, int buttons) {
    host->EditorMouseMoved(where.x, where.y, buttons);
    return 1;
}

int CVeSTView::onKeyDown(CKeyCode& key) {
    host->EditorKeyDown(key.character, key.modifier, key.virt);
    return 1;
}

int CVeSTView::onKeyUp(CKeyCode& key) {
    host->EditorKeyUp(key.character, key.modifier, key.virt);
    return 1;
}

CVeSTEditor::CVeSTEditor(TEditorHost* host, int32_t width, int32_t height)
    : host(host), width(width), height(height) {
    rect.top = 0;
    rect.left = 0;
    rect.bottom = static_cast<int16_t>(height);
    rect.right = static_cast<int16_t>(width);
}

CVeSTEditor::~CVeSTEditor() {
    CVeSTEditor::close();
}

bool CVeSTEditor::open(void* parentWindow) {
    close();
    return attach(CFrame::createChild({0, 0, double(width), double(height)}, parentWindow, this));
}

bool CVeSTEditor::openWindow(const char* title) {
    close();
    return attach(CFrame::createTopLevel({0, 0, double(width), double(height)}, title, this));
}

bool CVeSTEditor::attach(CFrame* newFrame) {
    frame = newFrame;
    if (!frame) return false;
    view = new CVeSTView({0, 0, double(width), double(height)}, host);
    frame->addView(view);
    return true;
}

void CVeSTEditor::close() {
    AEffGUIEditor::close();
    view = nullptr; // went with the frame
}

void CVeSTEditor::idle() {
    if (frame && view) host->EditorIdle();
    AEffGUIEditor::idle();
}

void CVeSTEditor::invalidate() {
    if (frame) frame->invalid();
}
