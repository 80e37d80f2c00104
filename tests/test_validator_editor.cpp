// The editor habits of real hosts against the built module (run under xvfb-run): idle calls before any
// editor is open, the editor opened twice without a close, and the editor opened before the first resume,
// while the sample rate and block size are still at their first values.
#include "hosting/plugin.h"

#include <gtest/gtest.h>

// After GoogleTest: Xlib's macros clash with its names.
#include <X11/Xlib.h>

#include "testkit/x11_expose.h"

#include <cmath>
#include <memory>
#include <vector>

namespace {

class ValidatorEditor : public ::testing::Test {
protected:
    void SetUp() override {
        for (int attempt = 0; attempt < 3 && !display; ++attempt) display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr) << "no X display: run under xvfb-run -a";
        parent = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 500, 700, 0, 0,
                                     WhitePixel(display, 0));
        XMapWindow(display, parent);
        XSync(display, False);
        // A host that never sets the sample rate or block size before showing the editor.
        plugin = std::make_unique<hosting::Plugin>(VANDREL_PLUGIN_PATH);
        plugin->open();
    }
    void TearDown() override {
        plugin.reset();
        if (!display) return;
        XDestroyWindow(display, parent);
        XCloseDisplay(display);
    }

    void* Parent() const { return reinterpret_cast<void*>(parent); }
    size_t ChildWindows() {
        XSync(display, False);
        Window root, up, *children = nullptr;
        unsigned count = 0;
        XQueryTree(display, parent, &root, &up, &children, &count);
        if (children) XFree(children);
        return count;
    }
    // Idle calls as a host's user-interface timer makes them, each after the X server has shown the editor
    // anew, so that the panel draws a frame whatever its frame timer says.
    void Idle(int calls) {
        for (int i = 0; i < calls; ++i) {
            testkit::ExposeChildren(display, parent);
            plugin->editorIdle();
        }
    }
    void ExpectFiniteParameters() {
        for (int32_t i = 0; i < plugin->numParams(); ++i)
            EXPECT_TRUE(std::isfinite(plugin->parameter(i))) << i;
    }

    Display* display = nullptr;
    Window parent = 0;
    std::unique_ptr<hosting::Plugin> plugin;
};

TEST_F(ValidatorEditor, IdleBeforeTheEditorIsOpened) {
    ASSERT_TRUE(plugin->hasEditor());
    Idle(10);
    const auto rect = plugin->editorRect();
    ASSERT_TRUE(rect.has_value());
    EXPECT_EQ(rect->right - rect->left, 450);
    EXPECT_EQ(rect->bottom - rect->top, 620);
    EXPECT_EQ(ChildWindows(), 0u);
    plugin->closeEditor(); // a close without an open is harmless too
    Idle(4);
}

TEST_F(ValidatorEditor, OpenedTwiceWithoutACloseKeepsOneWindow) {
    plugin->resume();
    EXPECT_TRUE(plugin->openEditor(Parent()));
    Idle(12);
    plugin->openEditor(Parent());
    Idle(12);
    EXPECT_EQ(ChildWindows(), 1u);
    plugin->closeEditor();
    Idle(4);
    EXPECT_EQ(ChildWindows(), 0u);
    EXPECT_TRUE(plugin->openEditor(Parent()));
    Idle(12);
    EXPECT_EQ(ChildWindows(), 1u);
    plugin->closeEditor();
    EXPECT_EQ(ChildWindows(), 0u);
}

TEST_F(ValidatorEditor, OpenedBeforeAnyResumeThenAudioStarts) {
    ASSERT_TRUE(plugin->openEditor(Parent()));
    Idle(30); // frames drawn from a leveler that has never been initialised
    ExpectFiniteParameters();
    plugin->setSampleRate(48000);
    plugin->setBlockSize(512);
    plugin->resume();
    std::vector<std::vector<float>> in(2, std::vector<float>(512)), out(2, std::vector<float>(512));
    for (int block = 0; block < 40; ++block) {
        for (size_t i = 0; i < 512; ++i)
            in[0][i] = in[1][i] = float(0.3 * std::sin(0.05 * double(block * 512 + i)));
        plugin->processFloat(in, out);
        plugin->editorIdle();
        for (const float s : out[0]) ASSERT_TRUE(std::isfinite(s));
    }
    Idle(20);
    ExpectFiniteParameters();
    plugin->closeEditor();
    EXPECT_EQ(ChildWindows(), 0u);
}

} // namespace
