#include "hosting/editor_window.h"

#include "toolkit/frame.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace hosting {

namespace {

// How often the window is served while the audio waits for its time: a host's editor timer rate.
constexpr double kIdleInterval = 0.005;

class SteadyClock final : public PlaybackClock {
public:
    double seconds() override {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }
    void wait(double duration) override {
        std::this_thread::sleep_for(std::chrono::duration<double>(duration));
    }
};

} // namespace

PlaybackClock& steadyClock() {
    static SteadyClock clock;
    return clock;
}

EditorWindow::EditorWindow(Plugin& plugin, int sampleRate, PlaybackClock& clock)
    : plugin_(plugin), rate_(sampleRate), clock_(clock) {
    const auto rect = plugin.editorRect();
    if (!plugin.hasEditor() || !rect) throw std::runtime_error(plugin.effectName() + " has no editor");
    const VSTGUI::CRect size{0, 0, double(rect->right - rect->left), double(rect->bottom - rect->top)};
    frame_ = VSTGUI::CFrame::createTopLevel(size, plugin.effectName().c_str());
    if (!frame_) throw std::runtime_error("cannot open a window: no X display (is DISPLAY set?)");
    if (!plugin.openEditor(reinterpret_cast<void*>(frame_->getWindow()))) {
        frame_->forget();
        throw std::runtime_error(plugin.effectName() + " could not open its editor");
    }
    start_ = clock_.seconds();
}

EditorWindow::~EditorWindow() {
    plugin_.closeEditor();
    frame_->forget();
}

void EditorWindow::idle() {
    frame_->idle();
    plugin_.editorIdle();
}

bool EditorWindow::playUntil(int64_t frames) {
    const double due = start_ + double(frames) / rate_;
    for (;;) {
        idle();
        if (frame_->isCloseRequested()) return false;
        const double now = clock_.seconds();
        if (now >= due) return true;
        clock_.wait(std::min(due - now, kIdleInterval));
    }
}

} // namespace hosting
