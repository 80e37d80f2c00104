// The host features both LV2 binaries look for: URID mapping and the options the host passes.
#pragma once

#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/options/options.h>
#include <lv2/urid/urid.h>

#include <cstdint>
#include <cstring>
#include <optional>

namespace lv2port {

// The data of the feature with `uri`, or null.
inline void* FeatureData(const LV2_Feature* const* features, const char* uri) {
    for (int32_t i = 0; features && features[i]; ++i)
        if (features[i]->URI && std::strcmp(features[i]->URI, uri) == 0) return features[i]->data;
    return nullptr;
}

// An instance option the host gave as atom:Int or atom:Float, as a number; none without the options and
// URID features.
inline std::optional<double> InstanceOption(const LV2_Feature* const* features, const char* keyUri) {
    auto* map = static_cast<LV2_URID_Map*>(FeatureData(features, LV2_URID__map));
    auto* options = static_cast<const LV2_Options_Option*>(FeatureData(features, LV2_OPTIONS__options));
    if (!map || !options) return std::nullopt;
    const LV2_URID key = map->map(map->handle, keyUri);
    const LV2_URID intType = map->map(map->handle, LV2_ATOM__Int);
    const LV2_URID floatType = map->map(map->handle, LV2_ATOM__Float);
    for (const LV2_Options_Option* option = options; option->key; ++option) {
        if (option->context != LV2_OPTIONS_INSTANCE || option->key != key || !option->value) continue;
        if (option->type == intType && option->size == sizeof(int32_t))
            return *static_cast<const int32_t*>(option->value);
        if (option->type == floatType && option->size == sizeof(float))
            return *static_cast<const float*>(option->value);
    }
    return std::nullopt;
}

} // namespace lv2port
