#include "toolkit/platform.h"
#include "toolkit/win32_module.h"

namespace {

HINSTANCE attachedModule = nullptr;

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        attachedModule = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

HINSTANCE ModuleInstance() {
    if (attachedModule) return attachedModule;
    HMODULE own = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ModuleInstance), &own);
    return own;
}

std::string ModuleFolderOf(const void*) {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(ModuleInstance(), path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    const std::string full(path, length);
    const auto separator = full.find_last_of("\\/");
    return separator == std::string::npos ? std::string() : full.substr(0, separator + 1);
}

std::span<const unsigned char> EmbeddedPicture(int number) {
    HINSTANCE module = ModuleInstance();
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(number), "DATA");
    if (!resource) return {};
    HGLOBAL loaded = LoadResource(module, resource);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) return {};
    return {static_cast<const unsigned char*>(bytes), SizeofResource(module, resource)};
}
