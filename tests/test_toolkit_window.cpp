// The window half of the toolkit against a real X server (run under xvfb-run): geometry, painting read
// back from the screen, pointer input faked with XTest, the editor base, and clean teardown.
#include "toolkit/vstgui.h"

#include <gtest/gtest.h>

// After GoogleTest: Xlib's macros (None, Bool...) clash with its names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <chrono>
#include <cstdint>
#include <dirent.h>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using namespace VSTGUI;

namespace {

enum class Kind { Down, Up, Moved, Wheel, Key };

struct Event {
    Kind kind;
    CPoint where;
    int buttons = 0;
    CKeyCode key{};
};

// Fills its rectangle with a colour and a marker square, records every event, handles mouse presses.
class RecordingView : public CView {
public:
    explicit RecordingView(const CRect& size, CColor colour = {0, 128, 255, 255})
        : CView(size), colour(colour) {}

    void draw(CDrawContext* context) override {
        ++draws;
        context->setFillColor(colour);
        context->fillRect(getViewSize());
        context->setFillColor({255, 255, 0, 255});
        context->fillRect({10, 20, 30, 25});
    }
    int onMouseDown(const CPoint& p, int b) override { return record(Kind::Down, p, b); }
    int onMouseUp(const CPoint& p, int b) override { return record(Kind::Up, p, b); }
    int onMouseMoved(const CPoint& p, int b) override { return record(Kind::Moved, p, b); }
    int onWheel(const CPoint& p, float distance, int b) override {
        return record(Kind::Wheel, {p.x, p.y + distance * 1000}, b);
    }
    int onKeyDown(CKeyCode& key) override {
        events.push_back({Kind::Key, {}, 0, key});
        return 1;
    }

    int count(Kind kind) const {
        int n = 0;
        for (const Event& e : events) n += e.kind == kind;
        return n;
    }
    const Event* last(Kind kind) const {
        for (auto e = events.rbegin(); e != events.rend(); ++e)
            if (e->kind == kind) return &*e;
        return nullptr;
    }

    CColor colour;
    int draws = 0;
    std::vector<Event> events;

private:
    int record(Kind kind, const CPoint& p, int buttons) {
        events.push_back({kind, p, buttons});
        return 1;
    }
};

int openDescriptors() {
    int n = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir)) ++n;
        closedir(dir);
    }
    return n;
}

class ToolkitWindow : public ::testing::Test {
protected:
    void SetUp() override {
        for (int attempt = 0; attempt < 3 && !display; ++attempt) display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr) << "no X display: run the window tests under xvfb-run -a";
        int event, error, major, minor;
        ASSERT_TRUE(XTestQueryExtension(display, &event, &error, &major, &minor)) << "X server lacks XTEST";
        root = DefaultRootWindow(display);
        parent = makeParent();
        XWarpPointer(display, None, root, 0, 0, 0, 0, 900, 900); // start away from every window
        XSync(display, False);
    }
    void TearDown() override {
        if (!display) return;
        if (frame) frame->forget();
        XDestroyWindow(display, parent);
        XCloseDisplay(display);
    }

    Window makeParent() {
        Window w =
            XCreateSimpleWindow(display, root, kParentX, kParentY, 500, 700, 0, 0, WhitePixel(display, 0));
        XMapWindow(display, w);
        XSync(display, False);
        return w;
    }

    RecordingView* openFrame(const CRect& size = {0, 0, 450, 620}) {
        frame = CFrame::createChild(size, reinterpret_cast<void*>(parent), nullptr);
        EXPECT_NE(frame, nullptr);
        if (!frame) return nullptr;
        auto* view = new RecordingView({0, 0, size.getWidth(), size.getHeight()});
        frame->addView(view);
        frame->idle();
        return view;
    }

    // Asks every millisecond until the condition holds (or two seconds pass).
    static bool eventually(const std::function<bool()>& condition) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (std::chrono::steady_clock::now() < deadline) {
            if (condition()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }
    // Runs the frame's idle until the condition holds (or two seconds pass).
    bool pump(const std::function<bool()>& condition) {
        return eventually([&] {
            frame->idle();
            return condition();
        });
    }

    // Frame coordinates to root coordinates: the frame sits at its parent's origin.
    void moveTo(int x, int y) {
        XTestFakeMotionEvent(display, DefaultScreen(display), kParentX + x, kParentY + y, CurrentTime);
        XSync(display, False);
    }
    void button(unsigned number, bool press) {
        XTestFakeButtonEvent(display, number, press, CurrentTime);
        XSync(display, False);
    }
    void key(KeySym sym, bool press) {
        XTestFakeKeyEvent(display, XKeysymToKeycode(display, sym), press, CurrentTime);
        XSync(display, False);
    }

    unsigned long pixelAt(Window w, int x, int y) {
        XImage* image = XGetImage(display, w, x, y, 1, 1, AllPlanes, ZPixmap);
        if (!image) return ~0ul;
        const unsigned long pixel = XGetPixel(image, 0, 0);
        XDestroyImage(image);
        return pixel;
    }
    // The pixel once it shows `expected`, or after two seconds whatever it shows. The frame paints over a
    // connection of its own, which the server may serve after this one even when the paint came first.
    unsigned long paintedPixelAt(Window w, int x, int y, unsigned long expected) {
        unsigned long pixel = 0;
        eventually([&] { return (pixel = pixelAt(w, x, y)) == expected; });
        return pixel;
    }

    static constexpr int kParentX = 20;
    static constexpr int kParentY = 30;
    Display* display = nullptr;
    Window root = 0;
    Window parent = 0;
    CFrame* frame = nullptr;
};

