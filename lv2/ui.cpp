// The LV2 user interface: the leveler's panel in an X11 window under the host's parent window, driven by
// the host's idle calls. It talks to the plug-in only the LV2 way, so it works where the host runs it in
// another process: edits are written to the control ports through the host, and the panel draws its own
// leveler instance, which processes nothing and follows the plug-in's port events.
#include "editor/vest_editor.h"
#include "format/panel_link.h"
#include "format/parameters.h"
#include "leveler/leveler.h"
#include "leveler/readings.h"
#include "lv2/features.h"
#include "lv2/ports.h"

#include <lv2/parameters/parameters.h>
#include <lv2/ui/ui.h>

#include <array>
#include <cstring>
#include <optional>

using namespace lv2port;

namespace {

constexpr int32_t kWidth = 450, kHeight = 620;
// The panel's own instance needs a rate for what it derives from the sliders; with none from the host,
// any common rate gives the same pictures.
constexpr double kUnstatedSampleRate = 48000;

// Whether the leveler moves the slider of parameter `index` itself: its readings, not the control input,
// tell what the plug-in holds.
bool ShownByReading(int32_t index) {
    for (const leveler::ReadingRow& reading : leveler::kReadings)
        if (reading.slider == leveler::kParameters[index].slider) return true;
    return false;
}

class Ui final : public format::TPanelLink {
public:
    Ui(LV2UI_Write_Function write, LV2UI_Controller controller, const LV2UI_Touch* touch, double sampleRate)
        : write_(write), controller_(controller), touch_(touch), sampleRate_(sampleRate),
          editor_(this, kWidth, kHeight) {
        effect_.Host = this;
        effect_.DoReset();
        effect_.DoInit();
        effect_.DoSlider();
    }
    ~Ui() { Close(); }

    bool Embed(void* parent) { return editor_.open(parent); }
    uintptr_t Window() const { return editor_.getFrame() ? editor_.getFrame()->getWindow() : 0; }

    // 1 once the user closed a window of our own.
    int Idle() {
        editor_.idle();
        const VSTGUI::CFrame* frame = editor_.getFrame();
        return frame && frame->isCloseRequested() ? 1 : 0;
    }
    int Show() {
        if (editor_.getFrame()) return 0;
        return editor_.openWindow(effect_.EffectName.c_str()) ? 0 : 1;
    }
    void Close() {
        if (!editor_.getFrame()) return;
        editor_.close();
        EditorClosed();
    }

    void PortEvent(uint32_t port, uint32_t size, uint32_t protocol, const void* buffer) {
        if (protocol != 0 || size != sizeof(float) || !buffer) return;
        float value;
        std::memcpy(&value, buffer, sizeof value);
        if (const int32_t parameter = ParameterOfPort(port); parameter >= 0) {
            if (!ShownByReading(parameter)) format::SetParameter(effect_, parameter, value);
        } else if (const int32_t reading = ReadingOfPort(port); reading >= 0) {
            leveler::ShowReading(effect_, reading, value);
        }
    }

    // THostLink: what the panel's leveler asks of its host.
    int32_t InputCount() override { return 2; }
    double SampleRate() override { return sampleRate_; }
    int32_t BlockSize() override { return 0; }
    bool GetTime(int32_t, THostTime&) override { return false; }
    bool UpdateDisplay() override { return false; }
    void SetInitialDelay(int32_t) override {}

    // The panel's edits: the gesture as the host's touch feature has it, each value written to the control
    // port and taken by the panel's own leveler as the plug-in takes it (limited and stepped).
    void BeginEdit(int32_t index) override {
        if (!format::SliderAt(effect_, index)) return;
        written_[static_cast<size_t>(index)].reset();
        if (touch_) touch_->touch(touch_->handle, kFirstControl + static_cast<uint32_t>(index), true);
    }
    void ParameterEdited(int32_t index, double value) override {
        if (!format::SliderAt(effect_, index)) return;
        const float written = static_cast<float>(value);
        write_(controller_, kFirstControl + static_cast<uint32_t>(index), sizeof written, 0, &written);
        format::SetParameter(effect_, index, written);
        written_[static_cast<size_t>(index)] = written;
    }
    // While held, the slider showed the pointer's value; let go, it shows what the plug-in made of it.
    void EndEdit(int32_t index) override {
        if (!format::SliderAt(effect_, index)) return;
        if (const std::optional<float> written = written_[static_cast<size_t>(index)])
            format::SetParameter(effect_, index, *written);
        if (touch_) touch_->touch(touch_->handle, kFirstControl + static_cast<uint32_t>(index), false);
    }

protected:
    TParvex* PanelEffect() const override { return const_cast<TParvexEffect*>(&effect_); }
    CVeSTEditor* PanelEditor() const override { return const_cast<CVeSTEditor*>(&editor_); }

private:
    LV2UI_Write_Function write_;
    LV2UI_Controller controller_;
    const LV2UI_Touch* touch_;
    double sampleRate_;
    // The value last written during each parameter's gesture.
    std::array<std::optional<float>, leveler::kParameterCount> written_{};
    TParvexEffect effect_;
    CVeSTEditor editor_;
};

Ui* Of(LV2UI_Handle handle) {
    return static_cast<Ui*>(handle);
}

LV2UI_Handle Instantiate(const LV2UI_Descriptor*, const char* pluginUri, const char*,
                         LV2UI_Write_Function write, LV2UI_Controller controller, LV2UI_Widget* widget,
                         const LV2_Feature* const* features) {
    if (!pluginUri || std::strcmp(pluginUri, kPluginUri) != 0 || !write) return nullptr;
    const std::optional<double> rate = InstanceOption(features, LV2_PARAMETERS__sampleRate);
    auto* ui =
        new Ui(write, controller, static_cast<const LV2UI_Touch*>(FeatureData(features, LV2_UI__touch)),
               rate && *rate > 0 ? *rate : kUnstatedSampleRate);
    if (void* parent = FeatureData(features, LV2_UI__parent)) {
        if (!ui->Embed(parent)) {
            delete ui;
            return nullptr;
        }
        if (auto* resize = static_cast<const LV2UI_Resize*>(FeatureData(features, LV2_UI__resize)))
            resize->ui_resize(resize->handle, kWidth, kHeight);
    }
    if (widget) *widget = reinterpret_cast<LV2UI_Widget>(ui->Window());
    return ui;
}

void Cleanup(LV2UI_Handle handle) {
    delete Of(handle);
}

void PortEvent(LV2UI_Handle handle, uint32_t port, uint32_t size, uint32_t protocol, const void* buffer) {
    Of(handle)->PortEvent(port, size, protocol, buffer);
}

int Idle(LV2UI_Handle handle) {
    return Of(handle)->Idle();
}
int Show(LV2UI_Handle handle) {
    return Of(handle)->Show();
}
int Hide(LV2UI_Handle handle) {
    Of(handle)->Close();
    return 0;
}

const void* ExtensionData(const char* uri) {
    static const LV2UI_Idle_Interface kIdle{Idle};
    static const LV2UI_Show_Interface kShow{Show, Hide};
    if (std::strcmp(uri, LV2_UI__idleInterface) == 0) return &kIdle;
    if (std::strcmp(uri, LV2_UI__showInterface) == 0) return &kShow;
    return nullptr;
}

const LV2UI_Descriptor kDescriptor{kUiUri, Instantiate, Cleanup, PortEvent, ExtensionData};

} // namespace

LV2_SYMBOL_EXPORT const LV2UI_Descriptor* lv2ui_descriptor(uint32_t index) {
    return index == 0 ? &kDescriptor : nullptr;
}
