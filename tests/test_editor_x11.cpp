// The plug-in's editor in a real X server (run under xvfb-run), driven like a host drives it: a parent
// window, the editor opcodes through the dispatcher, real pointer events through XTest, the parameters read
// back through the dispatcher, and the window read back from the screen. The instance is made in this process
// so that the frame timer runs on the test's clock: frames come when the test moves time on, never by
// waiting.
#include "hosting/plugin.h"
#include "render/render.h"
#include "runtime/parvex.h"
#include "shell/instance.h"
#include "testkit/in_process.h"
#include "testkit/manual_clock.h"
#include "testkit/panel.h"

#include <gtest/gtest.h>

// After GoogleTest: Xlib's macros (None, Bool...) clash with its names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <sndfile.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <dirent.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <numbers>
#include <optional>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

using VSTGUI::CColor;

namespace {

// Opening a connection now and then fails at once on a busy server; a few tries get one.
Display* OpenDisplay() {
    Display* display = nullptr;
    for (int attempt = 0; attempt < 10 && !display; ++attempt) {
        if (attempt) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        display = XOpenDisplay(nullptr);
    }
    return display;
}

int OpenDescriptors() {
    int n = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir)) ++n;
        closedir(dir);
    }
    return n;
}

class EditorWindow : public ::testing::Test {
protected:
    void SetUp() override {
        display = OpenDisplay();
        ASSERT_NE(display, nullptr) << "no X display: run the editor tests under xvfb-run -a";
        int event, error, major, minor;
        ASSERT_TRUE(XTestQueryExtension(display, &event, &error, &major, &minor)) << "X server lacks XTEST";
        root = DefaultRootWindow(display);
        parent =
            XCreateSimpleWindow(display, root, kParentX, kParentY, 500, 700, 0, 0, WhitePixel(display, 0));
        XMapWindow(display, parent);
        XWarpPointer(display, None, root, 0, 0, 0, 0, 1200, 1000); // away from every window
        XSync(display, False);

        hosting::HostOptions options;
        options.sampleRate = 48000;
        options.echoAutomation = true; // the hardest kind of host for the panel's own steps and ranges
        plugin = testkit::InProcessLeveler(clock, options);
        effect = &testkit::EffectOf(*plugin);
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

    // Host idle calls 5 ms apart on the test's clock, as a host's user-interface timer would make them.
    void Idle(int milliseconds) {
        XSync(display, False);
        for (int at = 0; at < milliseconds; at += 5) {
            clock.Advance(0.005);
            plugin->editorIdle();
        }
    }
    // Idle calls until the editor has seen what the X server sends it; false if it never does.
    bool IdleUntil(const std::function<bool()>& seen) {
        XSync(display, False);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!seen()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            Idle(5);
        }
        return true;
    }

    // Pointer actions in editor coordinates (the editor sits at its parent's origin), each followed by the
    // idle time the panel needs to draw frames that see it.
    void MoveTo(int x, int y) {
        XTestFakeMotionEvent(display, DefaultScreen(display), kParentX + x, kParentY + y, CurrentTime);
        EXPECT_TRUE(IdleUntil([&] { return effect->MouseX == x && effect->MouseY == y; }));
        Idle(100);
    }
    void Button(bool press) {
        XTestFakeButtonEvent(display, 1, press, CurrentTime);
        EXPECT_TRUE(IdleUntil([&] { return (ToIndex(effect->MouseButtons) & 1) == int(press); }));
        Idle(100);
    }
    void Click(int x, int y) {
        MoveTo(x, y);
        Button(true);
        Button(false);
    }

