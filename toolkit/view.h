// Views: rectangles of a frame that draw themselves and receive mouse and key events.
#pragma once

#include "toolkit/base.h"
#include "toolkit/geometry.h"

#include <cstdint>

namespace VSTGUI {

class CDrawContext;
class CFrame;

// Mouse buttons and modifier keys as reported with every mouse event.
enum CButton {
    kLButton = 1 << 1,
    kMButton = 1 << 2,
    kRButton = 1 << 3,
    kShift = 1 << 4,
    kControl = 1 << 5,
    kAlt = 1 << 6,
    kButton4 = 1 << 8, // "back" side button
    kButton5 = 1 << 9, // "forward" side button
    kDoubleClick = 1 << 10,
};

// Virtual keys numbered as in VST 2.4, so they pass to and from a host unchanged; 0 is a character key.
enum CVirtualKey : uint8_t {
    kVKeyBack = 1,
    kVKeyTab,
    kVKeyClear,
    kVKeyReturn,
    kVKeyPause,
    kVKeyEscape,
    kVKeySpace,
    kVKeyNext,
    kVKeyEnd,
    kVKeyHome,
    kVKeyLeft,
    kVKeyUp,
    kVKeyRight,
    kVKeyDown,
    kVKeyPageUp,
    kVKeyPageDown,
    kVKeySelect,
    kVKeyPrint,
    kVKeyEnter,
    kVKeySnapshot,
    kVKeyInsert,
    kVKeyDelete,
    kVKeyHelp,
    kVKeyNumpad0, // through kVKeyNumpad0 + 9
    kVKeyMultiply = kVKeyNumpad0 + 10,
    kVKeyAdd,
    kVKeySeparator,
    kVKeySubtract,
    kVKeyDecimal,
    kVKeyDivide,
    kVKeyF1, // through kVKeyF1 + 11
    kVKeyNumLock = kVKeyF1 + 12,
    kVKeyScroll,
    kVKeyShift,
    kVKeyControl,
    kVKeyAlt,
    kVKeyEquals,
};

// Modifier bits of a key event, as in VST 2.4 (kModifierControl is the Ctrl key).
enum CKeyModifier : uint8_t {
    kModifierShift = 1 << 0,
    kModifierAlternate = 1 << 1,
    kModifierCommand = 1 << 2,
    kModifierControl = 1 << 3,
};

// One key event, laid out like VST 2.4's VstKeyCode.
struct CKeyCode {
    int32_t character = 0; // the key's character (Latin-1), 0 for keys without one
    uint8_t virt = 0;      // CVirtualKey
    uint8_t modifier = 0;  // CKeyModifier bits
};

// Base of everything a frame shows. The size is in frame coordinates; so are the points of mouse events
// and the drawing of draw(). Event handlers answer 1 when they handled the event, 0 otherwise (the
// defaults do nothing and answer 0). A view a frame owns is released by the frame.
class CView : public CBaseObject {
public:
    explicit CView(const CRect& size) : size(size) {}

    // Draws the view's content; the context is the frame's for the current paint.
    virtual void draw(CDrawContext* context);
    // `buttons` holds the buttons down (including the pressed one), modifiers and kDoubleClick.
    // Handling the press (1) sends this view every move and the release until all buttons are up, even
    // outside the window.
    virtual int onMouseDown(const CPoint& where, int buttons);
    // `buttons` holds the released button and the modifiers.
    virtual int onMouseUp(const CPoint& where, int buttons);
    // `buttons` holds the buttons down and the modifiers.
    virtual int onMouseMoved(const CPoint& where, int buttons);
    // One wheel step: distance +1 up or left, -1 down or right; `buttons` holds modifiers.
    virtual int onWheel(const CPoint& where, float distance, int buttons);
    virtual int onKeyDown(CKeyCode& key);
    virtual int onKeyUp(CKeyCode& key);

    const CRect& getViewSize() const { return size; }
    void setViewSize(const CRect& newSize) { size = newSize; }
    // The frame showing the view; null until added to one.
    CFrame* getFrame() const { return frame; }
    // Asks the frame to repaint at its next idle.
    void invalid();

private:
    friend class CFrame;
    CRect size;
    CFrame* frame = nullptr;
};

} // namespace VSTGUI
