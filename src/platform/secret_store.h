#pragma once

#include <string>
#include <string_view>

namespace vurin {

// The outcome of one call to the secret store.
enum class SecretStatus {
    success,
    itemNotFound,  // the store answered: there is no item with this service and account
    noService,     // no store could be reached (no session bus, no Secret Service on it)
    locked,        // the store is there but its collection is locked and stayed locked
    failure,       // anything else; `detail` says what
};

struct SecretResult {
    SecretStatus status = SecretStatus::failure;
    std::string detail;  // the store's own description of a failure; never holds a secret
};

struct SecretLookup {
    SecretStatus status = SecretStatus::failure;
    std::string value;   // the stored bytes when `status` is success
    std::string detail;  // as in SecretResult
};

// Generic-password items identified by (service, account), e.g. the Secret Service on Linux.
// Every call is atomic by itself and may come from any thread.
class SecretStore {
  public:
    virtual ~SecretStore() = default;

    // Replaces the value of an existing item; itemNotFound (and nothing stored) when there is
    // none.
    virtual SecretResult update(std::string_view service, std::string_view account,
                                std::string_view value) = 0;

    // Creates the item with `value`.
    virtual SecretResult add(std::string_view service, std::string_view account,
                             std::string_view value) = 0;

    virtual SecretLookup read(std::string_view service, std::string_view account) = 0;

    // Removes the item; removing an absent item is success or itemNotFound, never harmful.
    virtual SecretResult remove(std::string_view service, std::string_view account) = 0;
};

}  // namespace vurin
