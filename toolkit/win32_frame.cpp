#include "toolkit/frame.h"

#include "toolkit/gdiplus_backend.h"
#include "toolkit/win32_module.h"

#include <windowsx.h>

namespace VSTGUI {

namespace {

constexpr wchar_t kWindowClass[] = L"Vandrel2Frame";

int heldButtons(WPARAM keys) {
    return (keys & MK_LBUTTON ? kLButton : 0) | (keys & MK_MBUTTON ? kMButton : 0) |
           (keys & MK_RBUTTON ? kRButton : 0) | (keys & MK_XBUTTON1 ? kButton4 : 0) |
           (keys & MK_XBUTTON2 ? kButton5 : 0);
}

int modifierBits(WPARAM keys) {
    return (keys & MK_SHIFT ? kShift : 0) | (keys & MK_CONTROL ? kControl : 0) |
           (GetKeyState(VK_MENU) < 0 ? kAlt : 0);
}

uint8_t keyModifiers() {
    return (GetKeyState(VK_SHIFT) < 0 ? kModifierShift : 0) |
           (GetKeyState(VK_MENU) < 0 ? kModifierAlternate : 0) |
           (GetKeyState(VK_CONTROL) < 0 ? kModifierControl : 0);
}

uint8_t virtualKey(WPARAM key) {
    if (key >= VK_F1 && key <= VK_F12) return uint8_t(kVKeyF1 + (key - VK_F1));
    if (key >= VK_NUMPAD0 && key <= VK_NUMPAD9) return uint8_t(kVKeyNumpad0 + (key - VK_NUMPAD0));
    switch (key) {
    case VK_BACK:
        return kVKeyBack;
    case VK_TAB:
        return kVKeyTab;
    case VK_CLEAR:
        return kVKeyClear;
    case VK_RETURN:
        return kVKeyReturn;
    case VK_PAUSE:
        return kVKeyPause;
    case VK_ESCAPE:
        return kVKeyEscape;
    case VK_SPACE:
        return kVKeySpace;
    case VK_NEXT:
        return kVKeyPageDown;
    case VK_PRIOR:
        return kVKeyPageUp;
    case VK_END:
        return kVKeyEnd;
    case VK_HOME:
        return kVKeyHome;
    case VK_LEFT:
        return kVKeyLeft;
    case VK_UP:
        return kVKeyUp;
    case VK_RIGHT:
        return kVKeyRight;
    case VK_DOWN:
        return kVKeyDown;
    case VK_SELECT:
        return kVKeySelect;
    case VK_PRINT:
        return kVKeyPrint;
    case VK_SNAPSHOT:
        return kVKeySnapshot;
    case VK_INSERT:
        return kVKeyInsert;
    case VK_DELETE:
        return kVKeyDelete;
    case VK_HELP:
        return kVKeyHelp;
    case VK_MULTIPLY:
        return kVKeyMultiply;
    case VK_ADD:
        return kVKeyAdd;
    case VK_SEPARATOR:
        return kVKeySeparator;
    case VK_SUBTRACT:
        return kVKeySubtract;
    case VK_DECIMAL:
        return kVKeyDecimal;
    case VK_DIVIDE:
        return kVKeyDivide;
    case VK_NUMLOCK:
        return kVKeyNumLock;
    case VK_SCROLL:
        return kVKeyScroll;
    case VK_SHIFT:
        return kVKeyShift;
    case VK_CONTROL:
        return kVKeyControl;
    case VK_MENU:
        return kVKeyAlt;
    default:
        return 0;
    }
}

CKeyCode keyCode(WPARAM key) {
    CKeyCode code;
    code.virt = virtualKey(key);
    if (!code.virt) {
        // The key's unshifted character, lower case for letters (as the keysym is under X11).
        const UINT character = MapVirtualKeyW(static_cast<UINT>(key), MAPVK_VK_TO_CHAR) & 0x7FFFFFFF;
        if (character >= 0x20 && character <= 0xFF)
            code.character =
                static_cast<int32_t>(character >= 'A' && character <= 'Z' ? character + 32 : character);
    }
    code.modifier = keyModifiers();
    return code;
}

// The window class lives while any frame does: a host may unload the DLL afterwards, and a class left
// registered would point into freed code.
SRWLOCK classLock = SRWLOCK_INIT;
int classUsers = 0;

} // namespace

struct CFrame::Platform {
    static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    bool registerClass();
    void unregisterClass();
    LRESULT handle(CFrame& frame, UINT message, WPARAM wParam, LPARAM lParam);
    void paint(CFrame& frame);
    void buttonDown(CFrame& frame, int bit, WPARAM keys, LPARAM where, bool doubleClick);
    void buttonUp(CFrame& frame, int bit, WPARAM keys, LPARAM where);
    // Paints now when the pointer moved since the last paint, so that a view polling the pointer when it
    // draws sees that position before the button changes.
    void paintPointerFirst(CFrame& frame);

