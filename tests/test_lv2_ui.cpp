// The LV2 UI in a real X server (run under xvfb-run), loaded from the bundle and driven as an LV2 host drives
// it: a parent window, idle calls, port events from a separate instance of the plug-in, and the edits it
// writes back through the host. Beside it, the VST's editor over the VST, fed the same programme.
#include "leveler/readings.h"
#include "testkit/lv2_pair.h"

#include <gtest/gtest.h>

// After GoogleTest: Xlib's macros clash with its names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include "testkit/x11_expose.h"

#include <lv2/atom/atom.h>
#include <lv2/options/options.h>
#include <lv2/parameters/parameters.h>
#include <lv2/ui/ui.h>

#include <cairo.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <dlfcn.h>
#include <functional>

using namespace lv2_test;

namespace {

struct Write {
    uint32_t port;
    float value;
};
struct Touch {
    uint32_t port;
    bool grabbed;
    bool operator==(const Touch&) const = default;
};

// The UI binary of the bundle and its descriptor.
struct UiModule {
    void* handle = dlopen((kBundle / lv2port::kUiBinary).c_str(), RTLD_NOW | RTLD_LOCAL);
    const LV2UI_Descriptor* descriptor = nullptr;

    UiModule() {
        if (!handle) return;
        auto* entry =
            reinterpret_cast<const LV2UI_Descriptor* (*)(uint32_t)>(dlsym(handle, "lv2ui_descriptor"));
        if (entry) descriptor = entry(0);
    }
    ~UiModule() {
        if (handle) dlclose(handle);
    }
    template <typename Interface> const Interface* Extension(const char* uri) const {
        return static_cast<const Interface*>(descriptor->extension_data(uri));
    }
};

class Lv2UiWindow : public ::testing::Test {
protected:
    void SetUp() override {
        display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr) << "no X display: run under xvfb-run -a";
        const Window root = DefaultRootWindow(display);
        for (int i = 0; i < 2; ++i) {
            parents[i] = XCreateSimpleWindow(display, root, kParentX[i], kParentY, 450, 620, 0, 0, 0);
            XMapWindow(display, parents[i]);
        }
        XWarpPointer(display, 0, root, 0, 0, 0, 0, 1250, 1000);
        XSync(display, False);

        pair = std::make_unique<Pair>(48000, 512);
        pair->Start();
        ASSERT_TRUE(pair->vst->openEditor(reinterpret_cast<void*>(parents[1])));

        module = std::make_unique<UiModule>();
        ASSERT_NE(module->descriptor, nullptr) << dlerror();
        descriptor = module->descriptor;
        EXPECT_STREQ(descriptor->URI, lv2port::kUiUri);
        idle = module->Extension<LV2UI_Idle_Interface>(LV2_UI__idleInterface);
        ASSERT_NE(idle, nullptr);

        hosting::UridMap& urids = pair->lv2->urids();
        const float rate = 48000;
        const LV2_Options_Option options[] = {{LV2_OPTIONS_INSTANCE, 0, urids.Map(LV2_PARAMETERS__sampleRate),
                                               sizeof rate, urids.Map(LV2_ATOM__Float), &rate},
                                              {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr}};
        // Feature data lives as long as the UI.
        resize = {this, [](LV2UI_Feature_Handle self, int width, int height) {
                      static_cast<Lv2UiWindow*>(self)->requestedSize = {width, height};
                      return 0;
                  }};
        touch = {this, [](LV2UI_Feature_Handle self, uint32_t port, bool grabbed) {
                     static_cast<Lv2UiWindow*>(self)->touches.push_back({port, grabbed});
                 }};
        const LV2_Feature parent{LV2_UI__parent, reinterpret_cast<void*>(parents[0])};
        const LV2_Feature idleFeature{LV2_UI__idleInterface, nullptr};
        const LV2_Feature resizeFeature{LV2_UI__resize, &resize};
        const LV2_Feature touchFeature{LV2_UI__touch, &touch};
        const LV2_Feature mapFeature{LV2_URID__map, urids.map()};
        const LV2_Feature optionsFeature{LV2_OPTIONS__options, const_cast<LV2_Options_Option*>(options)};
        const LV2_Feature* features[] = {&parent,     &idleFeature,    &resizeFeature, &touchFeature,
                                         &mapFeature, &optionsFeature, nullptr};
        LV2UI_Widget widget = nullptr;
        ui = descriptor->instantiate(
            descriptor, lv2port::kPluginUri, kBundle.c_str(),
            [](LV2UI_Controller self, uint32_t port, uint32_t size, uint32_t protocol, const void* buffer) {
                if (size == sizeof(float) && protocol == 0)
                    static_cast<Lv2UiWindow*>(self)->writes.push_back(
                        {port, *static_cast<const float*>(buffer)});
            },
            this, &widget, features);
        ASSERT_NE(ui, nullptr);
        EXPECT_NE(widget, nullptr) << "an X11 UI hands over its window";
        EXPECT_EQ(requestedSize, std::make_pair(450, 620));
    }

