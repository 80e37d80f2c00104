#include "leveler/leveler.h"

#include <cmath>

// The saved state is slider entries 1 to 64, whether registered or not.
void TParvexEffect::DoSerialize() {
    TFile& state = StateHandle();
    for (double counter = 1; counter <= 64; counter += 1) {
        SharedDouble& entry = SliderValues[ToIndex(counter) % kSliderCount];
        double value = entry;
        FileVar(state, value);
        // A corrupt chunk must not carry NaN or infinity into the gains and filters.
        if (state.mode == TFile::kReading && std::isfinite(value)) entry = value;
    }
}
