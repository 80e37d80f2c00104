// CVeST: the object behind the effect record the host receives. Every request that must reach the effect
// goes through one entry of its copy of the callback table.
#pragma once

#include "editor/surface.h"
#include "editor/vest_editor.h"
#include "runtime/host_link.h"
#include "shell/audio_effect.h"
#include "shell/callbacks.h"

class CVeSTEditor;
class TParvex;

class CVeST : public AudioEffectX, public THostLink, public TEditorHost {
public:
    // Asks the host for its version first: a host that answers 0 gets no wrapper (null).
    static CVeST* Create(TParvex* effect, const VeSTCallbacks& callbacks, vst2::HostCallback audioMaster,
                         int32_t numPrograms, int32_t numParams);
    ~CVeST() override;

    TParvex* Effect() const { return effect_; }
    const VeSTCallbacks& Callbacks() const { return callbacks_; }
    void AttachEditor(AEffEditor* newEditor) { setEditor(newEditor); }
    TDrawingSurface& Surface() { return surface_; }
    // Runs the effect's drawing section with `context` as the current draw context for its duration.
    void DrawWith(VSTGUI::CDrawContext* context, double width, double height);
    // The panel editor, or null when the wrapper has none.
    CVeSTEditor* PanelEditor() const;

    // AudioEffect operations, each forwarded to its table entry.
    void open() override;
    void close() override;
    void suspend() override;
    void resume() override;
    void processReplacing(float** inputs, float** outputs, int32_t frames) override;
    void processDoubleReplacing(double** inputs, double** outputs, int32_t frames) override;
    void setParameter(int32_t index, float value) override;
    float getParameter(int32_t index) override;
    void setProgramName(char* name) override;
    void getProgramName(char* name) override;
    void getParameterLabel(int32_t index, char* label) override;
    void getParameterDisplay(int32_t index, char* text) override;
    void getParameterName(int32_t index, char* text) override;
    int32_t getChunk(void** data, bool isPreset) override;
    int32_t setChunk(void* data, int32_t byteSize, bool isPreset) override;
    bool getProgramNameIndexed(int32_t category, int32_t index, char* text) override;
    int32_t processEvents(vst2::VstEvents* events) override;
    bool getEffectName(char* name) override;
    bool getVendorString(char* text) override;
    bool getProductString(char* text) override;
    int32_t getVendorVersion() override;
    intptr_t canDo(char* text) override;

    // THostLink: host queries and reports.
    int32_t InputCount() override;
    double SampleRate() override;
    int32_t BlockSize() override;
    bool GetTime(int32_t filter, THostTime& time) override;
    bool UpdateDisplay() override;
    void SetInitialDelay(int32_t samples) override;
    // The panel's edits as VST 2.4 reports them: begin-edit, automate with the normalised value, end-edit.
    void BeginEdit(int32_t index) override;
    void ParameterEdited(int32_t index, double value) override;
    void EndEdit(int32_t index) override;

    // THostLink: editor and drawing surface.
    void InvalidateEditor() override;
    bool GetEditorSize(int32_t& width, int32_t& height) override;
    bool SetDrawMode(int32_t mode) override;
    bool SetFillColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha) override;
    bool SetFontColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha) override;
    bool FillRect(double left, double top, double right, double bottom) override;
    bool DrawTextInRect(const char* text, double left, double top, double right, double bottom,
                        int32_t alignment) override;
    double GetTextWidth(const char* text) override;
    bool SelectFont(const std::string& face, int32_t size, int32_t style) override;
    bool DrawImageRect(TImageSlot* slot, double left, double top, double right, double bottom, double sourceX,
                       double sourceY) override;
    TImageSlot* NewImageSlot() override;

    // TEditorHost: the editor's view and timer reach the effect through the table.
    void EditorIdle() override;
    void EditorDraw(VSTGUI::CDrawContext* context, double width, double height) override;
    void EditorMouseDown(double x, double y, int32_t buttons) override;
    void EditorMouseUp(double x, double y, int32_t buttons) override;
    void EditorMouseMoved(double x, double y, int32_t buttons) override;
    void EditorKeyDown(int32_t character, uint8_t modifier, uint8_t virtualKey) override;
    void EditorKeyUp(int32_t character, uint8_t modifier, uint8_t virtualKey) override;
    void EditorClosed() override;

private:
    CVeST(TParvex* effect, const VeSTCallbacks& callbacks, vst2::HostCallback audioMaster,
          int32_t numPrograms, int32_t numParams);

    TParvex* effect_;
    TDrawingSurface surface_;
    VeSTCallbacks callbacks_;
};
