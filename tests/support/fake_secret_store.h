#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/secret_store.h"

namespace vurin::testing {

// An in-memory keychain that behaves like the real one (update fails with itemNotFound when
// there is no item) and can be told to fail each kind of call with a chosen status.
class FakeSecretStore : public SecretStore {
  public:
    SecretResult update(std::string_view service, std::string_view account,
                        std::string_view value) override {
        const auto found = items.find(key(service, account));
        if (const auto refused = enter("update", account, updateFailure)) {
            return *refused;
        }
        if (found == items.end()) {
            return {SecretStatus::itemNotFound, {}};
        }
        found->second = value;
        return {SecretStatus::success, {}};
    }
    SecretResult add(std::string_view service, std::string_view account,
                     std::string_view value) override {
        if (const auto refused = enter("add", account, addFailure)) {
            return *refused;
        }
        items[key(service, account)] = value;
        return {SecretStatus::success, {}};
    }
    SecretLookup read(std::string_view service, std::string_view account) override {
        const auto found = items.find(key(service, account));
        if (const auto refused = enter("read", account, readFailure)) {
            return {refused->status, {}, refused->detail};
        }
        return found == items.end() ? SecretLookup{SecretStatus::itemNotFound, {}, {}}
                                    : SecretLookup{SecretStatus::success, found->second, {}};
    }
    SecretResult remove(std::string_view service, std::string_view account) override {
        if (const auto refused = enter("remove", account, removeFailure)) {
            return *refused;
        }
        const bool removed = items.erase(key(service, account)) > 0;
        return {removed ? SecretStatus::success : SecretStatus::itemNotFound, {}};
    }

    // The value stored under the product's service for `account`.
    std::optional<std::string> value(std::string_view account) const {
        const auto found = items.find(key("com.vurin.app", account));
        return found == items.end() ? std::nullopt : std::optional(found->second);
    }
    void put(std::string_view account, std::string_view value) {
        items[key("com.vurin.app", account)] = value;
    }

    std::map<std::pair<std::string, std::string>, std::string> items;  // (service, account)
    std::vector<std::string> calls;                                    // "update ACCOUNT", ...
    std::optional<SecretStatus> updateFailure, addFailure, readFailure, removeFailure;

  private:
    static std::pair<std::string, std::string> key(std::string_view service,
                                                   std::string_view account) {
        return {std::string(service), std::string(account)};
    }
    // Records the call; the failure it was told to give, if any.
    std::optional<SecretResult> enter(const std::string& call, std::string_view account,
                                      const std::optional<SecretStatus>& failure) {
        calls.push_back(call + " " + std::string(account));
        return failure ? std::optional(SecretResult{*failure, call + " refused"}) : std::nullopt;
    }
};

}  // namespace vurin::testing
