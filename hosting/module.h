// Loading a plug-in module and finding its entry point: dlopen on Linux, LoadLibrary on Windows.
#pragma once

#include <filesystem>
#include <string>

namespace hosting {

// The loaded module, or null with the system's reason in `error`.
void* LoadModule(const std::filesystem::path& path, std::string& error);
// The exported function `name`, or null.
void* ModuleSymbol(void* module, const char* name);
void UnloadModule(void* module);

} // namespace hosting
