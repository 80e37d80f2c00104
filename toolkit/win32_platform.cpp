#include "toolkit/platform.h"
#include "toolkit/win32_module.h"

#include <algorithm>

namespace {

HINSTANCE attachedModule = nullptr;

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
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ModuleInstance), &own);
    return own;
}

// Asked wide and handed on as UTF-8: the folder may have any name, in any code page, and be longer than
// MAX_PATH.
std::string ModuleFolderOf(const void*) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(ModuleInstance(), path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        if (path.size() >= 32768) return {}; // longer than any Windows path
        path.resize(path.size() * 2);
    }
    const auto separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? std::string() : Utf8(path.substr(0, separator + 1));
}

std::span<const unsigned char> EmbeddedPicture(int number) {
    HINSTANCE module = ModuleInstance();
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(number), L"DATA");
    if (!resource) return {};
    HGLOBAL loaded = LoadResource(module, resource);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) return {};
    return {static_cast<const unsigned char*>(bytes), SizeofResource(module, resource)};
}
