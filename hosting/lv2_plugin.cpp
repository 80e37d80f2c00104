#include "hosting/lv2_plugin.h"

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/options/options.h>
#include <lv2/port-props/port-props.h>
#include <lv2/presets/presets.h>
#include <lv2/units/units.h>

#include <algorithm>
#include <cstring>

namespace hosting {

namespace {

// A lilv node freed on scope exit.
struct Node {
    LilvNode* node;
    explicit Node(LilvNode* n) : node(n) {}
    ~Node() { lilv_node_free(node); }
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;
    operator const LilvNode*() const { return node; }
};

std::string AsString(const LilvNode* node) {
    if (!node) return {};
    if (lilv_node_is_uri(node)) return lilv_node_as_uri(node);
    const char* text = lilv_node_as_string(node);
    return text ? text : "";
}

} // namespace

UridMap::UridMap() {
    map_.handle = this;
    map_.map = [](LV2_URID_Map_Handle handle, const char* uri) {
        return static_cast<UridMap*>(handle)->Map(uri);
    };
    unmap_.handle = this;
    unmap_.unmap = [](LV2_URID_Unmap_Handle handle, LV2_URID urid) {
        return static_cast<UridMap*>(handle)->Unmap(urid);
    };
}

LV2_URID UridMap::Map(const char* uri) {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < uris_.size(); ++i)
        if (*uris_[i] == uri) return static_cast<LV2_URID>(i + 1);
    uris_.push_back(std::make_unique<std::string>(uri));
    return static_cast<LV2_URID>(uris_.size());
}

const char* UridMap::Unmap(LV2_URID urid) {
    const std::lock_guard<std::mutex> lock(mutex_);
    return urid >= 1 && urid <= uris_.size() ? uris_[urid - 1]->c_str() : nullptr;
}

bool Lv2Port::has(std::string_view property) const {
    return std::find(properties.begin(), properties.end(), property) != properties.end();
}

