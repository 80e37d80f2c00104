// The wrapper and its callback table around a small effect whose sections count their calls, with a host
// callback that records what it is asked.
#include "runtime/parvex.h"
#include "shell/callbacks.h"
#include "shell/instance.h"
#include "shell/vest.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

class ProbeEffect : public TParvex {
public:
    explicit ProbeEffect(int* closeOrder = nullptr) : closeOrder_(closeOrder) {
        EffectName = "Probe";
        ProgramName = "First";
        ChannelCount = 2;
        UniqueId = 0x50524F42;
        AddSlider(1, &bound, 0, -20, 20, 0.5, "", "", "dB", "Trim");
        AddSlider(2, nullptr, -23, -46, 0, 1, "", "", "", "Target");
        AddSlider(7, nullptr, 0, 0, 1, 1, "", "", "", "Switch");
        AddSlider(9, nullptr, 0, 0, 0, 0, "", "", "", "Empty");
    }
    ~ProbeEffect() override {
        if (closeOrder_) *closeOrder_ = closed ? 2 : 1;
    }
    void DoSlider() override { ++sliders; }
    void DoBlock() override { ++blocks; }
    void DoSample() override {
        ++samples;
        order.push_back(SampleSlots[0]);
    }
    void DoClose() override { closed = true; }

    SharedDouble bound;
    int sliders = 0, blocks = 0, samples = 0;
    bool closed = false;
    std::vector<double> order;

private:
    int* closeOrder_;
};

struct HostRecord {
    intptr_t version = 2400;
    int wantMidi = 0, updateDisplay = 0, getTime = 0;
    int32_t lastFilter = 0;
    bool serveTime = false;
    vst2::VstTimeInfo time{};
};
HostRecord* gHost = nullptr;

intptr_t RecordingHost(vst2::AEffect*, int32_t opcode, int32_t, intptr_t value, void*, float) {
    switch (opcode) {
    case vst2::audioMasterVersion:
        return gHost->version;
    case vst2::audioMasterWantMidi:
        ++gHost->wantMidi;
        return 1;
    case vst2::audioMasterUpdateDisplay:
        ++gHost->updateDisplay;
        return 1;
    case vst2::audioMasterGetTime:
        ++gHost->getTime;
        gHost->lastFilter = static_cast<int32_t>(value);
        return gHost->serveTime ? reinterpret_cast<intptr_t>(&gHost->time) : 0;
    default:
        return 0;
    }
}

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        gHost = &host;
        effect = new ProbeEffect(&closeOrder);
        wrapper = WireInstance(effect, RecordingHost);
        ASSERT_NE(wrapper, nullptr);
        record = wrapper->getAeffect();
    }
    void TearDown() override {
        if (record) record->dispatcher(record, vst2::effClose, 0, 0, nullptr, 0);
        gHost = nullptr;
    }
    intptr_t Dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                      float opt = 0) {
        return record->dispatcher(record, opcode, index, value, ptr, opt);
    }
    std::string Display(int32_t index) {
        char text[64] = {};
        Dispatch(vst2::effGetParamDisplay, index, 0, text);
        return text;
    }

    HostRecord host;
    ProbeEffect* effect = nullptr;
    CVeST* wrapper = nullptr;
    vst2::AEffect* record = nullptr;
    int closeOrder = 0;
};

} // namespace

TEST_F(ShellTest, RecordIsFilledFromTheEffect) {
    EXPECT_EQ(record->magic, vst2::kEffectMagic);
    EXPECT_EQ(record->numInputs, 2);
    EXPECT_EQ(record->numOutputs, 2);
    EXPECT_EQ(record->numParams, 4);
    EXPECT_EQ(record->numPrograms, 1);
    EXPECT_EQ(record->uniqueID, 0x50524F42);
    EXPECT_EQ(record->version, 1);
    EXPECT_FLOAT_EQ(record->ioRatio, 1.0f);
    EXPECT_EQ(record->object, wrapper);
    EXPECT_EQ(record->initialDelay, 0);
    EXPECT_EQ(record->flags & ~vst2::effFlagsHasEditor,
              vst2::effFlagsCanReplacing | vst2::effFlagsProgramChunks | vst2::effFlagsCanDoubleReplacing);
}

