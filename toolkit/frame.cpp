#include "toolkit/frame.h"

#include "toolkit/cairo_backend.h"
#include "toolkit/drawcontext.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <algorithm>
#include <cairo.h>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace VSTGUI {

namespace {

// Catches the X errors of one display for its lifetime. Xlib's default handler exits the process, and a host
// may destroy its parent window (and with it ours) before it closes the editor; such errors must not kill
// the host. Errors of other displays go to the handler that was installed before.
class ErrorTrap {
public:
    explicit ErrorTrap(Display* display) : display(display), outer(innermost) {
        innermost = this;
        previous = XSetErrorHandler(handle);
    }
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;
    ~ErrorTrap() {
        XSync(display, False);
        XSetErrorHandler(previous);
        innermost = outer;
    }
    // Whether any request sent so far failed.
    bool failed() {
        XSync(display, False);
        return error;
    }

private:
    static int handle(Display* display, XErrorEvent* event) {
        ErrorTrap* trap = innermost;
        for (; trap; trap = trap->outer)
            if (trap->display == display) {
                trap->error = true;
                return 0;
            }
        ErrorTrap* outermost = innermost;
        while (outermost->outer) outermost = outermost->outer;
        return outermost->previous ? outermost->previous(display, event) : 0;
    }

    static inline ErrorTrap* innermost = nullptr;
    Display* display;
    ErrorTrap* outer;
    XErrorHandler previous = nullptr;
    bool error = false;
};

// A busy X server can refuse a connection now and then (the client sees EAGAIN or a reset); an immediate
// second try gets through.
Display* openDisplay() {
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (Display* display = XOpenDisplay(nullptr)) return display;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return nullptr;
}

constexpr uint32_t kDoubleClickMilliseconds = 400;
constexpr int kDoubleClickDistance = 4;

int buttonBit(unsigned button) {
    switch (button) {
    case Button1:
        return kLButton;
    case Button2:
        return kMButton;
    case Button3:
        return kRButton;
    case 8:
        return kButton4; // X numbers the side buttons after the four wheel directions
    case 9:
        return kButton5;
    default:
        return 0;
    }
}

int heldButtons(unsigned state) {
    return (state & Button1Mask ? kLButton : 0) | (state & Button2Mask ? kMButton : 0) |
           (state & Button3Mask ? kRButton : 0);
}

int modifierBits(unsigned state) {
    return (state & ShiftMask ? kShift : 0) | (state & ControlMask ? kControl : 0) |
           (state & Mod1Mask ? kAlt : 0);
}

uint8_t keyModifiers(unsigned state) {
    return (state & ShiftMask ? kModifierShift : 0) | (state & Mod1Mask ? kModifierAlternate : 0) |
           (state & ControlMask ? kModifierControl : 0);
}

uint8_t virtualKey(KeySym sym) {
    if (sym >= XK_F1 && sym <= XK_F12) return kVKeyF1 + (sym - XK_F1);
    if (sym >= XK_KP_0 && sym <= XK_KP_9) return kVKeyNumpad0 + (sym - XK_KP_0);
    switch (sym) {
    case XK_BackSpace:
        return kVKeyBack;
    case XK_Tab:
    case XK_ISO_Left_Tab:
        return kVKeyTab;
    case XK_Clear:
        return kVKeyClear;
    case XK_Return:
        return kVKeyReturn;
    case XK_Pause:
        return kVKeyPause;
    case XK_Escape:
        return kVKeyEscape;
    case XK_space:
        return kVKeySpace;
    case XK_End:
    case XK_KP_End:
        return kVKeyEnd;
    case XK_Home:
    case XK_KP_Home:
        return kVKeyHome;
    case XK_Left:
    case XK_KP_Left:
        return kVKeyLeft;
    case XK_Up:
    case XK_KP_Up:
        return kVKeyUp;
    case XK_Right:
    case XK_KP_Right:
        return kVKeyRight;
    case XK_Down:
    case XK_KP_Down:
        return kVKeyDown;
    case XK_Prior:
    case XK_KP_Prior:
        return kVKeyPageUp;
    case XK_Next:
    case XK_KP_Next:
        return kVKeyPageDown;
    case XK_Select:
        return kVKeySelect;
    case XK_Print:
        return kVKeyPrint;
    case XK_KP_Enter:
        return kVKeyEnter;
    case XK_Insert:
    case XK_KP_Insert:
        return kVKeyInsert;
    case XK_Delete:
    case XK_KP_Delete:
        return kVKeyDelete;
    case XK_Help:
        return kVKeyHelp;
    case XK_KP_Multiply:
        return kVKeyMultiply;
    case XK_KP_Add:
        return kVKeyAdd;
    case XK_KP_Separator:
        return kVKeySeparator;
    case XK_KP_Subtract:
        return kVKeySubtract;
    case XK_KP_Decimal:
        return kVKeyDecimal;
    case XK_KP_Divide:
        return kVKeyDivide;
    case XK_Num_Lock:
        return kVKeyNumLock;
    case XK_Scroll_Lock:
        return kVKeyScroll;
    case XK_Shift_L:
    case XK_Shift_R:
        return kVKeyShift;
    case XK_Control_L:
    case XK_Control_R:
        return kVKeyControl;
    case XK_Alt_L:
    case XK_Alt_R:
        return kVKeyAlt;
    case XK_KP_Equal:
        return kVKeyEquals;
    default:
        return 0;
    }
}

CKeyCode keyCode(XKeyEvent& event) {
    char text[8];
    KeySym sym = NoSymbol;
    XLookupString(&event, text, sizeof text, &sym, nullptr);
    CKeyCode key;
    key.virt = virtualKey(sym);
    // Latin-1 keysyms equal their character; the keysym (not the text) keeps Ctrl+letter a letter.
    if (!key.virt && sym >= 0x20 && sym <= 0xFF) key.character = static_cast<int32_t>(sym);
    key.modifier = keyModifiers(event.state);
    return key;
}

} // namespace

