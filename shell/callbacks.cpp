#include "shell/callbacks.h"

#include "format/panel_input.h"
#include "format/parameters.h"
#include "format/processing.h"
#include "runtime/parvex.h"
#include "shell/editor_factory.h"
#include "shell/vest.h"

#include <atomic>
#include <cstring>

namespace {

TParvex* EffectOf(CVeST* wrapper) {
    return wrapper ? wrapper->Effect() : nullptr;
}

void Setup(CVeST* wrapper) {
    TParvex* effect = EffectOf(wrapper);
    wrapper->setNumInputs(effect->ChannelCount);
    wrapper->setNumOutputs(effect->ChannelCount);
    wrapper->setUniqueID(effect->UniqueId);
    if (!wrapper->getEditor()) wrapper->AttachEditor(CreateEditor(wrapper, 450, 620));
    wrapper->programsAreChunks();
}

void Destroy(CVeST* wrapper) {
    delete EffectOf(wrapper);
}
void Open(CVeST* wrapper) {
    EffectOf(wrapper)->DoReset();
}
void Suspend(CVeST* wrapper) {
    EffectOf(wrapper)->DoSuspend();
}
void Resume(CVeST* wrapper) {
    EffectOf(wrapper)->DoResume();
}
void Idle(CVeST* wrapper) {
    EffectOf(wrapper)->DoIdle();
}
void Close(CVeST* wrapper) {
    EffectOf(wrapper)->DoClose();
}
void Draw(CVeST* wrapper, double, double) {
    EffectOf(wrapper)->DoGraphics();
}

void MouseDown(CVeST* wrapper, double x, double y, int32_t buttons) {
    format::PanelMouseDown(*EffectOf(wrapper), x, y, buttons);
}
void MouseUp(CVeST* wrapper, double x, double y, int32_t) {
    format::PanelMouseUp(*EffectOf(wrapper), x, y);
}
void MouseMove(CVeST* wrapper, double x, double y, int32_t) {
    format::PanelMouseMove(*EffectOf(wrapper), x, y);
}

int32_t VendorVersion(CVeST* wrapper) {
    return EffectOf(wrapper)->Version;
}
int32_t CopyVendorString(CVeST* wrapper, char* text) {
    format::CopyBounded(text, EffectOf(wrapper)->VendorString, vst2::kVstMaxVendorStrLen);
    return 1;
}
int32_t CopyProductString(CVeST* wrapper, char* text) {
    format::CopyBounded(text, EffectOf(wrapper)->ProductString, vst2::kVstMaxProductStrLen);
    return 1;
}
int32_t CopyEffectName(CVeST* wrapper, char* text) {
    format::CopyBounded(text, EffectOf(wrapper)->EffectName, vst2::kVstMaxEffectNameLen);
    return 1;
}
int32_t CopyProgramName(CVeST* wrapper, char* text) {
    format::CopyBounded(text, EffectOf(wrapper)->ProgramName, vst2::kVstMaxProgNameLen);
    return 1;
}
void SetProgramName(CVeST* wrapper, const char* text) {
    EffectOf(wrapper)->ProgramName.assign(text, strnlen(text, vst2::kVstMaxProgNameLen - 1));
}
int32_t ProgramNameIndexed(CVeST*, int32_t, int32_t, char*) {
    return 0;
}

double ParameterGet(CVeST* wrapper, int32_t index) {
    return format::NormalisedParameter(*EffectOf(wrapper), index);
}
void ParameterSet(CVeST* wrapper, int32_t index, double normalised) {
    format::SetNormalisedParameter(*EffectOf(wrapper), index, normalised);
}
void ParameterName(CVeST* wrapper, int32_t index, char* text) {
    format::CopyParameterName(*EffectOf(wrapper), index, text, vst2::kParamTextCapacity);
}
void ParameterLabel(CVeST* wrapper, int32_t index, char* text) {
    format::CopyParameterLabel(*EffectOf(wrapper), index, text, vst2::kParamTextCapacity);
}
void ParameterDisplay(CVeST* wrapper, int32_t index, char* text) {
    format::CopyParameterDisplay(*EffectOf(wrapper), index, text, vst2::kParamTextCapacity);
}

// Every instance has the same channel count, so each width keeps the first one it sees.
template <typename Sample>
void ProcessBlock(CVeST* wrapper, Sample** inputs, Sample** outputs, int32_t frames,
                  std::atomic<int32_t>& keptChannels) {
    int32_t channels = keptChannels.load(std::memory_order_relaxed);
    if (channels == 0) {
        channels = wrapper->getAeffect()->numInputs;
        keptChannels.store(channels, std::memory_order_relaxed);
    }
    format::ProcessBlock(*EffectOf(wrapper), channels, inputs, outputs, frames);
}

std::atomic<int32_t> gFloatChannels{0};
std::atomic<int32_t> gDoubleChannels{0};

void ProcessFloat(CVeST* wrapper, float** inputs, float** outputs, int32_t frames) {
    ProcessBlock(wrapper, inputs, outputs, frames, gFloatChannels);
}
void ProcessDouble(CVeST* wrapper, double** inputs, double** outputs, int32_t frames) {
    ProcessBlock(wrapper, inputs, outputs, frames, gDoubleChannels);
}

int32_t ChunkGet(CVeST* wrapper, void** data, bool isPreset) {
    return EffectOf(wrapper)->GetStateChunk(data, isPreset);
}
int32_t ChunkSet(CVeST* wrapper, const void* data, int32_t byteCount, bool isPreset) {
    return EffectOf(wrapper)->SetStateChunk(data, byteCount, isPreset);
}

} // namespace

VeSTCallbacks MakeVeSTCallbacks() {
    VeSTCallbacks table{};
    table.Setup = Setup;
    table.Destroy = Destroy;
    table.Open = Open;
    table.Suspend = Suspend;
    table.Resume = Resume;
    table.Idle = Idle;
    table.Close = Close;
    table.Draw = Draw;
    table.MouseDown = MouseDown;
    table.MouseUp = MouseUp;
    table.MouseMove = MouseMove;
    table.VendorVersion = VendorVersion;
    table.CopyVendorString = CopyVendorString;
    table.CopyProductString = CopyProductString;
    table.CopyEffectName = CopyEffectName;
    table.CopyProgramName = CopyProgramName;
    table.SetProgramName = SetProgramName;
    table.ProgramNameIndexed = ProgramNameIndexed;
    table.ParameterGet = ParameterGet;
    table.ParameterSet = ParameterSet;
    table.ParameterName = ParameterName;
    table.ParameterLabel = ParameterLabel;
    table.ParameterDisplay = ParameterDisplay;
    table.ProcessFloat = ProcessFloat;
    table.ProcessDouble = ProcessDouble;
    table.ChunkGet = ChunkGet;
    table.ChunkSet = ChunkSet;
    return table;
}
