// The module's exported entry point.
#include "runtime/parvex.h"
#include "shell/instance.h"
#include "toolkit/platform.h"

#if defined(_WIN32)
#define VANDREL_EXPORT extern "C" __declspec(dllexport)
#else
#define VANDREL_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

vst2::AEffect* CreateInstance(vst2::HostCallback audioMaster) {
    static const bool folderKnown = [] {
        SetPluginFolder(ModuleFolderOf(reinterpret_cast<const void*>(&CreateInstance)));
        return true;
    }();
    (void)folderKnown;

    CVeST* wrapper = NewLevelerInstance(audioMaster);
    return wrapper ? wrapper->getAeffect() : nullptr;
}

} // namespace

VANDREL_EXPORT vst2::AEffect* VSTPluginMain(vst2::HostCallback audioMaster) {
    return CreateInstance(audioMaster);
}

// Older hosts look the entry up as "main"; C++ reserves that name, so it is given at the symbol level.
VANDREL_EXPORT vst2::AEffect* VstMainEntry(vst2::HostCallback audioMaster) __asm__("main");
vst2::AEffect* VstMainEntry(vst2::HostCallback audioMaster) {
    return CreateInstance(audioMaster);
}

VANDREL_EXPORT vst2::AEffect* MAIN(vst2::HostCallback audioMaster) {
    return CreateInstance(audioMaster);
}
