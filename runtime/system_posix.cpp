// Linux: a monotonic clock, a log under the user's state folder, no beep, "/" as the separator.
#include "runtime/parvex.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>

int32_t PlatformMillisecondTick() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
    return static_cast<int32_t>(static_cast<uint32_t>(ms));
}

std::string LogFilePath() {
    namespace fs = std::filesystem;
    fs::path folder;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state)
        folder = fs::path(state) / "vandrel2";
    else if (const char* home = std::getenv("HOME"); home && *home)
        folder = fs::path(home) / ".local" / "state" / "vandrel2";
    else
        folder = fs::temp_directory_path();
    return (folder / "zorvel.log.txt").string();
}

void LogBeep() {}

std::string NativeRelativePath(std::string name) {
    for (char& c : name)
        if (c == '\\') c = '/';
    return name;
}
