#include "shell/callbacks.h"

#include "runtime/parvex.h"
#include "shell/editor_factory.h"
#include "shell/vest.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

TParvex* EffectOf(CVeST* wrapper) {
    return wrapper ? wrapper->Effect() : nullptr;
}

// Copies a text into a host buffer of `capacity` bytes, always terminated.
void CopyBounded(char* destination, const std::string& text, size_t capacity) {
    if (!destination || capacity == 0) return;
    const size_t length = std::min(text.size(), capacity - 1);
    std::memcpy(destination, text.data(), length);
    destination[length] = 0;
}

const TSlider* SliderAt(CVeST* wrapper, int32_t index) {
    TParvex* effect = EffectOf(wrapper);
    if (!effect || index < 0 || static_cast<size_t>(index) >= effect->Sliders.size()) return nullptr;
    return &effect->Sliders[static_cast<size_t>(index)];
}

double SliderValue(TParvex& effect, const TSlider& slider) {
    return slider.number >= 0 && slider.number < CParvexSliders::kSliderCount
               ? effect.SliderValues[slider.number].Load()
               : 0.0;
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

void RaiseFrameRate(TParvex& effect) {
    effect.FrameRate = std::max(effect.FrameRate.Load(), 30.0);
}

// The toolkit reports left 2, middle 4, right 8, shift 16, control 32, alt 64; effect code expects
// left 1, right 2, control 4, shift 8, alt 16, middle 64.
int32_t EffectButtons(int32_t toolkitButtons) {
    struct Bit {
        int32_t toolkit, effect;
    };
    static constexpr Bit kMap[] = {{2, 1}, {8, 2}, {32, 4}, {16, 8}, {64, 16}, {4, 64}};
    int32_t buttons = 0;
    for (const Bit& bit : kMap)
        if (toolkitButtons & bit.toolkit) buttons |= bit.effect;
    return buttons;
}

void MouseDown(CVeST* wrapper, double x, double y, int32_t buttons) {
    TParvex& effect = *EffectOf(wrapper);
    effect.MouseX = x;
    effect.MouseY = y;
    effect.MouseButtons = EffectButtons(buttons);
    RaiseFrameRate(effect);
}

void MouseUp(CVeST* wrapper, double x, double y, int32_t) {
    TParvex& effect = *EffectOf(wrapper);
    effect.MouseX = x;
    effect.MouseY = y;
    effect.MouseButtons = 0;
    RaiseFrameRate(effect);
}

void MouseMove(CVeST* wrapper, double x, double y, int32_t) {
    TParvex& effect = *EffectOf(wrapper);
    effect.MouseX = x;
    effect.MouseY = y;
    RaiseFrameRate(effect);
}

int32_t VendorVersion(CVeST* wrapper) {
    return EffectOf(wrapper)->Version;
}
int32_t CopyVendorString(CVeST* wrapper, char* text) {
    CopyBounded(text, EffectOf(wrapper)->VendorString, vst2::kVstMaxVendorStrLen);
    return 1;
}
int32_t CopyProductString(CVeST* wrapper, char* text) {
    CopyBounded(text, EffectOf(wrapper)->ProductString, vst2::kVstMaxProductStrLen);
    return 1;
}
int32_t CopyEffectName(CVeST* wrapper, char* text) {
    CopyBounded(text, EffectOf(wrapper)->EffectName, vst2::kVstMaxEffectNameLen);
    return 1;
}
int32_t CopyProgramName(CVeST* wrapper, char* text) {
    CopyBounded(text, EffectOf(wrapper)->ProgramName, vst2::kVstMaxProgNameLen);
    return 1;
}
void SetProgramName(CVeST* wrapper, const char* text) {
    EffectOf(wrapper)->ProgramName.assign(text, strnlen(text, vst2::kVstMaxProgNameLen - 1));
}
int32_t ProgramNameIndexed(CVeST*, int32_t, int32_t, char*) {
    return 0;
}

double ParameterGet(CVeST* wrapper, int32_t index) {
    const TSlider* slider = SliderAt(wrapper, index);
    return slider ? NormalisedValue(*slider, SliderValue(*EffectOf(wrapper), *slider)) : 0;
}

void ParameterSet(CVeST* wrapper, int32_t index, double normalised) {
    const TSlider* slider = SliderAt(wrapper, index);
    if (!slider || !std::isfinite(normalised)) return;
    TParvex& effect = *EffectOf(wrapper);
    if (slider->number < 0 || slider->number >= CParvexSliders::kSliderCount) return;
    // Beyond 0 to 1 a host asks for a setting the slider does not have (1e30 would make a trim of 4e30 dB).
    normalised = std::clamp(normalised, 0.0, 1.0);
    // What the host reads now, sent back (as hosts echo the edits they are told of), is no change: the
    // panel's finer steps and its wider ranges stay as the user set them.
    const double current = effect.SliderValues[slider->number].Load();
    if (static_cast<float>(normalised) == static_cast<float>(NormalisedValue(*slider, current))) return;
    const double value = slider->minimum + normalised * (slider->maximum - slider->minimum);
    double stepped = value;
    if (slider->step != 0) {
        // Nearest whole multiple of the step counted from 0, halves up.
        const double q = (value + slider->step * 0.5) / slider->step;
        stepped = std::floor(q) * slider->step;
    }
    const double change = stepped - current;
    if (change > -0.00001 && change < 0.00001) return;
    effect.SliderValues[slider->number] = stepped;
    if (slider->boundVariable) *slider->boundVariable = stepped;
    effect.DoSlider();
}

void ParameterName(CVeST* wrapper, int32_t index, char* text) {
    if (const TSlider* slider = SliderAt(wrapper, index))
        CopyBounded(text, slider->name, vst2::kParamTextCapacity);
}

void ParameterLabel(CVeST* wrapper, int32_t index, char* text) {
    if (const TSlider* slider = SliderAt(wrapper, index))
        CopyBounded(text, slider->label, vst2::kParamTextCapacity);
}

void ParameterDisplay(CVeST* wrapper, int32_t index, char* text) {
    const TSlider* slider = SliderAt(wrapper, index);
    if (!slider) return;
    const double value = SliderValue(*EffectOf(wrapper), *slider);
    const size_t names = slider->valueNames.size();
    if (names == 0) {
        char number[vst2::kParamTextCapacity];
        std::snprintf(number, sizeof number, "%.2f", value);
        CopyBounded(text, number, vst2::kParamTextCapacity);
        return;
    }
    // Chosen by truncation: with three names on 0..1, [0, 0.5) shows the first, [0.5, 1) the second. A
    // position that is not a number or does not fit an integer shows the first.
    const double position =
        (value - slider->minimum) * static_cast<double>(names - 1) / (slider->maximum - slider->minimum);
    size_t chosen = 0;
    if (position > 0 && position < 2147483648.0)
        chosen = position >= static_cast<double>(names - 1) ? names - 1 : static_cast<size_t>(position);
    CopyBounded(text, slider->valueNames[chosen], vst2::kParamTextCapacity);
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
    TParvex& effect = *EffectOf(wrapper);
    double* slots = effect.SampleSlots;
    effect.DoBlock();
    if (channels == 2) {
        // Stereo goes to the effect in runs, through buffers on the stack.
        constexpr int32_t kRunFrames = 256;
        double left[kRunFrames], right[kRunFrames];
        for (int32_t start = 0; start < frames; start += kRunFrames) {
            const int32_t count = std::min(kRunFrames, frames - start);
            for (int32_t j = 0; j < count; ++j) {
                left[j] = static_cast<double>(inputs[0][start + j]);
                right[j] = static_cast<double>(inputs[1][start + j]);
            }
            effect.DoSamples(left, right, count);
            for (int32_t j = 0; j < count; ++j) {
                outputs[0][start + j] = static_cast<Sample>(left[j]);
                outputs[1][start + j] = static_cast<Sample>(right[j]);
            }
        }
        return;
    }
    const int32_t count = std::min(channels, CParvexSamples::kSlotCount);
    for (int32_t j = 0; j < frames; ++j) {
        for (int32_t c = count - 1; c >= 0; --c) slots[c] = static_cast<double>(inputs[c][j]);
        effect.DoSample();
        for (int32_t c = count - 1; c >= 0; --c) outputs[c][j] = static_cast<Sample>(slots[c]);
    }
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

double NormalisedValue(const TSlider& slider, double value) {
    const double range = slider.maximum - slider.minimum;
    if (range == 0) return 0;
    const double share = (value - slider.minimum) / range;
    return std::isnan(share) ? 0 : std::clamp(share, 0.0, 1.0);
}

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
