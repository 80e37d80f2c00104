#include "hosting/editor_window.h"

#include "toolkit/frame.h"

#include <algorithm>
#include <stdexcept>
#include <thread>

namespace hosting {

namespace {

// How often the window is served while the audio waits for its time: a host's editor timer rate.
constexpr std::chrono::milliseconds kIdleInterval{5};

} // namespace

EditorWindow::EditorWindow(Plugin& plugin, int sampleRate) : plugin_(plugin), rate_(sampleRate) {
    const auto rect = plugin.editorRect();
    if (!plugin.hasEditor() || !rect) throw std::runtime_error(plugin.effectName() + " has no editor");
    const VSTGUI::CRect size{0, 0, double(rect->right - rect->left), double(rect->bottom - rect->top)};
    frame_ = VSTGUI::CFrame::createTopLevel(size, plugin.effectName().c_str());
    if (!frame_) throw std::runtime_error("cannot open a window: no X display (is DISPLAY set?)");
    if (!plugin.openEditor(reinterpret_cast<void*>(frame_->getWindow()))) {
        frame_->forget();
        throw std::runtime_error(plugin.effectName() + " could not open its editor");
    }
    start_ = std::chrono::steady_clock::now();
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
    const auto due = start_ + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                  std::chrono::duration<double>(double(frames) / rate_));
    for (;;) {
        idle();
        if (frame_->isCloseRequested()) return false;
        const auto now = std::chrono::steady_clock::now();
        if (now >= due) return true;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(due - now, kIdleInterval));
    }
}

} // namespace hosting
