// The Windows build (build-win/, cmake/mingw-w64.cmake) under Wine: the Windows test host loads
// vandrel2.dll with LoadLibrary and must hear, read and see what a Linux host gets from vandrel2.so. The
// descriptions and the output of the bundled programme must agree bit for bit; the panel drawn with GDI+
// must match the Cairo panel region by region; a drag with the mouse must move a slider. The DLL must unload
// without a trace, import only what it uses, work from a folder of any name and log where users may write.
#include "render/audio_file.h"
#include "testkit/host_habits.h"
#include "testkit/panel.h"
#include "tests/windows/probe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
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

// Runs the Windows test host under Wine, in the run's prefix, from drive C: and without Wine's debug log;
// the exit code. Wine reads the arguments and the prefix's file names in the locale's encoding: UTF-8.
int RunWindowsHost(const std::vector<std::string>& arguments) {
    std::string command = "cd '" VANDREL_WINE_PREFIX
                          "/drive_c' && LC_ALL=C.UTF-8 WINEPREFIX='" VANDREL_WINE_PREFIX
                          "' WINEDEBUG=-all '" VANDREL_WINE64 "' '" +
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

// The editor of `dll` opened in the Windows host and driven by its pointer; the panel's pixels as first
// shown (450 x 620, 4 bytes each) and the host's report of what the pointer did.
struct EditorRun {
    std::vector<char> pixels;
    std::vector<std::string> report;
};

EditorRun RunEditor(const std::string& dll, const Scratch& scratch) {
    const fs::path pixelsPath = scratch.path / "panel.rgba";
    EXPECT_EQ(
        RunWindowsHost({"editor", dll, WindowsPath(pixelsPath), WindowsPath(scratch.path / "editor.txt")}),
        0);
    if (const char* keep = std::getenv("VANDREL_KEEP_WINE_PANEL"); keep && fs::exists(pixelsPath))
        fs::copy_file(pixelsPath, keep, fs::copy_options::overwrite_existing);
    return {Bytes(pixelsPath), Lines(scratch.path / "editor.txt")};
}

// What a working editor reports after the host's drags and clicks.
const std::vector<std::string> kWorkingEditor = {
    "editor window 450 x 620",
    "opened target '-23.00' captured no",
    "pressed target '-11.50' captured yes",
    "dragged-out target '0.00' captured yes",
    "released target '-34.50' captured no",
    "target parameter 0.250000",
    "automatic trim parameter 0.000000",
    "after close window gone",
};

// GDI+ and Cairo smooth edges and shape text differently: compare 15 x 20 regions by their mean colour,
// and count the pixels that are nearly the same.
void ExpectLikeTheHeadlessPanel(const std::vector<char>& pixels) {
    ASSERT_EQ(pixels.size(), size_t(450 * 620 * 4));
    const Screenshot headless = HeadlessPanel();
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
    int differing = 0;
    std::string first;
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
            if (std::any_of(std::begin(difference), std::end(difference),
                            [](double d) { return std::abs(d) / 300 >= 12.0; }) &&
                differing++ == 0)
                first = std::to_string(left) + "," + std::to_string(top);
        }
    EXPECT_EQ(differing, 0) << "regions whose mean colour is 12 levels or more away, the first at " << first;
}

// The plug-in installed in a folder of drive C: whose name no single code page holds, with its pictures
// folder beside it (when `loosePictures`), as a copy whose embedded pictures cannot be decoded: their PNG
// signatures are spoilt, so the editor must take the loose files. Removed afterwards.
struct ForeignFolder {
    static constexpr const char* kName = "Плагины ü 日本 (x86)";
    fs::path path = fs::path(VANDREL_WINE_PREFIX) / "drive_c" / kName;
    std::string dll = std::string("C:\\") + kName + "\\vandrel2.dll";

    explicit ForeignFolder(bool loosePictures) {
        fs::remove_all(path);
        fs::create_directories(path);
        if (loosePictures) fs::copy(kWindowsBuild / "vandrel_gfx", path / "vandrel_gfx");
        std::vector<char> bytes = Bytes(kWindowsBuild / "vandrel2.dll");
        const std::string signature = "\x89PNG\r\n\x1a\n";
        int spoilt = 0;
        for (auto at = bytes.begin();
             (at = std::search(at, bytes.end(), signature.begin(), signature.end())) != bytes.end(); ++spoilt)
            *at++ = 0;
        EXPECT_EQ(spoilt, 3) << "one signature for each embedded picture";
        std::ofstream(path / "vandrel2.dll", std::ios::binary)
            .write(bytes.data(), std::streamsize(bytes.size()));
    }
    ~ForeignFolder() { fs::remove_all(path); }
};

