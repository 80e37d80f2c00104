#include "shell/audio_effect.h"

#include <atomic>
#include <cstring>

namespace {

intptr_t DispatchEffect(vst2::AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                        float opt) {
    auto* wrapper = static_cast<AudioEffect*>(effect->object);
    const intptr_t answer = wrapper->dispatcher(opcode, index, value, ptr, opt);
    if (opcode == vst2::effClose) {
        delete wrapper;
        return 1;
    }
    return answer;
}

void ProcessAccumulating(vst2::AEffect* effect, float** inputs, float** outputs, int32_t frames) {
    static_cast<AudioEffect*>(effect->object)->process(inputs, outputs, frames);
}

void ProcessFloat(vst2::AEffect* effect, float** inputs, float** outputs, int32_t frames) {
    static_cast<AudioEffect*>(effect->object)->processReplacing(inputs, outputs, frames);
}

void ProcessDouble(vst2::AEffect* effect, double** inputs, double** outputs, int32_t frames) {
    static_cast<AudioEffect*>(effect->object)->processDoubleReplacing(inputs, outputs, frames);
}

void SetParameter(vst2::AEffect* effect, int32_t index, float value) {
    static_cast<AudioEffect*>(effect->object)->setParameter(index, value);
}

float GetParameter(vst2::AEffect* effect, int32_t index) {
    return static_cast<AudioEffect*>(effect->object)->getParameter(index);
}

} // namespace

AudioEffect::AudioEffect(vst2::HostCallback master, int32_t programs, int32_t params)
    : audioMaster(master), numPrograms(programs), numParams(params) {
    std::memset(&cEffect, 0, sizeof cEffect);
    cEffect.magic = vst2::kEffectMagic;
    cEffect.dispatcher = DispatchEffect;
    cEffect.process = ProcessAccumulating;
    cEffect.setParameter = SetParameter;
    cEffect.getParameter = GetParameter;
    cEffect.numPrograms = programs;
    cEffect.numParams = params;
    cEffect.numInputs = 1;
    cEffect.numOutputs = 2;
    cEffect.flags = vst2::effFlagsCanReplacing;
    cEffect.ioRatio = 1.0f;
    cEffect.object = this;
    cEffect.uniqueID = vst2::FourCC('N', 'o', 'E', 'f');
    cEffect.version = 1;
    cEffect.processReplacing = ProcessFloat;
    cEffect.processDoubleReplacing = ProcessDouble;
}

AudioEffect::~AudioEffect() {
    delete editor;
}

void AudioEffect::setEditor(AEffEditor* newEditor) {
    editor = newEditor;
    setFlag(vst2::effFlagsHasEditor, editor != nullptr);
}

void AudioEffect::setFlag(int32_t flag, bool state) {
    if (state)
        cEffect.flags |= flag;
    else
        cEffect.flags &= ~flag;
}

void AudioEffect::setInitialDelay(int32_t delay) {
    std::atomic_ref<int32_t>(cEffect.initialDelay).store(delay, std::memory_order_relaxed);
}

intptr_t AudioEffect::callHost(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
    return audioMaster ? audioMaster(&cEffect, opcode, index, value, ptr, opt) : 0;
}

void AudioEffect::setProgram(int32_t program) {
    if (program < numPrograms) curProgram = program;
}

void AudioEffect::getProgramName(char* name) {
    if (name) *name = 0;
}
void AudioEffect::getParameterLabel(int32_t, char* label) {
    if (label) *label = 0;
}
void AudioEffect::getParameterDisplay(int32_t, char* text) {
    if (text) *text = 0;
}
void AudioEffect::getParameterName(int32_t, char* text) {
    if (text) *text = 0;
}

intptr_t AudioEffect::dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
    using namespace vst2;
    switch (opcode) {
    case effOpen:
        open();
        return 0;
    case effClose:
        close();
        return 1;
    case effSetProgram:
        if (value < numPrograms) setProgram(static_cast<int32_t>(value));
        return 0;
    case effGetProgram:
        return getProgram();
    case effSetProgramName:
        setProgramName(static_cast<char*>(ptr));
        return 0;
    case effGetProgramName:
        getProgramName(static_cast<char*>(ptr));
        return 0;
    case effGetParamLabel:
        getParameterLabel(index, static_cast<char*>(ptr));
        return 0;
    case effGetParamDisplay:
        getParameterDisplay(index, static_cast<char*>(ptr));
        return 0;
    case effGetParamName:
        getParameterName(index, static_cast<char*>(ptr));
        return 0;
    case effSetSampleRate:
        setSampleRate(opt);
        return 0;
    case effSetBlockSize:
        setBlockSize(static_cast<int32_t>(value));
        return 0;
    case effMainsChanged:
        if (value == 0)
            suspend();
        else
            resume();
        return 0;
    case effEditGetRect:
        return editor ? editor->getRect(static_cast<ERect**>(ptr)) : 0;
    case effEditOpen:
        return editor ? editor->open(ptr) : 0;
    case effEditClose:
        if (editor) editor->close();
        return 0;
    case effEditIdle:
        if (editor) editor->idle();
        return 0;
    case effIdentify:
        return FourCC('N', 'v', 'E', 'f');
    case effGetChunk:
        return getChunk(static_cast<void**>(ptr), index != 0);
    case effSetChunk:
        return setChunk(ptr, static_cast<int32_t>(value), index != 0);
    default:
        return 0;
    }
}

