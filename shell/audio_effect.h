// The plug-in side of the VST 2.4 interface: AudioEffect owns the published effect record, decodes the
// host's dispatcher opcodes and gives default answers; AudioEffectX adds the 2.x opcodes and host calls.
#pragma once

#include "vst2abi/vst2.h"

#include <cstdint>

// What the wrapper needs of an attached editor.
class AEffEditor {
public:
    virtual ~AEffEditor() = default;
    virtual bool getRect(vst2::ERect** rect) = 0;
    virtual bool open(void* parentWindow) = 0;
    virtual void close() = 0;
    virtual void idle() = 0;
    virtual int32_t onKeyDown(vst2::VstKeyCode& /*key*/) { return 0; }
    virtual int32_t onKeyUp(vst2::VstKeyCode& /*key*/) { return 0; }
    virtual bool setKnobMode(int32_t /*mode*/) { return false; }
};

class AudioEffect {
public:
    AudioEffect(vst2::HostCallback audioMaster, int32_t numPrograms, int32_t numParams);
    virtual ~AudioEffect();
    AudioEffect(const AudioEffect&) = delete;
    AudioEffect& operator=(const AudioEffect&) = delete;

    virtual intptr_t dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt);

    virtual void open() {}
    virtual void close() {}
    virtual void suspend() {}
    virtual void resume() {}
    virtual void setSampleRate(float rate) { sampleRate = rate; }
    virtual void setBlockSize(int32_t size) { blockSize = size; }

    virtual void process(float** /*inputs*/, float** /*outputs*/, int32_t /*frames*/) {}
    virtual void processReplacing(float** /*inputs*/, float** /*outputs*/, int32_t /*frames*/) {}
    virtual void processDoubleReplacing(double** /*inputs*/, double** /*outputs*/, int32_t /*frames*/) {}

    virtual void setParameter(int32_t /*index*/, float /*value*/) {}
    virtual float getParameter(int32_t /*index*/) { return 0; }

    virtual void setProgram(int32_t program);
    virtual int32_t getProgram() { return curProgram; }
    virtual void setProgramName(char* /*name*/) {}
    virtual void getProgramName(char* name);
    virtual void getParameterLabel(int32_t /*index*/, char* label);
    virtual void getParameterDisplay(int32_t /*index*/, char* text);
    virtual void getParameterName(int32_t /*index*/, char* text);
    virtual int32_t getChunk(void** /*data*/, bool /*isPreset*/) { return 0; }
    virtual int32_t setChunk(void* /*data*/, int32_t /*byteSize*/, bool /*isPreset*/) { return 0; }

    vst2::AEffect* getAeffect() { return &cEffect; }
    AEffEditor* getEditor() const { return editor; }
    void setEditor(AEffEditor* newEditor);
    float getSampleRate() const { return sampleRate; }
    int32_t getBlockSize() const { return blockSize; }

    void setUniqueID(int32_t id) { cEffect.uniqueID = id; }
    void setNumInputs(int32_t inputs) { cEffect.numInputs = inputs; }
    void setNumOutputs(int32_t outputs) { cEffect.numOutputs = outputs; }
    // Written on the audio thread while the host may read it.
    void setInitialDelay(int32_t delay);
    void canProcessReplacing(bool state = true) { setFlag(vst2::effFlagsCanReplacing, state); }
    void canDoubleReplacing(bool state = true) { setFlag(vst2::effFlagsCanDoubleReplacing, state); }
    void programsAreChunks(bool state = true) { setFlag(vst2::effFlagsProgramChunks, state); }

    intptr_t callHost(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                      float opt = 0);

protected:
    void setFlag(int32_t flag, bool state);

    vst2::HostCallback audioMaster;
    AEffEditor* editor = nullptr;
    float sampleRate = 44100;
    int32_t blockSize = 1024;
    int32_t numPrograms;
    int32_t numParams;
    int32_t curProgram = 0;
    vst2::AEffect cEffect;
};

class AudioEffectX : public AudioEffect {
public:
    using AudioEffect::AudioEffect;

    intptr_t dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) override;
    void resume() override;

    virtual int32_t processEvents(vst2::VstEvents* /*events*/) { return 0; }
    virtual bool canParameterBeAutomated(int32_t /*index*/) { return true; }
    virtual bool getProgramNameIndexed(int32_t /*category*/, int32_t /*index*/, char* /*text*/) {
        return false;
    }
    virtual bool getEffectName(char* /*name*/) { return false; }
    virtual bool getVendorString(char* /*text*/) { return false; }
    virtual bool getProductString(char* /*text*/) { return false; }
    virtual int32_t getVendorVersion() { return 0; }
    virtual intptr_t canDo(char* /*text*/) { return 0; }
    virtual int32_t getGetTailSize() { return 0; }
    virtual int32_t getVstVersion() { return 2400; }

    // The host's time information for the filter flags, or null.
    vst2::VstTimeInfo* getTimeInfo(int32_t filter);
    bool updateDisplay();
};