// The log file in the prefix's %LOCALAPPDATA% (C:\users\<user>\AppData\Local), for every user there.
std::vector<fs::path> LocalAppDataLogs() {
    std::vector<fs::path> logs;
    for (const fs::directory_entry& user :
         fs::directory_iterator(fs::path(VANDREL_WINE_PREFIX) / "drive_c" / "users"))
        if (const fs::path log = user.path() / "AppData" / "Local" / "Vandrel2" / "zorvel.log.txt";
            fs::exists(log))
            logs.push_back(log);
    return logs;
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
    const EditorRun run = RunEditor(WindowsPath(kWindowsBuild / "vandrel2.dll"), scratch);
    EXPECT_EQ(run.report, kWorkingEditor);
    ExpectLikeTheHeadlessPanel(run.pixels);
}

// Folders like C:\Plugins (x86)\ in a Russian or Japanese Windows: the module path read in the system's
// code page had "?" for every other letter, and the pictures beside the DLL were never found.
TEST(WindowsEditor, InAFolderNamedBeyondTheCodePageThePanelDrawsFromThePicturesBesideIt) {
    Scratch scratch;
    for (const fs::path& log : LocalAppDataLogs()) fs::remove(log);
    const ForeignFolder folder(true);
    const EditorRun run = RunEditor(folder.dll, scratch);
    EXPECT_EQ(run.report, kWorkingEditor);
    ExpectLikeTheHeadlessPanel(run.pixels);
    EXPECT_TRUE(LocalAppDataLogs().empty()) << "every picture loaded";
}

// The log went to the root of the current drive, where ordinary users cannot write; it belongs with the
// user's own application data, named in UTF-8 as the folder is.
TEST(WindowsEditor, PicturesThatCannotLoadAreLoggedInTheUsersLocalApplicationData) {
    Scratch scratch;
    for (const fs::path& log : LocalAppDataLogs()) fs::remove(log);
    const ForeignFolder folder(false);
    RunEditor(folder.dll, scratch);
    const std::vector<fs::path> logs = LocalAppDataLogs();
    ASSERT_EQ(logs.size(), 1u) << "%LOCALAPPDATA%\\Vandrel2\\zorvel.log.txt";
    std::vector<std::string> lines = Lines(logs[0]);
    for (std::string& line : lines)
        if (!line.empty() && line.back() == '\r') line.pop_back(); // text mode: CR LF
    const std::string missing =
        std::string("Unable to load: C:\\") + ForeignFolder::kName + "\\vandrel_gfx\\";
    EXPECT_NE(std::find(lines.begin(), lines.end(), missing + "bg.png"), lines.end());
    for (const std::string& line : lines) EXPECT_EQ(line.rfind(missing, 0), 0u) << line;
    fs::remove(logs[0]);
}

// A host that scans its plug-ins loads, opens, closes and unloads each one. Statically linked, the posix
// runtime kept a thread-local-storage index and some 71 KB each time, and the host aborted after about a
// thousand cycles; nothing may be left behind now.
TEST(WindowsDll, FiveThousandLoadsAndUnloadsLeaveNoTrace) {
    Scratch scratch;
    constexpr int kCycles = 5000;
    ASSERT_EQ(RunWindowsHost({"cycles", WindowsPath(kWindowsBuild / "vandrel2.dll"), std::to_string(kCycles),
                              WindowsPath(scratch.path / "cycles.txt")}),
              0)
        << "the host aborted";
    std::map<std::string, std::pair<int64_t, int64_t>> held; // before, after
    for (const std::string& line : Lines(scratch.path / "cycles.txt")) {
        std::istringstream fields(line);
        std::string name;
        int64_t before = 0, after = 0;
        fields >> name >> before >> after;
        held[name] = {before, after};
    }
    ASSERT_EQ(held["cycles"].first, kCycles);
    EXPECT_EQ(held["free-tls-indices"].second, held["free-tls-indices"].first);
    EXPECT_GT(held["free-tls-indices"].first, 0);
    EXPECT_EQ(held["open-handles"].second, held["open-handles"].first);
    const auto [before, after] = held["private-bytes"];
    EXPECT_GT(before, 0);
    EXPECT_LT(after - before, int64_t(kCycles) * 1024) << "private bytes " << before << " to " << after;
}