    GdiplusSession session;
    HWND window = nullptr;
    bool classRegistered = false;
    bool captured = false;
};

bool CFrame::Platform::registerClass() {
    SlimLockGuard lock(classLock);
    if (classUsers == 0) {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.style = CS_DBLCLKS;
        windowClass.lpfnWndProc = windowProcedure;
        windowClass.hInstance = ModuleInstance();
        windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        windowClass.lpszClassName = kWindowClass;
        if (!RegisterClassExW(&windowClass)) return false;
    }
    ++classUsers;
    classRegistered = true;
    return true;
}

void CFrame::Platform::unregisterClass() {
    if (!classRegistered) return;
    SlimLockGuard lock(classLock);
    if (--classUsers == 0) UnregisterClassW(kWindowClass, ModuleInstance());
    classRegistered = false;
}

LRESULT CALLBACK CFrame::Platform::windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* frame = static_cast<CFrame*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(frame));
        frame->platform->window = window; // messages arrive before CreateWindowEx returns
    }
    auto* frame = reinterpret_cast<CFrame*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!frame || !frame->platform) return DefWindowProcW(window, message, wParam, lParam);
    frame->remember(); // a handler may release the frame; it goes when this message is done with it
    const LRESULT result = frame->platform->handle(*frame, message, wParam, lParam);
    frame->forget();
    return result;
}

void CFrame::Platform::paintPointerFirst(CFrame& frame) {
    if (!frame.pointerUnpainted) return;
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
}

void CFrame::Platform::buttonDown(CFrame& frame, int bit, WPARAM keys, LPARAM where, bool doubleClick) {
    paintPointerFirst(frame);
    frame.pointerUnpainted = true;
    const CPoint point{double(GET_X_LPARAM(where)), double(GET_Y_LPARAM(where))};
    frame.mouseDown(point, heldButtons(keys) | bit | modifierBits(keys) | (doubleClick ? kDoubleClick : 0));
    if (frame.mouseDownView && !captured) {
        SetCapture(window);
        captured = true;
    }
}

void CFrame::Platform::buttonUp(CFrame& frame, int bit, WPARAM keys, LPARAM where) {
    paintPointerFirst(frame);
    frame.pointerUnpainted = true;
    frame.mouseUp({double(GET_X_LPARAM(where)), double(GET_Y_LPARAM(where))}, bit | modifierBits(keys));
    // The keys are from after the release.
    if ((heldButtons(keys) & ~bit) == 0) {
        frame.mouseDownView = nullptr;
        if (captured) {
            captured = false;
            ReleaseCapture();
        }
    }
}

