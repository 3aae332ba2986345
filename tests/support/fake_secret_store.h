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
    using Key = std::pair<std::string, std::string>;  // service, account

    SecretResult update(std::string_view service, std::string_view account,
                        std::string_view value) override {
        calls.push_back("update " + std::string(account));
        if (updateFailure) {
            return {*updateFailure, "update refused"};
        }
        const auto found = items.find(key(service, account));
        if (found == items.end()) {
            return {SecretStatus::itemNotFound, {}};
        }
        found->second = std::string(value);
        return {SecretStatus::success, {}};
    }

    SecretResult add(std::string_view service, std::string_view account,
                     std::string_view value) override {
        calls.push_back("add " + std::string(account));
        if (addFailure) {
            return {*addFailure, "add refused"};
        }
        items[key(service, account)] = std::string(value);
        return {SecretStatus::success, {}};
    }

    SecretLookup read(std::string_view service, std::string_view account) override {
        calls.push_back("read " + std::string(account));
        if (readFailure) {
            return {*readFailure, {}, "read refused"};
        }
        const auto found = items.find(key(service, account));
        if (found == items.end()) {
            return {SecretStatus::itemNotFound, {}, {}};
        }
        return {SecretStatus::success, found->second, {}};
    }

    SecretResult remove(std::string_view service, std::string_view account) override {
        calls.push_back("remove " + std::string(account));
        if (removeFailure) {
            return {*removeFailure, "remove refused"};
        }
        return {items.erase(key(service, account)) > 0 ? SecretStatus::success
                                                       : SecretStatus::itemNotFound,
                {}};
    }

    // The value stored under the product's service for `account`.
    std::optional<std::string> value(std::string_view account) const {
        const auto found = items.find(key("com.vurin.app", account));
        return found == items.end() ? std::nullopt : std::optional(found->second);
    }
    void put(std::string_view account, std::string_view value) {
        items[key("com.vurin.app", account)] = std::string(value);
    }

    std::map<Key, std::string> items;
    std::vector<std::string> calls;
    std::optional<SecretStatus> updateFailure;
    std::optional<SecretStatus> addFailure;
    std::optional<SecretStatus> readFailure;
    std::optional<SecretStatus> removeFailure;

  private:
    static Key key(std::string_view service, std::string_view account) {
        return {std::string(service), std::string(account)};
    }
};

}  // namespace vurin::testing
