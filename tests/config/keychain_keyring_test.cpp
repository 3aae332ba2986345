// Runs against the Secret Service of the headless test session (gnome-keyring, unlocked).
#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <memory>
#include <string>
#include <tuple>

#include "config/keychain.h"
#include "platform/linux/secret_store_libsecret.h"

namespace vurin {
namespace {

constexpr std::string_view kAccount = "VURIN_KEYRING_TEST_KEY";
constexpr std::string_view kOtherService = "com.vurin.app.keyring-test";

class KeyringTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // A keyring that never answers (a locked collection waiting for a prompt nobody shows)
        // would block a libsecret call forever: the binary gives up with a message instead.
        std::signal(SIGALRM, [](int) {
            constexpr char message[] =
                "the Secret Service did not answer within 30 s; is gnome-keyring running and "
                "unlocked in this session (scripts/test-session)?\n";
            std::ignore = ::write(STDERR_FILENO, message, sizeof message - 1);
            std::_Exit(1);
        });
        ::alarm(30);
        // Without a session bus GLib might try to autolaunch one: refuse before any call.
        const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        ASSERT_TRUE(bus != nullptr && *bus != '\0')
            << "the keyring tests run inside the session started by scripts/test-session";
        // Reading a missing item works even in a locked keyring: only a write shows whether
        // the session's collection takes items.
        const SecretResult probe = store->add(kOtherService, "probe", "probe");
        ASSERT_EQ(probe.status, SecretStatus::success)
            << "cannot store an item in the Secret Service: " << probe.detail
            << "; the keyring tests need the unlocked gnome-keyring of scripts/test-session";
        store->remove(kOtherService, "probe");
        installSecretStore(store);
        removeItems();
    }
    void TearDown() override {
        if (!HasFatalFailure()) {
            removeItems();
        }
        installSecretStore(nullptr);
        ::alarm(0);
    }
    void removeItems() {
        Keychain::deleteItem(kAccount);
        store->remove(kOtherService, kAccount);
    }

    std::shared_ptr<LibsecretSecretStore> store = std::make_shared<LibsecretSecretStore>();
};

TEST_F(KeyringTest, ItemsAreAddedReplacedReadAndRemovedByServiceAndAccount) {
    const std::string value = " 密钥-ключ-clé-🔑\t";
    EXPECT_EQ(store->update(Keychain::service, kAccount, "v1").status, SecretStatus::itemNotFound);
    EXPECT_EQ(Keychain::get(kAccount), std::nullopt);
    ASSERT_TRUE(Keychain::set("gsk_first", kAccount));
    EXPECT_EQ(Keychain::get(kAccount), "gsk_first");
    ASSERT_TRUE(Keychain::set(value, kAccount));
    EXPECT_FALSE(Keychain::set(std::string("gsk_\0cut", 8), kAccount));
    ASSERT_EQ(store->add(kOtherService, kAccount, "other").status, SecretStatus::success);
    EXPECT_EQ(Keychain::get(kAccount), value);
    Keychain::deleteItem(kAccount);
    EXPECT_EQ(Keychain::get(kAccount), std::nullopt);
    EXPECT_EQ(store->remove(Keychain::service, kAccount).status, SecretStatus::itemNotFound);
    EXPECT_EQ(store->read(kOtherService, kAccount).value, "other");
    EXPECT_EQ(store->update(kOtherService, kAccount, "v2").status, SecretStatus::success);
    EXPECT_EQ(store->read(kOtherService, kAccount).value, "v2");
    EXPECT_EQ(store->remove(kOtherService, kAccount).status, SecretStatus::success);
}

}  // namespace
}  // namespace vurin
