#include "render/known_plugins.h"

#include "leveler/parameter_table.h"

namespace render {

hosting::KnownUnits knownUnits(hosting::Plugin& plugin) {
    if (plugin.uniqueId() != kVandrelId || plugin.numParams() != leveler::kParameterCount) return {};
    hosting::KnownUnits units;
    for (int32_t i = 0; i < plugin.numParams(); ++i) {
        const auto& row = leveler::kParameters[i];
        // A build whose parameters are not the table's tells its own units, or none.
        units.push_back(plugin.parameterName(i) == row.name ? row.unit : "");
    }
    return units;
}

} // namespace render