int ignoreErrors(Display*, XErrorEvent*) {
    return 0;
}

} // namespace

TEST_F(ToolkitWindow, ChildFrameIsAMappedChildOfTheHostWindowWithTheRequestedGeometry) {
    openFrame({0, 0, 450, 620});
    ASSERT_NE(frame, nullptr);
    const Window window = frame->getWindow();
    XWindowAttributes attributes;
    ASSERT_TRUE(XGetWindowAttributes(display, window, &attributes));
    EXPECT_EQ(attributes.width, 450);
    EXPECT_EQ(attributes.height, 620);
    EXPECT_EQ(attributes.x, 0);
    EXPECT_EQ(attributes.map_state, IsViewable);

    Window treeRoot, treeParent, *children = nullptr;
    unsigned count = 0;
    ASSERT_TRUE(XQueryTree(display, window, &treeRoot, &treeParent, &children, &count));
    XFree(children);
    EXPECT_EQ(treeParent, parent);
    ASSERT_TRUE(XQueryTree(display, parent, &treeRoot, &treeParent, &children, &count));
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(children[0], window);
    XFree(children);

    CFrame* offset = CFrame::createChild({10, 20, 110, 70}, reinterpret_cast<void*>(parent));
    ASSERT_NE(offset, nullptr);
    ASSERT_TRUE(XGetWindowAttributes(display, offset->getWindow(), &attributes));
    EXPECT_EQ(attributes.x, 10);
    EXPECT_EQ(attributes.y, 20);
    EXPECT_EQ(attributes.width, 100);
    EXPECT_EQ(attributes.height, 50);
    offset->forget();
}

TEST_F(ToolkitWindow, MissingParentWindowGivesNoFrameAndNoCrash) {
    EXPECT_EQ(CFrame::createChild({0, 0, 450, 620}, nullptr), nullptr);
    const Window gone = XCreateSimpleWindow(display, root, 0, 0, 10, 10, 0, 0, 0);
    XDestroyWindow(display, gone);
    XSync(display, False);
    EXPECT_EQ(CFrame::createChild({0, 0, 450, 620}, reinterpret_cast<void*>(gone)), nullptr);
}

TEST_F(ToolkitWindow, PaintsTheViewsIntoTheWindowOnlyWhenInvalidOrExposed) {
    RecordingView* view = openFrame();
    ASSERT_NE(view, nullptr);
    const Window window = frame->getWindow();
    ASSERT_TRUE(pump([&] { return view->draws >= 1; }));
    EXPECT_EQ(paintedPixelAt(window, 200, 300, 0x0080FFul), 0x0080FFul);
    EXPECT_EQ(paintedPixelAt(window, 449, 619, 0x0080FFul), 0x0080FFul);
    EXPECT_EQ(paintedPixelAt(window, 10, 20, 0xFFFF00ul), 0xFFFF00ul);
    EXPECT_EQ(paintedPixelAt(window, 29, 24, 0xFFFF00ul), 0xFFFF00ul);
    EXPECT_EQ(paintedPixelAt(window, 30, 24, 0x0080FFul), 0x0080FFul);
    EXPECT_EQ(pixelAt(parent, 460, 300), 0xFFFFFFul); // the parent around the frame is untouched

    const int draws = view->draws;
    for (int i = 0; i < 5; ++i) frame->idle();
    EXPECT_EQ(view->draws, draws);

    view->colour = {200, 10, 20, 255};
    view->invalid();
    frame->idle();
    frame->idle();
    EXPECT_EQ(view->draws, draws + 1);
    EXPECT_EQ(paintedPixelAt(window, 200, 300, 0xC80A14ul), 0xC80A14ul);

    XClearArea(display, window, 0, 0, 0, 0, True); // the server asks for a repaint
    XSync(display, False);
    EXPECT_TRUE(pump([&] { return view->draws == draws + 2; }));
}