TEST(ShellCreation, HostWithoutVersionGetsNoWrapper) {
    HostRecord refusing;
    refusing.version = 0;
    gHost = &refusing;
    ProbeEffect effect;
    EXPECT_EQ(CVeST::Create(&effect, MakeVeSTCallbacks(), RecordingHost, 1, 4), nullptr);
    gHost = nullptr;
}

TEST_F(ShellTest, CloseRunsDoCloseBeforeTheEffectIsDestroyed) {
    EXPECT_EQ(Dispatch(vst2::effClose), 1);
    record = nullptr;
    EXPECT_EQ(closeOrder, 2);
}

TEST_F(ShellTest, ParametersStepFromZeroAndIgnoreTinyChanges) {
    struct Case {
        float normalised;
        double value;
    };
    for (const Case c : {Case{0.5f, 0}, Case{0.51f, 0.5}, Case{0.125f, -15}, Case{0.0625f, -17.5},
                         Case{0.0f, -20}, Case{1.0f, 20}}) {
        record->setParameter(record, 0, c.normalised);
        EXPECT_DOUBLE_EQ(effect->SliderValues[1], c.value) << c.normalised;
        EXPECT_DOUBLE_EQ(effect->bound, c.value);
    }
    record->setParameter(record, 1, 0.5f);
    EXPECT_EQ(effect->SliderValues[2], -23);
    EXPECT_FLOAT_EQ(record->getParameter(record, 1), 0.5f);

    const int before = effect->sliders;
    record->setParameter(record, 1, 0.25f);
    record->setParameter(record, 1, 0.25f);
    EXPECT_EQ(effect->sliders, before + 1);
}

TEST_F(ShellTest, BadParameterCallsChangeNothing) {
    const int before = effect->sliders;
    record->setParameter(record, 1, std::nanf(""));
    record->setParameter(record, 1, INFINITY);
    record->setParameter(record, 99, 0.5f);
    record->setParameter(record, -1, 0.5f);
    EXPECT_EQ(effect->sliders, before);
    EXPECT_EQ(effect->SliderValues[2], -23);
    EXPECT_EQ(record->getParameter(record, 99), 0.0f);
    char untouched[8] = "keep";
    Dispatch(vst2::effGetParamName, 99, 0, untouched);
    Dispatch(vst2::effGetParamDisplay, -3, 0, untouched);
    EXPECT_STREQ(untouched, "keep");
    // Step 0 and an empty range neither divide by zero nor produce NaN.
    record->setParameter(record, 3, 0.7f);
    EXPECT_EQ(effect->SliderValues[9], 0);
    EXPECT_EQ(record->getParameter(record, 3), 0.0f);
    EXPECT_EQ(Display(3), "0.00");
}

TEST_F(ShellTest, TextsAreNamesLabelsAndTwoDecimals) {
    char name[64] = {}, label[64] = {};
    Dispatch(vst2::effGetParamName, 0, 0, name);
    Dispatch(vst2::effGetParamLabel, 0, 0, label);
    EXPECT_STREQ(name, "Trim");
    EXPECT_STREQ(label, "dB");
    Dispatch(vst2::effGetParamLabel, 1, 0, label);
    EXPECT_STREQ(label, "");
    record->setParameter(record, 2, 1.0f);
    EXPECT_EQ(Display(2), "1.00");
    EXPECT_EQ(Display(1), "-23.00");
}

TEST_F(ShellTest, ValueNamesAreChosenByTruncation) {
    TSlider& slider = effect->Sliders[2];
    slider.valueNames = {"low", "mid", "high"};
    for (auto [value, expected] : {std::pair{0.0, "low"},
                                   {0.49, "low"},
                                   {0.5, "mid"},
                                   {0.99, "mid"},
                                   {1.0, "high"},
                                   {-5.0, "low"},
                                   {7.0, "high"},
                                   {1e12, "low"}}) {
        effect->SliderValues[7] = value;
        EXPECT_EQ(Display(2), expected) << value;
    }
}

