#include "shell/vest.h"

#include "format/parameters.h"
#include "runtime/parvex.h"

#include <cstring>

CVeST* CVeST::Create(TParvex* effect, const VeSTCallbacks& callbacks, vst2::HostCallback audioMaster,
                     int32_t numPrograms, int32_t numParams) {
    if (!audioMaster || audioMaster(nullptr, vst2::audioMasterVersion, 0, 0, nullptr, 0) == 0) return nullptr;
    auto* wrapper = new CVeST(effect, callbacks, audioMaster, numPrograms, numParams);
    if (wrapper->callbacks_.Setup) wrapper->callbacks_.Setup(wrapper);
    return wrapper;
}

CVeST::CVeST(TParvex* effect, const VeSTCallbacks& callbacks, vst2::HostCallback master, int32_t programs,
             int32_t params)
    : AudioEffectX(master, programs, params), effect_(effect), callbacks_(callbacks) {
    canProcessReplacing();
    canDoubleReplacing();
}

CVeST::~CVeST() {
    if (callbacks_.Destroy) callbacks_.Destroy(this);
    effect_ = nullptr;
}

void CVeST::open() {
    if (callbacks_.Open) callbacks_.Open(this);
}
void CVeST::close() {
    if (callbacks_.Close) callbacks_.Close(this);
}
void CVeST::suspend() {
    if (callbacks_.Suspend) callbacks_.Suspend(this);
}
void CVeST::resume() {
    AudioEffectX::resume();
    if (callbacks_.Resume) callbacks_.Resume(this);
}

void CVeST::processReplacing(float** inputs, float** outputs, int32_t frames) {
    if (callbacks_.ProcessFloat) callbacks_.ProcessFloat(this, inputs, outputs, frames);
}
void CVeST::processDoubleReplacing(double** inputs, double** outputs, int32_t frames) {
    if (callbacks_.ProcessDouble) callbacks_.ProcessDouble(this, inputs, outputs, frames);
}

void CVeST::setParameter(int32_t index, float value) {
    if (callbacks_.ParameterSet) callbacks_.ParameterSet(this, index, static_cast<double>(value));
}
float CVeST::getParameter(int32_t index) {
    return callbacks_.ParameterGet ? static_cast<float>(callbacks_.ParameterGet(this, index)) : 0.0f;
}

void CVeST::setProgramName(char* name) {
    if (callbacks_.SetProgramName && name) callbacks_.SetProgramName(this, name);
}
void CVeST::getProgramName(char* name) {
    if (callbacks_.CopyProgramName && name) callbacks_.CopyProgramName(this, name);
}
void CVeST::getParameterLabel(int32_t index, char* label) {
    if (callbacks_.ParameterLabel && label) callbacks_.ParameterLabel(this, index, label);
}
void CVeST::getParameterDisplay(int32_t index, char* text) {
    if (callbacks_.ParameterDisplay && text) callbacks_.ParameterDisplay(this, index, text);
}
void CVeST::getParameterName(int32_t index, char* text) {
    if (callbacks_.ParameterName && text) callbacks_.ParameterName(this, index, text);
}

int32_t CVeST::getChunk(void** data, bool isPreset) {
    return callbacks_.ChunkGet && data ? callbacks_.ChunkGet(this, data, isPreset) : 0;
}
int32_t CVeST::setChunk(void* data, int32_t byteSize, bool isPreset) {
    return callbacks_.ChunkSet ? callbacks_.ChunkSet(this, data, byteSize, isPreset) : 0;
}

bool CVeST::getProgramNameIndexed(int32_t category, int32_t index, char* text) {
    return callbacks_.ProgramNameIndexed && callbacks_.ProgramNameIndexed(this, category, index, text);
}

int32_t CVeST::processEvents(vst2::VstEvents*) {
    return 1;
}

bool CVeST::getEffectName(char* name) {
    return callbacks_.CopyEffectName && name && callbacks_.CopyEffectName(this, name);
}
bool CVeST::getVendorString(char* text) {
    return callbacks_.CopyVendorString && text && callbacks_.CopyVendorString(this, text);
}
bool CVeST::getProductString(char* text) {
    return callbacks_.CopyProductString && text && callbacks_.CopyProductString(this, text);
}
int32_t CVeST::getVendorVersion() {
    return callbacks_.VendorVersion ? callbacks_.VendorVersion(this) : 0;
}

intptr_t CVeST::canDo(char* text) {
    static constexpr char kMidi[20] = "receiveVstMidiEvent";
    if (text && std::strncmp(text, kMidi, sizeof kMidi) == 0) return cEffect.flags | vst2::effFlagsIsSynth;
    return -1;
}

int32_t CVeST::InputCount() {
    return cEffect.numInputs;
}
double CVeST::SampleRate() {
    return static_cast<double>(getSampleRate());
}
int32_t CVeST::BlockSize() {
    return getBlockSize();
}

bool CVeST::GetTime(int32_t filter, THostTime& time) {
    const vst2::VstTimeInfo* info = getTimeInfo(filter);
    if (!info) return false;
    time.tempo = info->tempo;
    time.ppqPos = info->ppqPos;
    time.timeSigNumerator = info->timeSigNumerator;
    time.timeSigDenominator = info->timeSigDenominator;
    time.flags = info->flags;
    return true;
}

bool CVeST::UpdateDisplay() {
    return updateDisplay();
}
void CVeST::SetInitialDelay(int32_t samples) {
    setInitialDelay(samples);
}

void CVeST::BeginEdit(int32_t index) {
    callHost(vst2::audioMasterBeginEdit, index);
}
void CVeST::ParameterEdited(int32_t index, double value) {
    const TSlider* slider = effect_ ? format::SliderAt(*effect_, index) : nullptr;
    if (!slider) return;
    // Normalised exactly as getParameter answers, so that a host echoing it back finds no change.
    callHost(vst2::audioMasterAutomate, index, 0, nullptr,
             static_cast<float>(format::NormalisedValue(*slider, value)));
}
void CVeST::EndEdit(int32_t index) {
    callHost(vst2::audioMasterEndEdit, index);
}
