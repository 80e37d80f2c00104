// The built plug-in's editor in a real X server (run under xvfb-run), driven like a host drives it: a
// parent window, the editor opcodes through the dispatcher, real pointer events through XTest, the
// parameters read back through the dispatcher, and the window read back from the screen.
#include "host/plugin.h"
#include "leveler/leveler.h"
#include "shell/callbacks.h"
#include "shell/vest.h"
#include "toolkit/drawcontext.h"

#include <gtest/gtest.h>

// After GoogleTest: Xlib's macros (None, Bool...) clash with its names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <memory>
#include <thread>
#include <vector>

using VSTGUI::CColor;

namespace {

int OpenDescriptors() {
    int n = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir)) ++n;
        closedir(dir);
    }
    return n;
}

intptr_t QuietHost(vst2::AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
    return opcode == vst2::audioMasterVersion ? 2400 : 0;
}

struct Screenshot {
    int width = 0, height = 0;
    std::vector<CColor> pixels;
    const CColor& at(int x, int y) const { return pixels[static_cast<size_t>(y * width + x)]; }
};

// The panel in its first frames after open and resume, painted by an instance of our own.
Screenshot HeadlessPanel() {
    auto* effect = new TParvexEffect;
    CVeST* wrapper = CVeST::Create(effect, MakeVeSTCallbacks(), QuietHost, 1,
                                   static_cast<int32_t>(effect->Sliders.size()));
    effect->Host = wrapper;
    vst2::AEffect* record = wrapper->getAeffect();
    record->dispatcher(record, vst2::effOpen, 0, 0, nullptr, 0);
    record->dispatcher(record, vst2::effSetSampleRate, 0, 0, nullptr, 48000);
    record->dispatcher(record, vst2::effMainsChanged, 0, 1, nullptr, 0);
    VSTGUI::COffscreenContext image(450, 620);
    wrapper->DrawWith(&image, 450, 620);
    record->dispatcher(record, vst2::effClose, 0, 0, nullptr, 0);
    Screenshot shot{450, 620, {}};
    for (int y = 0; y < 620; ++y)
        for (int x = 0; x < 450; ++x) shot.pixels.push_back(image.getPixel(x, y));
    return shot;
}

class EditorWindow : public ::testing::Test {
protected:
    void SetUp() override {
        for (int attempt = 0; attempt < 3 && !display; ++attempt) display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr) << "no X display: run the editor tests under xvfb-run -a";
        int event, error, major, minor;
        ASSERT_TRUE(XTestQueryExtension(display, &event, &error, &major, &minor)) << "X server lacks XTEST";
        root = DefaultRootWindow(display);
        parent =
            XCreateSimpleWindow(display, root, kParentX, kParentY, 500, 700, 0, 0, WhitePixel(display, 0));
        XMapWindow(display, parent);
        XWarpPointer(display, None, root, 0, 0, 0, 0, 1200, 1000); // away from every window
        XSync(display, False);

