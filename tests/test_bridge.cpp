// The built plug-in module as a host sees it: description, the dispatcher's answers opcode by opcode,
// parameters, processing and instances.
#include "hosting/plugin.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

const std::filesystem::path kPlugin = VANDREL_PLUGIN_PATH;

struct ParameterRow {
    const char* name;
    const char* display;
};
constexpr ParameterRow kParameters[] = {
    {"Input Trim [dB]", "0.00"},         {"Target LUFS", "-23.00"},
    {"Noise Floor [dBfs]", "-40.00"},    {"Gate Speed", "500.00"},
    {"Automatic Trim", "1.00"},          {"HPF", "0.00"},
    {"Automatic Threshold", "1.00"},     {"Fast Dynamics Max Attenuation", "10.00"},
    {"Fast Dynamics Max Gain", "0.00"},  {"Med Dynamics Max Attenuation", "10.00"},
    {"Med Dynamics Max Gain", "10.00"},  {"Slow Dynamics Max Attenuation", "20.00"},
    {"Slow Dynamics Max Gain", "20.00"}, {"Output Trim [dB]", "0.00"},
};

std::unique_ptr<hosting::Plugin> Opened() {
    auto plugin = std::make_unique<hosting::Plugin>(kPlugin);
    plugin->open();
    return plugin;
}

} // namespace

TEST(Bridge, DescribesItselfAsVandrel) {
    auto plugin = Opened();
    EXPECT_EQ(plugin->effectName(), "Vandrel 2");
    EXPECT_EQ(plugin->vendorString(), "Quellory");
    EXPECT_EQ(plugin->productString(), "Vandrel2");
    EXPECT_EQ(plugin->vendorVersion(), 1000);
    EXPECT_EQ(plugin->uniqueId(), vst2::FourCC('Q', 'M', 'V', '7'));
    EXPECT_EQ(plugin->numInputs(), 2);
    EXPECT_EQ(plugin->numOutputs(), 2);
    EXPECT_EQ(plugin->effect()->numPrograms, 1);
    EXPECT_EQ(plugin->flags(), 0x1031);
    ASSERT_EQ(plugin->numParams(), 14);
    for (int32_t i = 0; i < 14; ++i) {
        EXPECT_EQ(plugin->parameterName(i), kParameters[i].name);
        EXPECT_EQ(plugin->parameterDisplay(i), kParameters[i].display) << kParameters[i].name;
        EXPECT_EQ(plugin->parameterLabel(i), "");
    }
}

TEST(Bridge, DispatcherAnswersLikeTheInterfaceSays) {
    auto plugin = Opened();
    EXPECT_EQ(plugin->dispatcher(vst2::effIdentify), vst2::FourCC('N', 'v', 'E', 'f'));
    EXPECT_EQ(plugin->dispatcher(vst2::effGetVstVersion), 2400);
    EXPECT_EQ(plugin->dispatcher(vst2::effGetCurrentMidiProgram), -1);
    EXPECT_EQ(plugin->dispatcher(vst2::effSetTotalSampleToProcess, 0, 512), 512);
    EXPECT_EQ(plugin->dispatcher(vst2::effCanBeAutomated, 3), 1);
    EXPECT_EQ(plugin->dispatcher(vst2::effProcessEvents), 1);
    EXPECT_EQ(plugin->dispatcher(vst2::effGetVendorVersion), 1000);
    EXPECT_EQ(plugin->dispatcher(vst2::effGetPlugCategory), 0);

    EXPECT_GT(plugin->dispatcher(vst2::effCanDo, 0, 0, const_cast<char*>("receiveVstMidiEvent")), 0);
    for (const char* text : {"receiveVstMidiEventX", "sendVstMidiEvent", "bypass", ""})
        EXPECT_EQ(plugin->dispatcher(vst2::effCanDo, 0, 0, const_cast<char*>(text)), -1) << text;

    plugin->dispatcher(vst2::effSetProgram, 0, 3);
    EXPECT_EQ(plugin->dispatcher(vst2::effGetProgram), 0);

    void* input = reinterpret_cast<void*>(0x1);
    void* output = reinterpret_cast<void*>(0x2);
    EXPECT_EQ(
        plugin->dispatcher(vst2::effGetSpeakerArrangement, 0, reinterpret_cast<intptr_t>(&input), &output),
        0);
    EXPECT_EQ(input, nullptr);
    EXPECT_EQ(output, nullptr);

    char name[64] = "untouched";
    EXPECT_EQ(plugin->dispatcher(vst2::effGetProgramNameIndexed, 0, 0, name), 0);
    EXPECT_STREQ(name, "untouched");
    EXPECT_EQ(plugin->dispatcher(vst2::effGetProgramName, 0, 0, name), 0);
    EXPECT_STREQ(name, "Vandrel2");

    for (int32_t opcode :
         {9,  16, 17, 18, 20, 21, 27, 28, 30, 31, 32, 33, 34, 36, 37, 38, 39, 40, 41, 42, 43, 44, 46,  50,
          52, 53, 54, 55, 56, 57, 62, 64, 65, 66, 67, 68, 70, 71, 72, 74, 75, 76, 77, 78, 79, 80, 200, -1})
        EXPECT_EQ(plugin->dispatcher(opcode), 0) << "opcode " << opcode;
    if (!plugin->hasEditor()) {
        for (int32_t opcode : {vst2::effEditGetRect, vst2::effEditOpen, vst2::effEditClose, vst2::effEditIdle,
                               vst2::effEditKeyDown, vst2::effEditKeyUp, vst2::effSetEditKnobMode})
            EXPECT_EQ(plugin->dispatcher(opcode), 0) << "opcode " << opcode;
    }
}