TEST_F(ShellTest, ProgramNameIsReplacedWholeAndBounded) {
    char name[64] = {};
    Dispatch(vst2::effGetProgramName, 0, 0, name);
    EXPECT_STREQ(name, "First");
    char longName[] = "A program name far longer than twenty-four bytes";
    Dispatch(vst2::effSetProgramName, 0, 0, longName);
    std::memset(name, 'x', sizeof name);
    Dispatch(vst2::effGetProgramName, 0, 0, name);
    EXPECT_EQ(std::strlen(name), vst2::kVstMaxProgNameLen - 1);
    char shortName[] = "Mix";
    Dispatch(vst2::effSetProgramName, 0, 0, shortName);
    Dispatch(vst2::effGetProgramName, 0, 0, name);
    EXPECT_STREQ(name, "Mix");
    char indexed[16] = "same";
    EXPECT_EQ(Dispatch(vst2::effGetProgramNameIndexed, 0, 0, indexed), 0);
    EXPECT_STREQ(indexed, "same");
}

// The block section runs once every announced block length of frames, counted from the resume across the
// host's calls, before the first frame of each block: a call may begin or end inside a block, and a call of
// no frames runs nothing.
TEST_F(ShellTest, BlockSectionRunsOncePerAnnouncedBlockWhereverCallsEndAndSamplesRunInOrder) {
    Dispatch(vst2::effSetBlockSize, 0, 512);
    Dispatch(vst2::effMainsChanged, 0, 1);
    std::vector<float> left(600), right(600), outLeft(600), outRight(600);
    for (int i = 0; i < 600; ++i) {
        left[i] = float(i) * 0.001f - 0.2f;
        right[i] = -left[i] * 0.37f;
    }
    float* in[] = {left.data(), right.data()};
    float* out[] = {outLeft.data(), outRight.data()};
    auto process = [&](int32_t frames) {
        record->processReplacing(record, in, out, frames);
        return std::pair{effect->blocks, effect->samples};
    };
    EXPECT_EQ(process(0), std::pair(0, 0));
    EXPECT_EQ(process(-5), std::pair(0, 0));
    EXPECT_EQ(process(512), std::pair(1, 512));
    EXPECT_TRUE(std::equal(left.begin(), left.begin() + 512, outLeft.begin()));
    EXPECT_TRUE(std::equal(right.begin(), right.begin() + 512, outRight.begin()));
    for (int i = 0; i < 512; ++i) EXPECT_EQ(effect->order[i], double(left[i]));
    // One block in three calls, then a call across the next block's end.
    EXPECT_EQ(process(1), std::pair(2, 513));
    EXPECT_EQ(process(0), std::pair(2, 513));
    EXPECT_EQ(process(511), std::pair(2, 1024));
    EXPECT_EQ(process(600), std::pair(4, 1624));
    EXPECT_EQ(effect->order[1024 + 511], double(left[511]));
    EXPECT_EQ(effect->order[1024 + 512], double(left[512]));
    // A resume starts a block afresh, and the block length it finds.
    Dispatch(vst2::effMainsChanged, 0, 0);
    Dispatch(vst2::effSetBlockSize, 0, 64);
    Dispatch(vst2::effMainsChanged, 0, 1);
    EXPECT_EQ(process(1), std::pair(5, 1625));
    EXPECT_EQ(process(127), std::pair(6, 1752));
    left.resize(512);
    right.resize(512);

    std::vector<float> inPlaceLeft = left, inPlaceRight = right;
    float* same[] = {inPlaceLeft.data(), inPlaceRight.data()};
    record->processReplacing(record, same, same, 512);
    EXPECT_EQ(inPlaceLeft, left);
    EXPECT_EQ(inPlaceRight, right);

    std::vector<double> dLeft(left.begin(), left.end()), dRight(right.begin(), right.end());
    std::vector<double> dOutLeft(512), dOutRight(512);
    double* dIn[] = {dLeft.data(), dRight.data()};
    double* dOut[] = {dOutLeft.data(), dOutRight.data()};
    record->processDoubleReplacing(record, dIn, dOut, 512);
    EXPECT_EQ(dOutLeft, dLeft);
    EXPECT_EQ(dOutRight, dRight);
}

TEST_F(ShellTest, ResumeRunsInitAndSliderAndNeverAsksForMidi) {
    const int before = effect->sliders;
    Dispatch(vst2::effMainsChanged, 0, 1);
    EXPECT_EQ(effect->sliders, before + 1);
    EXPECT_EQ(host.wantMidi, 0);
    char midi[] = "receiveVstMidiEvent";
    EXPECT_GT(Dispatch(vst2::effCanDo, 0, 0, midi), 1);
}