        host::HostOptions options;
        options.sampleRate = 48000;
        plugin = std::make_unique<host::Plugin>(VANDREL_PLUGIN_PATH, options);
        plugin->open();
        plugin->resume();
    }
    void TearDown() override {
        plugin.reset();
        if (!display) return;
        XDestroyWindow(display, parent);
        XCloseDisplay(display);
    }

    void* ParentHandle() const { return reinterpret_cast<void*>(parent); }

    std::vector<Window> Children() {
        XSync(display, False);
        Window treeRoot, treeParent, *children = nullptr;
        unsigned count = 0;
        std::vector<Window> windows;
        if (XQueryTree(display, parent, &treeRoot, &treeParent, &children, &count))
            windows.assign(children, children + count);
        if (children) XFree(children);
        return windows;
    }

    // Host idle calls every 5 ms, as a host's user-interface timer would make them.
    void Idle(int milliseconds) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        while (std::chrono::steady_clock::now() < end) {
            plugin->editorIdle();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    // Pointer actions in editor coordinates (the editor sits at its parent's origin), each followed by
    // enough idle time for the panel to draw a frame that sees it.
    void MoveTo(int x, int y) {
        XTestFakeMotionEvent(display, DefaultScreen(display), kParentX + x, kParentY + y, CurrentTime);
        XSync(display, False);
        Idle(100);
    }
    void Button(bool press) {
        XTestFakeButtonEvent(display, 1, press, CurrentTime);
        XSync(display, False);
        Idle(100);
    }
    void Click(int x, int y) {
        MoveTo(x, y);
        Button(true);
        Button(false);
    }

    Screenshot Grab(Window window) {
        XSync(display, False);
        Screenshot shot;
        XImage* image = XGetImage(display, window, 0, 0, 450, 620, AllPlanes, ZPixmap);
        if (!image) return shot;
        shot.width = image->width;
        shot.height = image->height;
        for (int y = 0; y < image->height; ++y)
            for (int x = 0; x < image->width; ++x) {
                const unsigned long pixel = XGetPixel(image, x, y);
                shot.pixels.push_back({static_cast<uint8_t>((pixel & image->red_mask) >> 16),
                                       static_cast<uint8_t>((pixel & image->green_mask) >> 8),
                                       static_cast<uint8_t>(pixel & image->blue_mask), 255});
            }
        XDestroyImage(image);
        return shot;
    }

    static constexpr int kParentX = 30;
    static constexpr int kParentY = 40;
    Display* display = nullptr;
    Window root = 0;
    Window parent = 0;
    std::unique_ptr<host::Plugin> plugin;
};

} // namespace

TEST_F(EditorWindow, OpensAsAChildOfTheHostWindowWithThePanelsSize) {
    ASSERT_TRUE(plugin->hasEditor());
    const auto rect = plugin->editorRect();
    ASSERT_TRUE(rect.has_value());
    EXPECT_EQ(rect->top, 0);
    EXPECT_EQ(rect->left, 0);
    EXPECT_EQ(rect->bottom, 620);
    EXPECT_EQ(rect->right, 450);

    plugin->editorIdle(); // before any open: nothing happens
    EXPECT_TRUE(Children().empty());
    vst2::VstKeyCode key{'a', 0, 0};
    EXPECT_EQ(plugin->dispatcher(vst2::effEditKeyDown, key.character, key.virt, nullptr, key.modifier), 0)
        << "closed: nobody takes the key";

    ASSERT_TRUE(plugin->openEditor(ParentHandle()));
    const std::vector<Window> children = Children();
    ASSERT_EQ(children.size(), 1u);
    XWindowAttributes attributes;
    ASSERT_TRUE(XGetWindowAttributes(display, children[0], &attributes));
    EXPECT_EQ(attributes.x, 0);
    EXPECT_EQ(attributes.y, 0);
    EXPECT_EQ(attributes.width, 450);
    EXPECT_EQ(attributes.height, 620);
    EXPECT_EQ(attributes.map_state, IsViewable);
    EXPECT_EQ(plugin->dispatcher(vst2::effEditKeyDown, 'a', 0, nullptr, 0), 1) << "keys are swallowed";
    EXPECT_EQ(plugin->dispatcher(vst2::effEditKeyUp, 'a', 0, nullptr, 0), 1);
    const float before = plugin->parameter(1);
    Idle(100);
    EXPECT_EQ(plugin->parameter(1), before);
    plugin->closeEditor();
    EXPECT_TRUE(Children().empty());
}

TEST_F(EditorWindow, TheWindowShowsWhatTheHeadlessPanelDraws) {
    ASSERT_TRUE(plugin->openEditor(ParentHandle()));
    Idle(150);
    const Screenshot screen = Grab(Children().at(0));
    ASSERT_EQ(screen.width, 450);
    ASSERT_EQ(screen.height, 620);
    const Screenshot headless = HeadlessPanel();

    // The two agree pixel for pixel except, at most, in the last column of a text: each line of text is
    // clipped to its layout box, whose right edge (pen + advance width) falls inside a pixel, and the X
    // server's compositing rounds the coverage of that partial pixel differently from the image backend
    // when the last glyph's ink reaches it. Those texts are the slider values (from x 340) and the build
    // label (from x 380, y 595).
    int differing = 0;
    for (int y = 0; y < 620; ++y)
        for (int x = 0; x < 450; ++x) {
            const CColor a = screen.at(x, y), b = headless.at(x, y);
            const int d =
                std::max({std::abs(a.red - b.red), std::abs(a.green - b.green), std::abs(a.blue - b.blue)});
            if (d == 0) continue;
            ++differing;
            const bool sliderValue = x >= 340 && y >= 90 && y < 320;
            const bool buildLabel = x >= 380 && y >= 595;
            EXPECT_TRUE(sliderValue || buildLabel) << "differs at " << x << "," << y;
            EXPECT_LT(d, 64) << x << "," << y;
        }
    EXPECT_LE(differing, 12);
    plugin->closeEditor();
}

