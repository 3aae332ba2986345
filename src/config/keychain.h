#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "platform/secret_store.h"

namespace vurin {

// Makes `store` the process-wide keychain. Called once at start-up, before anything reads a
// key; tests install a fake. Until a store is installed (or after nullptr) every read gives
// nothing and every write fails, as with an unreachable keychain.
void installSecretStore(std::shared_ptr<SecretStore> store);

// Cloud API keys, one generic-password item per provider, identified by `service` and the
// provider's key account. Nothing is cached: every call goes to the installed store.
namespace Keychain {

inline constexpr std::string_view service = "com.vurin.app";

// Stores or replaces the key of `account`; true on success. An empty value, or one that is not
// valid UTF-8, is refused (false) and leaves a stored key as it was; so does a failed write.
bool set(std::string_view value, std::string_view account);

// The stored key, or nothing when there is none, the stored data is empty or not UTF-8, or the
// store cannot be read (a read failure looks like an absent key; the log tells them apart).
std::optional<std::string> get(std::string_view account);

// Removes the item of `account`; an absent item or a failure is ignored.
void deleteItem(std::string_view account);

}  // namespace Keychain

// The stored key of the provider `providerId` (looked up in the provider catalogue, an unknown
// id being Groq), or an empty string.
std::string cloudKey(std::string_view providerId);

// The legacy env file (envFileURL()) as a map from name to value; empty when the file is
// missing, unreadable or not UTF-8. Lines split at every line break (so no value holds one),
// then at the first "=" after any leading "="s; name and value are taken verbatim and a line
// yields an entry only when both are non-empty. A later name replaces an earlier one.
std::map<std::string, std::string> loadEnv();

// The same parsing applied to `content` (what loadEnv reads from the file).
std::map<std::string, std::string> parseEnv(std::string_view content);

// `content` without the lines whose name (the text before the first "=" after any leading
// "="s, trimmed of whitespace) is one of `accounts`. Lines split at every line break, a CR LF
// pair leaving an empty line between its halves; the kept lines are joined with line feeds.
std::string envContentRemovingAccounts(std::string_view content,
                                       const std::set<std::string>& accounts);

// Moves the cloud keys found in the legacy env file into the keychain (a key already in the
// keychain wins), then removes the finished lines from the file, or the file when nothing else
// is left. Runs once at launch on the main thread.
void migrateEnvKeysToKeychain();

}  // namespace vurin