struct CFrame::Platform {
    explicit Platform(Display* display) : display(display) {}
    Platform(const Platform&) = delete;
    Platform& operator=(const Platform&) = delete;
    ~Platform();

    bool open(::Window parent, const CRect& size, const char* title);
    void handle(CFrame& frame, XEvent& event);
    void paint(CFrame& frame);
    void copyToUpload();
    bool isDoubleClick(const XButtonEvent& press);
    bool nextIsButton();

    Display* display;
    ::Window window = 0;
    Pixmap pixmap = 0;
    GC gc = nullptr;
    // Views draw into an image in memory that is then sent to the server in the window's pixel format.
    // (Cairo's X backend leaks its per-display state once text has been drawn through it.)
    cairo_surface_t* backBuffer = nullptr;
    XImage* upload = nullptr;
    int width = 0;
    int height = 0;
    Atom wmProtocols = None;
    Atom wmDeleteWindow = None;
    bool windowDestroyed = false;
    bool grabbed = false;
    int sideButtons = 0; // kButton4/kButton5 held: X's state masks only cover buttons 1 to 5
    struct Click {
        unsigned button = 0;
        Time time = 0;
        int x = 0;
        int y = 0;
    } lastClick;
};

CFrame::Platform::~Platform() {
    {
        ErrorTrap trap(display);
        if (backBuffer) cairo_surface_destroy(backBuffer);
        if (upload) XDestroyImage(upload); // frees its pixels too
        if (gc) XFreeGC(display, gc);
        if (pixmap) XFreePixmap(display, pixmap);
        if (grabbed) XUngrabPointer(display, CurrentTime);
        if (window && !windowDestroyed) XDestroyWindow(display, window);
    }
    XCloseDisplay(display);
}

bool CFrame::Platform::open(::Window parent, const CRect& size, const char* title) {
    ErrorTrap trap(display);
    width = std::max(1, static_cast<int>(size.getWidth()));
    height = std::max(1, static_cast<int>(size.getHeight()));
    XSetWindowAttributes attributes{};
    // No background: the server must not clear the window before each paint (flicker).
    attributes.background_pixmap = None;
    attributes.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                            KeyPressMask | KeyReleaseMask | StructureNotifyMask;
    window = XCreateWindow(display, parent, static_cast<int>(size.left), static_cast<int>(size.top), width,
                           height, 0, CopyFromParent, InputOutput, CopyFromParent, CWBackPixmap | CWEventMask,
                           &attributes);
    XWindowAttributes created{};
    if (trap.failed() || !XGetWindowAttributes(display, window, &created)) return false;

    pixmap = XCreatePixmap(display, window, width, height, created.depth);
    XGCValues values{};
    values.graphics_exposures = False;
    gc = XCreateGC(display, window, GCGraphicsExposures, &values);
    backBuffer = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    upload = XCreateImage(display, created.visual, static_cast<unsigned>(created.depth), ZPixmap, 0, nullptr,
                          static_cast<unsigned>(width), static_cast<unsigned>(height), 32, 0);
    if (upload)
        upload->data = static_cast<char*>(std::calloc(static_cast<size_t>(upload->bytes_per_line), height));

    if (title) {
        XStoreName(display, window, title);
        wmProtocols = XInternAtom(display, "WM_PROTOCOLS", False);
        wmDeleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
        XSetWMProtocols(display, window, &wmDeleteWindow, 1);
        XSizeHints* hints = XAllocSizeHints();
        hints->flags = PMinSize | PMaxSize;
        hints->min_width = hints->max_width = width;
        hints->min_height = hints->max_height = height;
        XSetWMNormalHints(display, window, hints);
        XFree(hints);
        XWMHints* wmHints = XAllocWMHints();
        wmHints->flags = InputHint;
        wmHints->input = True;
        XSetWMHints(display, window, wmHints);
        XFree(wmHints);
    }
    XMapWindow(display, window);
    return !trap.failed() && cairo_surface_status(backBuffer) == CAIRO_STATUS_SUCCESS && upload &&
           upload->data;
}

