// The module's exported entry point.
#include "leveler/leveler.h"
#include "shell/callbacks.h"
#include "shell/vest.h"
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

    const VeSTCallbacks callbacks = MakeVeSTCallbacks();
    auto* effect = new TParvexEffect;
    CVeST* wrapper =
        CVeST::Create(effect, callbacks, audioMaster, 1, static_cast<int32_t>(effect->Sliders.size()));
    if (!wrapper) {
        delete effect;
        return nullptr;
    }
    effect->Host = wrapper;
    return wrapper->getAeffect();
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
