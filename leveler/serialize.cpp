#include "leveler/leveler.h"

#include <cmath>

using namespace leveler;

// The saved state is slider entries 1 to 64, whether registered or not.
void TParvexEffect::DoSerialize() {
    TFile& state = StateHandle();
    for (double counter = 1; counter <= 64; counter += 1) {
        const int32_t number = ToIndex(counter) % kSliderCount;
        SharedDouble& entry = SliderValues[number];
        double value = entry;
        FileVar(state, value);
        if (state.mode != TFile::kReading) continue;
        // A damaged state must not carry NaN or infinity into the gains and filters, nor a setting that
        // neither the host nor the panel can make (a trim of 1e30 dB overflows the output).
        if (!std::isfinite(value)) continue;
        const int32_t index = ParameterIndexOfSlider(number);
        entry = index < 0 ? value : kParameters[index].Limited(value);
    }
}