intptr_t AudioEffectX::dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
    using namespace vst2;
    switch (opcode) {
    case effProcessEvents:
        return processEvents(static_cast<VstEvents*>(ptr));
    case effCanBeAutomated:
        return canParameterBeAutomated(index) ? 1 : 0;
    case effString2Parameter:
        return 0;
    case effGetProgramNameIndexed:
        return getProgramNameIndexed(static_cast<int32_t>(value), index, static_cast<char*>(ptr)) ? 1 : 0;
    case effGetInputProperties:
    case effGetOutputProperties:
        return 0;
    case effGetPlugCategory:
        return (cEffect.flags & effFlagsIsSynth) ? 2 : 0;
    case effOfflineNotify:
    case effOfflinePrepare:
    case effOfflineRun:
    case effProcessVarIo:
    case effSetSpeakerArrangement:
    case effSetBypass:
        return 0;
    case effGetEffectName:
        return getEffectName(static_cast<char*>(ptr)) ? 1 : 0;
    case effGetVendorString:
        return getVendorString(static_cast<char*>(ptr)) ? 1 : 0;
    case effGetProductString:
        return getProductString(static_cast<char*>(ptr)) ? 1 : 0;
    case effGetVendorVersion:
        return getVendorVersion();
    case effVendorSpecific:
        return 0;
    case effCanDo:
        return canDo(static_cast<char*>(ptr));
    case effGetTailSize:
        return getGetTailSize();
    case effGetParameterProperties:
        return 0;
    case effGetVstVersion:
        return getVstVersion();
    case effEditKeyDown:
    case effEditKeyUp: {
        if (!editor) return 0;
        VstKeyCode key{index, static_cast<uint8_t>(value), static_cast<uint8_t>(opt)};
        return opcode == effEditKeyDown ? editor->onKeyDown(key) : editor->onKeyUp(key);
    }
    case effSetEditKnobMode:
        return editor ? editor->setKnobMode(static_cast<int32_t>(value)) : 0;
    case effGetMidiProgramName:
    case effGetMidiProgramCategory:
    case effHasMidiProgramsChanged:
    case effGetMidiKeyName:
    case effBeginSetProgram:
    case effEndSetProgram:
        return 0;
    case effGetCurrentMidiProgram:
        return -1;
    case effGetSpeakerArrangement:
        if (value) *reinterpret_cast<void**>(value) = nullptr;
        if (ptr) *static_cast<void**>(ptr) = nullptr;
        return 0;
    case effShellGetNextPlugin:
    case effStartProcess:
    case effStopProcess:
        return 0;
    case effSetTotalSampleToProcess:
        return value;
    case effSetPanLaw:
    case effBeginLoadBank:
    case effBeginLoadProgram:
    case effSetProcessPrecision:
    case effGetNumMidiInputChannels:
    case effGetNumMidiOutputChannels:
        return 0;
    default:
        if (opcode >= effProcessEvents && opcode <= effGetNumMidiOutputChannels) return 0;
        return AudioEffect::dispatcher(opcode, index, value, ptr, opt);
    }
}

void AudioEffectX::resume() {
    char midi[] = "receiveVstMidiEvent";
    if ((cEffect.flags & vst2::effFlagsIsSynth) || canDo(midi) == 1)
        callHost(vst2::audioMasterWantMidi, 0, 1);
}

vst2::VstTimeInfo* AudioEffectX::getTimeInfo(int32_t filter) {
    return reinterpret_cast<vst2::VstTimeInfo*>(callHost(vst2::audioMasterGetTime, 0, filter));
}

bool AudioEffectX::updateDisplay() {
    return callHost(vst2::audioMasterUpdateDisplay) != 0;
}
