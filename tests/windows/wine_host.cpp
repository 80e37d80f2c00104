// The Windows test host, run under Wine by the Linux build's tests (tests/test_windows.cpp):
//   vandrel2-winhost describe <dll> <report.txt>
//   vandrel2-winhost programme <dll> <input.f32> <rate> <output.f32> <output.f64>
//   vandrel2-winhost editor <dll> <pixels.rgba> <report.txt>
//   vandrel2-winhost cycles <dll> <count> <report.txt>
//   vandrel2-winhost habits <dll> <report.txt>
// Exit status 0 when the command ran, 1 when it could not (the reason on standard error). The arguments are
// read wide, so paths outside the system's code page arrive whole.
#include "hosting/plugin.h"
#include "testkit/host_habits.h"
#include "tests/windows/probe.h"

#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

bool WriteLines(const fs::path& path, const std::vector<std::string>& lines) {
    std::ofstream out(path, std::ios::binary);
    for (const std::string& line : lines) out << line << '\n';
    return out.good();
}

// Delivers the window messages and the editor's idle, as a host's loop does, `frames` times, each followed by
// a paint of the whole editor, as when a window manager uncovers it: a frame is drawn whatever the frame
// timer says, and the panel sees what the messages did.
void Frames(hosting::Plugin& plugin, HWND editor, int frames) {
    for (int i = 0; i < frames; ++i) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        plugin.editorIdle();
        InvalidateRect(editor, nullptr, FALSE);
        UpdateWindow(editor);
    }
}

// The editor's window as the screen shows it, top row first, 4 bytes (red, green, blue, 255) a pixel.
std::vector<unsigned char> Grab(HWND window, int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = GetDC(window);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(memory, dib);
    BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
    GdiFlush();
    std::vector<unsigned char> rgba(static_cast<size_t>(width) * height * 4);
    const auto* bgrx = static_cast<const unsigned char*>(bits);
    for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) {
        rgba[4 * i] = bgrx[4 * i + 2];
        rgba[4 * i + 1] = bgrx[4 * i + 1];
        rgba[4 * i + 2] = bgrx[4 * i];
        rgba[4 * i + 3] = 255;
    }
    SelectObject(memory, previous);
    DeleteObject(dib);
    DeleteDC(memory);
    ReleaseDC(window, screen);
    return rgba;
}

int Editor(const fs::path& module, const fs::path& pixelsPath, const fs::path& reportPath) {
    WNDCLASSW parentClass{};
    parentClass.lpfnWndProc = DefWindowProcW;
    parentClass.hInstance = GetModuleHandleW(nullptr);
    parentClass.lpszClassName = L"VandrelTestParent";
    RegisterClassW(&parentClass);
    RECT outer{0, 0, 500, 700};
    AdjustWindowRect(&outer, WS_OVERLAPPEDWINDOW, FALSE);
    HWND parent = CreateWindowW(L"VandrelTestParent", L"Vandrel 2 under Wine",
                                WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, outer.right - outer.left,
                                outer.bottom - outer.top, nullptr, nullptr, parentClass.hInstance, nullptr);
    if (!parent) {
        std::fprintf(stderr, "no parent window\n");
        return 1;
    }

    std::vector<std::string> report;
    hosting::HostOptions options;
    options.sampleRate = 48000;
    hosting::Plugin plugin(module, options);
    plugin.open();
    plugin.resume();
    if (!plugin.openEditor(parent)) {
        std::fprintf(stderr, "the editor did not open\n");
        return 1;
    }
    HWND editor = GetWindow(parent, GW_CHILD);
    RECT client{};
    GetClientRect(editor, &client);
    report.push_back("editor window " + std::to_string(client.right) + " x " + std::to_string(client.bottom));
    Frames(plugin, editor, 4);
    const std::vector<unsigned char> pixels = Grab(editor, 450, 620);
    std::ofstream(pixelsPath, std::ios::binary)
        .write(reinterpret_cast<const char*>(pixels.data()), static_cast<std::streamsize>(pixels.size()));

    // The pointer as a user drives it: each step is delivered, then frames are drawn.
    auto post = [&](UINT message, WPARAM keys, int x, int y) {
        PostMessageW(editor, message, keys, MAKELPARAM(static_cast<short>(x), static_cast<short>(y)));
        Frames(plugin, editor, 2);
    };
    auto state = [&](const char* step) {
        report.push_back(std::string(step) + " target '" + plugin.parameterDisplay(1) + "' captured " +
                         (GetCapture() == editor ? "yes" : "no"));
    };
    state("opened");
    // Target (x 90, y 140, -46..0 LUFS): press three quarters along the track, drag out of the window to the
    // right, then back to a quarter, below the slider; after the release moves do nothing.
    post(WM_MOUSEMOVE, 0, 90 + 16 + 162, 150);
    post(WM_LBUTTONDOWN, MK_LBUTTON, 90 + 16 + 162, 150);
    state("pressed");
    post(WM_MOUSEMOVE, MK_LBUTTON, 600, 150);
    state("dragged-out");
    post(WM_MOUSEMOVE, MK_LBUTTON, 90 + 16 + 54, 300);
    post(WM_LBUTTONUP, 0, 90 + 16 + 54, 300);
    post(WM_MOUSEMOVE, 0, 90 + 16 + 200, 150);
    state("released");
    char value[32];
    std::snprintf(value, sizeof value, "%.6f", plugin.parameter(1));
    report.push_back(std::string("target parameter ") + value);
    // Automatic Trim's button.
    post(WM_MOUSEMOVE, 0, 62, 346);
    post(WM_LBUTTONDOWN, MK_LBUTTON, 62, 346);
    post(WM_LBUTTONUP, 0, 62, 346);
    std::snprintf(value, sizeof value, "%.6f", plugin.parameter(4));
    report.push_back(std::string("automatic trim parameter ") + value);

    plugin.closeEditor();
    report.push_back(std::string("after close ") + (IsWindow(editor) ? "window left" : "window gone"));
    DestroyWindow(parent);
    return WriteLines(reportPath, report) ? 0 : 1;
}

