// Windows: the C library's clock() counts milliseconds; the log sits at the root of the current drive and
// every line is followed by the system beep; both "\" and "/" separate folders, so names stay as written.
#include "runtime/parvex.h"

#include <ctime>
#include <windows.h>

static_assert(CLOCKS_PER_SEC == 1000, "the frame timer counts clock() ticks as milliseconds");

int32_t PlatformMillisecondTick() {
    return static_cast<int32_t>(std::clock());
}

std::string LogFilePath() {
    return "\\zorvel.log.txt";
}

void LogBeep() {
    Beep(2000, 200);
}

std::string NativeRelativePath(std::string name) {
    return name;
}
