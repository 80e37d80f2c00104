// Windows: the C library's clock() counts milliseconds; the log sits in the user's local application data
// and every line is followed by the system beep; both "\" and "/" separate folders, so names stay as
// written. Paths are UTF-8 inside the plug-in and UTF-16 for the system's wide-character calls, so that
// folders named in any script work whatever the system's code page.
#include "runtime/parvex.h"

#include <algorithm>
#include <ctime>
#include <windows.h>

static_assert(CLOCKS_PER_SEC == 1000, "the frame timer counts clock() ticks as milliseconds");

namespace {

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(std::max(length, 0)), L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
    return wide;
}

std::string Utf8(const std::wstring& wide) {
    if (wide.empty()) return {};
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string text(static_cast<size_t>(std::max(length, 0)), '\0');
    if (length > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), length,
                            nullptr, nullptr);
    return text;
}

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// The folder an environment variable names, without a trailing separator; empty when it is unset.
std::wstring EnvironmentFolder(const wchar_t* name) {
    std::wstring value(MAX_PATH, L'\0');
    DWORD length = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    if (length >= value.size()) {
        value.resize(length);
        length = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    }
    value.resize(length < value.size() ? length : 0);
    while (!value.empty() && IsSeparator(value.back())) value.pop_back();
    return value;
}

} // namespace

int32_t PlatformMillisecondTick() {
    return static_cast<int32_t>(std::clock());
}

std::FILE* OpenFileAt(const std::string& path, const char* mode) {
    return _wfopen(Wide(path).c_str(), Wide(mode).c_str());
}

std::vector<std::string> FileNamesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::wstring pattern = Wide(folder);
    if (!pattern.empty() && !IsSeparator(pattern.back())) pattern += L'\\';
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileW((pattern + L'*').c_str(), &entry);
    if (listing == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(Utf8(entry.cFileName));
    } while (FindNextFileW(listing, &entry));
    FindClose(listing);
    return names;
}

void CreateFoldersFor(const std::string& path) {
    const std::wstring wide = Wide(path);
    // Each folder on the way after the drive; those that exist, and a share's own name, refuse quietly.
    for (size_t end = wide.find_first_of(L"\\/", 1); end != std::wstring::npos;
         end = wide.find_first_of(L"\\/", end + 1))
        if (!IsSeparator(wide[end - 1]) && wide[end - 1] != L':')
            CreateDirectoryW(wide.substr(0, end).c_str(), nullptr);
}

// As the Linux build keeps it in the user's state folder: %LOCALAPPDATA%\Vandrel2, where the user may write
// (the root of the drive, used before, is closed to ordinary users); the temporary folder if that is unset.
std::string LogFilePath() {
    std::wstring folder = EnvironmentFolder(L"LOCALAPPDATA");
    if (folder.empty()) folder = EnvironmentFolder(L"TEMP");
    return Utf8(folder) + "\\Vandrel2\\zorvel.log.txt";
}

void LogBeep() {
    Beep(2000, 200);
}

std::string NativeRelativePath(std::string name) {
    return name;
}