Lv2Plugin::Lv2Plugin(const std::filesystem::path& bundle, const std::string& uri, Lv2Options options)
    : urids_(std::make_unique<UridMap>()) {
    world_ = lilv_world_new();
    // A failure frees the world once the nodes made from it are freed (they are declared after this).
    struct WorldOnFailure {
        LilvWorld* world;
        bool built = false;
        ~WorldOnFailure() {
            if (!built) lilv_world_free(world);
        }
    } worldOnFailure{world_};
    const std::string folder = std::filesystem::absolute(bundle).string() + "/";
    {
        Node bundleUri(lilv_new_file_uri(world_, nullptr, folder.c_str()));
        lilv_world_load_bundle(world_, bundleUri);
    }
    Node pluginUri(lilv_new_uri(world_, uri.c_str()));
    plugin_ = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world_), pluginUri);
    if (!plugin_) {
        throw Lv2Error("no plug-in " + uri + " in " + folder);
    }

    Node inputClass(lilv_new_uri(world_, LILV_URI_INPUT_PORT));
    Node audioClass(lilv_new_uri(world_, LILV_URI_AUDIO_PORT));
    Node controlClass(lilv_new_uri(world_, LILV_URI_CONTROL_PORT));
    Node unitPredicate(lilv_new_uri(world_, LV2_UNITS__unit));
    Node stepsPredicate(lilv_new_uri(world_, LV2_PORT_PROPS__rangeSteps));
    const uint32_t count = lilv_plugin_get_num_ports(plugin_);
    controls_.assign(count, 0.0f);
    for (uint32_t index = 0; index < count; ++index) {
        const LilvPort* lilvPort = lilv_plugin_get_port_by_index(plugin_, index);
        Lv2Port port;
        port.index = index;
        port.symbol = AsString(lilv_port_get_symbol(plugin_, lilvPort));
        LilvNode* name = lilv_port_get_name(plugin_, lilvPort);
        port.name = AsString(name);
        lilv_node_free(name);
        port.input = lilv_port_is_a(plugin_, lilvPort, inputClass);
        port.audio = lilv_port_is_a(plugin_, lilvPort, audioClass);
        port.control = lilv_port_is_a(plugin_, lilvPort, controlClass);
        LilvNode *def = nullptr, *min = nullptr, *max = nullptr;
        lilv_port_get_range(plugin_, lilvPort, &def, &min, &max);
        port.defaultValue = def ? lilv_node_as_float(def) : 0;
        port.minimum = min ? lilv_node_as_float(min) : 0;
        port.maximum = max ? lilv_node_as_float(max) : 0;
        lilv_node_free(def);
        lilv_node_free(min);
        lilv_node_free(max);
        LilvNodes* properties = lilv_port_get_properties(plugin_, lilvPort);
        LILV_FOREACH(nodes, i, properties)
        port.properties.push_back(AsString(lilv_nodes_get(properties, i)));
        lilv_nodes_free(properties);
        if (LilvNodes* units = lilv_port_get_value(plugin_, lilvPort, unitPredicate)) {
            if (lilv_nodes_size(units) > 0) port.unit = AsString(lilv_nodes_get_first(units));
            lilv_nodes_free(units);
        }
        if (LilvNodes* steps = lilv_port_get_value(plugin_, lilvPort, stepsPredicate)) {
            if (lilv_nodes_size(steps) > 0) port.rangeSteps = lilv_node_as_int(lilv_nodes_get_first(steps));
            lilv_nodes_free(steps);
        }
        if (port.control && port.input) controls_[index] = port.defaultValue;
        if (port.audio) (port.input ? audioIn_ : audioOut_).push_back(index);
        ports_.push_back(std::move(port));
    }
    if (lilv_plugin_has_latency(plugin_)) latencyPort_ = lilv_plugin_get_latency_port_index(plugin_);

    // Features: URID map and unmap, and the buf-size options when there are any.
    const LV2_URID intType = urids_->Map(LV2_ATOM__Int);
    const int32_t nominal = options.nominalBlockLength.value_or(0),
                  largest = options.maxBlockLength.value_or(0);
    std::vector<LV2_Options_Option> optionList;
    if (options.nominalBlockLength)
        optionList.push_back({LV2_OPTIONS_INSTANCE, 0, urids_->Map(LV2_BUF_SIZE__nominalBlockLength),
                              sizeof(int32_t), intType, &nominal});
    if (options.maxBlockLength)
        optionList.push_back({LV2_OPTIONS_INSTANCE, 0, urids_->Map(LV2_BUF_SIZE__maxBlockLength),
                              sizeof(int32_t), intType, &largest});
    optionList.push_back({LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr});
    const LV2_Feature mapFeature{LV2_URID__map, urids_->map()};
    const LV2_Feature unmapFeature{LV2_URID__unmap, urids_->unmap()};
    const LV2_Feature optionsFeature{LV2_OPTIONS__options, optionList.data()};
    std::vector<const LV2_Feature*> features = {&mapFeature, &unmapFeature};
    if (options.nominalBlockLength || options.maxBlockLength) features.push_back(&optionsFeature);
    features.push_back(nullptr);
    instance_ = lilv_plugin_instantiate(plugin_, options.sampleRate, features.data());
    if (!instance_) throw Lv2Error("instantiating " + uri + " failed");
    worldOnFailure.built = true;
    for (const Lv2Port& port : ports_)
        if (port.control) lilv_instance_connect_port(instance_, port.index, &controls_[port.index]);
}

Lv2Plugin::~Lv2Plugin() {
    if (active_) lilv_instance_deactivate(instance_);
    lilv_instance_free(instance_);
    lilv_world_free(world_);
}

const Lv2Port& Lv2Plugin::port(std::string_view symbol) const {
    for (const Lv2Port& port : ports_)
        if (port.symbol == symbol) return port;
    throw Lv2Error("no port " + std::string(symbol));
}

float Lv2Plugin::latency() const {
    return latencyPort_ ? controls_[*latencyPort_] : 0.0f;
}

void Lv2Plugin::activate() {
    if (active_) return;
    lilv_instance_activate(instance_);
    active_ = true;
}

void Lv2Plugin::deactivate() {
    if (!active_) return;
    lilv_instance_deactivate(instance_);
    active_ = false;
}

