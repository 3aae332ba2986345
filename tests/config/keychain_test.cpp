#include "config/keychain.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/fake_secret_store.h"
#include "support/log.h"

namespace vurin {
namespace {

using testing::FakeSecretStore;

class KeychainTest : public ::testing::Test {
  protected:
    void SetUp() override {
        installSecretStore(store_);
        setLogObserver([this](const std::string& line) { logged_.push_back(line); });
    }
    void TearDown() override {
        setLogObserver({});
        installSecretStore(nullptr);
    }

    std::shared_ptr<FakeSecretStore> store_ = std::make_shared<FakeSecretStore>();
    std::vector<std::string> logged_;
};

TEST_F(KeychainTest, EmptyKeyIsRefusedAndTheStoredOneStays) {
    store_->put("GROQ_API_KEY", "gsk_old");
    EXPECT_FALSE(Keychain::set("", "GROQ_API_KEY"));
    EXPECT_EQ(Keychain::get("GROQ_API_KEY"), "gsk_old");
    EXPECT_EQ(store_->calls, (std::vector<std::string>{"read GROQ_API_KEY"}));
}

TEST_F(KeychainTest, TextThatIsNotUTF8IsRefusedWithoutTouchingTheStore) {
    EXPECT_FALSE(Keychain::set("gsk_\xff", "GROQ_API_KEY"));
    EXPECT_TRUE(store_->calls.empty());
}

TEST_F(KeychainTest, FirstStoreUpdatesThenAddsAndTheSecondReplacesInPlace) {
    EXPECT_TRUE(Keychain::set("sk-one", "OPENAI_API_KEY"));
    EXPECT_EQ(store_->calls,
              (std::vector<std::string>{"update OPENAI_API_KEY", "add OPENAI_API_KEY"}));
    store_->calls.clear();
    EXPECT_TRUE(Keychain::set("sk-two", "OPENAI_API_KEY"));
    EXPECT_EQ(store_->calls, (std::vector<std::string>{"update OPENAI_API_KEY"}));
    EXPECT_EQ(Keychain::get("OPENAI_API_KEY"), "sk-two");
    ASSERT_EQ(store_->items.size(), 1u);
    EXPECT_EQ(store_->items.begin()->first.first, "com.vurin.app");
}

TEST_F(KeychainTest, UpdateFailureOtherThanNotFoundKeepsTheOldKeyAndDoesNotAdd) {
    store_->put("GROQ_API_KEY", "gsk_old");
    store_->updateFailure = SecretStatus::locked;
    EXPECT_FALSE(Keychain::set("gsk_new", "GROQ_API_KEY"));
    EXPECT_EQ(store_->calls, (std::vector<std::string>{"update GROQ_API_KEY"}));
    EXPECT_EQ(store_->value("GROQ_API_KEY"), "gsk_old");
    ASSERT_EQ(logged_.size(), 1u);
    EXPECT_EQ(logged_[0], "❌ 保存 GROQ_API_KEY 的 Key 失败:钥匙环已锁定 (locked)");
}

TEST_F(KeychainTest, AddFailureReportsFalse) {
    store_->addFailure = SecretStatus::noService;
    EXPECT_FALSE(Keychain::set("gsk_new", "GROQ_API_KEY"));
    EXPECT_EQ(store_->value("GROQ_API_KEY"), std::nullopt);
    ASSERT_EQ(logged_.size(), 1u);
    EXPECT_EQ(logged_[0],
              "❌ 保存 GROQ_API_KEY 的 Key 失败:无法连接 Secret Service (no service): add refused");
}

TEST_F(KeychainTest, WithoutAStoreWritesFailAndReadsGiveNothing) {
    installSecretStore(nullptr);
    EXPECT_FALSE(Keychain::set("gsk_new", "GROQ_API_KEY"));
    EXPECT_EQ(Keychain::get("GROQ_API_KEY"), std::nullopt);
    Keychain::deleteItem("GROQ_API_KEY");
    EXPECT_EQ(cloudKey("groq"), "");
}

TEST_F(KeychainTest, ValuesKeepTheirBlanksAndNonASCII) {
    EXPECT_TRUE(Keychain::set(" key with blanks \t", "GEMINI_API_KEY"));
    EXPECT_EQ(Keychain::get("GEMINI_API_KEY"), " key with blanks \t");
    EXPECT_TRUE(Keychain::set("密钥-ключ-🔑", "GEMINI_API_KEY"));
    EXPECT_EQ(Keychain::get("GEMINI_API_KEY"), "密钥-ключ-🔑");
}

TEST_F(KeychainTest, EmptyOrNonUTF8DataReadsAsNothing) {
    store_->put("GROQ_API_KEY", "");
    EXPECT_EQ(Keychain::get("GROQ_API_KEY"), std::nullopt);
    store_->put("GROQ_API_KEY", "\xc3\x28");
    EXPECT_EQ(Keychain::get("GROQ_API_KEY"), std::nullopt);
    EXPECT_EQ(logged_,
              (std::vector<std::string>{
                  "⚠️ Keychain 中 GROQ_API_KEY 的 Key 为空,按未设置处理",
                  "⚠️ Keychain 中 GROQ_API_KEY 的 Key 不是 UTF-8 文本,按未设置处理",
              }));
}

TEST_F(KeychainTest, EveryReadFailureLooksAbsentButTheLogSaysWhich) {
    store_->put("GROQ_API_KEY", "gsk_secret_value");
    EXPECT_EQ(Keychain::get("OPENAI_API_KEY"), std::nullopt);
    for (const auto status :
         {SecretStatus::noService, SecretStatus::locked, SecretStatus::failure}) {
        store_->readFailure = status;
        EXPECT_EQ(Keychain::get("GROQ_API_KEY"), std::nullopt);
    }
    const std::string readFailed = "⚠️ 读取 GROQ_API_KEY 的 Key 失败,按未设置处理:";
    const std::vector<std::string> expected = {
        "🔑 Keychain 中没有 OPENAI_API_KEY 的 Key (item not found)",
        readFailed + "无法连接 Secret Service (no service): read refused",
        readFailed + "钥匙环已锁定 (locked)",
        readFailed + "read refused",
    };
    EXPECT_EQ(logged_, expected);
}

TEST_F(KeychainTest, ARepeatedReadProblemIsLoggedOnceUntilItChanges) {
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Keychain::get("GROQ_API_KEY"), std::nullopt);
    }
    EXPECT_EQ(logged_.size(), 1u);
    store_->put("GROQ_API_KEY", "gsk_1");
    EXPECT_EQ(Keychain::get("GROQ_API_KEY"), "gsk_1");
    Keychain::deleteItem("GROQ_API_KEY");
    EXPECT_EQ(Keychain::get("GROQ_API_KEY"), std::nullopt);
    EXPECT_EQ(Keychain::get("OPENAI_API_KEY"), std::nullopt);
    EXPECT_EQ(logged_, (std::vector<std::string>{
                           "🔑 Keychain 中没有 GROQ_API_KEY 的 Key (item not found)",
                           "🔑 Keychain 中没有 GROQ_API_KEY 的 Key (item not found)",
                           "🔑 Keychain 中没有 OPENAI_API_KEY 的 Key (item not found)",
                       }));
}