TEST_F(EditorWindow, PointerEventsMoveSlidersAndTogglesSeenThroughTheDispatcher) {
    ASSERT_TRUE(plugin->openEditor(ParentHandle()));
    Idle(100);
    EXPECT_EQ(plugin->parameterDisplay(1), "-23.00");
    EXPECT_FLOAT_EQ(plugin->parameter(4), 1.0f) << "Automatic Trim starts on";

    // Target (x 90, y 140, -46..0 LUFS): press three quarters along the track, drag out of the window to
    // the right, then back to a quarter, below the slider.
    MoveTo(90 + 16 + 162, 150);
    Button(true);
    EXPECT_EQ(plugin->parameterDisplay(1), "-11.50");
    MoveTo(600, 150); // outside the editor and its parent: the grab keeps the drag going
    EXPECT_EQ(plugin->parameterDisplay(1), "0.00");
    MoveTo(90 + 16 + 54, 300);
    Button(false);
    MoveTo(90 + 16 + 200, 150); // released: moves do nothing
    EXPECT_EQ(plugin->parameterDisplay(1), "-34.50");
    EXPECT_FLOAT_EQ(plugin->parameter(1), 0.25f);

    Click(62, 346); // Automatic Trim
    EXPECT_FLOAT_EQ(plugin->parameter(4), 0.0f);

    // Config, then Fast Gain (x 111, y 102, 0..20 dB; parameter 8) pressed at the track's end.
    const float fastGain = plugin->parameter(8);
    Click(328, 346);
    MoveTo(111 + 16 + 216, 112);
    Button(true);
    Button(false);
    EXPECT_FLOAT_EQ(fastGain, 0.0f);
    EXPECT_FLOAT_EQ(plugin->parameter(8), 1.0f);
    EXPECT_EQ(plugin->parameterDisplay(8), "20.00");
    plugin->closeEditor();
}

TEST_F(EditorWindow, ClosingAndReopeningTenTimesLeavesNothingBehind) {
    ASSERT_TRUE(plugin->openEditor(ParentHandle()));
    Idle(20);
    plugin->closeEditor();
    const int descriptors = OpenDescriptors();
    for (int round = 0; round < 10; ++round) {
        ASSERT_TRUE(plugin->openEditor(ParentHandle())) << round;
        Idle(40);
        ASSERT_EQ(Children().size(), 1u) << round;
        plugin->closeEditor();
        ASSERT_TRUE(Children().empty()) << round;
        plugin->editorIdle(); // idle while closed does nothing
    }
    EXPECT_EQ(OpenDescriptors(), descriptors) << "every display connection was closed";

    // A host that opens twice without closing gets one window.
    ASSERT_TRUE(plugin->openEditor(ParentHandle()));
    ASSERT_TRUE(plugin->openEditor(ParentHandle()));
    Idle(20);
    EXPECT_EQ(Children().size(), 1u);
    plugin->closeEditor();
    EXPECT_TRUE(Children().empty());
    EXPECT_EQ(OpenDescriptors(), descriptors);
}

TEST_F(EditorWindow, ClosingThePluginWithTheEditorOpenIsSafe) {
    ASSERT_TRUE(plugin->openEditor(ParentHandle()));
    Idle(60);
    MoveTo(200, 200);
    Button(true); // even in the middle of a drag, with the pointer grabbed
    plugin->close();
    EXPECT_TRUE(Children().empty());
    XTestFakeButtonEvent(display, 1, False, CurrentTime);
    XSync(display, False);
}