    // The window's pixels, each channel reduced to the precision of the headless picture it is compared
    // with, which `reduce` receives with the same channel widths (8 bits each on 24-bit displays).
    Screenshot Grab(Window window, Screenshot& reduce) {
        XSync(display, False);
        Screenshot shot;
        XImage* image = XGetImage(display, window, 0, 0, 450, 620, AllPlanes, ZPixmap);
        if (!image) return shot;
        shot.width = image->width;
        shot.height = image->height;
        struct Channel {
            int shift, bits;
        };
        auto channel = [](unsigned long mask) {
            return Channel{__builtin_ctzl(mask), __builtin_popcountl(mask)};
        };
        const Channel red = channel(image->red_mask), green = channel(image->green_mask),
                      blue = channel(image->blue_mask);
        auto take = [](unsigned long pixel, Channel c) {
            return static_cast<uint8_t>((pixel >> c.shift) & ((1ul << c.bits) - 1));
        };
        auto narrow = [](uint8_t value, Channel c) { return static_cast<uint8_t>(value >> (8 - c.bits)); };
        for (int y = 0; y < image->height; ++y)
            for (int x = 0; x < image->width; ++x) {
                const unsigned long pixel = XGetPixel(image, x, y);
                shot.pixels.push_back({take(pixel, red), take(pixel, green), take(pixel, blue), 255});
            }
        for (CColor& c : reduce.pixels)
            c = {narrow(c.red, red), narrow(c.green, green), narrow(c.blue, blue), 255};
        XDestroyImage(image);
        return shot;
    }

    static constexpr int kParentX = 30;
    static constexpr int kParentY = 40;
    Display* display = nullptr;
    Window root = 0;
    Window parent = 0;
    testkit::ManualClock clock;
    std::unique_ptr<hosting::Plugin> plugin;
    TParvex* effect = nullptr;
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
    const Screenshot headless = HeadlessPanel();
    // Both paint into an image in memory; the window receives it unchanged, each channel cut to the
    // display's precision.
    auto differing = [&](bool report) {
        Screenshot reduced = headless;
        const Screenshot screen = Grab(Children().at(0), reduced);
        if (screen.width != 450 || screen.height != 620) return -1;
        int count = 0;
        for (int y = 0; y < 620; ++y)
            for (int x = 0; x < 450; ++x) {
                const CColor a = screen.at(x, y), b = reduced.at(x, y);
                if ((a.red != b.red || a.green != b.green || a.blue != b.blue) && ++count <= 5 && report)
                    ADD_FAILURE() << "differs at " << x << "," << y;
            }
        return count;
    };
    if (!IdleUntil([&] { return differing(false) == 0; })) {
        EXPECT_EQ(differing(true), 0);
    }
    plugin->closeEditor();
}

namespace hosting {
void PrintTo(const HostEdit& edit, std::ostream* out) {
    *out << "{opcode " << edit.opcode << ", index " << edit.index << ", value " << edit.value << "}";
}
} // namespace hosting

namespace {

hosting::HostEdit Begin(int32_t index) {
    return {vst2::audioMasterBeginEdit, index, 0};
}
hosting::HostEdit Automate(int32_t index, float value) {
    return {vst2::audioMasterAutomate, index, value};
}
hosting::HostEdit End(int32_t index) {
    return {vst2::audioMasterEndEdit, index, 0};
}

} // namespace

