// The effect runtime on its own: value conversion, strings and formatting, memory, files, sliders,
// the redraw timer and the state chunk framing.
#include "runtime/parvex.h"
#include "testkit/manual_clock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>

namespace fs = std::filesystem;

namespace {

// A minimal effect whose sections count their calls and serialize a few sliders.
class CountingEffect : public TParvex {
public:
    int inits = 0, sliders = 0, serializes = 0;
    int serializedCount = 3;

    void DoInit() override { ++inits; }
    void DoSlider() override { ++sliders; }
    void DoSerialize() override {
        ++serializes;
        for (int i = 1; i <= serializedCount; ++i) FileVar(StateHandle(), SliderValues[i]);
    }
};

std::vector<float> Floats(const void* data, int32_t bytes) {
    std::vector<float> values(static_cast<size_t>(bytes) / 4);
    std::memcpy(values.data(), data, values.size() * 4);
    return values;
}

// An empty folder of the test's own, removed with everything in it when the test ends.
class FreshFolder {
public:
    explicit FreshFolder(const std::string& name)
        : path_(fs::temp_directory_path() / ("vandrel-runtime-" + name + "-" + std::to_string(getpid()))) {
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~FreshFolder() { fs::remove_all(path_); }
    FreshFolder(const FreshFolder&) = delete;
    FreshFolder& operator=(const FreshFolder&) = delete;

    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

} // namespace

TEST(ToIndex, NudgesAwayFromZeroThenTruncates) {
    EXPECT_EQ(ToIndex(2.99995), 3);
    EXPECT_EQ(ToIndex(2.5), 2);
    EXPECT_EQ(ToIndex(-1.99995), -2);
    EXPECT_EQ(ToIndex(-1.5), -1);
    EXPECT_EQ(ToIndex(7.99995), 8);
    EXPECT_EQ(ToIndex(8.00004), 8);
    EXPECT_EQ(ToIndex(0.0), 0);
}

TEST(ToIndex, SaturatesInsteadOfOverflowing) {
    EXPECT_EQ(ToIndex(1e300), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(ToIndex(-1e300), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(ToIndex(std::numeric_limits<double>::infinity()), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(ToIndex(std::nan("")), 0);
}

TEST(Strings, MissingIdsReadEmptyAndAreCreated) {
    TParvex effect;
    EXPECT_TRUE(effect.Strings.empty());
    EXPECT_EQ(effect.GetString(42), "");
    EXPECT_EQ(effect.Strings.count(42), 1u);
    EXPECT_EQ(&effect.GetString(7.99995), &effect.GetString(8.00004));
    EXPECT_EQ(effect.SetString(10003, "Arial"), 10003);
    EXPECT_EQ(effect.GetString(10003), "Arial");
}

class FormatStringTest : public ::testing::Test {
protected:
    std::string Format(const std::string& format, std::initializer_list<double> values) {
        effect.SetString(500, format);
        effect.FormatStringList(600, 500, values.begin(), values.size());
        return effect.GetString(600);
    }
    TParvex effect;
};

TEST_F(FormatStringTest, FloatConversionUsesWholeSpecification) {
    effect.SetString(10031, "%.1f");
    EXPECT_EQ(effect.FormatString(190001, 10031, 12.345), 190001);
    EXPECT_EQ(effect.GetString(190001), "12.3");
    EXPECT_EQ(Format("%+08.3e|%g|%G", {1234.5, 0.5, 1e-20}), "+1.234e+03|0.5|1E-20");
}

TEST_F(FormatStringTest, IntegerConversionsGoThroughToIndex) {
    EXPECT_EQ(Format("%d", {2.99995}), "3");
    EXPECT_EQ(Format("%d", {-1.5}), "-1");
    EXPECT_EQ(Format("%d", {2.5}), "2");
    EXPECT_EQ(Format("%x %X %o %c", {255, 255, 8, 65}), "ff FF 10 A");
}

TEST_F(FormatStringTest, StringConversionReadsTextById) {
    effect.SetString(10003, "Arial");
    EXPECT_EQ(Format("%s dB", {10003}), "Arial dB");
    EXPECT_EQ(Format("%s dB", {777}), " dB");
    EXPECT_EQ(effect.Strings.count(777), 1u);
}

TEST_F(FormatStringTest, UnknownLettersAreDroppedWithoutTakingAValue) {
    EXPECT_EQ(Format("%F%d", {5}), "5");
    EXPECT_EQ(Format("a%%yb%d", {4}), "ab4");
    EXPECT_EQ(Format("%n%p%d", {9}), "9");
}

TEST_F(FormatStringTest, UnfinishedSpecificationEndsTheText) {
    EXPECT_EQ(Format("level %5.", {1}), "level ");
    EXPECT_EQ(Format("100%", {}), "100");
}

TEST_F(FormatStringTest, DestinationMayBeTheFormatItself) {
    effect.SetString(500, "%.2f");
    effect.FormatString(500, 500, 1.5);
    EXPECT_EQ(effect.GetString(500), "1.50");
}

TEST_F(FormatStringTest, HostileFormatsNeverOverrunOrReadMissingArguments) {
    // Starred widths and positional arguments are dropped but use up their value; "%l" is an unknown letter.
    EXPECT_EQ(Format("%*d|%1$d|%ld|%d", {7, 8}), "||d|0");
    const std::string wide = Format("%600d", {1});
    EXPECT_EQ(wide.size(), CParvexStrings::kFormatResultLimit);
    std::string longText(2000, 'x');
    EXPECT_EQ(Format(longText, {}).size(), CParvexStrings::kFormatResultLimit);
    EXPECT_EQ(Format("%d %d %f", {1}), "1 0 0.000000");
}

TEST(Memory, PagesAreCreatedOnFirstTouch) {
    TParvex effect;
    effect.MemoryAt(65535) = 1;
    effect.MemoryAt(65536) = 2;
    EXPECT_EQ(effect.FindPage(0), &effect.MemoryAt(0));
    EXPECT_NE(effect.FindPage(0), effect.FindPage(65536));
    double* minusOne = &effect.MemoryAt(-1);
    EXPECT_EQ(minusOne, effect.FindPage(-65536) + 65535);
    EXPECT_EQ(&effect.MemoryAt(-65536), effect.FindPage(-1));
    EXPECT_EQ(effect.FindPage(10000000), nullptr);
    effect.MemoryAt(10000000);
    EXPECT_NE(effect.FindPage(10000000), nullptr);
    EXPECT_EQ(effect.MemoryAt(123456), 0.0);
}

TEST(Memory, ResetEmptiesMemoryAndStringsButKeepsFileNames) {
    TParvex effect;
    effect.MemoryAt(5) = 3;
    effect.SetString(1, "x");
    effect.SetFileName(0, "a.png");
    effect.DoReset();
    EXPECT_EQ(effect.FindPage(5), nullptr);
    EXPECT_EQ(effect.MemoryAt(5), 0.0);
    EXPECT_TRUE(effect.Strings.empty());
    EXPECT_EQ(effect.FileNames.at(0), "a.png");
}

TEST(Files, PluginFilePathDropsOneLeadingSeparatorAndUsesSlashes) {
    SetPluginFolder("/opt/vst/");
    EXPECT_EQ(CParvexFiles::PluginFilePath("vandrel_gfx\\bg.png"), "/opt/vst/vandrel_gfx/bg.png");
    EXPECT_EQ(CParvexFiles::PluginFilePath("\\vandrel_gfx\\bg.png"), "/opt/vst/vandrel_gfx/bg.png");
    EXPECT_EQ(CParvexFiles::PluginFilePath("//x"), "/opt/vst//x");
    EXPECT_EQ(CParvexFiles::PluginFilePath(""), "/opt/vst/");
}

TEST(Files, FlushWritesOneLowBytePerValue) {
    const FreshFolder folder("flush");
    SetPluginFolder(folder.path().string() + "/");
    TParvex effect;
    TFile file;
    file.name = "data.bin";
    file.mode = TFile::kWriting;
    for (double value : {1.4, 255.6, 256.2, -1.0, 65.0}) {
        double v = value;
        CParvexFiles::FileVar(file, v);
    }
    effect.CloseFile(file);
    std::ifstream in(folder.path() / "data.bin", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, std::string("\x01\xFF\x00\xFF\x41", 5));
    EXPECT_EQ(file.mode, TFile::kClosed);
    EXPECT_TRUE(file.values.empty());
}

TEST(Files, FileVarGrowsOnWriteAndStopsAtEndOnRead) {
    TFile file;
    file.mode = TFile::kWriting;
    file.values = {1, 2, 3};
    file.position = 5;
    double seven = 7;
    CParvexFiles::FileVar(file, seven);
    EXPECT_EQ(file.values, (std::vector<float>{1, 2, 3, 0, 0, 7}));
    EXPECT_EQ(file.position, 6);

    file.mode = TFile::kReading;
    double target = -5;
    CParvexFiles::FileVar(file, target);
    EXPECT_EQ(target, -5);
    file.position = 5;
    CParvexFiles::FileVar(file, target);
    EXPECT_EQ(target, 7);

    file.mode = TFile::kClosed;
    file.position = 0;
    CParvexFiles::FileVar(file, target);
    EXPECT_EQ(target, 7);
}

TEST(Files, StateHandleIsNeverWrittenToDisk) {
    const FreshFolder folder("state");
    SetPluginFolder(folder.path().string() + "/");
    {
        CountingEffect effect;
        void* data = nullptr;
        EXPECT_EQ(effect.GetStateChunk(&data, false), 16);
    }
    EXPECT_TRUE(fs::is_empty(folder.path()));
}

TEST(Files, LogAppendsOneLinePerMessage) {
    const FreshFolder folder("log");
    setenv("XDG_STATE_HOME", folder.path().c_str(), 1);
    CParvexFiles::WriteLog("Unable to load: /x/bg.png");
    CParvexFiles::WriteLog("second");
    std::ifstream in(LogFilePath());
    std::string first, second;
    std::getline(in, first);
    std::getline(in, second);
    EXPECT_EQ(first, "Unable to load: /x/bg.png");
    EXPECT_EQ(second, "second");
    EXPECT_EQ(fs::path(LogFilePath()).filename(), "zorvel.log.txt");
    unsetenv("XDG_STATE_HOME");
}

TEST(Sliders, RegistrationOrderIsParameterOrder) {
    TParvex effect;
    EXPECT_EQ(effect.AddSlider(1, nullptr, 5, 0, 10, 1, "", "", "", "a"), 0);
    EXPECT_EQ(effect.AddSlider(2, nullptr, -3, -5, 5, 1, "", "", "dB", "b"), 1);
    EXPECT_EQ(effect.AddSlider(20, nullptr, 0.25, 0, 1, 0.1, "", "", "", "c"), 2);
    EXPECT_EQ(effect.SliderValues[1], 5);
    EXPECT_EQ(effect.SliderValues[2], -3);
    EXPECT_EQ(effect.SliderValues[20], 0.25);
    EXPECT_EQ(effect.SliderValues[3], 0);
    EXPECT_TRUE(effect.Sliders[1].valueNames.empty());
    EXPECT_EQ(effect.Sliders[1].label, "dB");
}

TEST(Sliders, FolderSliderListsRegularFilesOnly) {
    const FreshFolder folder("folder");
    fs::create_directories(folder.path() / "data" / "sub");
    std::ofstream(folder.path() / "data" / "one.dat") << "1";
    std::ofstream(folder.path() / "data" / "two.dat") << "2";
    std::ofstream(folder.path() / "data" / ".hidden") << "3";
    SetPluginFolder(folder.path().string() + "/");
    TParvex effect;
    for (const char* path : {"data/", "data"}) {
        effect.AddSlider(9, nullptr, 0.75, 5, 6, 1, path, "", "", "files");
        const TSlider& slider = effect.Sliders.back();
        std::vector<std::string> names = slider.valueNames;
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"one.dat", "two.dat"})) << path;
        EXPECT_EQ(slider.minimum, 0);
        EXPECT_EQ(slider.maximum, 1);
        EXPECT_EQ(slider.step, 0.5);
        EXPECT_EQ(slider.defaultValue, 0);
        EXPECT_EQ(effect.SliderValues[9], 0.75);
    }
    effect.AddSlider(10, nullptr, 0, 0, 1, 1, "missing", "", "", "none");
    EXPECT_EQ(effect.Sliders.back().valueNames, std::vector<std::string>{"(No Data Files)"});
    EXPECT_EQ(effect.Sliders.back().maximum, 0);
}

TEST(Lifecycle, ResumeRunsInitThenSliderWithoutCountingInits) {
    CountingEffect effect;
    effect.DoResume();
    effect.DoResume();
    EXPECT_EQ(effect.inits, 2);
    EXPECT_EQ(effect.sliders, 2);
    EXPECT_EQ(effect.InitCount, 0);
}

TEST(Lifecycle, RedrawTimerHonoursTheFrameRate) {
    testkit::ManualClock clock;
    CountingEffect effect;
    effect.Clock = &clock;
    effect.DoIdle();
    EXPECT_EQ(effect.LastRedrawTick.load(), 0) << "no redraws at frame rate 0";
    effect.FrameRate = 30;
    effect.DoIdle();
    const int32_t first = effect.LastRedrawTick.load();
    EXPECT_EQ(first, clock.MillisecondTick());
    clock.Advance(0.033);
    effect.DoIdle();
    EXPECT_EQ(effect.LastRedrawTick.load(), first) << "33 ms is less than a frame at 30 per second";
    clock.Advance(0.001);
    effect.DoIdle();
    EXPECT_EQ(effect.LastRedrawTick.load() - first, 34);
}

TEST(StateChunk, StartsWithTheSentinelAndHoldsWhatSerializeWrote) {
    CountingEffect effect;
    effect.SliderValues[1] = 0.1;
    effect.SliderValues[2] = -23;
    void* data = nullptr;
    const int32_t bytes = effect.GetStateChunk(&data, false);
    ASSERT_EQ(bytes, 16);
    const auto* raw = static_cast<const unsigned char*>(data);
    EXPECT_EQ(std::vector<unsigned char>(raw, raw + 4), (std::vector<unsigned char>{0x00, 0x00, 0x7A, 0xC4}));
    EXPECT_EQ(Floats(data, bytes), (std::vector<float>{-1000.0f, 0.1f, -23.0f, 0.0f}));
}

TEST(StateChunk, NothingSerializedMeansNoChunk) {
    CountingEffect effect;
    effect.serializedCount = 0;
    void* data = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(effect.GetStateChunk(&data, false), 0);
    EXPECT_EQ(data, reinterpret_cast<void*>(0x1234));
}

TEST(StateChunk, RestoreRunsInitOnceThenSerializeAndSlider) {
    CountingEffect effect;
    const float chunk[] = {-1000.0f, 0.1f, 2.0f, 3.0f};
    for (int i = 0; i < 3; ++i) EXPECT_EQ(effect.SetStateChunk(chunk, sizeof chunk, false), 16);
    EXPECT_EQ(effect.inits, 1);
    EXPECT_EQ(effect.InitCount, 3);
    EXPECT_EQ(effect.serializes, 3);
    EXPECT_EQ(effect.sliders, 3);
    EXPECT_EQ(effect.SliderValues[1], static_cast<double>(0.1f));
    EXPECT_EQ(effect.StateHandle().mode, TFile::kReading);
}

TEST(StateChunk, RejectedAndShortChunksChangeNothing) {
    CountingEffect effect;
    effect.SliderValues[1] = 9;
    const float wrong[] = {-999.0f, 1.0f};
    EXPECT_EQ(effect.SetStateChunk(wrong, sizeof wrong, false), 8);
    const float notANumber[] = {std::nanf(""), 1.0f};
    EXPECT_EQ(effect.SetStateChunk(notANumber, sizeof notANumber, false), 8);
    EXPECT_EQ(effect.SetStateChunk(wrong, 3, false), 3);
    EXPECT_EQ(effect.SetStateChunk(nullptr, -8, false), -8);
    EXPECT_EQ(effect.inits + effect.serializes + effect.sliders, 0);
    EXPECT_EQ(effect.SliderValues[1], 9);
}

TEST(StateChunk, PartialChunksApplyWhatIsThere) {
    CountingEffect effect;
    effect.SliderValues[1] = 5;
    effect.SliderValues[2] = 6;
    unsigned char sixBytes[6] = {0x00, 0x00, 0x7A, 0xC4, 0x11, 0x22};
    EXPECT_EQ(effect.SetStateChunk(sixBytes, 6, false), 6);
    EXPECT_EQ(effect.sliders, 1);
    EXPECT_EQ(effect.SliderValues[1], 5);
    const float two[] = {-1000.0f, 8.0f};
    effect.SetStateChunk(two, sizeof two, false);
    EXPECT_EQ(effect.SliderValues[1], 8);
    EXPECT_EQ(effect.SliderValues[2], 6);
}

TEST(StateChunk, RestoringTheLentStorageItselfWorks) {
    CountingEffect effect;
    effect.SliderValues[1] = 4;
    effect.SliderValues[2] = 5;
    void* data = nullptr;
    const int32_t bytes = effect.GetStateChunk(&data, false);
    effect.SliderValues[1] = 0;
    effect.SliderValues[2] = 0;
    EXPECT_EQ(effect.SetStateChunk(data, bytes, false), bytes);
    EXPECT_EQ(effect.SliderValues[1], 4);
    EXPECT_EQ(effect.SliderValues[2], 5);
}

TEST(Fft, SizesSelectTheBlockAndNeverCrossAPage) {
    TParvex effect;
    for (int i = 0; i < 200; ++i) effect.MemoryAt(i) = (i % 2) ? 0 : 1; // 100 complex ones
    effect.Fft(0, 100, 0);                                              // 64 points: DC bin holds 64
    effect.Fft(0, 64, 4);
    EXPECT_NEAR(effect.MemoryAt(0), 64, 1e-12);
    EXPECT_NEAR(effect.MemoryAt(2), 0, 1e-12);
    EXPECT_EQ(effect.MemoryAt(128), 1) << "values past the 64-point block stay untouched";

    effect.MemoryAt(300) = 3;
    effect.Fft(300, 15, 0);
    EXPECT_EQ(effect.MemoryAt(300), 3) << "below 16 points nothing happens";
    effect.FftReal(300, 8192, 0);
    EXPECT_EQ(effect.MemoryAt(300), 3);

    effect.MemoryAt(65535 - 10) = 7;
    effect.Fft(65535 - 10, 16, 0);
    EXPECT_EQ(effect.MemoryAt(65535 - 10), 7) << "a block running past its page is refused";

    effect.MemoryAt(70000) = 2;
    effect.MemoryAt(70001) = 3;
    effect.MemoryAt(70100) = 4;
    effect.MemoryAt(70101) = 5;
    effect.ConvolveComplex(70000, 70100, 5);
    EXPECT_EQ(effect.MemoryAt(70000), 2 * 4 - 3 * 5);
    EXPECT_EQ(effect.MemoryAt(70001), 2 * 5 + 4 * 3);
}
