#include "shell/instance.h"

#include "leveler/leveler.h"
#include "runtime/parvex.h"

CVeST* WireInstance(TParvex* effect, vst2::HostCallback audioMaster) {
    CVeST* wrapper = CVeST::Create(effect, MakeVeSTCallbacks(), audioMaster, 1,
                                   static_cast<int32_t>(effect->Sliders.size()));
    if (!wrapper) {
        delete effect;
        return nullptr;
    }
    effect->Host = wrapper;
    return wrapper;
}

CVeST* NewLevelerInstance(vst2::HostCallback audioMaster) {
    return WireInstance(new TParvexEffect, audioMaster);
}
