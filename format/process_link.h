// The host link of a plug-in binary that processes audio and has no editor of its own (LV2's DSP binary):
// the host's rate, block length and channel count as the format learnt them, the latency the effect
// reports, and no time information. Its panel draws nowhere: every drawing call answers 0 and edits go
// nowhere (a format's user interface, in its own binary, has its own link).
#pragma once

#include "runtime/host_link.h"
#include "runtime/shared_value.h"

#include <atomic>
#include <cstdint>

namespace format {

class TProcessLink : public THostLink {
public:
    // Set by the format before the effect resumes, as a VST host sets rate and block size while suspended.
    void SetSampleRate(double rate) { sampleRate_ = rate; }
    void SetBlockSize(int32_t frames) { blockSize_ = frames; }
    void SetInputCount(int32_t channels) { inputCount_ = channels; }
    // The latency in frames as the effect last reported it; written on the thread that resumes the effect and
    // on the audio thread, read by the format on the audio thread.
    int32_t Latency() const { return latency_.Load(); }

    int32_t InputCount() override { return inputCount_.Load(); }
    double SampleRate() override { return sampleRate_.Load(); }
    int32_t BlockSize() override { return blockSize_.Load(); }
    bool GetTime(int32_t, THostTime&) override { return false; }
    bool UpdateDisplay() override { return false; }
    void SetInitialDelay(int32_t samples) override { latency_ = samples; }
    void BeginEdit(int32_t) override {}
    void ParameterEdited(int32_t, double) override {}
    void EndEdit(int32_t) override {}

    void InvalidateEditor() override {}
    bool GetEditorSize(int32_t&, int32_t&) override { return false; }
    bool SetDrawMode(int32_t) override { return false; }
    bool SetFillColor(uint8_t, uint8_t, uint8_t, uint8_t) override { return false; }
    bool SetFontColor(uint8_t, uint8_t, uint8_t, uint8_t) override { return false; }
    bool FillRect(double, double, double, double) override { return false; }
    bool DrawTextInRect(const char*, double, double, double, double, int32_t) override { return false; }
    double GetTextWidth(const char*) override { return 0; }
    bool SelectFont(const std::string&, int32_t, int32_t) override { return false; }
    bool DrawImageRect(TImageSlot*, double, double, double, double, double, double) override { return false; }
    TImageSlot* NewImageSlot() override { return nullptr; }

private:
    SharedDouble sampleRate_{44100};
    Shared<int32_t> blockSize_{1024};
    Shared<int32_t> inputCount_{2};
    Shared<int32_t> latency_{0};
};

} // namespace format
