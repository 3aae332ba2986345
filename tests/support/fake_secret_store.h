#pragma once

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/secret_store.h"

namespace vurin::testing {

// An in-memory keychain of the product's service that answers like the real one (an update
// without an item gives itemNotFound); `failures` makes a kind of call ("update", "add",
// "read", "remove") fail.
class FakeSecretStore : public SecretStore {
  public:
    SecretResult update(std::string_view service, std::string_view account,
                        std::string_view value) override {
        const auto refused = enter("update", service);
        const auto found = items.find(std::string(account));
        if (refused || found == items.end()) {
            return refused.value_or(SecretResult{SecretStatus::itemNotFound, {}});
        }
        found->second = value;
        return {SecretStatus::success, {}};
    }
    SecretResult add(std::string_view service, std::string_view account,
                     std::string_view value) override {
        const auto refused = enter("add", service);
        if (!refused) {
            items[std::string(account)] = value;
        }
        return refused.value_or(SecretResult{SecretStatus::success, {}});
    }
    SecretLookup read(std::string_view service, std::string_view account) override {
        if (const auto refused = enter("read", service)) {
            return {refused->status, {}, refused->detail};
        }
        const auto found = value(std::string(account));
        return {found ? SecretStatus::success : SecretStatus::itemNotFound, found.value_or(""), {}};
    }
    SecretResult remove(std::string_view service, std::string_view account) override {
        const auto refused = enter("remove", service);
        const bool removed = !refused && items.erase(std::string(account)) > 0;
        return refused.value_or(
            SecretResult{removed ? SecretStatus::success : SecretStatus::itemNotFound, {}});
    }
    std::optional<std::string> value(const std::string& account) const {
        return items.contains(account) ? std::optional(items.at(account)) : std::nullopt;
    }

    std::map<std::string, std::string> items;  // by account
    std::map<std::string, SecretStatus> failures;

  private:
    std::optional<SecretResult> enter(const std::string& call, std::string_view service) {
        EXPECT_EQ(service, "com.vurin.app");  // the keys users stored are found there
        const auto failure = failures.find(call);
        return failure == failures.end()
                   ? std::nullopt
                   : std::optional(SecretResult{failure->second, call + " refused"});
    }
};

}  // namespace vurin::testing
