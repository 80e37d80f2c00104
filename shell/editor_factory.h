// The wrapper's editor: the panel editor behind the plug-in interface's editor calls.
#pragma once

#include "editor/vest_editor.h"
#include "shell/audio_effect.h"

#include <cstdint>

class CVeST;

class CVeSTEditorAdapter : public AEffEditor {
public:
    CVeSTEditorAdapter(TEditorHost* host, int32_t width, int32_t height);

    bool getRect(vst2::ERect** rect) override;
    bool open(void* parentWindow) override;
    void close() override;
    void idle() override;
    int32_t onKeyDown(vst2::VstKeyCode& key) override;
    int32_t onKeyUp(vst2::VstKeyCode& key) override;
    bool setKnobMode(int32_t mode) override;

    CVeSTEditor& Editor() { return editor_; }

private:
    TEditorHost* host_; // not owned
    CVeSTEditor editor_;
    vst2::ERect rect_{};
};

// The panel's editor for a wrapper.
AEffEditor* CreateEditor(CVeST* wrapper, int32_t width, int32_t height);