void Lv2Plugin::run(const float* const* inputs, float* const* outputs, uint32_t frames) {
    for (size_t c = 0; c < audioIn_.size() && c < 2; ++c)
        lilv_instance_connect_port(instance_, audioIn_[c], const_cast<float*>(inputs[c]));
    for (size_t c = 0; c < audioOut_.size() && c < 2; ++c)
        lilv_instance_connect_port(instance_, audioOut_[c], outputs[c]);
    lilv_instance_run(instance_, frames);
}

std::string Lv2Plugin::saveState() {
    const LV2_URID floatType = urids_->Map(LV2_ATOM__Float);
    struct Context {
        Lv2Plugin* self;
        LV2_URID floatType;
    } context{this, floatType};
    auto portValue = [](const char* symbol, void* data, uint32_t* size, uint32_t* type) -> const void* {
        auto* c = static_cast<Context*>(data);
        for (const Lv2Port& port : c->self->ports_)
            if (port.symbol == symbol && port.control && port.input) {
                *size = sizeof(float);
                *type = c->floatType;
                return &c->self->controls_[port.index];
            }
        *size = 0;
        *type = 0;
        return nullptr;
    };
    const LV2_Feature mapFeature{LV2_URID__map, urids_->map()};
    const LV2_Feature* features[] = {&mapFeature, nullptr};
    LilvState* state = lilv_state_new_from_instance(plugin_, instance_, urids_->map(), nullptr, nullptr,
                                                    nullptr, nullptr, portValue, &context, 0, features);
    if (!state) throw Lv2Error("the plug-in's state could not be taken");
    char* text = lilv_state_to_string(world_, urids_->map(), urids_->unmap(), state, "urn:vandrel:test-state",
                                      nullptr);
    lilv_state_free(state);
    if (!text) throw Lv2Error("the plug-in's state could not be written");
    std::string turtle = text;
    lilv_free(text);
    return turtle;
}

void Lv2Plugin::restoreState(const std::string& turtle) {
    LilvState* state = lilv_state_new_from_string(world_, urids_->map(), turtle.c_str());
    if (!state) throw Lv2Error("the state could not be read");
    restore(state);
}

std::vector<Lv2Preset> Lv2Plugin::presets() const {
    Node presetClass(lilv_new_uri(world_, LV2_PRESETS__Preset));
    Node labelPredicate(lilv_new_uri(world_, LILV_NS_RDFS "label"));
    std::vector<Lv2Preset> found;
    LilvNodes* related = lilv_plugin_get_related(plugin_, presetClass);
    LILV_FOREACH(nodes, i, related) {
        const LilvNode* preset = lilv_nodes_get(related, i);
        lilv_world_load_resource(world_, preset);
        Node label(lilv_world_get(world_, preset, labelPredicate, nullptr));
        found.push_back({AsString(preset), AsString(label)});
    }
    lilv_nodes_free(related);
    std::sort(found.begin(), found.end(),
              [](const Lv2Preset& a, const Lv2Preset& b) { return a.label < b.label; });
    return found;
}

void Lv2Plugin::applyPreset(const std::string& uri) {
    Node preset(lilv_new_uri(world_, uri.c_str()));
    lilv_world_load_resource(world_, preset);
    LilvState* state = lilv_state_new_from_world(world_, urids_->map(), preset);
    if (!state) throw Lv2Error("no preset " + uri);
    restore(state);
}

void Lv2Plugin::restore(LilvState* state) {
    const LV2_URID floatType = urids_->Map(LV2_ATOM__Float);
    struct Context {
        Lv2Plugin* self;
        LV2_URID floatType;
    } context{this, floatType};
    auto setValue = [](const char* symbol, void* data, const void* value, uint32_t size, uint32_t type) {
        auto* c = static_cast<Context*>(data);
        if (type != c->floatType || size != sizeof(float)) return;
        for (const Lv2Port& port : c->self->ports_)
            if (port.symbol == symbol && port.control && port.input)
                std::memcpy(&c->self->controls_[port.index], value, sizeof(float));
    };
    const LV2_Feature mapFeature{LV2_URID__map, urids_->map()};
    const LV2_Feature* features[] = {&mapFeature, nullptr};
    lilv_state_restore(state, instance_, setValue, &context, 0, features);
    lilv_state_free(state);
}

const void* Lv2Plugin::extensionData(const char* uri) const {
    return lilv_instance_get_extension_data(instance_, uri);
}

} // namespace hosting
