#include "hosting/module.h"

#include <windows.h>

namespace hosting {

void* LoadModule(const std::filesystem::path& path, std::string& error) {
    // The DLLs it imports are looked up beside it first, as hosts do.
    HMODULE module =
        LoadLibraryExW(std::filesystem::absolute(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr) error = "LoadLibrary error " + std::to_string(GetLastError());
    return reinterpret_cast<void*>(module);
}

void* ModuleSymbol(void* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void UnloadModule(void* module) {
    FreeLibrary(static_cast<HMODULE>(module));
}

} // namespace hosting
