#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <vector>

#include "config/config.h"
#include "config/private_file.h"

namespace vurin {

namespace {

std::string_view environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string_view() : std::string_view(value);
}

}  // namespace

std::string homeDirectory() {
    if (const auto home = environmentValue("HOME"); !home.empty()) {
        return std::string(home);
    }
    long bufferSize = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(bufferSize > 0 ? static_cast<std::size_t>(bufferSize) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    // Nowhere sensible to keep settings: a path an ordinary user cannot create, so every save
    // fails quietly and the defaults are used.
    return "/";
}

std::filesystem::path configDirFrom(std::string_view xdgConfigHome, std::string_view home) {
    const std::filesystem::path xdg(xdgConfigHome);
    if (!xdgConfigHome.empty() && xdg.is_absolute()) {
        return xdg / "vurin";
    }
    return std::filesystem::path(home) / ".config" / "vurin";
}

const std::filesystem::path& configDir() {
    static const std::filesystem::path dir =
        configDirFrom(environmentValue("XDG_CONFIG_HOME"), homeDirectory());
    return dir;
}

const std::filesystem::path& configURL() {
    static const std::filesystem::path path = configDir() / "config.json";
    return path;
}

const std::filesystem::path& historyURL() {
    static const std::filesystem::path path = configDir() / "history.jsonl";
    return path;
}

const std::filesystem::path& envFileURL() {
    static const std::filesystem::path path = configDir() / "env";
    return path;
}

void ensurePrivateConfigDirectory() {
    std::error_code ignored;
    std::filesystem::create_directories(configDir(), ignored);
    std::filesystem::permissions(configDir(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace, ignored);
}

void makeFilePrivate(const std::filesystem::path& path) {
    std::error_code ignored;
    std::filesystem::permissions(
        path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
        std::filesystem::perm_options::replace, ignored);
}

Config loadConfig() {
    const auto bytes = readWholeFile(configURL());
    if (!bytes) {
        return Config();
    }
    return decodeConfig(*bytes).value_or(Config());
}

void saveConfig(const Config& config) {
    ensurePrivateConfigDirectory();
    const std::string bytes = encodeConfig(config);
    if (bytes.empty()) {
        return;
    }
    writeFilePrivateAtomically(configURL(), bytes);
    makeFilePrivate(configURL());
}

}  // namespace vurin