bool CFrame::Platform::isDoubleClick(const XButtonEvent& press) {
    const bool isDouble = press.button == lastClick.button &&
                          static_cast<uint32_t>(press.time - lastClick.time) <= kDoubleClickMilliseconds &&
                          std::abs(press.x - lastClick.x) <= kDoubleClickDistance &&
                          std::abs(press.y - lastClick.y) <= kDoubleClickDistance;
    // A third press starts a new pair rather than making another double click.
    lastClick = isDouble ? Click{} : Click{press.button, press.time, press.x, press.y};
    return isDouble;
}

// Whether the next queued event presses or releases a button (the wheel's steps are not held).
bool CFrame::Platform::nextIsButton() {
    XEvent next;
    XPeekEvent(display, &next);
    return (next.type == ButtonPress || next.type == ButtonRelease) && next.xany.window == window &&
           buttonBit(next.xbutton.button) != 0;
}

void CFrame::Platform::handle(CFrame& frame, XEvent& event) {
    if (event.type == MappingNotify) {
        XRefreshKeyboardMapping(&event.xmapping);
        return;
    }
    if (event.xany.window != window) return;
    switch (event.type) {
    case Expose:
        frame.invalid();
        break;
    case DestroyNotify:
        // Destroyed by someone else (a host, a window manager's forced close): closed all the same.
        windowDestroyed = true;
        grabbed = false;
        frame.closeRequested = true;
        break;
    case ClientMessage:
        if (event.xclient.message_type == wmProtocols &&
            static_cast<Atom>(event.xclient.data.l[0]) == wmDeleteWindow)
            frame.closeRequested = true;
        break;
    case ButtonPress: {
        const XButtonEvent& press = event.xbutton;
        const CPoint where{double(press.x), double(press.y)};
        if (press.button >= 4 && press.button <= 7) {
            const float distance = press.button == 4 || press.button == 6 ? 1.0f : -1.0f;
            frame.wheel(where, distance, modifierBits(press.state));
            break;
        }
        const int bit = buttonBit(press.button);
        if (!bit) break;
        sideButtons |= bit & (kButton4 | kButton5);
        int buttons = heldButtons(press.state) | sideButtons | bit | modifierBits(press.state);
        if (isDoubleClick(press)) buttons |= kDoubleClick;
        frame.pointerUnpainted = true;
        frame.mouseDown(where, buttons);
        if (frame.mouseDownView && !grabbed) {
            grabbed =
                XGrabPointer(display, window, False, ButtonPressMask | ButtonReleaseMask | PointerMotionMask,
                             GrabModeAsync, GrabModeAsync, None, None, press.time) == GrabSuccess;
        }
        break;
    }
    case ButtonRelease: {
        const XButtonEvent& release = event.xbutton;
        const int bit = buttonBit(release.button);
        if (!bit) break;
        sideButtons &= ~bit;
        frame.pointerUnpainted = true;
        frame.mouseUp({double(release.x), double(release.y)}, bit | modifierBits(release.state));
        // The state is from before the release.
        if (((heldButtons(release.state) | sideButtons) & ~bit) == 0) {
            frame.mouseDownView = nullptr;
            if (grabbed) XUngrabPointer(display, release.time);
            grabbed = false;
        }
        break;
    }
    case MotionNotify: {
        const XMotionEvent& motion = event.xmotion;
        frame.pointerUnpainted = true;
        frame.mouseMoved({double(motion.x), double(motion.y)},
                         heldButtons(motion.state) | sideButtons | modifierBits(motion.state));
        break;
    }
    case KeyPress: {
        CKeyCode key = keyCode(event.xkey);
        frame.onKeyDown(key);
        break;
    }
    case KeyRelease: {
        CKeyCode key = keyCode(event.xkey);
        frame.onKeyUp(key);
        break;
    }
    default:
        break;
    }
}