LRESULT CFrame::Platform::handle(CFrame& frame, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_ERASEBKGND:
        return 1; // every paint covers the whole window
    case WM_PAINT:
        paint(frame);
        return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        buttonDown(frame, kLButton, wParam, lParam, message == WM_LBUTTONDBLCLK);
        return 0;
    case WM_MBUTTONDOWN:
    case WM_MBUTTONDBLCLK:
        buttonDown(frame, kMButton, wParam, lParam, message == WM_MBUTTONDBLCLK);
        return 0;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONDBLCLK:
        buttonDown(frame, kRButton, wParam, lParam, message == WM_RBUTTONDBLCLK);
        return 0;
    case WM_XBUTTONDOWN:
    case WM_XBUTTONDBLCLK:
        buttonDown(frame, GET_XBUTTON_WPARAM(wParam) == XBUTTON1 ? kButton4 : kButton5,
                   GET_KEYSTATE_WPARAM(wParam), lParam, message == WM_XBUTTONDBLCLK);
        return TRUE;
    case WM_LBUTTONUP:
        buttonUp(frame, kLButton, wParam, lParam);
        return 0;
    case WM_MBUTTONUP:
        buttonUp(frame, kMButton, wParam, lParam);
        return 0;
    case WM_RBUTTONUP:
        buttonUp(frame, kRButton, wParam, lParam);
        return 0;
    case WM_XBUTTONUP:
        buttonUp(frame, GET_XBUTTON_WPARAM(wParam) == XBUTTON1 ? kButton4 : kButton5,
                 GET_KEYSTATE_WPARAM(wParam), lParam);
        return TRUE;
    case WM_MOUSEMOVE:
        frame.pointerUnpainted = true;
        frame.mouseMoved({double(GET_X_LPARAM(lParam)), double(GET_Y_LPARAM(lParam))},
                         heldButtons(wParam) | modifierBits(wParam));
        return 0;
    case WM_CAPTURECHANGED:
        // Taken away (another window, a dialog): the press is over for us as well.
        if (captured && reinterpret_cast<HWND>(lParam) != window) {
            captured = false;
            frame.mouseDownView = nullptr;
        }
        return 0;
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL: {
        POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        ScreenToClient(window, &point);
        const float steps = GET_WHEEL_DELTA_WPARAM(wParam) / float(WHEEL_DELTA);
        // Up and left are positive, as under X11; Windows counts a right tilt positive.
        frame.wheel({double(point.x), double(point.y)}, message == WM_MOUSEWHEEL ? steps : -steps,
                    modifierBits(GET_KEYSTATE_WPARAM(wParam)));
        return 0;
    }
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: {
        CKeyCode key = keyCode(wParam);
        if (frame.onKeyDown(key) == 1) return 0;
        break;
    }
    case WM_KEYUP:
    case WM_SYSKEYUP: {
        CKeyCode key = keyCode(wParam);
        if (frame.onKeyUp(key) == 1) return 0;
        break;
    }
    case WM_CLOSE:
        frame.closeRequested = true;
        return 0;
    case WM_DESTROY:
        // Destroyed by someone else (the host closing its window first): closed all the same.
        frame.closeRequested = true;
        captured = false;
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        window = nullptr;
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void CFrame::Platform::paint(CFrame& frame) {
    PAINTSTRUCT ps;
    HDC target = BeginPaint(window, &ps);
    RECT client{};
    GetClientRect(window, &client);
    const int width = std::max<int>(1, client.right), height = std::max<int>(1, client.bottom);
    // Views draw off screen first, then the whole picture goes to the window at once (no flicker).
    HDC memory = CreateCompatibleDC(target);
    HBITMAP pixels = CreateCompatibleBitmap(target, width, height);
    HGDIOBJ previous = SelectObject(memory, pixels);
    {
        auto graphics = std::make_unique<Gdiplus::Graphics>(memory);
        graphics->Clear(Gdiplus::Color(255, 0, 0, 0));
        CDrawContext context(std::make_unique<CDrawContext::Backend>(std::move(graphics)));
        frame.paintPending = false;
        frame.pointerUnpainted = false;
        frame.drawViews(&context);
    }
    BitBlt(target, 0, 0, width, height, memory, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
    DeleteObject(pixels);
    DeleteDC(memory);
    EndPaint(window, &ps);
}

CFrame::CFrame(const CRect& size, AEffGUIEditor* editor) : size(size), editor(editor) {}

CFrame::~CFrame() {
    if (platform) {
        if (platform->window) {
            SetWindowLongPtrW(platform->window, GWLP_USERDATA, 0);
            if (platform->captured) ReleaseCapture();
            DestroyWindow(platform->window);
        }
        platform->unregisterClass();
    }
    platform.reset();
    views.clear();
}

CFrame* CFrame::createChild(const CRect& size, void* parentWindow, AEffGUIEditor* editor) {
    return parentWindow && IsWindow(static_cast<HWND>(parentWindow))
               ? create(size, parentWindow, nullptr, editor)
               : nullptr;
}

CFrame* CFrame::createTopLevel(const CRect& size, const char* title, AEffGUIEditor* editor) {
    return create(size, nullptr, title ? title : "", editor);
}

CFrame* CFrame::create(const CRect& size, void* parentWindow, const char* title, AEffGUIEditor* editor) {
    auto* frame = new CFrame(size, editor);
    frame->platform = std::make_unique<Platform>();
    if (!frame->platform->registerClass()) {
        frame->forget();
        return nullptr;
    }
    const int width = std::max(1, static_cast<int>(size.getWidth()));
    const int height = std::max(1, static_cast<int>(size.getHeight()));
    HWND window = nullptr;
    if (parentWindow) {
        window =
            CreateWindowExW(0, kWindowClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                            static_cast<int>(size.left), static_cast<int>(size.top), width, height,
                            static_cast<HWND>(parentWindow), nullptr, ModuleInstance(), frame);
    } else {
        const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_VISIBLE;
        RECT outer{0, 0, width, height};
        AdjustWindowRectEx(&outer, style, FALSE, 0);
        window = CreateWindowExW(0, kWindowClass, Utf8ToWide(title).c_str(), style, CW_USEDEFAULT,
                                 CW_USEDEFAULT, outer.right - outer.left, outer.bottom - outer.top, nullptr,
                                 nullptr, ModuleInstance(), frame);
    }
    if (!window) {
        frame->forget();
        return nullptr;
    }
    frame->platform->window = window;
    return frame;
}

void CFrame::invalid() {
    paintPending = true;
    // Background erase requested; the window ignores it, since every paint covers all of it.
    if (platform && platform->window) InvalidateRect(platform->window, nullptr, TRUE);
}

uintptr_t CFrame::getWindow() const {
    return platform ? reinterpret_cast<uintptr_t>(platform->window) : 0;
}

void CFrame::idle() {
    // The host's message loop delivers input and paints; a frame that is due is painted now rather than
    // whenever the loop gets to its paint message.
    if (inIdle || !platform || !platform->window) return;
    inIdle = true;
    remember();
    if (paintPending) UpdateWindow(platform->window);
    inIdle = false;
    forget();
}

} // namespace VSTGUI