// Each edit reaches the host as a VST 2.4 plug-in reports it (begin, automate with each new value, end), and
// the host, which echoes every value back, sees the panel's value.
TEST_F(EditorWindow, PointerEventsMoveSlidersAndTogglesAndTheHostHearsOfEachEdit) {
    ASSERT_TRUE(plugin->openEditor(ParentHandle()));
    Idle(100);
    EXPECT_EQ(plugin->parameterDisplay(1), "-23.00");
    EXPECT_FLOAT_EQ(plugin->parameter(4), 1.0f) << "Automatic Trim starts on";

    // Target (x 90, y 140, -46..0 LUFS in the panel's steps of 0.5; the host's are 1): a tap three quarters
    // along the track, then a press there, a drag out of the window to the right and back to a quarter,
    // below the slider.
    MoveTo(90 + 16 + 162, 150);
    XTestFakeButtonEvent(display, 1, True, CurrentTime);
    XTestFakeButtonEvent(display, 1, False, CurrentTime);
    EXPECT_TRUE(IdleUntil([&] { return plugin->calls().edits().size() == 3; }));
    Idle(100);
    EXPECT_EQ(plugin->parameterDisplay(1), "-11.50") << "the echo moved nothing";
    EXPECT_EQ(plugin->calls().edits(),
              (std::vector<hosting::HostEdit>{Begin(1), Automate(1, 0.75f), End(1)}));
    plugin->calls().clear();
    Button(true);
    EXPECT_EQ(plugin->parameterDisplay(1), "-11.50");
    MoveTo(600, 150); // outside the editor and its parent: the grab keeps the drag going
    EXPECT_EQ(plugin->parameterDisplay(1), "0.00");
    MoveTo(90 + 16 + 54, 300);
    Button(false);
    MoveTo(90 + 16 + 200, 150); // released: moves do nothing
    EXPECT_EQ(plugin->parameterDisplay(1), "-34.50");
    EXPECT_FLOAT_EQ(plugin->parameter(1), 0.25f);
    EXPECT_EQ(plugin->calls().edits(),
              (std::vector<hosting::HostEdit>{Begin(1), Automate(1, 1.0f), Automate(1, 0.25f), End(1)}));
    plugin->calls().clear();

    Click(62, 346); // Automatic Trim
    EXPECT_FLOAT_EQ(plugin->parameter(4), 0.0f);
    EXPECT_EQ(plugin->calls().edits(), (std::vector<hosting::HostEdit>{Begin(4), Automate(4, 0.0f), End(4)}));
    plugin->calls().clear();

    // Config, then Fast Gain (x 111, y 102, 0..20 dB; parameter 8) pressed at the track's end.
    const float fastGain = plugin->parameter(8);
    Click(328, 346);
    MoveTo(111 + 16 + 216, 112);
    Button(true);
    Button(false);
    EXPECT_FLOAT_EQ(fastGain, 0.0f);
    EXPECT_FLOAT_EQ(plugin->parameter(8), 1.0f);
    EXPECT_EQ(plugin->parameterDisplay(8), "20.00");
    EXPECT_EQ(plugin->calls().edits(), (std::vector<hosting::HostEdit>{Begin(8), Automate(8, 1.0f), End(8)}));
    plugin->calls().clear();

    // Back to the main page: Output Trim (x 90, y 290) reaches 6 dB on the panel, 3 for the host.
    Click(328, 346);
    MoveTo(90 + 16 + 216, 300);
    Button(true);
    EXPECT_EQ(plugin->parameterDisplay(13), "6.00");
    EXPECT_EQ(plugin->calls().edits(), (std::vector<hosting::HostEdit>{Begin(13), Automate(13, 1.0f)}))
        << "never beyond 1";
    // The host closes the editor in the middle of the drag: the edit ends, and a window opened again does
    // not go on dragging.
    plugin->closeEditor();
    EXPECT_EQ(plugin->calls().edits(),
              (std::vector<hosting::HostEdit>{Begin(13), Automate(13, 1.0f), End(13)}));
    Button(false);
    ASSERT_TRUE(plugin->openEditor(ParentHandle()));
    Idle(100);
    MoveTo(90 + 16 + 108, 300);
    EXPECT_EQ(plugin->parameterDisplay(13), "6.00");
    EXPECT_EQ(plugin->calls().edits().size(), 3u);
    plugin->closeEditor();
}

