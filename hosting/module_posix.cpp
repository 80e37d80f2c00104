#include "hosting/module.h"

#include <dlfcn.h>

namespace hosting {

void* LoadModule(const std::filesystem::path& path, std::string& error) {
    // An absolute path keeps dlopen from searching the library path for a bare file name.
    void* module = dlopen(std::filesystem::absolute(path).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) error = dlerror();
    return module;
}

void* ModuleSymbol(void* module, const char* name) {
    return dlsym(module, name);
}

void UnloadModule(void* module) {
    dlclose(module);
}

} // namespace hosting
