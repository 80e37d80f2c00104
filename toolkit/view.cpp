#include "toolkit/view.h"

#include "toolkit/frame.h"

namespace VSTGUI {

void CView::draw(CDrawContext*) {}
int CView::onMouseDown(const CPoint&, int) {
    return 0;
}
int CView::onMouseUp(const CPoint&, int) {
    return 0;
}
int CView::onMouseMoved(const CPoint&, int) {
    return 0;
}
int CView::onWheel(const CPoint&, float, int) {
    return 0;
}
int CView::onKeyDown(CKeyCode&) {
    return 0;
}
int CView::onKeyUp(CKeyCode&) {
    return 0;
}

void CView::invalid() {
    if (frame) frame->invalid();
}

} // namespace VSTGUI