// A tap on a touchpad, or a host's scripted click, delivers press and release together: the panel, which
// looks at the buttons once per frame, must still see each of them.
TEST_F(EditorWindow, ClicksFasterThanAFrameStillCount) {
    ASSERT_TRUE(plugin->openEditor(ParentHandle()));
    Idle(100);
    const auto tap = [&] {
        XTestFakeButtonEvent(display, 1, True, CurrentTime);
        XTestFakeButtonEvent(display, 1, False, CurrentTime);
    };
    // Each switch is one edit the host hears of: begin, automate, end.
    const auto switched = [&](size_t times) {
        EXPECT_TRUE(IdleUntil([&] { return plugin->calls().edits().size() >= 3 * times; })) << times;
        Idle(100);
        return plugin->calls().edits().size() / 3;
    };
    // The pointer arrives over Automatic Trim and taps at once.
    XTestFakeMotionEvent(display, DefaultScreen(display), kParentX + 62, kParentY + 346, CurrentTime);
    tap();
    EXPECT_EQ(switched(1), 1u);
    EXPECT_FLOAT_EQ(plugin->parameter(4), 0.0f) << "one tap";

    tap();
    tap();
    EXPECT_EQ(switched(3), 3u);
    EXPECT_FLOAT_EQ(plugin->parameter(4), 0.0f) << "two taps switch it on and off again";
    tap();
    tap();
    tap();
    EXPECT_EQ(switched(6), 6u);
    EXPECT_FLOAT_EQ(plugin->parameter(4), 1.0f) << "three taps: on, off, on";
    plugin->closeEditor();
}

namespace {

// Counts its paints; the frame rate is whatever the test sets.
class CountingEffect : public TParvex {
public:
    void DoGraphics() override { ++paints; }
    int paints = 0;
};

} // namespace