void CFrame::Platform::paint(CFrame& frame) {
    cairo_t* cr = cairo_create(backBuffer);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);
    {
        CDrawContext context(std::make_unique<CDrawContext::Backend>(cr));
        frame.drawViews(&context);
    }
    cairo_surface_flush(backBuffer);
    copyToUpload();
    XPutImage(display, pixmap, gc, upload, 0, 0, 0, 0, static_cast<unsigned>(width),
              static_cast<unsigned>(height));
    XCopyArea(display, pixmap, window, gc, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height),
              0, 0);
}

namespace {

// An 8-bit channel placed into a visual's colour mask.
unsigned long toMask(uint32_t channel, unsigned long mask) {
    if (!mask) return 0;
    const int shift = __builtin_ctzl(mask);
    const int bits = __builtin_popcountl(mask);
    const unsigned long value = bits >= 8 ? channel << (bits - 8) : channel >> (8 - bits);
    return (value << shift) & mask;
}

} // namespace

void CFrame::Platform::copyToUpload() {
    const unsigned char* source = cairo_image_surface_get_data(backBuffer);
    const int stride = cairo_image_surface_get_stride(backBuffer);
    const uint16_t probe = 1;
    const bool hostLittleEndian = *reinterpret_cast<const uint8_t*>(&probe) == 1;
    // The usual 24-bit true-colour layout is cairo's own: rows copy as they are.
    if (upload->bits_per_pixel == 32 && upload->red_mask == 0xFF0000 && upload->green_mask == 0xFF00 &&
        upload->blue_mask == 0xFF && upload->byte_order == (hostLittleEndian ? LSBFirst : MSBFirst)) {
        const size_t rowBytes = static_cast<size_t>(width) * 4;
        for (int y = 0; y < height; ++y)
            std::memcpy(upload->data + static_cast<ptrdiff_t>(y) * upload->bytes_per_line,
                        source + static_cast<ptrdiff_t>(y) * stride, rowBytes);
        return;
    }
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(source + static_cast<ptrdiff_t>(y) * stride);
        for (int x = 0; x < width; ++x) {
            const uint32_t pixel = row[x];
            XPutPixel(upload, x, y,
                      toMask((pixel >> 16) & 0xFF, upload->red_mask) |
                          toMask((pixel >> 8) & 0xFF, upload->green_mask) |
                          toMask(pixel & 0xFF, upload->blue_mask));
        }
    }
}

CFrame::CFrame(const CRect& size, AEffGUIEditor* editor) : size(size), editor(editor) {}

CFrame::~CFrame() {
    platform.reset();
    views.clear();
}

CFrame* CFrame::createChild(const CRect& size, void* parentWindow, AEffGUIEditor* editor) {
    return parentWindow ? create(size, parentWindow, nullptr, editor) : nullptr;
}

CFrame* CFrame::createTopLevel(const CRect& size, const char* title, AEffGUIEditor* editor) {
    return create(size, nullptr, title ? title : "", editor);
}

CFrame* CFrame::create(const CRect& size, void* parentWindow, const char* title, AEffGUIEditor* editor) {
    Display* display = openDisplay();
    if (!display) return nullptr;
    auto* frame = new CFrame(size, editor);
    frame->platform = std::make_unique<Platform>(display);
    const ::Window parent = parentWindow ? static_cast<::Window>(reinterpret_cast<uintptr_t>(parentWindow))
                                         : DefaultRootWindow(display);
    if (!frame->platform->open(parent, size, title)) {
        frame->forget();
        return nullptr;
    }
    return frame;
}

void CFrame::invalid() {
    paintPending = true;
}

uintptr_t CFrame::getWindow() const {
    return platform ? platform->window : 0;
}

void CFrame::idle() {
    if (inIdle || !platform) return;
    inIdle = true;
    remember(); // an event handler may release the frame; it goes when this call is done with it
    {
        ErrorTrap trap(platform->display);
        while (XPending(platform->display)) {
            // Views may look at the pointer only when they draw, and a control may take a press only
            // where the pointer was seen before it. A move, press and release that arrive together (a
            // touchpad tap, a touch screen) would pass unseen: a button waits until they are painted.
            if (pointerUnpainted && platform->nextIsButton()) {
                invalid();
                break;
            }
            XEvent event;
            XNextEvent(platform->display, &event);
            platform->handle(*this, event);
        }
        if (paintPending && !platform->windowDestroyed) {
            paintPending = false;
            pointerUnpainted = false;
            platform->paint(*this);
        }
    }
    inIdle = false;
    forget();
}

} // namespace VSTGUI