// Every function the DLL may import, by DLL: drawing and windows, files, the module's own path and
// resources, the clock, the beep, and what the C and C++ runtimes need (memory, locks, thread-local
// storage, unwinding, formatting). An empty list allows the whole DLL: GDI+ does nothing but draw.
const std::map<std::string, std::set<std::string>> kAllowedImports = {
    {"gdiplus.dll", {}},
    {"gdi32.dll",
     {"BitBlt", "CreateCompatibleBitmap", "CreateCompatibleDC", "DeleteDC", "DeleteObject", "SelectObject"}},
    {"user32.dll",
     {"AdjustWindowRectEx", "BeginPaint",     "CreateWindowExW", "DefWindowProcW",    "DestroyWindow",
      "EndPaint",           "GetClientRect",  "GetKeyState",     "GetWindowLongPtrW", "InvalidateRect",
      "IsWindow",           "LoadCursorW",    "MapVirtualKeyW",  "RedrawWindow",      "RegisterClassExW",
      "ReleaseCapture",     "ScreenToClient", "SetCapture",      "SetWindowLongPtrW", "UnregisterClassW",
      "UpdateWindow"}},
    {"ole32.dll", {"CreateStreamOnHGlobal", "OleInitialize", "OleUninitialize"}},
    {"shlwapi.dll", {"SHCreateMemStream"}},
    {"kernel32.dll",
     {// files, folders, the module and its resources, the environment, the beep
      "CreateDirectoryW", "FindClose", "FindFirstFileW", "FindNextFileW", "GetEnvironmentVariableW",
      "GetModuleFileNameW", "GetModuleHandleExW", "FindResourceW", "LoadResource", "LockResource",
      "SizeofResource", "DisableThreadLibraryCalls", "Beep", "MultiByteToWideChar", "WideCharToMultiByte",
      // the clock (the C++ runtime's system clock asks the time zone)
      "GetSystemTimeAsFileTime", "GetTimeZoneInformation",
      // locks, thread-local storage and waits of the runtimes
      "AcquireSRWLockExclusive", "ReleaseSRWLockExclusive", "SleepConditionVariableSRW",
      "WakeAllConditionVariable", "InitializeCriticalSection", "EnterCriticalSection", "LeaveCriticalSection",
      "DeleteCriticalSection", "CreateSemaphoreW", "ReleaseSemaphore", "WaitForSingleObject", "CloseHandle",
      "Sleep", "TlsAlloc", "TlsFree", "TlsGetValue", "TlsSetValue", "GetCurrentThreadId",
      // start-up, exceptions and unwinding
      "GetLastError", "SetLastError", "GetModuleHandleA", "GetModuleHandleW", "GetProcAddress",
      "LoadLibraryW", "IsDBCSLeadByteEx", "RaiseException", "RtlCaptureContext", "RtlLookupFunctionEntry",
      "RtlUnwindEx", "RtlVirtualUnwind", "VirtualProtect", "VirtualQuery"}},
    {"msvcrt.dll",
     {"___lc_codepage_func",
      "___mb_cur_max_func",
      "__iob_func",
      "__setusermatherr",
      "_amsg_exit",
      "_errno",
      "_initterm",
      "_lock",
      "_unlock",
      "_stricmp",
      "_wfopen",
      "_read",
      "_close",
      "_nextafter",
      "abort",
      "calloc",
      "clock",
      "fclose",
      "fputc",
      "fputs",
      "free",
      "fwrite",
      "localeconv",
      "log10",
      "malloc",
      "memchr",
      "memcmp",
      "memcpy",
      "memmove",
      "memset",
      "realloc",
      "strchr",
      "strcmp",
      "strerror",
      "strlen",
      "strncmp",
      "tolower",
      "vfprintf",
      "wcslen"}},
};

TEST(WindowsDll, ImportsNothingBeyondWhatItUses) {
    const std::string command =
        "'" VANDREL_MINGW_OBJDUMP "' -p '" + (kWindowsBuild / "vandrel2.dll").string() + "'";
    std::FILE* dump = popen(command.c_str(), "r");
    ASSERT_NE(dump, nullptr);
    // "\tDLL Name: KERNEL32.dll", then one line per function: "\t<address>\t <hint>  <name>".
    std::string dll, text;
    int functions = 0;
    for (char line[512]; std::fgets(line, sizeof line, dump);) {
        std::istringstream fields(line);
        std::string first, second, name;
        fields >> first >> second;
        if (first == "DLL" && second == "Name:") {
            fields >> dll;
            std::transform(dll.begin(), dll.end(), dll.begin(),
                           [](unsigned char c) { return std::tolower(c); });
        } else if (!dll.empty() && line[0] == '\t' && (fields >> name) &&
                   first.find_first_not_of("0123456789abcdef") == std::string::npos &&
                   second.find_first_not_of("0123456789") == std::string::npos) {
            ++functions;
            const auto allowed = kAllowedImports.find(dll);
            EXPECT_TRUE(allowed != kAllowedImports.end() &&
                        (allowed->second.empty() || allowed->second.count(name)))
                << dll << " " << name;
        } else if (line[0] != '\t') {
            dll.clear(); // the import table has ended
        }
    }
    EXPECT_EQ(pclose(dump), 0);
    EXPECT_GT(functions, 100) << "the import table was read";
}
