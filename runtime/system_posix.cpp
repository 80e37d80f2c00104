// Linux: a monotonic clock, a log under the user's state folder, no beep, "/" as the separator; file names
// are bytes, which the plug-in keeps in UTF-8.
#include "runtime/parvex.h"

#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>

int32_t PlatformMillisecondTick() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
    return static_cast<int32_t>(static_cast<uint32_t>(ms));
}

std::FILE* OpenFileAt(const std::string& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

std::vector<std::string> FileNamesIn(const std::string& folder) {
    std::vector<std::string> names;
    DIR* listing = opendir(folder.c_str());
    if (!listing) return names;
    const bool hasSeparator = !folder.empty() && folder.back() == '/';
    while (const dirent* entry = readdir(listing)) {
        const std::string name = entry->d_name;
        struct stat status;
        const std::string full = hasSeparator ? folder + name : folder + "/" + name;
        if (stat(full.c_str(), &status) == 0 && !S_ISDIR(status.st_mode)) names.push_back(name);
    }
    closedir(listing);
    return names;
}

void CreateFoldersFor(const std::string& path) {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
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
