// The leveler panel's own variables: the frame's mouse snapshot, page and layout values, and the records
// and states of its twelve sliders and three toggles. The leveler keeps one of these and zeroes it with
// its other script variables on every reset.
#pragma once

#include "editor/panel_controls.h"

struct PanelState : TPanelInput {
    static constexpr int kMainSliders = 5;
    static constexpr int kConfigSliders = 7;
    static constexpr int kSliders = kMainSliders + kConfigSliders;
    static constexpr int kToggles = 3;

    SharedDouble SetupDone;
    SharedDouble ConfigPage;
    SharedDouble ConfigToggle; // the Config button's own value variable
    SharedDouble BaseY;
    SharedDouble MeterTop;
    SharedDouble BlinkCounter;

    // Main page first, then the configuration page, in panel order.
    TSliderRecord sliders[kSliders];
    TSliderState sliderStates[kSliders];
    // Automatic Trim, Config, Automatic Threshold.
    TToggleRecord toggles[kToggles];
    TToggleState toggleStates[kToggles];
    // Each slider's edit as the host hears of it: open from the frame that takes hold of the slider to the
    // frame that lets go, with the value last reported.
    struct TEdit {
        SharedDouble Open, Reported;
    };
    TEdit sliderEdits[kSliders];

    // Between a reset and the first DoSlider the leveler's slider copies are all 0; frames then show the
    // controls but write nothing back, so defaults or a restored state survive.
    SharedDouble SliderCopiesValid;
    void SliderCopiesRefreshed() { SliderCopiesValid = 1; }
};
