// Runs against the Secret Service of the headless test session (gnome-keyring, unlocked).
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "config/config.h"
#include "config/keychain.h"
#include "platform/linux/secret_store_libsecret.h"

namespace vurin {
namespace {

constexpr auto kTestDeadline = std::chrono::seconds(30);
constexpr std::string_view kAccount = "VURIN_KEYRING_TEST_KEY";
constexpr std::string_view kOtherService = "com.vurin.app.keyring-test";

// A keyring that never answers (a locked collection waiting for a prompt nobody shows) would
// block a libsecret call forever; the whole binary gives up with a message instead of hanging.
class Watchdog {
  public:
    explicit Watchdog(std::string testName)
        : thread_([this, name = std::move(testName)] {
              std::unique_lock lock(mutex_);
              if (!finished_.wait_for(lock, kTestDeadline, [this] { return done_; })) {
                  std::fprintf(stderr,
                               "%s: the Secret Service did not answer within %lld s; is "
                               "gnome-keyring running and unlocked in this session "
                               "(scripts/test-session)?\n",
                               name.c_str(), static_cast<long long>(kTestDeadline.count()));
                  std::fflush(stderr);
                  std::_Exit(1);
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        finished_.notify_one();
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

  private:
    std::mutex mutex_;
    std::condition_variable finished_;
    bool done_ = false;
    std::thread thread_;
};

const char* statusName(SecretStatus status) {
    switch (status) {
        case SecretStatus::success:
            return "success";
        case SecretStatus::itemNotFound:
            return "item not found";
        case SecretStatus::noService:
            return "no service";
        case SecretStatus::locked:
            return "locked";
        case SecretStatus::failure:
            break;
    }
    return "failure";
}

class KeyringTest : public ::testing::Test {
  protected:
    void SetUp() override {
        watchdog_ = std::make_unique<Watchdog>(
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        // Without a session bus GLib might try to autolaunch one: refuse before any call.
        const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        ASSERT_TRUE(bus != nullptr && *bus != '\0')
            << "DBUS_SESSION_BUS_ADDRESS is not set: the keyring tests run inside the session "
               "started by scripts/test-session";
        // Reading a missing item works even in a locked keyring: only a write shows whether
        // the session's collection takes items.
        const SecretResult probe = store_->add(kOtherService, "probe", "probe");
        ASSERT_EQ(probe.status, SecretStatus::success)
            << "cannot store an item in the Secret Service (" << statusName(probe.status)
            << "): " << probe.detail
            << "; the keyring tests need the unlocked gnome-keyring of scripts/test-session";
        store_->remove(kOtherService, "probe");
        installSecretStore(store_);
        Keychain::deleteItem(kAccount);
        store_->remove(kOtherService, kAccount);
    }
    void TearDown() override {
        if (!HasFatalFailure()) {
            Keychain::deleteItem(kAccount);
            store_->remove(kOtherService, kAccount);
        }
        installSecretStore(nullptr);
        watchdog_.reset();
    }

    std::shared_ptr<LibsecretSecretStore> store_ = std::make_shared<LibsecretSecretStore>();
    std::unique_ptr<Watchdog> watchdog_;
};

TEST_F(KeyringTest, StoreReplaceReadDelete) {
    EXPECT_EQ(Keychain::get(kAccount), std::nullopt);
    ASSERT_TRUE(Keychain::set("gsk_first", kAccount));
    EXPECT_EQ(Keychain::get(kAccount), "gsk_first");
    ASSERT_TRUE(Keychain::set("gsk_second", kAccount));
    EXPECT_EQ(Keychain::get(kAccount), "gsk_second");
    Keychain::deleteItem(kAccount);
    EXPECT_EQ(Keychain::get(kAccount), std::nullopt);
    Keychain::deleteItem(kAccount);  // deleting again is harmless
    EXPECT_EQ(store_->read(Keychain::service, kAccount).status, SecretStatus::itemNotFound);
}

TEST_F(KeyringTest, UpdateFindsNoItemUntilOneIsAddedThenReplacesIt) {
    EXPECT_EQ(store_->update(Keychain::service, kAccount, "v1").status, SecretStatus::itemNotFound);
    EXPECT_EQ(store_->read(Keychain::service, kAccount).status, SecretStatus::itemNotFound);
    EXPECT_EQ(store_->add(Keychain::service, kAccount, "v1").status, SecretStatus::success);
    EXPECT_EQ(store_->update(Keychain::service, kAccount, "v2").status, SecretStatus::success);
    const SecretLookup lookup = store_->read(Keychain::service, kAccount);
    EXPECT_EQ(lookup.status, SecretStatus::success);
    EXPECT_EQ(lookup.value, "v2");
    EXPECT_EQ(store_->remove(Keychain::service, kAccount).status, SecretStatus::success);
    EXPECT_EQ(store_->remove(Keychain::service, kAccount).status, SecretStatus::itemNotFound);
}

TEST_F(KeyringTest, NonASCIIAndBlanksComeBackByteForByte) {
    const std::string value = " 密钥-ключ-clé-🔑\t";
    ASSERT_TRUE(Keychain::set(value, kAccount));
    EXPECT_EQ(Keychain::get(kAccount), value);
}

TEST_F(KeyringTest, ServiceAndAccountTogetherNameTheItem) {
    ASSERT_TRUE(Keychain::set("product", kAccount));
    ASSERT_EQ(store_->add(kOtherService, kAccount, "other").status, SecretStatus::success);
    EXPECT_EQ(Keychain::get(kAccount), "product");
    EXPECT_EQ(store_->read(kOtherService, kAccount).value, "other");
    Keychain::deleteItem(kAccount);
    EXPECT_EQ(store_->read(kOtherService, kAccount).value, "other");
}

TEST_F(KeyringTest, ValueWithANulIsRefusedAndTheStoredKeyStays) {
    ASSERT_TRUE(Keychain::set("gsk_kept", kAccount));
    EXPECT_FALSE(Keychain::set(std::string("gsk_\0cut", 8), kAccount));
    EXPECT_EQ(Keychain::get(kAccount), "gsk_kept");
}

TEST_F(KeyringTest, MigrationMovesAnEnvKeyIntoTheKeyring) {
    // The migration reads the catalogue's accounts; the session's keyring is private to it.
    Keychain::deleteItem("GEMINI_API_KEY");
    std::filesystem::create_directories(configDir());
    std::ofstream(envFileURL(), std::ios::binary) << "GEMINI_API_KEY=AIza-test\r\n";
    migrateEnvKeysToKeychain();
    EXPECT_EQ(Keychain::get("GEMINI_API_KEY"), "AIza-test");
    EXPECT_FALSE(std::filesystem::exists(envFileURL()));
    Keychain::deleteItem("GEMINI_API_KEY");
}

}  // namespace
}  // namespace vurin