TEST_F(ToolkitWindow, PointerEventsCarryFrameCoordinatesAndButtonBits) {
    RecordingView* view = openFrame();
    ASSERT_NE(view, nullptr);
    moveTo(100, 120);
    ASSERT_TRUE(pump([&] { return view->count(Kind::Moved) > 0; }));
    EXPECT_EQ(view->last(Kind::Moved)->where, (CPoint{100, 120}));
    EXPECT_EQ(view->last(Kind::Moved)->buttons, 0);

    key(XK_Shift_L, true);
    button(1, true);
    ASSERT_TRUE(pump([&] { return view->count(Kind::Down) == 1; }));
    EXPECT_EQ(view->last(Kind::Down)->buttons, kLButton | kShift); // 18
    EXPECT_EQ(view->last(Kind::Down)->where, (CPoint{100, 120}));
    moveTo(130, 90);
    ASSERT_TRUE(pump([&] { return view->last(Kind::Moved)->where == CPoint{130, 90}; }));
    EXPECT_EQ(view->last(Kind::Moved)->buttons, kLButton | kShift);
    button(1, false);
    key(XK_Shift_L, false);
    ASSERT_TRUE(pump([&] { return view->count(Kind::Up) == 1; }));
    EXPECT_EQ(view->last(Kind::Up)->buttons, kLButton | kShift);

    key(XK_Control_L, true);
    key(XK_Alt_L, true);
    button(3, true);
    button(2, true);
    ASSERT_TRUE(pump([&] { return view->count(Kind::Down) == 3; }));
    EXPECT_EQ(view->events[view->events.size() - 2].buttons, kRButton | kControl | kAlt);
    EXPECT_EQ(view->last(Kind::Down)->buttons, kRButton | kMButton | kControl | kAlt);
    button(2, false);
    button(3, false);
    key(XK_Alt_L, false);
    key(XK_Control_L, false);
    ASSERT_TRUE(pump([&] { return view->count(Kind::Up) == 3; }));
    EXPECT_EQ(view->last(Kind::Up)->buttons, kRButton | kControl | kAlt);

    button(8, true); // X's first side button
    button(8, false);
    ASSERT_TRUE(pump([&] { return view->count(Kind::Up) == 4; }));
    EXPECT_EQ(view->last(Kind::Down)->buttons, kButton4);

    button(5, true); // one wheel step down: no press or release
    button(5, false);
    ASSERT_TRUE(pump([&] { return view->count(Kind::Wheel) == 1; }));
    EXPECT_EQ(view->last(Kind::Wheel)->where.y, 90 - 1000);
    EXPECT_EQ(view->count(Kind::Down), 4);
}

TEST_F(ToolkitWindow, DragLeavingTheWindowKeepsDeliveringUntilTheRelease) {
    RecordingView* view = openFrame();
    ASSERT_NE(view, nullptr);
    moveTo(200, 300);
    button(1, true);
    ASSERT_TRUE(pump([&] { return view->count(Kind::Down) == 1; }));
    int grab = XGrabPointer(display, root, False, ButtonPressMask, GrabModeAsync, GrabModeAsync, None, None,
                            CurrentTime);
    EXPECT_EQ(grab, AlreadyGrabbed);

    moveTo(700, 800); // beyond the parent window, too
    ASSERT_TRUE(pump([&] { return view->last(Kind::Moved) && view->last(Kind::Moved)->where.x == 700; }));
    EXPECT_EQ(view->last(Kind::Moved)->where, (CPoint{700, 800}));
    EXPECT_EQ(view->last(Kind::Moved)->buttons, kLButton);
    moveTo(-10, 650);
    ASSERT_TRUE(pump([&] { return view->last(Kind::Moved)->where == CPoint{-10, 650}; }));
    button(1, false);
    ASSERT_TRUE(pump([&] { return view->count(Kind::Up) == 1; }));
    EXPECT_EQ(view->last(Kind::Up)->where, (CPoint{-10, 650}));

    // Released: the pointer is free and moves outside reach the frame no more.
    grab = XGrabPointer(display, root, False, ButtonPressMask, GrabModeAsync, GrabModeAsync, None, None,
                        CurrentTime);
    EXPECT_EQ(grab, GrabSuccess);
    XUngrabPointer(display, CurrentTime);
    const size_t events = view->events.size();
    moveTo(700, 810);
    for (int i = 0; i < 20; ++i) frame->idle();
    EXPECT_EQ(view->events.size(), events);
}

