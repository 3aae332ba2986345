// Against the Secret Service of the headless test session (gnome-keyring, unlocked).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "config/keychain.h"
#include "platform/linux/secret_store_libsecret.h"

namespace vurin {
namespace {

TEST(Keyring, ItemsAreAddedReplacedReadAndRemovedByServiceAndAccount) {
    ::alarm(30);  // a keyring waiting for a prompt nobody answers would block libsecret forever
    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");  // else GLib might start one
    ASSERT_TRUE(bus != nullptr && *bus != '\0') << "run inside scripts/test-session";
    constexpr std::string_view account = "VURIN_KEYRING_TEST_KEY", other = "com.vurin.app.test";
    auto store = std::make_shared<LibsecretSecretStore>();
    installSecretStore(store);
    Keychain::deleteItem(account);
    store->remove(other, account);
    EXPECT_EQ(store->update("com.vurin.app", account, "v1").status, SecretStatus::itemNotFound);
    EXPECT_EQ(Keychain::get(account), std::nullopt);
    ASSERT_TRUE(Keychain::set("gsk_first", account)) << "the session's keyring takes no items";
    ASSERT_TRUE(Keychain::set(" 密钥-ключ-clé-🔑\t", account));
    EXPECT_FALSE(Keychain::set(std::string("gsk_\0cut", 8), account));
    ASSERT_EQ(store->add(other, account, "other").status, SecretStatus::success);
    EXPECT_EQ(store->read("com.vurin.app", account).value, " 密钥-ключ-clé-🔑\t");
    Keychain::deleteItem(account);
    EXPECT_EQ(Keychain::get(account), std::nullopt);
    EXPECT_EQ(store->remove("com.vurin.app", account).status, SecretStatus::itemNotFound);
    EXPECT_EQ(store->remove(other, account).status, SecretStatus::success);
    installSecretStore(nullptr);
    ::alarm(0);
}

}  // namespace
}  // namespace vurin