// Thread-local-storage indices still free: all the process can get, taken and given back.
int FreeTlsIndices() {
    std::vector<DWORD> taken;
    for (DWORD index; (index = TlsAlloc()) != TLS_OUT_OF_INDEXES;) taken.push_back(index);
    for (const DWORD index : taken) TlsFree(index);
    return static_cast<int>(taken.size());
}

// Memory committed to the process alone (heaps, stacks, the C runtime's allocations), summed over its address
// space: what Windows reports as private bytes.
uint64_t PrivateBytes() {
    uint64_t total = 0;
    MEMORY_BASIC_INFORMATION region;
    for (const char* address = nullptr; VirtualQuery(address, &region, sizeof region) == sizeof region;
         address = static_cast<const char*>(region.BaseAddress) + region.RegionSize)
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
    return total;
}

// Open handles, found by asking about every value a handle can have in a small process.
int OpenHandles() {
    int open = 0;
    DWORD flags;
    for (uintptr_t value = 4; value < 0x10000; value += 4)
        open += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) != 0;
    return open;
}

// A host scanning its plug-ins: load, entry point, open, close and unload, `count` times; what the process
// held before and after.
int Cycles(const fs::path& module, int count, const fs::path& reportPath) {
    // The system DLLs the plug-in draws with stay loaded, as in any host with windows of its own; otherwise
    // every cycle would load and unload GDI+ and COM as well, at several times the cost.
    for (const wchar_t* system : {L"gdiplus.dll", L"ole32.dll", L"shlwapi.dll"}) LoadLibraryW(system);
    auto cycle = [&] {
        hosting::Plugin plugin(module);
        plugin.open();
        plugin.close();
    };
    // What the first loads leave for good: the loader's and the C runtime's own tables.
    for (int i = 0; i < 20; ++i) cycle();
    const int tls = FreeTlsIndices(), handles = OpenHandles();
    const uint64_t memory = PrivateBytes();
    for (int i = 0; i < count; ++i) cycle();
    return WriteLines(reportPath,
                      {"cycles " + std::to_string(count),
                       "free-tls-indices " + std::to_string(tls) + " " + std::to_string(FreeTlsIndices()),
                       "open-handles " + std::to_string(handles) + " " + std::to_string(OpenHandles()),
                       "private-bytes " + std::to_string(memory) + " " + std::to_string(PrivateBytes())})
               ? 0
               : 1;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const std::vector<std::wstring> args(argv + 1, argv + argc);
    try {
        if (args.size() == 3 && args[0] == L"describe")
            return WriteLines(args[2], probe::Describe(args[1])) ? 0 : 1;
        if (args.size() == 6 && args[0] == L"programme")
            return probe::ProcessProgramme(args[1], args[2], std::stod(args[3]), args[4], args[5]) ? 0 : 1;
        if (args.size() == 4 && args[0] == L"editor") return Editor(args[1], args[2], args[3]);
        if (args.size() == 4 && args[0] == L"cycles") return Cycles(args[1], std::stoi(args[2]), args[3]);
        if (args.size() == 3 && args[0] == L"habits")
            return WriteLines(args[2], habits::All(habits::VstFactory(args[1]))) ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    std::fprintf(stderr, "usage: describe <dll> <report> | programme <dll> <in> <rate> <out32> <out64> | "
                         "editor <dll> <pixels> <report> | cycles <dll> <count> <report> | "
                         "habits <dll> <report>\n");
    return 1;
}
