#include "leveler/leveler.h"

using namespace leveler;

namespace {

constexpr const char* kImageFileNames[] = {
    "vandrel_gfx\\knob_sm.png",
    "vandrel_gfx\\bg.png",
    "vandrel_gfx\\conf.png",
};

// The panel's texts, addressed by number from 10000 on.
constexpr int32_t kFirstLiteralId = 10000;
constexpr const char* kLiterals[] = {
    "build 170407",
    "Courier New",
    "%.2f",
    "Arial",
    " dB",
    "Input Trim",
    " LUFS",
    "Target",
    " dBfs",
    "Noise Floor",
    " ms",
    "Gate Speed",
    " dB",
    "Output Trim",
    "Automatic Trim",
    "Automatic Threshold",
    "Config",
    " dB",
    "Fast Attenuation",
    " dB",
    "Fast Gain",
    " dB",
    "Med Attenuation",
    " dB",
    "Med Gain",
    " dB",
    "Slow Attenuation",
    " dB",
    "Slow Gain",
    "",
    "HPF Amount",
    "%.1f",
    " LUFS",
    "%.1f",
    " LU",
    "INVALID",
    "INVALID",
    "Arial",
    "Arial",
    "EXCESSIVE GATING!",
    "Arial",
};
static_assert(std::size(kLiterals) == 41);

} // namespace

TParvexEffect::TParvexEffect() {
    EffectName = "Vandrel 2";
    ProductString = "Vandrel2";
    VendorString = "Quellory";
    ProgramName = "Vandrel2";
    Version = 1000;
    UniqueId = 0x514D5637; // 'QMV7'
    ChannelCount = 2;
    for (const ParameterRow& row : kParameters)
        AddSlider(row.slider, nullptr, row.defaultValue, row.registered.minimum, row.registered.maximum,
                  row.registered.step, "", "", "", row.name);
}

void TParvexEffect::RegisterTables() {
    for (int32_t i = 0; i < int32_t(std::size(kImageFileNames)); ++i) SetFileName(i, kImageFileNames[i]);
    for (int32_t i = 0; i < int32_t(std::size(kLiterals)); ++i) SetString(kFirstLiteralId + i, kLiterals[i]);
}