TEST(Bridge, ParametersQuantiseToTheirSteps) {
    auto plugin = Opened();
    plugin->setParameter(0, 0.51f);
    EXPECT_EQ(plugin->parameterDisplay(0), "0.50");
    plugin->setParameter(0, 0.0625f);
    EXPECT_EQ(plugin->parameterDisplay(0), "-17.50");
    plugin->setParameter(1, 0.5f);
    EXPECT_EQ(plugin->parameterDisplay(1), "-23.00");
    EXPECT_FLOAT_EQ(plugin->parameter(1), 0.5f);
    plugin->setParameter(5, 0.37f);
    EXPECT_EQ(plugin->parameterDisplay(5), "0.40");
    plugin->setParameter(13, 0.0f);
    EXPECT_EQ(plugin->parameterDisplay(13), "-3.00");
}

TEST(Bridge, RefusesAHostThatGivesNoVersion) {
    hosting::HostOptions options;
    options.versionAnswer = 0;
    EXPECT_THROW(hosting::Plugin(kPlugin, options), hosting::HostError);
}

TEST(Bridge, ProcessesBothWidthsInPlaceAndOutOfPlace) {
    for (bool inPlace : {false, true}) {
        auto plugin = Opened();
        plugin->setSampleRate(48000);
        plugin->setBlockSize(512);
        plugin->resume();
        std::vector<std::vector<float>> in(2, std::vector<float>(512)), out(2, std::vector<float>(512, 7.0f));
        std::vector<std::vector<double>> inD(2, std::vector<double>(512)),
            outD(2, std::vector<double>(512, 7.0));
        for (int block = 0; block < 40; ++block) {
            for (int i = 0; i < 512; ++i) {
                const double t = (block * 512 + i) / 48000.0;
                in[0][i] = float(0.3 * std::sin(2 * M_PI * 440 * t));
                in[1][i] = float(0.2 * std::sin(2 * M_PI * 660 * t));
                inD[0][i] = in[0][i];
                inD[1][i] = in[1][i];
            }
            plugin->processFloat(in, inPlace ? in : out);
            plugin->processDouble(inD, inPlace ? inD : outD);
            for (int c = 0; c < 2; ++c)
                for (int i = 0; i < 512; ++i) {
                    ASSERT_TRUE(std::isfinite(inPlace ? in[c][i] : out[c][i]));
                    ASSERT_TRUE(std::isfinite(inPlace ? inD[c][i] : outD[c][i]));
                }
        }
        std::vector<std::vector<float>> none(2, std::vector<float>(0));
        plugin->processFloat(none, none);
        plugin->suspend();
    }
}

TEST(Bridge, TwoInstancesAreIndependent) {
    auto a = Opened();
    auto b = Opened();
    EXPECT_NE(a->effect(), b->effect());
    a->setParameter(1, 1.0f);
    EXPECT_EQ(a->parameterDisplay(1), "0.00");
    EXPECT_EQ(b->parameterDisplay(1), "-23.00");
    a.reset();
    EXPECT_EQ(b->effectName(), "Vandrel 2");
}

TEST(Bridge, OpensAndClosesManyTimes) {
    for (int i = 0; i < 50; ++i) {
        auto plugin = Opened();
        plugin->setSampleRate(44100);
        plugin->resume();
        std::vector<std::vector<float>> audio(2, std::vector<float>(64, 0.25f));
        plugin->processFloat(audio, audio);
        plugin->suspend();
        plugin->close();
        EXPECT_TRUE(plugin->isClosed());
    }
}
