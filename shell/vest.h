// CVeST: the object behind the effect record the host receives. Every request that must reach the effect
// goes through one entry of its copy of the callback table.
#pragma once

#include "format/panel_link.h"
#include "shell/audio_effect.h"
#include "shell/callbacks.h"

class CVeSTEditor;
class TParvex;

class CVeST : public AudioEffectX, public format::TPanelLink {
public:
    // Asks the host for its version first: a host that answers 0 gets no wrapper (null).
    static CVeST* Create(TParvex* effect, const VeSTCallbacks& callbacks, vst2::HostCallback audioMaster,
                         int32_t numPrograms, int32_t numParams);
    ~CVeST() override;

    TParvex* Effect() const { return effect_; }
    const VeSTCallbacks& Callbacks() const { return callbacks_; }
    void AttachEditor(AEffEditor* newEditor) { setEditor(newEditor); }

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

protected:
    // TPanelLink: the panel is the effect's; its events go through the callback table.
    TParvex* PanelEffect() const override { return effect_; }
    CVeSTEditor* PanelEditor() const override;
    void EffectIdle() override;
    void EffectDraw(double width, double height) override;
    void EffectMouseDown(double x, double y, int32_t buttons) override;
    void EffectMouseUp(double x, double y, int32_t buttons) override;
    void EffectMouseMove(double x, double y, int32_t buttons) override;
    void EffectKeyDown(int32_t character, uint8_t modifier, uint8_t virtualKey) override;
    void EffectKeyUp(int32_t character, uint8_t modifier, uint8_t virtualKey) override;

private:
    CVeST(TParvex* effect, const VeSTCallbacks& callbacks, vst2::HostCallback audioMaster,
          int32_t numPrograms, int32_t numParams);

    TParvex* effect_;
    VeSTCallbacks callbacks_;
};
