// The host callback for an instance created inside the calling process (tests, fuzz targets): a VST 2.4
// host with no time information that accepts whatever the plug-in reports.
#pragma once

#include "vst2abi/vst2.h"

#include <cstdint>

namespace testkit {

inline intptr_t QuietHost(vst2::AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
    switch (opcode) {
    case vst2::audioMasterVersion:
        return 2400;
    case vst2::audioMasterUpdateDisplay:
        return 1;
    default:
        return 0;
    }
}

} // namespace testkit
