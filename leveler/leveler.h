// The loudness leveler: input trim, a peak-driven gate, loudness weighting and three look-ahead gain
// stages that ride the programme toward a target loudness.
#pragma once

#include "editor/leveler_panel.h"
#include "leveler/parameter_table.h"
#include "leveler/state.h"
#include "runtime/parvex.h"

#include <cstdint>

namespace leveler {

inline constexpr int32_t kSliderCopyCount = SliderNumberEnd();

// Every script variable of the leveler; all zero after a reset. Values written on one thread and read on
// another are Shared: the host's and the editor's threads run DoSlider, ApplySliders and DoInit (resume,
// first state restore), the audio thread DoBlock and DoSample, and the panel reads gains and loudness.
struct LevelerState {
    // Host values.
    HostValue sampleRate, inputCount, blockSize, tempo, timeSigNumerator, timeSigDenominator;

    // Set by DoInit, most of it from the sample rate.
    WeightingDesign weighting;
    Stage fast, medium, slow;
    LoudnessMeter inputMeter, outputMeter;
    DelayPages delayPages;
    SharedDouble peakReleaseCoef;
    SharedDouble latency, reportedLatency;
    SharedDouble gateOpenThreshold;
    SharedDouble started;
    SharedDouble BuildLabelId;

    // Slider variables, by slider number: mirrors of SliderValues that the panel shows and edits.
    SharedDouble sliderCopies[kSliderCopyCount];

    // Set by ApplySliders from the sliders.
    SharedDouble inputTrimGain, targetPower, targetLufs, floorAmplitude;
    SharedDouble gateClosedUpTo; // the peak up to which the gate counts as below floorAmplitude
    SharedDouble gateReleaseCoef, gateOneSecond;
    SharedDouble automaticTrim, automaticThreshold;
    SharedDouble outputTrimGain;
    SharedDouble hpfShape;
    // The design as the sliders last set it; the audio thread applies its own copy (InputHighPass).
    BiquadCoefficients hpfLeft, hpfRight;
    SharedDouble mediumCutDb, mediumBoostDb;
    SharedDouble slidersChanged;

    // Block bookkeeping.
    double lastNotifyTime = 0;
    double lastReportedLatency = 0;
    double playState = 0;
    double beatPosition = 0;
    double blocksPerSecond = 0, trimWindow = 0, compSmoothing = 0;
    double compFactor = 0, compTarget = 0;
    SharedDouble gatingRatio;
    double statBlockCount = 0, gatedBlockCount = 0, openBlockCount = 0, trimVote = 0;
    SharedDouble displayPower;
    double noiseOffset = 0;
    NoiseGenerator noise;

    // Per sample.
    int32_t phase = 0;
    bool halfRateTick = false, quarterRateTick = false;
    BiquadState highPass;
    InputHighPass highPassDesign;
    double peakNow = 0, peakEnvelope = 0;
    SharedDouble gateLevel;
    double gateOpen = 0, gateStep = 0;
    double outputGain = 0;
    double inputLoudnessPower = 0;
    double outputPowerLeft = 0, outputPowerRight = 0;
};

} // namespace leveler

class TParvexEffect : public TParvex, public leveler::LevelerState {
public:
    TParvexEffect();

    void DoReset() override;
    void DoInit() override;
    // Initialises for the host's rate and block length, then clears what the audio left behind.
    void DoResume() override;
    void DoSlider() override;
    void DoBlock() override;
    void DoSample() override;
    void DoSamples(double* left, double* right, int32_t frames) override;
    void DoSerialize() override;
    // The panel, drawn by the editor (editor/leveler_panel.cpp).
    void DoGraphics() override;

    // Recompute everything that follows from the sliders; the panel calls it after moving a slider.
    void ApplySliders();
    // After the block section moved "Input Trim [dB]" or "Noise Floor [dBfs]" itself.
    void ApplyInputTrim();
    void ApplyNoiseFloor();

    double fastGain() const { return fast.gain; }
    double medGain() const { return medium.gain; }
    double slowGain() const { return slow.gain; }

    // The panel's own variables, zeroed with the leveler's.
    PanelState panel;

    // The instruction sets the sample section is built for. Each gives the same bits; the newest one the
    // processor runs is taken when the plug-in loads.
    enum class InstructionSet : int32_t { kBaseline, kX86_64_V3, kX86_64_V4 };
    static bool Runs(InstructionSet set);
    static InstructionSet Newest();
    // From now on, every instance takes `set`, which the processor must run (for comparing them).
    static void Use(InstructionSet set);

private:
    void RegisterTables();
    void PrepareDelayPages(int64_t firstCell, int64_t endCell);
    void ClearSignalHistory();
    void RefreshHostValues();
    double TrimIndicator() const;
    void SetFloor(double trimDecibels, double floorDecibels);
    struct Run;
    void ProcessRuns(double* left, double* right, int32_t frames);
    void ProcessRunsBaseline(double* left, double* right, int32_t frames);
    void ProcessRunsV3(double* left, double* right, int32_t frames);
    void ProcessRunsV4(double* left, double* right, int32_t frames);
    void RunInput(const double* left, const double* right, Run& run);
    void RunStage(leveler::Stage& stage, const double* targets, const leveler::Stereo* weighted, Run& run);
    void RunOutput(double* left, double* right, Run& run);
    leveler::Stereo PassDelay(leveler::DelayLine& delay, leveler::Stereo frame);
    double& DelayCell(int64_t position);
};
