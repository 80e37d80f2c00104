// Every seed and every input that once broke a fuzz target, replayed through the same target function:
// fuzz/corpus/<target>/ and fuzz/regressions/<target>/.
#include "fuzz/targets.h"
#include "runtime/parvex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> InputsOf(const std::string& target) {
    std::vector<fs::path> inputs;
    for (const char* folder : {"corpus", "regressions"}) {
        const fs::path dir = fs::path(VANDREL_FUZZ_DIR) / folder / target;
        if (!fs::is_directory(dir)) continue;
        for (const auto& entry : fs::directory_iterator(dir))
            if (entry.is_regular_file()) inputs.push_back(entry.path());
    }
    std::sort(inputs.begin(), inputs.end());
    return inputs;
}

std::vector<uint8_t> Bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class FuzzReplay : public ::testing::TestWithParam<fuzz::Target> {};

TEST_P(FuzzReplay, EveryKeptInputPasses) {
    const fuzz::Target target = GetParam();
    const std::vector<fs::path> inputs = InputsOf(target.name);
    ASSERT_FALSE(inputs.empty()) << "no seed corpus for " << target.name;
    // Each input in a child process of its own, so that one that aborts names itself and spares the rest.
    for (const fs::path& path : inputs) {
        const std::vector<uint8_t> bytes = Bytes(path);
        EXPECT_EXIT(std::exit(target.run(bytes.data(), bytes.size())), ::testing::ExitedWithCode(0), "")
            << path.string();
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay, ::testing::ValuesIn(fuzz::kTargets),
                         [](const auto& info) { return std::string(info.param.name); });

// Found by the format target: a width or precision in the billions made the C library allocate gigabytes
// and spend seconds filling them. Such numbers are bounded now, and the 511 characters kept are the same.
TEST(FuzzFindings, HugeWidthsAndPrecisionsKeepTheirFirstCharacters) {
    TParvex runtime;
    auto format = [&](const std::string& text, double value) {
        runtime.SetString(1, text);
        runtime.FormatString(2, 1, value);
        return runtime.GetString(2);
    };
    EXPECT_EQ(format("%9999999999G", 1.5), std::string(511, ' '));
    EXPECT_EQ(format("%-9999999999d|", 42.0), "42" + std::string(509, ' '));
    EXPECT_EQ(format("%+09999999999d", 7.0), "+" + std::string(510, '0'));
    EXPECT_EQ(format("%.0159256569f", 1.0), "1." + std::string(509, '0'));
    EXPECT_EQ(format("%.99999999999999999999e", 2.0), "2." + std::string(509, '0'));
    EXPECT_EQ(format("%.3000g", 0.1), format("%.900g", 0.1));
    EXPECT_EQ(format("%.012f", 0.5), "0.500000000000");
}

} // namespace
