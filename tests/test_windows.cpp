// The Windows build (build-win/, cmake/mingw-w64.cmake) under Wine: the Windows test host loads
// vandrel2.dll with LoadLibrary and must hear, read and see what a Linux host gets from vandrel2.so. The
// descriptions and the output of the bundled programme must agree bit for bit; the panel drawn with GDI+
// must match the Cairo panel region by region; a drag with the mouse must move a slider.
#include "render/audio_file.h"
#include "testkit/host_habits.h"
#include "testkit/panel.h"
#include "tests/windows/probe.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path kWindowsBuild = VANDREL_WINDOWS_BUILD_DIR;

// A folder of its own for each test, removed afterwards.
struct Scratch {
    fs::path path =
        fs::temp_directory_path() /
        ("vandrel-wine-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    Scratch() {
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~Scratch() { fs::remove_all(path); }
};

// Runs the Windows test host under Wine, in the run's prefix, without Wine's debug log; the exit code.
int RunWindowsHost(const std::vector<std::string>& arguments) {
    std::string command = "WINEPREFIX='" VANDREL_WINE_PREFIX "' WINEDEBUG=-all '" VANDREL_WINE64 "' '" +
                          (kWindowsBuild / "vandrel2-winhost.exe").string() + "'";
    for (const std::string& argument : arguments) command += " '" + argument + "'";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A Linux path as the Windows host sees it (Wine maps the root to drive Z:).
std::string WindowsPath(const fs::path& path) {
    std::string text = "Z:" + fs::absolute(path).string();
    for (char& c : text)
        if (c == '/') c = '\\';
    return text;
}

std::vector<std::string> Lines(const fs::path& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<char> Bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

TEST(Windows, TheDllTellsAHostWhatTheLinuxModuleTells) {
    Scratch scratch;
    ASSERT_EQ(RunWindowsHost({"describe", WindowsPath(kWindowsBuild / "vandrel2.dll"),
                              WindowsPath(scratch.path / "windows.txt")}),
              0);
    const std::vector<std::string> windows = Lines(scratch.path / "windows.txt");
    const std::vector<std::string> linux = probe::Describe(VANDREL_PLUGIN_PATH);
    ASSERT_EQ(windows.size(), linux.size());
    for (size_t i = 0; i < linux.size(); ++i) {
        EXPECT_EQ(windows[i], linux[i]) << "line " << i + 1;
        EXPECT_EQ(linux[i].find("FAILED"), std::string::npos) << linux[i];
    }
    EXPECT_EQ(linux.at(1), "id QMV7 inputs 2 outputs 2 parameters 14 programs 1 flags 4145 latency 5037");
}

TEST(Windows, TheBundledProgrammeComesOutBitForBitAsOnLinux) {
    Scratch scratch;
    // Decoded here: the Windows host reads raw interleaved 32-bit floats.
    render::AudioReader reader(fs::path(VANDREL_SOURCE_DIR) / "examples" / "interview.flac");
    ASSERT_EQ(reader.channels(), 2);
    std::vector<float> samples;
    std::vector<float> chunk(2 * 16384);
    while (const int64_t frames = reader.read(chunk.data(), 16384))
        samples.insert(samples.end(), chunk.begin(), chunk.begin() + 2 * frames);
    const fs::path input = scratch.path / "interview.f32";
    std::ofstream(input, std::ios::binary)
        .write(reinterpret_cast<const char*>(samples.data()),
               std::streamsize(samples.size() * sizeof(float)));
    const std::string rate = std::to_string(reader.sampleRate());

    ASSERT_EQ(RunWindowsHost({"programme", WindowsPath(kWindowsBuild / "vandrel2.dll"), WindowsPath(input),
                              rate, WindowsPath(scratch.path / "windows.f32"),
                              WindowsPath(scratch.path / "windows.f64")}),
              0);
    ASSERT_TRUE(probe::ProcessProgramme(VANDREL_PLUGIN_PATH, input, reader.sampleRate(),
                                        scratch.path / "linux.f32", scratch.path / "linux.f64"));
    for (const char* width : {"f32", "f64"}) {
        const std::vector<char> windows = Bytes(scratch.path / (std::string("windows.") + width));
        const std::vector<char> linux = Bytes(scratch.path / (std::string("linux.") + width));
        ASSERT_EQ(linux.size(), samples.size() * (width[1] == '3' ? 4 : 8)) << width;
        ASSERT_EQ(windows.size(), linux.size()) << width;
        const auto mismatch = std::mismatch(windows.begin(), windows.end(), linux.begin());
        EXPECT_TRUE(mismatch.first == windows.end())
            << width << ": first different byte at " << (mismatch.first - windows.begin()) << " of "
            << windows.size();
    }
}

// Real hosts' habits (sliced blocks, suspend and resume, odd sample rates) give the DLL's host the lines
// that the Linux module gives, each check passed.
TEST(Windows, TheDllGoesThroughTheHostHabitsAsTheLinuxModuleDoes) {
    Scratch scratch;
    ASSERT_EQ(RunWindowsHost({"habits", WindowsPath(kWindowsBuild / "vandrel2.dll"),
                              WindowsPath(scratch.path / "habits.txt")}),
              0);
    const std::vector<std::string> linux = habits::All(habits::VstFactory(VANDREL_PLUGIN_PATH));
    EXPECT_EQ(Lines(scratch.path / "habits.txt"), linux);
    for (const std::string& line : linux) EXPECT_TRUE(line.ends_with(" ok")) << line;
}

TEST(WindowsEditor, ThePanelUnderWineLooksLikeTheHeadlessPanelAndTakesADrag) {
    Scratch scratch;
    const fs::path pixelsPath = scratch.path / "panel.rgba";
    ASSERT_EQ(RunWindowsHost({"editor", WindowsPath(kWindowsBuild / "vandrel2.dll"), WindowsPath(pixelsPath),
                              WindowsPath(scratch.path / "editor.txt")}),
              0);
    const std::vector<std::string> report = Lines(scratch.path / "editor.txt");
    const std::vector<std::string> expected = {
        "editor window 450 x 620",
        "opened target '-23.00' captured no",
        "pressed target '-11.50' captured yes",
        "dragged-out target '0.00' captured yes",
        "released target '-34.50' captured no",
        "target parameter 0.250000",
        "automatic trim parameter 0.000000",
        "after close window gone",
    };
    EXPECT_EQ(report, expected);

    const std::vector<char> pixels = Bytes(pixelsPath);
    ASSERT_EQ(pixels.size(), size_t(450 * 620 * 4));
    if (const char* keep = std::getenv("VANDREL_KEEP_WINE_PANEL"))
        fs::copy_file(pixelsPath, keep, fs::copy_options::overwrite_existing);
    const Screenshot headless = HeadlessPanel();
    // GDI+ and Cairo smooth edges and shape text differently: compare 15 x 20 regions by their mean colour,
    // and count the pixels that are nearly the same.
    auto channel = [&](int x, int y, int c) {
        return static_cast<unsigned char>(pixels[size_t(4 * (y * 450 + x) + c)]);
    };
    int near = 0;
    for (int y = 0; y < 620; ++y)
        for (int x = 0; x < 450; ++x) {
            const VSTGUI::CColor h = headless.at(x, y);
            near += std::abs(channel(x, y, 0) - h.red) <= 8 && std::abs(channel(x, y, 1) - h.green) <= 8 &&
                    std::abs(channel(x, y, 2) - h.blue) <= 8;
        }
    EXPECT_GT(near, 450 * 620 * 95 / 100) << "pixels within 8 levels of the headless panel";
    for (int top = 0; top < 620; top += 20)
        for (int left = 0; left < 450; left += 15) {
            double difference[3] = {};
            for (int y = top; y < top + 20; ++y)
                for (int x = left; x < left + 15; ++x) {
                    const VSTGUI::CColor h = headless.at(x, y);
                    difference[0] += channel(x, y, 0) - h.red;
                    difference[1] += channel(x, y, 1) - h.green;
                    difference[2] += channel(x, y, 2) - h.blue;
                }
            for (const double d : difference)
                EXPECT_LT(std::abs(d) / 300, 12.0) << "region at " << left << "," << top;
        }
}
