// The loudness leveler: input trim, a peak-driven gate, loudness weighting and three look-ahead gain
// stages that ride the programme toward a target loudness.
#pragma once

#include "runtime/parvex.h"

class TParvexEffect : public TParvex {
public:
    TParvexEffect();

    void DoReset() override;
};
