// The editor's window showing a stack of views: an X11 window on a display connection of its own, or a
// user32 window of the toolkit's own window class on Windows.
#pragma once

#include "toolkit/base.h"
#include "toolkit/geometry.h"
#include "toolkit/view.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace VSTGUI {

class AEffGUIEditor;
class CDrawContext;

// A frame owns its views and its window. Under X11 everything happens inside idle(), on the caller's
// thread; on Windows the thread's message loop (the host's) delivers input and paints to the window. The
// frame starts no threads and never blocks. Painting is double-buffered: the views draw off screen and the
// picture is then copied to the window in one go. A handled mouse press grabs (captures) the pointer until
// every button is released. Releasing the last reference destroys the window (and the X connection).
class CFrame : public CBaseObject {
public:
    // A child of the window `parentWindow` (the X11 Window id or the HWND a host passes when opening an
    // editor), placed at the rectangle's top-left corner with its size, and shown. Null when there is no
    // display or no such parent.
    static CFrame* createChild(const CRect& size, void* parentWindow, AEffGUIEditor* editor = nullptr);
    // A top-level window with a title for stand-alone use; the window manager's close button, or the
    // window's destruction by another client, sets isCloseRequested(). Null when there is no display.
    static CFrame* createTopLevel(const CRect& size, const char* title, AEffGUIEditor* editor = nullptr);
    ~CFrame() override;

    // Takes over the caller's reference to the view. Views added later lie on top of earlier ones.
    void addView(CView* view);
    int getNbViews() const { return static_cast<int>(views.size()); }
    CView* getView(int index) const;

    const CRect& getViewSize() const { return size; }
    AEffGUIEditor* getEditor() const { return editor; }
    // The frame's window: its X11 id, or its HWND on Windows.
    uintptr_t getWindow() const;
    bool isCloseRequested() const { return closeRequested; }

    // Marks the whole frame for repainting: at the next idle() under X11, at the window's next paint on
    // Windows.
    void invalid();
    void invalidRect(const CRect&) { invalid(); }

    // Under X11, handles every pending window event (mouse, keys, exposure, close) and repaints when the
    // frame was invalidated or exposed; on Windows, paints a frame that is due. On both, a button press or
    // release waits until the pointer events before it have been painted, so that views which read the
    // pointer when they draw see each step. Calls made from inside an event handler or paint return at once.
    void idle();

    // Offers a key to the views, topmost first; 1 when one handled it.
    int onKeyDown(CKeyCode& key);
    int onKeyUp(CKeyCode& key);

    // Draws every view, bottom first, into `context` (also usable headless).
    void drawViews(CDrawContext* context);

private:
    struct Platform;
    friend struct Platform;

    CFrame(const CRect& size, AEffGUIEditor* editor);
    static CFrame* create(const CRect& size, void* parentWindow, const char* title, AEffGUIEditor* editor);
    CView* viewAt(const CPoint& where) const;
    void mouseDown(const CPoint& where, int buttons);
    void mouseUp(const CPoint& where, int buttons);
    void mouseMoved(const CPoint& where, int buttons);
    void wheel(const CPoint& where, float distance, int buttons);

    CRect size;
    AEffGUIEditor* editor;
    std::vector<SharedPointer<CView>> views;
    CView* mouseDownView = nullptr;
    bool paintPending = true;
    // The pointer moved, or a button went down or up, since the last paint.
    bool pointerUnpainted = false;
    bool closeRequested = false;
    bool inIdle = false;
    std::unique_ptr<Platform> platform;
};

} // namespace VSTGUI
