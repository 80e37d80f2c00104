// The plug-in's editor: a toolkit frame the size of the panel with one view covering it. The view has no
// logic of its own; paints, mouse and keys go to the wrapper, which passes them on to the effect. The panel
// is repainted by the effect's frame timer, which the host's editor idle drives.
#pragma once

#include "toolkit/aeffguieditor.h"
#include "toolkit/view.h"

#include <cstdint>

namespace VSTGUI {
class CDrawContext;
}

// What the editor needs of the wrapper that owns it. Each call does nothing when the effect has no such
// entry.
class TEditorHost {
public:
    // The effect's idle section (its frame timer).
    virtual void EditorIdle() = 0;
    // The effect's drawing section, with `context` usable only for the duration of the call.
    virtual void EditorDraw(VSTGUI::CDrawContext* context, double width, double height) = 0;
    // Points in view pixels; buttons in the toolkit's bit set (VSTGUI::CButton).
    virtual void EditorMouseDown(double x, double y, int32_t buttons) = 0;
    virtual void EditorMouseUp(double x, double y, int32_t buttons) = 0;
    virtual void EditorMouseMoved(double x, double y, int32_t buttons) = 0;
    virtual void EditorKeyDown(int32_t character, uint8_t modifier, uint8_t virtualKey) = 0;
    virtual void EditorKeyUp(int32_t character, uint8_t modifier, uint8_t virtualKey) = 0;
    // The host closed the editor's window, perhaps in the middle of a drag whose release will never come.
    virtual void EditorClosed() = 0;

protected:
    ~TEditorHost() = default;
};

class CVeSTView : public VSTGUI::CView {
public:
    CVeSTView(const VSTGUI::CRect& size, TEditorHost* host) : CView(size), host(host) {}

    void draw(VSTGUI::CDrawContext* context) override;
    // Every mouse event is handled (1), so a press keeps the pointer until release.
    int onMouseDown(const VSTGUI::CPoint& where, int buttons) override;
    int onMouseUp(const VSTGUI::CPoint& where, int buttons) override;
    int onMouseMoved(const VSTGUI::CPoint& where, int buttons) override;
    // Keys are swallowed: reported as handled whatever the effect does with them.
    int onKeyDown(VSTGUI::CKeyCode& key) override;
    int onKeyUp(VSTGUI::CKeyCode& key) override;

private:
    TEditorHost* host; // not owned
};

class CVeSTEditor : public VSTGUI::AEffGUIEditor {
public:
    CVeSTEditor(TEditorHost* host, int32_t width, int32_t height);
    ~CVeSTEditor() override;

    // Builds the frame as a child of the host's window, with the view. An editor that is already open is
    // closed first, so a host that opens twice gets one window.
    bool open(void* parentWindow) override;
    // The same in a top-level window of its own, for hosts that give no parent.
    bool openWindow(const char* title);
    // Releases the frame, which destroys its window and the view.
    void close() override;
    // Runs the effect's frame timer while open, then lets the frame handle its events and paint.
    void idle() override;

    // Repaints the whole panel at the next idle; nothing while closed.
    void invalidate();

    int32_t getWidth() const { return width; }
    int32_t getHeight() const { return height; }

private:
    // Takes a new frame (null: none) and gives it the view.
    bool attach(VSTGUI::CFrame* newFrame);

    TEditorHost* host;         // not owned
    CVeSTView* view = nullptr; // owned by the frame
    int32_t width;
    int32_t height;
};