TEST_F(ToolkitWindow, SecondQuickPressInPlaceIsADoubleClick) {
    RecordingView* view = openFrame();
    ASSERT_NE(view, nullptr);
    moveTo(50, 60);
    auto click = [&](int expectedDowns) {
        button(1, true);
        button(1, false);
        EXPECT_TRUE(pump([&] { return view->count(Kind::Up) == expectedDowns; }));
        return view->last(Kind::Down)->buttons;
    };
    EXPECT_EQ(click(1), kLButton);
    EXPECT_EQ(click(2), kLButton | kDoubleClick);
    EXPECT_EQ(click(3), kLButton); // a third press starts over
    moveTo(56, 60);
    EXPECT_EQ(click(4), kLButton); // too far from the first
    EXPECT_EQ(click(5), kLButton | kDoubleClick);
    // Clicks stamped with the server times the test chooses: the second press counts within 400 ms only.
    auto clickAt = [&](unsigned long time, int expectedDowns) {
        for (const int type : {ButtonPress, ButtonRelease}) {
            XEvent event{};
            event.xbutton = {type,
                             0,
                             True,
                             display,
                             frame->getWindow(),
                             root,
                             None,
                             time,
                             56,
                             60,
                             kParentX + 56,
                             kParentY + 60,
                             type == ButtonPress ? 0u : unsigned(Button1Mask),
                             Button1,
                             True};
            XSendEvent(display, frame->getWindow(), False, NoEventMask, &event);
        }
        XSync(display, False);
        EXPECT_TRUE(pump([&] { return view->count(Kind::Up) == expectedDowns; }));
        return view->last(Kind::Down)->buttons;
    };
    EXPECT_EQ(clickAt(1000, 6), kLButton);
    EXPECT_EQ(clickAt(1401, 7), kLButton); // too late
    EXPECT_EQ(clickAt(1801, 8), kLButton | kDoubleClick);
}

TEST_F(ToolkitWindow, KeysReachTheViewsThroughTheWindowAndTheEditor) {
    RecordingView* view = openFrame();
    ASSERT_NE(view, nullptr);
    XSetInputFocus(display, frame->getWindow(), RevertToParent, CurrentTime);
    key(XK_Shift_L, true);
    key(XK_a, true);
    key(XK_a, false);
    key(XK_Shift_L, false);
    key(XK_Return, true);
    key(XK_Return, false);
    ASSERT_TRUE(pump([&] { return view->count(Kind::Key) >= 3; }));
    const Event* a = &view->events[view->events.size() - 2];
    EXPECT_EQ(a->key.character, 'A');
    EXPECT_EQ(a->key.virt, 0);
    EXPECT_EQ(a->key.modifier, kModifierShift);
    EXPECT_EQ(view->last(Kind::Key)->key.virt, kVKeyReturn);
    EXPECT_EQ(view->last(Kind::Key)->key.character, 0);
}

TEST_F(ToolkitWindow, FramesComeAndGoWithoutLeakingWindowsOrConnections) {
    const int descriptors = openDescriptors();
    for (int i = 0; i < 10; ++i) {
        RecordingView* view = openFrame();
        ASSERT_NE(view, nullptr);
        ASSERT_TRUE(pump([&] { return view->draws > 0; }));
        EXPECT_EQ(paintedPixelAt(frame->getWindow(), 5, 5, 0x0080FFul), 0x0080FFul);
        const Window window = frame->getWindow();
        frame->forget();
        frame = nullptr;
        Window treeRoot, treeParent, *children = nullptr;
        unsigned count = 0;
        ASSERT_TRUE(XQueryTree(display, parent, &treeRoot, &treeParent, &children, &count));
        XFree(children);
        EXPECT_EQ(count, 0u);
        XErrorHandler previous = XSetErrorHandler(ignoreErrors);
        XWindowAttributes attributes;
        EXPECT_FALSE(XGetWindowAttributes(display, window, &attributes));
        XSetErrorHandler(previous);
    }
    EXPECT_EQ(openDescriptors(), descriptors);
}

