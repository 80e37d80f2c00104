// The leveler made inside the test's own process, through the entry point's wiring, and driven through the
// host library like the built module: the test's clock stands in for the machine's.
#pragma once

#include "hosting/plugin.h"
#include "runtime/parvex.h"
#include "shell/instance.h"

#include <memory>

namespace testkit {

// The clock the next instance reads; an entry point takes no argument to carry it.
inline TClock* gNextInstanceClock = nullptr;

inline vst2::AEffect* LevelerEntry(vst2::HostCallback host) {
    CVeST* wrapper = NewLevelerInstance(host);
    if (!wrapper) return nullptr;
    if (gNextInstanceClock) wrapper->Effect()->Clock = gNextInstanceClock;
    return wrapper->getAeffect();
}

// The effect behind an instance made here.
inline TParvex& EffectOf(hosting::Plugin& plugin) {
    return *static_cast<CVeST*>(static_cast<AudioEffect*>(plugin.effect()->object))->Effect();
}

inline std::unique_ptr<hosting::Plugin> InProcessLeveler(TClock& clock, hosting::HostOptions options = {}) {
    gNextInstanceClock = &clock;
    auto plugin = std::make_unique<hosting::Plugin>(LevelerEntry, "the leveler in process", options);
    gNextInstanceClock = nullptr;
    return plugin;
}

} // namespace testkit
