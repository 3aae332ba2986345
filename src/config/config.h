#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vurin {

// The one persisted settings record. Field order is the order of the keys in config.json.
struct Config {
    std::int64_t keyCode = 105;  // macOS virtual key code; 105 is F13
    bool sendOnClick = true;
    std::string sttProvider = "local";  // "local" or "cloud"
    std::string sttLanguage = "auto";   // "auto", "zh", "en"
    std::string polishProvider = "local";
    bool allowCloudFallback = false;
    bool saveTextHistory = false;
    std::string sttCloudProvider = "groq";
    std::string polishCloudProvider = "groq";
    std::string uiLang = "auto";        // "auto", "zh", "en"
    double soundVolume = 0.3;           // 0.0 ... 1.0
    std::string micDevice = "builtin";  // "builtin" or "system"
    bool phoneTriggerEnabled = false;
    std::string phoneToken;
    bool autoCheckUpdates = true;

    bool operator==(const Config&) const = default;
};

// Decodes a config.json document. Absent or null keys keep their defaults; the legacy
// `cloudProvider` key fills both cloud provider fields; a key of the wrong JSON type, a
// document that is not JSON or not an object gives no result.
std::optional<Config> decodeConfig(std::string_view json);

// Pretty-printed JSON with the fifteen keys in field order; `cloudProvider` is never written.
// Gives an empty string when the record cannot be encoded (a string that is not valid UTF-8).
std::string encodeConfig(const Config& config);

// The configuration folder for the given $XDG_CONFIG_HOME and home directory values (empty
// when unset): <xdgConfigHome>/vurin when it is an absolute path, else <home>/.config/vurin.
std::filesystem::path configDirFrom(std::string_view xdgConfigHome, std::string_view home);

// The user's home directory: $HOME first, as every XDG program does; the password database
// when it is unset.
std::string homeDirectory();

// configDirFrom() applied to this process's environment ($HOME, else the password database).
// Computed on first use and then fixed for the process.
const std::filesystem::path& configDir();
const std::filesystem::path& configURL();   // configDir() / "config.json"
const std::filesystem::path& historyURL();  // configDir() / "history.jsonl"
const std::filesystem::path& envFileURL();  // configDir() / "env" (legacy keys)

// Creates the directory if needed and sets its mode to 0700; errors are ignored.
void ensurePrivateConfigDirectory();

// Sets the file's mode to 0600; errors are ignored.
void makeFilePrivate(const std::filesystem::path& path);

// The defaults when the file is missing, unreadable or invalid. Writes nothing.
Config loadConfig();

// Writes config.json atomically (temporary file in the same folder, created 0600, fsync,
// rename) after making the directory private. Failures are silent.
void saveConfig(const Config& config);

// Writes `bytes` to `path` so that a reader sees either the old or the whole new content and
// the file is never readable by others, not even for a moment. Returns false on failure.
bool writeFilePrivateAtomically(const std::filesystem::path& path, std::string_view bytes);

}  // namespace vurin
