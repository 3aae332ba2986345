#include "platform/linux/secret_store_libsecret.h"

#include <libsecret/secret.h>

#include <string>

namespace vurin {

namespace {

const SecretSchema* keySchema() {
    static const SecretSchema schema = {
        "com.vurin.app.Key",
        SECRET_SCHEMA_NONE,
        {
            {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
        0,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
    };
    return &schema;
}

// Owns the GError a libsecret call reports and frees it.
class ErrorSlot {
  public:
    ErrorSlot() = default;
    ~ErrorSlot() {
        if (error_ != nullptr) {
            g_error_free(error_);
        }
    }
    ErrorSlot(const ErrorSlot&) = delete;
    ErrorSlot& operator=(const ErrorSlot&) = delete;

    GError** out() { return &error_; }
    const GError* get() const { return error_; }

  private:
    GError* error_ = nullptr;
};

SecretStatus statusOf(const GError* error) {
    if (error == nullptr) {
        return SecretStatus::success;
    }
    if (error->domain == SECRET_ERROR) {
        switch (error->code) {
            case SECRET_ERROR_IS_LOCKED:
                return SecretStatus::locked;
            case SECRET_ERROR_NO_SUCH_OBJECT:
                return SecretStatus::itemNotFound;
            default:
                return SecretStatus::failure;
        }
    }
    // No session bus, nobody owning org.freedesktop.secrets on it, or a bus that stopped
    // answering: the keyring is not there rather than refusing.
    if (error->domain == G_DBUS_ERROR || error->domain == G_IO_ERROR ||
        error->domain == G_SPAWN_ERROR) {
        return SecretStatus::noService;
    }
    return SecretStatus::failure;
}

SecretResult resultOf(const ErrorSlot& error) {
    if (error.get() == nullptr) {
        return {SecretStatus::success, {}};
    }
    return {statusOf(error.get()), error.get()->message != nullptr ? error.get()->message : ""};
}

struct Identity {
    std::string service;
    std::string account;
};

Identity identity(std::string_view service, std::string_view account) {
    return {std::string(service), std::string(account)};
}

// Whether an item exists. (Looked up rather than searched: the search leaves GIO proxy data
// behind on every call.)
SecretResult findItem(const Identity& id) {
    ErrorSlot error;
    gchar* password =
        secret_password_lookup_sync(keySchema(), nullptr, error.out(), "service",
                                    id.service.c_str(), "account", id.account.c_str(), nullptr);
    if (error.get() != nullptr) {
        return resultOf(error);
    }
    const bool found = password != nullptr;
    secret_password_free(password);
    return {found ? SecretStatus::success : SecretStatus::itemNotFound, {}};
}

// Creates the item, or replaces the value of the item with the same attributes.
SecretResult storeItem(const Identity& id, std::string_view value) {
    // The password goes over the C API as a NUL-terminated string: a value with a NUL inside
    // would be stored cut short, so it is refused instead.
    if (value.find('\0') != std::string_view::npos) {
        return {SecretStatus::failure, "the value contains a NUL character"};
    }
    const std::string password(value);
    const std::string label = "Vurin: " + id.account;
    ErrorSlot error;
    secret_password_store_sync(keySchema(), SECRET_COLLECTION_DEFAULT, label.c_str(),
                               password.c_str(), nullptr, error.out(), "service",
                               id.service.c_str(), "account", id.account.c_str(), nullptr);
    return resultOf(error);
}

}  // namespace

SecretResult LibsecretSecretStore::update(std::string_view service, std::string_view account,
                                          std::string_view value) {
    const Identity id = identity(service, account);
    const SecretResult existing = findItem(id);
    if (existing.status != SecretStatus::success) {
        return existing;
    }
    return storeItem(id, value);
}

SecretResult LibsecretSecretStore::add(std::string_view service, std::string_view account,
                                       std::string_view value) {
    return storeItem(identity(service, account), value);
}

SecretLookup LibsecretSecretStore::read(std::string_view service, std::string_view account) {
    const Identity id = identity(service, account);
    ErrorSlot error;
    gchar* password =
        secret_password_lookup_sync(keySchema(), nullptr, error.out(), "service",
                                    id.service.c_str(), "account", id.account.c_str(), nullptr);
    if (error.get() != nullptr) {
        const SecretResult result = resultOf(error);
        return {result.status, {}, result.detail};
    }
    if (password == nullptr) {
        return {SecretStatus::itemNotFound, {}, {}};
    }
    SecretLookup lookup{SecretStatus::success, password, {}};
    secret_password_free(password);  // wipes the copy libsecret handed out
    return lookup;
}

SecretResult LibsecretSecretStore::remove(std::string_view service, std::string_view account) {
    const Identity id = identity(service, account);
    ErrorSlot error;
    const gboolean removed =
        secret_password_clear_sync(keySchema(), nullptr, error.out(), "service", id.service.c_str(),
                                   "account", id.account.c_str(), nullptr);
    if (error.get() != nullptr) {
        return resultOf(error);
    }
    return {removed ? SecretStatus::success : SecretStatus::itemNotFound, {}};
}

}  // namespace vurin
