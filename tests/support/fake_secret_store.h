#pragma once

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/secret_store.h"

namespace vurin::testing {

// An in-memory keychain answering like the real one; `failures` makes "update", "add", "read"
// or "remove" fail.
class FakeSecretStore : public SecretStore {
  public:
    SecretResult update(std::string_view service, std::string_view account,
                        std::string_view value) override {
        return write("update", service, account, value);
    }
    SecretResult add(std::string_view service, std::string_view account,
                     std::string_view value) override {
        return write("add", service, account, value);
    }
    SecretLookup read(std::string_view service, std::string_view account) override {
        const auto refused = enter("read", service);
        const auto found = items.find(std::string(account));
        return refused                ? SecretLookup{refused->status, {}, refused->detail}
               : found == items.end() ? SecretLookup{SecretStatus::itemNotFound, {}, {}}
                                      : SecretLookup{SecretStatus::success, found->second, {}};
    }
    SecretResult remove(std::string_view service, std::string_view account) override {
        const auto refused = enter("remove", service);
        const bool removed = !refused && items.erase(std::string(account)) > 0;
        return refused.value_or(
            SecretResult{removed ? SecretStatus::success : SecretStatus::itemNotFound, {}});
    }
    std::map<std::string, std::string> items;  // by account
    std::map<std::string, SecretStatus> failures;

  private:
    SecretResult write(const std::string& call, std::string_view service, std::string_view account,
                       std::string_view value) {
        const auto refused = enter(call, service);
        if (refused || (call == "update" && !items.contains(std::string(account)))) {
            return refused.value_or(SecretResult{SecretStatus::itemNotFound, {}});
        }
        items[std::string(account)] = value;
        return {SecretStatus::success, {}};
    }
    std::optional<SecretResult> enter(const std::string& call, std::string_view service) {
        EXPECT_EQ(service, "com.vurin.app");  // the keys users stored are found there
        const auto failure = failures.find(call);
        return failure == failures.end()
                   ? std::nullopt
                   : std::optional(SecretResult{failure->second, call + " refused"});
    }
};

}  // namespace vurin::testing
