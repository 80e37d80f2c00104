// Every seed and every input that once broke a fuzz target, replayed through the same target function:
// fuzz/corpus/<target>/ and fuzz/regressions/<target>/.
#include "fuzz/targets.h"

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

} // namespace
