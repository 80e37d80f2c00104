// Base of a plug-in editor, free of any plug-in interface types: the host side maps its editor requests
// (rectangle, open, close, idle, keys, knob mode) onto these calls.
#pragma once

#include "toolkit/frame.h"
#include "toolkit/view.h"

#include <cstddef>
#include <cstdint>

namespace VSTGUI {

// Editor rectangle in 16-bit pixels, laid out like VST 2.4's ERect so a host can read it directly.
struct Rect16 {
    int16_t top = 0;
    int16_t left = 0;
    int16_t bottom = 0;
    int16_t right = 0;
};
static_assert(sizeof(Rect16) == 8 && offsetof(Rect16, left) == 2 && offsetof(Rect16, bottom) == 4 &&
              offsetof(Rect16, right) == 6);

// A derived editor sets `rect` in its constructor and overrides open() and close():
//
//   bool MyEditor::open(void* parentWindow) {
//       frame = CFrame::createChild({0, 0, 450, 620}, parentWindow, this);
//       if (!frame) return false;
//       frame->addView(new MyView({0, 0, 450, 620})); // the frame now owns the view
//       return true;
//   }
//   void MyEditor::close() { AEffGUIEditor::close(); } // releases the frame, its window and its views
//
// The host then calls idle() often (every 10 to 50 ms); that is where the frame handles its events and
// paints. A view that wants a repaint calls invalid() on itself or the frame.
class AEffGUIEditor {
public:
    AEffGUIEditor();
    AEffGUIEditor(const AEffGUIEditor&) = delete;
    AEffGUIEditor& operator=(const AEffGUIEditor&) = delete;
    // Releases a frame the host left open.
    virtual ~AEffGUIEditor();

    // Points *result at the editor rectangle; false when result is null.
    virtual bool getRect(Rect16** result);
    // Records the host's parent window and answers true; derived editors build their frame instead.
    virtual bool open(void* parentWindow);
    // Releases the frame (if open) and clears the pointer.
    virtual void close();
    // Lets the frame handle its pending events and paint.
    virtual void idle();
    // Keys go to the frame's views; true when one handled it.
    virtual bool onKeyDown(CKeyCode& key);
    virtual bool onKeyUp(CKeyCode& key);
    // Wheel steps the host sends through the editor are not used.
    virtual bool onWheel(float distance);
    // Stores the host's knob mode; nothing here depends on it.
    virtual bool setKnobMode(int mode);

    int getKnobMode() const { return knobMode; }
    CFrame* getFrame() const { return frame; }
    void* getSystemWindow() const { return systemWindow; }

protected:
    Rect16 rect;
    CFrame* frame = nullptr; // one reference held while open, null while closed
    void* systemWindow = nullptr;
    int knobMode = 0;

private:
    [[maybe_unused]] bool oleInitialized = false; // Windows: this editor's OleInitialize is to be balanced
};

} // namespace VSTGUI