    void TearDown() override {
        if (ui) descriptor->cleanup(ui);
        if (pair) pair->vst->closeEditor();
        pair.reset();
        module.reset();
        if (!display) return;
        for (Window window : parents) XDestroyWindow(display, window);
        XCloseDisplay(display);
    }

    // What a host does between runs: every control port's value to the UI.
    void SendPortEvents() {
        for (const hosting::Lv2Port& port : pair->lv2->ports())
            if (port.control) {
                const float value = pair->lv2->control(port.index);
                descriptor->port_event(ui, port.index, sizeof value, 0, &value);
            }
    }

    // One idle call of each editor after the X server has shown both panels' windows anew, as a window
    // manager does when it uncovers them: each paints a frame then, whatever its frame timer says.
    void Frame() {
        for (Window parent : parents) testkit::ExposeChildren(display, parent);
        EXPECT_EQ(idle->idle(ui), 0);
        pair->vst->editorIdle();
    }
    // Frames until the condition holds; false if it never does.
    bool FramesUntil(const std::function<bool()>& condition) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        do {
            Frame();
            if (condition()) return true;
        } while (std::chrono::steady_clock::now() < deadline);
        return false;
    }
    // Both panels the same, pixel for pixel; the first differences are reported when they never become so.
    void ExpectSamePanels() {
        if (!FramesUntil([&] { return DifferingPixels(false) == 0; })) {
            EXPECT_EQ(DifferingPixels(true), 0);
        }
    }

    // Pixels that differ between the two parents' contents.
    int DifferingPixels(bool report) {
        XSync(display, False);
        XImage* images[2];
        for (int i = 0; i < 2; ++i)
            images[i] = XGetImage(display, parents[i], 0, 0, 450, 620, AllPlanes, ZPixmap);
        int differing = 0;
        for (int y = 0; y < 620; ++y)
            for (int x = 0; x < 450; ++x)
                if (XGetPixel(images[0], x, y) != XGetPixel(images[1], x, y) && ++differing <= 5 && report)
                    ADD_FAILURE() << "differs at " << x << "," << y;
        for (XImage* image : images) XDestroyImage(image);
        return differing;
    }

    // VANDREL_LV2_SCREENSHOT=FILE.png keeps a picture of the host's window with the UI in it (for the
    // README).
    void KeepScreenshot() {
        const char* path = std::getenv("VANDREL_LV2_SCREENSHOT");
        if (!path || !*path) return;
        XImage* image = XGetImage(display, parents[0], 0, 0, 450, 620, AllPlanes, ZPixmap);
        cairo_surface_t* picture = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 450, 620);
        auto* rows = cairo_image_surface_get_data(picture);
        const int stride = cairo_image_surface_get_stride(picture);
        for (int y = 0; y < 620; ++y)
            for (int x = 0; x < 450; ++x)
                reinterpret_cast<uint32_t*>(rows + y * stride)[x] =
                    static_cast<uint32_t>(XGetPixel(image, x, y) & 0xFFFFFFu);
        cairo_surface_mark_dirty(picture);
        cairo_surface_write_to_png(picture, path);
        cairo_surface_destroy(picture);
        XDestroyImage(image);
    }

    // Pointer actions on the LV2 panel, each followed by frames until the panel has done what it does then.
    void Pointer(int x, int y, const std::function<bool()>& done) {
        XTestFakeMotionEvent(display, DefaultScreen(display), kParentX[0] + x, kParentY + y, CurrentTime);
        EXPECT_TRUE(FramesUntil(done)) << "moved to " << x << "," << y;
    }
    void Button(bool press, const std::function<bool()>& done) {
        XTestFakeButtonEvent(display, 1, press, CurrentTime);
        EXPECT_TRUE(FramesUntil(done)) << (press ? "pressed" : "released");
    }

    static constexpr int kParentX[2] = {10, 520};
    static constexpr int kParentY = 20;
    Display* display = nullptr;
    Window parents[2] = {};
    std::unique_ptr<Pair> pair;
    std::unique_ptr<UiModule> module;
    const LV2UI_Descriptor* descriptor = nullptr;
    const LV2UI_Idle_Interface* idle = nullptr;
    LV2UI_Handle ui = nullptr;
    LV2UI_Resize resize{};
    LV2UI_Touch touch{};
    std::pair<int, int> requestedSize;
    std::vector<Write> writes;
    std::vector<Touch> touches;
};

} // namespace

