#include "config/config.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <nlohmann/json.hpp>

namespace vurin {

namespace {

using Json = nlohmann::ordered_json;

// The value stored under `key`, or nothing when the key is absent or JSON null: both leave
// the field at its default.
const Json* presentValue(const Json& object, const char* key) {
    auto found = object.find(key);
    if (found == object.end() || found->is_null()) {
        return nullptr;
    }
    return &*found;
}

// Each reader leaves `field` alone when the key is absent or null and returns false when the
// value has the wrong JSON type, which fails the whole decode.
bool readField(const Json& object, const char* key, std::string& field) {
    const Json* value = presentValue(object, key);
    if (value == nullptr) {
        return true;
    }
    if (!value->is_string()) {
        return false;
    }
    field = value->get<std::string>();
    return true;
}

bool readField(const Json& object, const char* key, bool& field) {
    const Json* value = presentValue(object, key);
    if (value == nullptr) {
        return true;
    }
    if (!value->is_boolean()) {
        return false;
    }
    field = value->get<bool>();
    return true;
}

// Key codes are whole numbers; 105.0 or 1e2 is not accepted, nor an integer beyond int64.
bool readField(const Json& object, const char* key, std::int64_t& field) {
    const Json* value = presentValue(object, key);
    if (value == nullptr) {
        return true;
    }
    if (value->is_number_unsigned()) {
        const auto unsignedValue = value->get<std::uint64_t>();
        if (unsignedValue > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return false;
        }
        field = static_cast<std::int64_t>(unsignedValue);
        return true;
    }
    if (!value->is_number_integer()) {
        return false;
    }
    field = value->get<std::int64_t>();
    return true;
}

// Any JSON number serves as a volume, integers included (a hand-edited 1 means full volume).
bool readField(const Json& object, const char* key, double& field) {
    const Json* value = presentValue(object, key);
    if (value == nullptr) {
        return true;
    }
    if (!value->is_number()) {
        return false;
    }
    field = value->get<double>();
    return true;
}

bool readAllFields(const Json& object, Config& config) {
    return readField(object, "keyCode", config.keyCode) &&
           readField(object, "sendOnClick", config.sendOnClick) &&
           readField(object, "sttProvider", config.sttProvider) &&
           readField(object, "sttLanguage", config.sttLanguage) &&
           readField(object, "polishProvider", config.polishProvider) &&
           readField(object, "allowCloudFallback", config.allowCloudFallback) &&
           readField(object, "saveTextHistory", config.saveTextHistory) &&
           readField(object, "sttCloudProvider", config.sttCloudProvider) &&
           readField(object, "polishCloudProvider", config.polishCloudProvider) &&
           readField(object, "uiLang", config.uiLang) &&
           readField(object, "soundVolume", config.soundVolume) &&
           readField(object, "micDevice", config.micDevice) &&
           readField(object, "phoneTriggerEnabled", config.phoneTriggerEnabled) &&
           readField(object, "phoneToken", config.phoneToken) &&
           readField(object, "autoCheckUpdates", config.autoCheckUpdates);
}

std::optional<Config> decodeObject(const Json& object) {
    // Earlier versions kept one cloud provider for both stages; it stands in for either
    // stage's own key when that key is missing.
    std::string legacyProvider = "groq";
    if (!readField(object, "cloudProvider", legacyProvider)) {
        return std::nullopt;
    }
    Config config;
    config.sttCloudProvider = legacyProvider;
    config.polishCloudProvider = legacyProvider;
    if (!readAllFields(object, config)) {
        return std::nullopt;
    }
    config.soundVolume = std::clamp(config.soundVolume, 0.0, 1.0);
    config.micDevice = config.micDevice == "system" ? "system" : "builtin";
    return config;
}

}  // namespace

std::optional<Config> decodeConfig(std::string_view json) {
    try {
        const Json document = Json::parse(json.begin(), json.end(), nullptr, false);
        if (!document.is_object()) {
            return std::nullopt;
        }
        return decodeObject(document);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::string encodeConfig(const Config& config) {
    Json object = Json::object();
    object["keyCode"] = config.keyCode;
    object["sendOnClick"] = config.sendOnClick;
    object["sttProvider"] = config.sttProvider;
    object["sttLanguage"] = config.sttLanguage;
    object["polishProvider"] = config.polishProvider;
    object["allowCloudFallback"] = config.allowCloudFallback;
    object["saveTextHistory"] = config.saveTextHistory;
    object["sttCloudProvider"] = config.sttCloudProvider;
    object["polishCloudProvider"] = config.polishCloudProvider;
    object["uiLang"] = config.uiLang;
    object["soundVolume"] = config.soundVolume;
    object["micDevice"] = config.micDevice;
    object["phoneTriggerEnabled"] = config.phoneTriggerEnabled;
    object["phoneToken"] = config.phoneToken;
    object["autoCheckUpdates"] = config.autoCheckUpdates;
    try {
        return object.dump(2) + "\n";
    } catch (const std::exception&) {
        return {};
    }
}

}  // namespace vurin
