#pragma once

#include <string_view>

#include "platform/secret_store.h"

namespace vurin {

// The keychain on Linux: generic passwords in the Secret Service (GNOME Keyring, KWallet)
// through libsecret, as items with the string attributes "service" and "account" in the
// default collection. Every call is a blocking D-Bus round trip, safe from any thread.
//
// The header stays free of libsecret and GLib on purpose: GLib names a struct field `signals`,
// which Qt's keyword macros break, so only secret_store_libsecret.cpp sees them.
class LibsecretSecretStore : public SecretStore {
  public:
    SecretResult update(std::string_view service, std::string_view account,
                        std::string_view value) override;
    SecretResult add(std::string_view service, std::string_view account,
                     std::string_view value) override;
    SecretLookup read(std::string_view service, std::string_view account) override;
    SecretResult remove(std::string_view service, std::string_view account) override;
};

}  // namespace vurin