TEST_F(ShellTest, MouseEntriesTranslateButtonsAndRaiseTheFrameRate) {
    const VeSTCallbacks& table = wrapper->Callbacks();
    table.MouseDown(wrapper, 10, 20, 2 + 16);
    EXPECT_EQ(effect->MouseButtons, 9);
    EXPECT_EQ(effect->MouseX, 10);
    EXPECT_EQ(effect->MouseY, 20);
    EXPECT_EQ(effect->FrameRate, 30);
    table.MouseDown(wrapper, 0, 0, 4);
    EXPECT_EQ(effect->MouseButtons, 64);
    table.MouseDown(wrapper, 0, 0, 2 + 4 + 8 + 16 + 32 + 64 + 256 + 1024);
    EXPECT_EQ(effect->MouseButtons, 95);
    table.MouseMove(wrapper, 5, 6, 0);
    EXPECT_EQ(effect->MouseButtons, 95);
    EXPECT_EQ(effect->MouseX, 5);
    effect->FrameRate = 60;
    table.MouseUp(wrapper, 7, 8, 2);
    EXPECT_EQ(effect->MouseButtons, 0);
    EXPECT_EQ(effect->FrameRate, 60);
    EXPECT_EQ(table.KeyDown, nullptr);
    EXPECT_EQ(table.KeyUp, nullptr);
}

TEST_F(ShellTest, HostQueriesReadTheWrapperAndTheHostsTime) {
    EXPECT_EQ(HostSampleRate(wrapper), 44100);
    EXPECT_EQ(HostBlockSize(wrapper), 1024);
    Dispatch(vst2::effSetSampleRate, 0, 0, nullptr, 48000.0f);
    Dispatch(vst2::effSetBlockSize, 0, 256);
    EXPECT_EQ(HostSampleRate(wrapper), 48000);
    EXPECT_EQ(HostBlockSize(wrapper), 256);
    EXPECT_EQ(HostInputCount(wrapper), 2);

    EXPECT_EQ(HostTempo(wrapper), 0);
    double tempo = -1, numerator = -1, denominator = -1;
    EXPECT_EQ(HostTempoAndSignature(wrapper, &tempo, &numerator, &denominator), 0);
    EXPECT_EQ(tempo, -1);

    host.serveTime = true;
    host.time.tempo = 128;
    host.time.ppqPos = 17.5;
    host.time.timeSigNumerator = 7;
    host.time.timeSigDenominator = 8;
    host.time.flags = vst2::kVstTransportPlaying;
    EXPECT_EQ(HostTempo(wrapper), 128);
    EXPECT_EQ(host.lastFilter, vst2::kVstTempoValid);
    EXPECT_EQ(HostTempoAndSignature(wrapper, &tempo, nullptr, nullptr), 1);
    EXPECT_EQ(host.lastFilter, vst2::kVstTempoValid | vst2::kVstTimeSigValid);
    EXPECT_EQ(tempo, 128);
    EXPECT_EQ(HostTempoAndSignature(wrapper, nullptr, &numerator, &denominator), 1);
    EXPECT_EQ(numerator, 7);
    EXPECT_EQ(denominator, 8);
    EXPECT_EQ(HostPosition(wrapper), 17.5);
    EXPECT_EQ(HostIsPlaying(wrapper), 1);
    EXPECT_EQ(HostIsRecording(wrapper), 0);

    EXPECT_TRUE(HostUpdateDisplay(wrapper));
    EXPECT_EQ(host.updateDisplay, 1);
    EXPECT_EQ(HostSetLatency(wrapper, 256), 1);
    EXPECT_EQ(record->initialDelay, 256);
    EXPECT_EQ(host.updateDisplay, 1) << "a latency report alone does not notify the host";
    EXPECT_EQ(HostSampleRate(nullptr), 0);
    EXPECT_EQ(HostSetLatency(nullptr, 5), 0);
}

TEST_F(ShellTest, ChunksGoThroughTheEffect) {
    void* data = nullptr;
    EXPECT_EQ(Dispatch(vst2::effGetChunk, 0, 0, &data), 0)
        << "an effect that serializes nothing has no chunk";
    const float chunk[] = {-1000.0f, 4.0f};
    EXPECT_EQ(Dispatch(vst2::effSetChunk, 1, sizeof chunk, const_cast<float*>(chunk)), 8);
}