// The panel in the LV2 host's window draws what the VST's editor draws over the same programme, the
// automatic trim's drift included; a drag on it writes the control through the host, which the plug-in then
// applies in its own steps, and the panel then shows what the plug-in holds, as the VST's panel does for a
// host's setting.
TEST_F(Lv2UiWindow, DrawsWhatTheVstPanelDrawsAndADragWritesTheControl) {
    const StereoFloats programme = Floats(leveler_test::MusicLike(48000, 5, 9), 0.3);
    const auto [vst, lv2] = pair->Run(programme, {512});
    ASSERT_EQ(FirstDifference(vst, lv2), -1);
    ASSERT_NE(pair->lv2->control("current_input_trim"), 0.0f) << "the automatic trim should have moved";
    SendPortEvents();
    ExpectSamePanels();
    EXPECT_TRUE(writes.empty()) << "drawing writes nothing";
    KeepScreenshot();

    // Target: x 90 to 340 at y 140, -46..0 LUFS; a press a third along the track and a drag to the left.
    const uint32_t target = lv2port::kFirstControl + 1;
    Pointer(90 + 16 + 70, 150, [] { return true; });
    Button(true, [&] { return !touches.empty() && !writes.empty(); });
    const float pressed = writes.back().value;
    Pointer(90 + 16 + 40, 150, [&] { return writes.back().value < pressed; });
    Button(false, [&] { return touches.size() == 2; });
    EXPECT_EQ(touches, (std::vector<Touch>{{target, true}, {target, false}}));
    ASSERT_FALSE(writes.empty());
    for (const Write& write : writes) EXPECT_EQ(write.port, target);
    const float written = writes.back().value;
    EXPECT_LT(written, -30.0f);
    EXPECT_GT(written, -40.0f);

    // The host puts the value into the control port; the plug-in takes it in whole LUFS, as the VST takes
    // its host's normalised value.
    pair->lv2->control("target_lufs") = written;
    const double applied = std::floor(written + 0.5);
    pair->vst->setParameter(1, static_cast<float>((applied + 46) / 46));
    const StereoFloats more = Floats(leveler_test::MusicLike(48000, 0.5, 10), 0.3);
    const auto [vstMore, lv2More] = pair->Run(more, {512});
    EXPECT_EQ(FirstDifference(vstMore, lv2More), -1);
    EXPECT_NEAR(pair->lv2->control("output_loudness") - pair->lv2->control("loudness_to_target"), applied,
                1e-4);
    SendPortEvents();
    ExpectSamePanels();
}

// A host that gives no parent window shows the panel through the show interface: a window of its own, which
// hide takes away again.
TEST(Lv2UiShow, WithoutAParentShowOpensAWindowOfItsOwnAndHideClosesIt) {
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr) << "no X display: run under xvfb-run -a";
    // Top-level windows of the panel's size that are mapped.
    auto panels = [&] {
        XSync(display, False);
        Window root, parent, *children = nullptr;
        unsigned count = 0, panels = 0;
        XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count);
        for (unsigned i = 0; i < count; ++i) {
            XWindowAttributes a;
            if (XGetWindowAttributes(display, children[i], &a) && a.width == 450 && a.height == 620 &&
                a.map_state == IsViewable)
                ++panels;
        }
        if (children) XFree(children);
        return panels;
    };
    UiModule module;
    ASSERT_NE(module.descriptor, nullptr);
    const auto* show = module.Extension<LV2UI_Show_Interface>(LV2_UI__showInterface);
    const auto* idle = module.Extension<LV2UI_Idle_Interface>(LV2_UI__idleInterface);
    ASSERT_TRUE(show && idle);
    const LV2_Feature idleFeature{LV2_UI__idleInterface, nullptr};
    const LV2_Feature* features[] = {&idleFeature, nullptr};
    LV2UI_Widget widget = &widget;
    LV2UI_Handle ui = module.descriptor->instantiate(
        module.descriptor, lv2port::kPluginUri, kBundle.c_str(),
        [](LV2UI_Controller, uint32_t, uint32_t, uint32_t, const void*) {}, nullptr, &widget, features);
    ASSERT_NE(ui, nullptr);
    EXPECT_EQ(widget, nullptr) << "nothing to embed without a parent";
    const unsigned before = panels();
    EXPECT_EQ(show->show(ui), 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    do EXPECT_EQ(idle->idle(ui), 0);
    while (panels() != before + 1 && std::chrono::steady_clock::now() < deadline);
    EXPECT_EQ(panels(), before + 1);
    EXPECT_EQ(show->hide(ui), 0);
    EXPECT_EQ(panels(), before);
    module.descriptor->cleanup(ui);
    XCloseDisplay(display);
}
