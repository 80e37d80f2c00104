// Parameters in their own units, as the host library finds and sets them through display texts.
#include "hosting/parameters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

namespace {

TEST(DisplayNumber, ReadsTheLeadingNumberAndItsDecimals) {
    auto parsed = [](const std::string& text) { return hosting::parseDisplayNumber(text); };
    EXPECT_EQ(parsed("-16.00")->value, -16.0);
    EXPECT_EQ(parsed("-16.00")->decimals, 2);
    EXPECT_EQ(parsed(" 220 Hz")->value, 220.0);
    EXPECT_EQ(parsed(" 220 Hz")->decimals, 0);
    EXPECT_EQ(parsed("+3.5dB")->value, 3.5);
    EXPECT_EQ(parsed("+3.5dB")->decimals, 1);
    EXPECT_EQ(parsed("0.000000")->decimals, 6);
    EXPECT_EQ(parsed("1e3")->value, 1000.0);
    EXPECT_EQ(parsed("-inf")->value, -INFINITY);
    EXPECT_FALSE(parsed("On"));
    EXPECT_FALSE(parsed(""));
    EXPECT_FALSE(parsed("nan"));
    EXPECT_FALSE(parsed("0x10"));
    EXPECT_FALSE(parsed("-"));
}

class ParameterValues : public ::testing::Test {
protected:
    hosting::Plugin plugin{std::filesystem::path(VANDREL_FIXTURE_DIR) / "fixture_delay.so"};

    std::string error(const std::string& key, const std::string& value) {
        try {
            hosting::setParameterValue(plugin, hosting::findParameter(plugin, key), value);
        } catch (const hosting::ParameterError& failure) {
            return failure.what();
        }
        return "";
    }
};

TEST_F(ParameterValues, FoundByNamePrefixOrNumber) {
    EXPECT_EQ(hosting::findParameter(plugin, "Gain"), 0);
    EXPECT_EQ(hosting::findParameter(plugin, " delay "), 1);
    EXPECT_EQ(hosting::findParameter(plugin, "pol"), 2);
    EXPECT_EQ(hosting::findParameter(plugin, "3"), 2);
    EXPECT_THROW(hosting::findParameter(plugin, "0"), hosting::ParameterError);
    EXPECT_THROW(hosting::findParameter(plugin, "4"), hosting::ParameterError);
    EXPECT_THROW(hosting::findParameter(plugin, "Volume"), hosting::ParameterError);
    EXPECT_THROW(hosting::findParameter(plugin, ""), hosting::ParameterError);
}

TEST_F(ParameterValues, NumbersAreReachedExactlyAsTheDisplayShowsThem) {
    EXPECT_EQ(hosting::setParameterValue(plugin, 0, "-7.25"), "-7.25");
    EXPECT_EQ(plugin.parameterDisplay(0), "-7.25");
    EXPECT_EQ(hosting::setParameterValue(plugin, 0, "-24"), "-24.00");
    EXPECT_EQ(hosting::setParameterValue(plugin, 0, "24 dB"), "24.00");
    EXPECT_EQ(hosting::setParameterValue(plugin, 0, "0"), "0.00");
    EXPECT_EQ(hosting::setParameterValue(plugin, 1, "100"), "100");
    EXPECT_EQ(hosting::setParameterValue(plugin, 1, "4800"), "4800");
    EXPECT_EQ(hosting::setParameterValue(plugin, 1, "1"), "1");
    EXPECT_EQ(hosting::setParameterValue(plugin, 2, "inverted"), "Inverted");
    EXPECT_EQ(hosting::setParameterValue(plugin, 2, "Normal"), "Normal");
}

TEST_F(ParameterValues, UnreachableValuesFailAndChangeNothing) {
    hosting::setParameterValue(plugin, 0, "-3");
    const float before = plugin.parameter(0);
    EXPECT_EQ(error("Gain", "24.01"), "parameter 'Gain': 24.01 is outside its range -24.00 to 24.00 dB");
    EXPECT_EQ(error("Gain", "loud"), "parameter 'Gain': 'loud' is not a value it takes (it shows '-24.00', "
                                     "'-23.95', '-23.90', '-23.86', '-23.81', '-23.76')");
    // A number only counts with the parameter's own unit.
    EXPECT_NE(error("Gain", "-3 LUFS").find("'-3 LUFS' is not a value it takes"), std::string::npos);
    EXPECT_EQ(plugin.parameter(0), before);
    EXPECT_EQ(error("Polarity", "1"), "parameter 'Polarity': '1' is not a value it takes (it shows 'Normal', "
                                      "'Inverted')");
    EXPECT_EQ(error("Delay", "-1"), "parameter 'Delay': -1 is outside its range 0 to 4800 samples");
    EXPECT_EQ(plugin.parameterDisplay(2), "Normal");
}

} // namespace