TEST_F(ToolkitWindow, HostDestroyingTheParentFirstIsSurvived) {
    RecordingView* view = openFrame();
    ASSERT_NE(view, nullptr);
    XDestroyWindow(display, parent);
    XSync(display, False);
    view->invalid();
    frame->forget(); // destroys a window that is already gone: the error must not end the process
    frame = nullptr;
    parent = makeParent();

    openFrame();
    XDestroyWindow(display, parent);
    XSync(display, False);
    frame->invalid();
    frame->idle(); // learns of the destruction, paints nothing
    frame->forget();
    frame = nullptr;
    parent = makeParent();
    SUCCEED();
}

TEST_F(ToolkitWindow, TopLevelWindowReportsTheCloseButton) {
    CFrame* top = CFrame::createTopLevel({0, 0, 200, 100}, "Vandrel stand-alone");
    ASSERT_NE(top, nullptr);
    top->idle();
    const Window window = top->getWindow();
    char* name = nullptr;
    ASSERT_TRUE(XFetchName(display, window, &name));
    EXPECT_STREQ(name, "Vandrel stand-alone");
    XFree(name);
    Window treeRoot, treeParent, *children = nullptr;
    unsigned count = 0;
    ASSERT_TRUE(XQueryTree(display, window, &treeRoot, &treeParent, &children, &count));
    XFree(children);
    EXPECT_EQ(treeParent, root);

    const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    const Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    Atom* supported = nullptr;
    int supportedCount = 0;
    ASSERT_TRUE(XGetWMProtocols(display, window, &supported, &supportedCount));
    ASSERT_EQ(supportedCount, 1);
    EXPECT_EQ(supported[0], deleteWindow);
    XFree(supported);

    for (int i = 0; i < 5; ++i) top->idle();
    EXPECT_FALSE(top->isCloseRequested());
    XEvent message{};
    message.xclient.type = ClientMessage;
    message.xclient.window = window;
    message.xclient.message_type = protocols;
    message.xclient.format = 32;
    message.xclient.data.l[0] = static_cast<long>(deleteWindow);
    message.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &message);
    XSync(display, False);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!top->isCloseRequested() && std::chrono::steady_clock::now() < deadline) top->idle();
    EXPECT_TRUE(top->isCloseRequested());
    top->forget();
}

namespace {

class TestEditor : public AEffGUIEditor {
public:
    TestEditor() { rect = {0, 0, 620, 450}; }
    bool open(void* parentWindow) override {
        frame = CFrame::createChild({0, 0, 450, 620}, parentWindow, this);
        if (!frame) return false;
        view = new RecordingView({0, 0, 450, 620});
        frame->addView(view);
        return true;
    }
    RecordingView* view = nullptr;
};

} // namespace

TEST_F(ToolkitWindow, EditorBaseOpensIdlesAndClosesItsFrame) {
    TestEditor editor;
    Rect16* rect = nullptr;
    ASSERT_TRUE(editor.getRect(&rect));
    EXPECT_EQ(rect->bottom, 620);
    EXPECT_EQ(rect->right, 450);
    EXPECT_FALSE(editor.getRect(nullptr));

    CKeyCode key{'x', 0, 0};
    EXPECT_FALSE(editor.onKeyDown(key)); // closed: nothing to take it
    editor.idle();

    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(editor.open(reinterpret_cast<void*>(parent)));
        ASSERT_NE(editor.getFrame(), nullptr);
        EXPECT_EQ(editor.getFrame()->getEditor(), &editor);
        EXPECT_EQ(editor.view->getFrame(), editor.getFrame());
        const Window window = editor.getFrame()->getWindow();
        editor.idle();
        EXPECT_EQ(editor.view->draws, 1);
        EXPECT_EQ(paintedPixelAt(window, 100, 100, 0x0080FFul), 0x0080FFul);
        EXPECT_TRUE(editor.onKeyDown(key));
        EXPECT_EQ(editor.view->last(Kind::Key)->key.character, 'x');
        EXPECT_EQ(editor.view->getNbReference(), 1); // owned by the frame alone
        editor.close();
        EXPECT_EQ(editor.getFrame(), nullptr);
        Window treeRoot, treeParent, *children = nullptr;
        unsigned count = 0;
        ASSERT_TRUE(XQueryTree(display, parent, &treeRoot, &treeParent, &children, &count));
        XFree(children);
        EXPECT_EQ(count, 0u);
    }
    EXPECT_TRUE(editor.setKnobMode(2));
    EXPECT_EQ(editor.getKnobMode(), 2);
    editor.open(reinterpret_cast<void*>(parent)); // left open: the destructor releases it
}
