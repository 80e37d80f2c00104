// The plug-in's editor in a top-level window of its own, for people without a host: the render plays at
// the pace of the audio while the panel is open, so its meters move and its controls are heard.
#pragma once

#include "hosting/plugin.h"

#include <cstdint>

namespace VSTGUI {
class CFrame;
}

namespace hosting {

// The time playback keeps pace with: the machine's steady clock, or one a test moves.
class PlaybackClock {
public:
    virtual ~PlaybackClock() = default;
    virtual double seconds() = 0;
    // Returns once `duration` has passed, or sooner.
    virtual void wait(double duration) = 0;
};
PlaybackClock& steadyClock();

class EditorWindow {
public:
    // Opens a window titled with the plug-in's name and the plug-in's editor inside it. Throws
    // std::runtime_error when there is no X display or the plug-in has no editor.
    EditorWindow(Plugin& plugin, int sampleRate, PlaybackClock& clock = steadyClock());
    ~EditorWindow();
    EditorWindow(const EditorWindow&) = delete;
    EditorWindow& operator=(const EditorWindow&) = delete;

    // Keeps the window and the editor going until `frames` of audio have taken their time since the window
    // opened; false as soon as the window's close button has been pressed.
    bool playUntil(int64_t frames);

private:
    void idle();

    Plugin& plugin_;
    double rate_;
    PlaybackClock& clock_;
    VSTGUI::CFrame* frame_ = nullptr;
    double start_ = 0;
};

} // namespace hosting