TEST_F(EditorWindow, TheFrameTimerRepaintsAtTheFrameRateAndNoFaster) {
    auto* counting = new CountingEffect;
    counting->Clock = &clock;
    CVeST* wrapper = WireInstance(counting, testkit::QuietHost);
    vst2::AEffect* record = wrapper->getAeffect();
    auto dispatch = [&](int32_t opcode, void* pointer = nullptr) {
        return record->dispatcher(record, opcode, 0, 0, pointer, 0);
    };
    // Idle calls 10 ms apart for the given time; answers the paints they led to.
    auto paintsOver = [&](int milliseconds) {
        const int before = counting->paints;
        for (int at = 0; at < milliseconds; at += 10) {
            clock.Advance(0.010);
            dispatch(vst2::effEditIdle);
        }
        return counting->paints - before;
    };

    dispatch(vst2::effEditIdle);
    EXPECT_EQ(counting->paints, 0) << "closed: no timer";
    ASSERT_EQ(dispatch(vst2::effEditOpen, ParentHandle()), 1);
    XSync(display, False);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (counting->paints == 0 && std::chrono::steady_clock::now() < deadline) dispatch(vst2::effEditIdle);
    EXPECT_EQ(counting->paints, 1) << "the first exposure paints";
    EXPECT_EQ(paintsOver(300), 0) << "frame rate 0 and no mouse: nothing to repaint";

    // More than 1000 / 30 ms after the last: with idle calls 10 ms apart, every fourth one.
    counting->FrameRate = 30;
    EXPECT_EQ(paintsOver(1000), 25);

    counting->FrameRate = 0;
    wrapper->EditorMouseMoved(10, 10, 0); // any mouse event starts the timer at 30
    EXPECT_EQ(counting->FrameRate, 30);
    EXPECT_EQ(paintsOver(400), 10);
    dispatch(vst2::effEditClose);
    dispatch(vst2::effClose);
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

namespace {

namespace fs = std::filesystem;

constexpr int kRate = 48000;

// Interleaved stereo frames.
using Stereo = std::vector<float>;

void WriteWav(const fs::path& path, const Stereo& samples) {
    SF_INFO info{};
    info.channels = 2;
    info.samplerate = kRate;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    sf_writef_float(file, samples.data(), sf_count_t(samples.size() / 2));
    sf_close(file);
}

// The file's frames, or nothing when it is not a readable audio file.
std::optional<Stereo> ReadWav(const fs::path& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) return std::nullopt;
    Stereo samples(size_t(info.frames) * 2);
    samples.resize(size_t(sf_readf_float(file, samples.data(), info.frames)) * 2);
    sf_close(file);
    return samples;
}

double Rms(const Stereo& samples, double fromSeconds, double toSeconds) {
    const size_t from = size_t(fromSeconds * kRate) * 2, to = size_t(toSeconds * kRate) * 2;
    double sum = 0;
    for (size_t i = from; i < to; ++i) sum += double(samples[i]) * samples[i];
    return std::sqrt(sum / double(to - from));
}

// A clock the render's playback waits on: each wait moves it on by what was asked, and what the test does at
// a moment happens in the wait that reaches it.
class ScriptedClock final : public hosting::PlaybackClock {
public:
    // `step` runs at `when`, in seconds from the first wait; a step that answers false runs again at the
    // next wait.
    void At(double when, std::function<bool()> step) { script.push_back({when, std::move(step)}); }

    double seconds() override { return now; }
    void wait(double duration) override {
        if (!first) first = now;
        now += duration;
        while (!script.empty() && *first + script.front().first <= now) {
            if (!script.front().second()) break;
            script.pop_front();
        }
    }
    double played() const { return first ? now - *first : 0; }

private:
    double now = 1000;
    std::optional<double> first;
    std::deque<std::pair<double, std::function<bool()>>> script;
};

// vandrel2-render with the editor: the renderer's own window holding the plug-in's panel.
class RendererWindow : public ::testing::Test {
protected:
    void SetUp() override {
        display = OpenDisplay();
        ASSERT_NE(display, nullptr) << "no X display: run the editor tests under xvfb-run -a";
        XWarpPointer(display, None, DefaultRootWindow(display), 0, 0, 0, 0, 1200, 1000);
        XSync(display, False);
        folder = fs::temp_directory_path() / ("vandrel-render-editor-" + std::to_string(getpid()));
        fs::create_directories(folder);
        // A steady tone near the target loudness, so the leveler itself hardly moves.
        Stereo tone(size_t(kSeconds * kRate) * 2);
        for (size_t i = 0; i < tone.size() / 2; ++i)
            tone[2 * i] = tone[2 * i + 1] =
                float(0.08 * std::sin(2 * std::numbers::pi * 440 * double(i) / kRate));
        WriteWav(input(), tone);
    }
    void TearDown() override {
        if (renderer > 0) {
            kill(renderer, SIGKILL);
            waitpid(renderer, nullptr, 0);
        }
        fs::remove_all(folder);
        if (display) XCloseDisplay(display);
    }

    fs::path input() const { return folder / "in.wav"; }
    fs::path output() const { return folder / "out.wav"; }

    render::RenderOptions Options(bool editor) {
        render::RenderOptions options;
        options.input = input();
        options.output = output();
        options.setup.plugin = VANDREL_PLUGIN_PATH;
        options.editor = editor;
        return options;
    }

    void Start(const std::vector<std::string>& extra) {
        std::vector<std::string> args = {VANDREL_RENDER_PATH, input(),    output(),
                                         "--quiet",           "--plugin", VANDREL_PLUGIN_PATH};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (auto& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        ASSERT_EQ(posix_spawn(&renderer, argv[0], nullptr, nullptr, argv.data(), environ), 0);
    }
    // Exit status of the renderer, once the X server has also taken its window away: the server does that
    // when it notices the connection closed, which may come after the exit, and a window left over would be
    // taken for the next renderer's.
    int Finish() {
        int status = -1;
        waitpid(renderer, &status, 0);
        renderer = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (Find() != 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_EQ(Find(), 0u) << "the renderer's window outlived it";
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // The renderer's top-level window, named after the plug-in; 0 while there is none.
    Window Find() {
        Window treeRoot, treeParent, *children = nullptr;
        unsigned count = 0;
        Window found = 0;
        if (XQueryTree(display, DefaultRootWindow(display), &treeRoot, &treeParent, &children, &count))
            for (unsigned i = 0; i < count && !found; ++i) {
                char* name = nullptr;
                if (XFetchName(display, children[i], &name) && name) {
                    if (std::string(name) == "Vandrel 2") found = children[i];
                    XFree(name);
                }
            }
        if (children) XFree(children);
        return found;
    }
    // Waits for another process's window to appear with the plug-in's editor inside it.
    Window AwaitWindow() {
        const auto hasEditor = [&](Window window) {
            Window root, up, *children = nullptr;
            unsigned count = 0;
            XQueryTree(display, window, &root, &up, &children, &count);
            if (children) XFree(children);
            return count > 0;
        };
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        Window found = 0;
        while (!((found = Find()) && hasEditor(found)) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return found;
    }
    void Pointer(Window window, int x, int y) {
        int rootX = 0, rootY = 0;
        Window child;
        XTranslateCoordinates(display, window, DefaultRootWindow(display), x, y, &rootX, &rootY, &child);
        XTestFakeMotionEvent(display, DefaultScreen(display), rootX, rootY, CurrentTime);
        XSync(display, False);
    }
    void Button(bool press) {
        XTestFakeButtonEvent(display, 1, press, CurrentTime);
        XSync(display, False);
    }
    // What a window manager's close button sends.
    void AskToClose(Window window) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
        XSendEvent(display, window, False, NoEventMask, &event);
        XSync(display, False);
    }

    static constexpr double kSeconds = 4;
    Display* display = nullptr;
    fs::path folder;
    pid_t renderer = 0;
};

} // namespace

TEST_F(RendererWindow, PlaysAtThePaceOfTheAudioWithThePanelAndKeepsWhatWasRenderedWhenClosed) {
    const std::atomic<bool> stop{false};
    render::renderFile(Options(false), stop);
    const auto offline = ReadWav(output());
    ASSERT_TRUE(offline);
    ASSERT_EQ(offline->size(), size_t(kSeconds * kRate) * 2);
    fs::remove(output());

    // Output Trim (x 90, y 290, -6..6 dB) pressed at the end of its track at 1 s: +6 dB from then on; the
    // window closed at 2.5 s.
    ScriptedClock clock;
    Window window = 0;
    clock.At(0.0, [&] { return (window = Find()) != 0; });
    clock.At(0.9, [&] { return Pointer(window, 90 + 16 + 216, 300), true; });
    clock.At(1.0, [&] { return Button(true), true; });
    clock.At(1.1, [&] { return Button(false), true; });
    clock.At(2.5, [&] { return AskToClose(window), true; });
    auto options = Options(true);
    options.playbackClock = &clock;
    const auto result = render::renderFile(options, stop);
    ASSERT_NE(window, 0u) << "no window named Vandrel 2";

    const auto played = ReadWav(output());
    ASSERT_TRUE(played) << "what was rendered is a complete audio file";
    const double playedSeconds = double(played->size() / 2) / kRate;
    // Each block waited for its time: the clock ran as long as the plug-in played, which is the output and
    // the latency the render makes up for (the plug-in's and the ceiling's), within a block.
    ASSERT_TRUE(result.ceiling);
    const double latency = double(result.latency + result.ceiling->latency) / kRate;
    EXPECT_NEAR(clock.played(), playedSeconds + latency, 0.02);
    EXPECT_NEAR(playedSeconds + latency, 2.5, 0.02) << "stopped when the window closed";
    // Before the press the output is the offline render's; after it, 6 dB louder.
    EXPECT_NEAR(Rms(*played, 0.3, 0.8) / Rms(*offline, 0.3, 0.8), 1.0, 0.01);
    EXPECT_NEAR(Rms(*played, 1.3, 2.0) / Rms(*offline, 1.3, 2.0), std::pow(10, 6 / 20.0), 0.05);
}

// The program itself, with windows that other clients close: what was rendered is kept whole.
TEST_F(RendererWindow, ClosingOrDestroyingTheWindowEndsTheRenderWithACompleteFile) {
    for (const bool destroy : {false, true}) {
        SCOPED_TRACE(destroy ? "destroyed" : "closed");
        Start({"--editor"});
        const Window window = AwaitWindow();
        ASSERT_NE(window, 0u) << "no window named Vandrel 2";
        if (destroy) {
            XDestroyWindow(display, window);
            XSync(display, False);
        } else {
            AskToClose(window);
        }
        EXPECT_EQ(Finish(), 0);
        const auto played = ReadWav(output());
        ASSERT_TRUE(played);
        EXPECT_LT(played->size(), size_t(kSeconds * kRate) * 2);
        fs::remove(output());
    }
}
