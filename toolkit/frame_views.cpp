// What frames do alike on every platform: their views, and which view an event goes to.
#include "toolkit/frame.h"

namespace VSTGUI {

void CFrame::addView(CView* view) {
    if (!view) return;
    view->frame = this;
    views.emplace_back(view, SharedPointer<CView>::kAdopt);
    invalid();
}

CView* CFrame::getView(int index) const {
    return index >= 0 && index < getNbViews() ? views[static_cast<size_t>(index)].get() : nullptr;
}

int CFrame::onKeyDown(CKeyCode& key) {
    for (auto view = views.rbegin(); view != views.rend(); ++view)
        if ((*view)->onKeyDown(key) == 1) return 1;
    return 0;
}

int CFrame::onKeyUp(CKeyCode& key) {
    for (auto view = views.rbegin(); view != views.rend(); ++view)
        if ((*view)->onKeyUp(key) == 1) return 1;
    return 0;
}

void CFrame::drawViews(CDrawContext* context) {
    for (size_t i = 0; i < views.size(); ++i) views[i]->draw(context);
}

CView* CFrame::viewAt(const CPoint& where) const {
    for (auto view = views.rbegin(); view != views.rend(); ++view)
        if ((*view)->getViewSize().pointInside(where)) return view->get();
    return nullptr;
}

void CFrame::mouseDown(const CPoint& where, int buttons) {
    CView* view = mouseDownView ? mouseDownView : viewAt(where);
    if (view && view->onMouseDown(where, buttons) == 1) mouseDownView = view;
}

void CFrame::mouseUp(const CPoint& where, int buttons) {
    if (CView* view = mouseDownView ? mouseDownView : viewAt(where)) view->onMouseUp(where, buttons);
}

void CFrame::mouseMoved(const CPoint& where, int buttons) {
    if (CView* view = mouseDownView ? mouseDownView : viewAt(where)) view->onMouseMoved(where, buttons);
}

void CFrame::wheel(const CPoint& where, float distance, int buttons) {
    if (CView* view = viewAt(where)) view->onWheel(where, distance, buttons);
}

} // namespace VSTGUI
