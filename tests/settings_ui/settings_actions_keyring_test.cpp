// The key actions against the Secret Service of the headless test session (gnome-keyring,
// unlocked): what the settings window saves and clears is what the keyring holds.
#include <gtest/gtest.h>

#include "config/keychain.h"
#include "platform/linux/secret_store_libsecret.h"
#include "support/settings_controller_fixture.h"

namespace vurin::testing {
namespace {

class SettingsKeyring : public SettingsControllerFixture {
  protected:
    void SetUp() override {
        SettingsControllerFixture::SetUp();
        installSecretStore(std::make_shared<LibsecretSecretStore>());
        removeKeys();
    }
    void TearDown() override {
        removeKeys();
        SettingsControllerFixture::TearDown();
    }
    static void removeKeys() {
        for (const char* account : {"GROQ_API_KEY", "OPENAI_API_KEY"}) {
            Keychain::deleteItem(account);
        }
    }
};

TEST_F(SettingsKeyring, BlankKeyIsRefusedAndTheStoredOneStays) {
    ASSERT_TRUE(Keychain::set("gsk-kept", "GROQ_API_KEY"));
    controller->config().sttProvider = "cloud";
    settingsController->showSettings();
    typeKey("stt:groq", "   ");
    settingsController->saveSTTCloudKey();
    ASSERT_EQ(shell->alerts.size(), 1U);
    EXPECT_EQ(shell->alerts[0].messageText, "请输入新的 Groq Key");
    EXPECT_EQ(Keychain::get("GROQ_API_KEY"), "gsk-kept");
}

TEST_F(SettingsKeyring, SaveThenClearWithCancelKeepsTheKey) {
    controller->config().sttProvider = "cloud";
    settingsController->showSettings();
    typeKey("stt:groq", "gsk-saved");
    settingsController->saveSTTCloudKey();
    EXPECT_EQ(Keychain::get("GROQ_API_KEY"), "gsk-saved");
    answerSecond();
    settingsController->clearSTTCloudKey();
    EXPECT_EQ(Keychain::get("GROQ_API_KEY"), "gsk-saved");
    answerFirst();
    settingsController->clearSTTCloudKey();
    EXPECT_EQ(Keychain::get("GROQ_API_KEY"), std::nullopt);
    EXPECT_TRUE(logged("🔑 Groq Key 已清除"));
}

TEST_F(SettingsKeyring, OpenAIKeySavedFromPolishIsVisibleToSpeech) {
    controller->config().polishProvider = "cloud";
    controller->config().polishCloudProvider = "openai";
    controller->config().sttProvider = "cloud";
    controller->config().sttCloudProvider = "openai";
    settingsController->showSettings();
    EXPECT_EQ(paneOutline(1).at(7), "  note: 尚未保存 OpenAI Key。");
    typeKey("polish:openai", "sk-shared");
    settingsController->savePolishCloudKey();
    EXPECT_EQ(cloudKey("openai"), "sk-shared");
    EXPECT_EQ(paneOutline(1).at(7), "  note: 已保存 OpenAI Key,输入框不回显真实 Key。");
}

}  // namespace
}  // namespace vurin::testing
