// A new plug-in instance as the entry point makes one: the effect inside its host wrapper, linked both ways.
#pragma once

#include "shell/vest.h"
#include "vst2abi/vst2.h"

class TParvex;

// Wraps `effect` (taken) for the host: one program and a parameter per registered slider. Null when the
// host refuses (it answers 0 to audioMasterVersion); the effect is destroyed then.
CVeST* WireInstance(TParvex* effect, vst2::HostCallback audioMaster);

// A leveler instance; null when the host refuses.
CVeST* NewLevelerInstance(vst2::HostCallback audioMaster);