TEST_F(KeychainTest, NoKeyValueEverReachesTheLog) {
    store_->updateFailure = SecretStatus::failure;
    Keychain::set("gsk_secret_value", "GROQ_API_KEY");
    store_->updateFailure.reset();
    Keychain::set("gsk_secret_value", "GROQ_API_KEY");
    Keychain::get("GROQ_API_KEY");
    store_->readFailure = SecretStatus::failure;
    Keychain::get("GROQ_API_KEY");
    for (const auto& line : logged_) {
        EXPECT_EQ(line.find("gsk_secret_value"), std::string::npos) << line;
    }
}

TEST_F(KeychainTest, DeleteRemovesAndIgnoresAbsentItemsAndFailures) {
    store_->put("GROQ_API_KEY", "gsk_1");
    Keychain::deleteItem("GROQ_API_KEY");
    EXPECT_EQ(store_->value("GROQ_API_KEY"), std::nullopt);
    Keychain::deleteItem("GROQ_API_KEY");
    store_->removeFailure = SecretStatus::noService;
    Keychain::deleteItem("GROQ_API_KEY");
    EXPECT_EQ(store_->calls, (std::vector<std::string>{"remove GROQ_API_KEY", "remove GROQ_API_KEY",
                                                       "remove GROQ_API_KEY"}));
}

TEST_F(KeychainTest, CloudKeyReadsTheProvidersAccountAndUnknownIdsMeanGroq) {
    store_->put("GROQ_API_KEY", "gsk_1");
    store_->put("OPENAI_API_KEY", "sk-1");
    EXPECT_EQ(cloudKey("groq"), "gsk_1");
    EXPECT_EQ(cloudKey("openai"), "sk-1");
    EXPECT_EQ(cloudKey("gemini"), "");
    EXPECT_EQ(cloudKey("no-such-provider"), "gsk_1");
    EXPECT_EQ(cloudKey(""), "gsk_1");
    store_->put("GEMINI_API_KEY", "AIza1");
    EXPECT_EQ(cloudKey("gemini"), "AIza1");
}

}  // namespace
}  // namespace vurin
