#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <vector>

#include "config/config.h"
#include "config/keychain.h"
#include "config/private_file.h"
#include "providers/provider_catalogue.h"
#include "support/log.h"
#include "support/text.h"

namespace vurin {

namespace {

// Length in bytes of the line break starting at `at`, or 0: U+000A...U+000D, NEL and the
// Unicode line and paragraph separators, each on its own (CR LF counts as two).
std::size_t lineBreakLength(std::string_view text, std::size_t at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte >= 0x0A && byte <= 0x0D) {
        return 1;
    }
    const std::string_view rest = text.substr(at);
    if (rest.starts_with("\xC2\x85")) {
        return 2;
    }
    if (rest.starts_with("\xE2\x80\xA8") || rest.starts_with("\xE2\x80\xA9")) {
        return 3;
    }
    return 0;
}

std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t lineStart = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        if (const std::size_t length = lineBreakLength(text, at); length > 0) {
            lines.push_back(text.substr(lineStart, at - lineStart));
            at += length;
            lineStart = at;
        } else {
            ++at;
        }
    }
    lines.push_back(text.substr(lineStart));
    return lines;
}

struct EnvLine {
    std::string_view name;  // empty when the line holds nothing but "="
    std::string_view value;
};

// Leading "="s are skipped, the name runs to the next "=", the value is all after it.
EnvLine splitAtEquals(std::string_view line) {
    const std::size_t nameStart = line.find_first_not_of('=');
    if (nameStart == std::string_view::npos) {
        return {};
    }
    line.remove_prefix(nameStart);
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
        return {line, {}};
    }
    return {line.substr(0, equals), line.substr(equals + 1)};
}

std::optional<std::string> readUTF8File(const std::filesystem::path& path) {
    auto bytes = readWholeFile(path);
    if (!bytes) {
        return std::nullopt;
    }
    if (!isValidUTF8(*bytes)) {
        return std::nullopt;
    }
    return bytes;
}

std::string joined(const std::vector<std::string>& names, std::string_view separator) {
    std::string text;
    for (const auto& name : names) {
        if (!text.empty()) {
            text += separator;
        }
        text += name;
    }
    return text;
}

// Leaves the file with the lines of the finished accounts gone, or removes it when nothing
// else is left. Failures are ignored: the next launch finds the keys already in the keychain.
void pruneEnvFile(const std::set<std::string>& finished) {
    const auto content = readUTF8File(envFileURL());
    if (!content) {
        return;
    }
    const std::string remaining = envContentRemovingAccounts(*content, finished);
    if (trimWhitespaceAndNewlines(remaining).empty()) {
        std::error_code ignored;
        std::filesystem::remove(envFileURL(), ignored);
    } else {
        writeFilePrivateAtomically(envFileURL(), remaining);
        makeFilePrivate(envFileURL());
    }
    log("🔐 已从旧 env 文件清除完成 Keychain 迁移的云端 Key");
}

}  // namespace

std::map<std::string, std::string> parseEnv(std::string_view content) {
    std::map<std::string, std::string> env;
    // Splitting at every line break, not only at line feeds, keeps the CR of a CR LF file (and
    // any other break) out of the values, and sees the very lines the pruning below sees.
    for (const std::string_view line : splitLines(content)) {
        const EnvLine entry = splitAtEquals(line);
        if (!entry.name.empty() && !entry.value.empty()) {
            env[std::string(entry.name)] = std::string(entry.value);
        }
    }
    return env;
}

std::map<std::string, std::string> loadEnv() {
    const auto content = readUTF8File(envFileURL());
    return content ? parseEnv(*content) : std::map<std::string, std::string>();
}

std::string envContentRemovingAccounts(std::string_view content,
                                       const std::set<std::string>& accounts) {
    std::string kept;
    bool first = true;
    for (const std::string_view line : splitLines(content)) {
        const std::string_view name = splitAtEquals(line).name;
        const bool removed = !name.empty() && !accounts.empty() &&
                             accounts.contains(std::string(trimWhitespaceAndNewlines(name)));
        if (removed) {
            continue;
        }
        if (!first) {
            kept += '\n';
        }
        kept += line;
        first = false;
    }
    return kept;
}

void migrateEnvKeysToKeychain() {
    const auto env = loadEnv();
    std::vector<std::string> migrated;
    std::set<std::string> finished;
    for (const auto& provider : cloudProviderList()) {
        const std::string& account = provider.keyAccount;
        const auto entry = env.find(account);
        if (entry == env.end() || entry->second.empty()) {
            continue;
        }
        if (Keychain::get(account)) {
            finished.insert(account);  // the keychain's key wins over the file's
        } else if (Keychain::set(entry->second, account)) {
            migrated.push_back(account);
            finished.insert(account);
        }
        // A key that could not be stored keeps its line and is tried again at the next launch.
    }
    if (!migrated.empty()) {
        log("🔑 已把 " + joined(migrated, "、") + " 从 env 文件迁移进 Keychain");
    }
    if (!finished.empty()) {
        pruneEnvFile(finished);
    }
}

}  // namespace vurin
