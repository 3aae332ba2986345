#include <gtest/gtest.h>

#include "config/config.h"
#include "config/keychain.h"
#include "support/language.h"
#include "support/settings_controller_fixture.h"

namespace vurin::testing {
namespace {

using KeyActions = SettingsControllerFixture;

TEST_F(KeyActions, BlankFieldShowsTheDialogAndKeepsTheStoredKey) {
    keychain->put("GROQ_API_KEY", "gsk-old");
    controller->config().sttProvider = "cloud";
    settingsController->showSettings();
    keychain->calls.clear();
    typeKey("stt:groq", " \t\n ");
    settingsController->saveSTTCloudKey();
    settingsController->savePolishCloudKey();  // the polish pane shows no key field: also empty
    const std::string expected =
        "请输入新的 Groq Key | 空输入不会覆盖已保存的 Key。如需删除,请点「清除 Key」。";
    EXPECT_EQ(alertLines(), (std::vector<std::string>{expected, expected}));
    EXPECT_EQ(keychain->value("GROQ_API_KEY"), "gsk-old");
    EXPECT_EQ(keychain->calls, std::vector<std::string>{});
    EXPECT_TRUE(logs.empty());

    applyUILang("en");
    settingsController->saveSTTCloudKey();
    EXPECT_EQ(alertLines().back(),
              "Enter a new Groq key | An empty field will not overwrite a saved key. Use Clear "
              "key to remove it.");
}

TEST_F(KeyActions, SavedKeyIsTrimmedStoredLoggedAndRebuildsMenuAndPanes) {
    controller->config().sttProvider = "cloud";
    launch();
    settingsController->showSettings();
    EXPECT_EQ(paneOutline(1).at(7), "  note: 尚未保存 Groq Key。");
    const auto menusBefore = shell->statusItem->menuBuilds;
    typeKey("stt:groq", "  gsk-new\n");
    ASSERT_TRUE(window()->press("保存 Key"));
    EXPECT_EQ(keychain->value("GROQ_API_KEY"), "gsk-new");
    EXPECT_TRUE(logged("🔑 Groq Key 已保存"));
    EXPECT_EQ(shell->statusItem->menuBuilds, menusBefore + 1);
    EXPECT_EQ(window()->paneReplacements, 2);
    // The rebuilt card tells that a key is stored, never what it is.
    const auto speech = paneOutline(1);
    EXPECT_EQ(speech.at(6), "  key:输入新 Key 后点替换 button:替换 Key button:清除 Key");
    EXPECT_EQ(speech.at(7), "  note: 已保存 Groq Key,输入框不回显真实 Key。");
    EXPECT_TRUE(shell->alerts.empty());
}

TEST_F(KeyActions, OpenAIKeySavedFromPolishIsTheOneSpeechUses) {
    controller->config().polishProvider = "cloud";
    controller->config().polishCloudProvider = "openai";
    settingsController->showSettings();
    typeKey("polish:openai", "sk-shared");
    settingsController->savePolishCloudKey();
    EXPECT_EQ(cloudKey("openai"), "sk-shared");
    controller->config().sttProvider = "cloud";
    controller->config().sttCloudProvider = "openai";
    controller->config().polishProvider = "local";
    EXPECT_EQ(settingsController->healthDotColour(), HealthDotColour::green);
    applyUILang("en");
    settingsController->rebuildSettingsPane(SettingsTab::speech);
    EXPECT_EQ(paneOutline(1).at(7), "  note: OpenAI key saved; the real key is never shown.");
    typeKey("stt:openai", "sk-other");
    settingsController->saveSTTCloudKey();
    EXPECT_TRUE(logged("🔑 OpenAI key saved"));
    EXPECT_EQ(cloudKey("openai"), "sk-other");
}

TEST_F(KeyActions, UnknownStoredProviderSavesUnderGroq) {
    controller->config().sttProvider = "cloud";
    controller->config().sttCloudProvider = "mystery";
    settingsController->showSettings();
    typeKey("stt:groq", "gsk-1");
    settingsController->saveSTTCloudKey();
    EXPECT_EQ(keychain->value("GROQ_API_KEY"), "gsk-1");
}

TEST_F(KeyActions, KeychainFailureShowsTheDialogAndKeepsTheOldKey) {
    keychain->put("GEMINI_API_KEY", "old");
    keychain->updateFailure = SecretStatus::locked;
    controller->config().polishProvider = "cloud";
    controller->config().polishCloudProvider = "gemini";
    settingsController->showSettings();
    typeKey("polish:gemini", "new");
    settingsController->savePolishCloudKey();
    EXPECT_EQ(keychain->value("GEMINI_API_KEY"), "old");
    EXPECT_EQ(alertLines(),
              std::vector<std::string>{"无法保存 Gemini Key | 系统钥匙环(Secret Service)写入失败。"
                                       "原来已保存的 Key 没有被删除,请稍后重试。"});
    EXPECT_TRUE(shell->alerts[0].buttons.empty());  // the platform's single default button
    EXPECT_FALSE(logged("🔑 Gemini Key 已保存"));
}

TEST_F(KeyActions, ClearingAsksAndCancelKeepsTheKey) {
    keychain->put("GROQ_API_KEY", "gsk");
    answerSecond();
    settingsController->clearSTTCloudKey();
    EXPECT_EQ(keychain->value("GROQ_API_KEY"), "gsk");
    EXPECT_EQ(alertLines(),
              std::vector<std::string>{
                  "清除 Groq Key? | 同一家服务商的 Key 在语音识别和文本润色间共享。清除后,使用 "
                  "Groq 的云端识别/润色都会不可用,直到重新保存 Key。 | 清除 Key | 取消"});
    EXPECT_TRUE(logs.empty());

    answerFirst();
    settingsController->clearSTTCloudKey();
    EXPECT_EQ(keychain->value("GROQ_API_KEY"), std::nullopt);
    EXPECT_TRUE(logged("🔑 Groq Key 已清除"));
}

TEST_F(KeyActions, ClearDialogInEnglish) {
    applyUILang("en");
    controller->config().polishCloudProvider = "openai";
    keychain->put("OPENAI_API_KEY", "sk");
    answerFirst();
    settingsController->clearPolishCloudKey();
    EXPECT_EQ(alertLines(), std::vector<std::string>{
                                "Clear OpenAI key? | Keys are shared between Speech and Polish "
                                "for the same provider. Clearing this key disables OpenAI cloud "
                                "Speech/Polish until you save a new key. | Clear key | Cancel"});
    EXPECT_TRUE(logged("🔑 OpenAI key cleared"));
}

TEST_F(KeyActions, ProviderChangeStoresSavesRebuildsItsOwnPaneAndLogs) {
    launch();
    settingsController->showSettings();
    settingsController->sttCloudProviderChanged(1);
    EXPECT_EQ(controller->config().sttCloudProvider, "openai");
    EXPECT_EQ(loadConfig().sttCloudProvider, "openai");
    EXPECT_TRUE(logged("语音识别云端模型已设为:OpenAI"));
    settingsController->polishCloudProviderChanged(2);
    EXPECT_EQ(loadConfig().polishCloudProvider, "gemini");
    EXPECT_TRUE(logged("文本润色云端模型已设为:Gemini"));
    EXPECT_EQ(window()->paneReplacements, 2);

    logs.clear();
    settingsController->sttCloudProviderChanged(3);
    settingsController->polishCloudProviderChanged(-1);
    EXPECT_EQ(controller->config().sttCloudProvider, "openai");
    EXPECT_EQ(controller->config().polishCloudProvider, "gemini");
    EXPECT_TRUE(logs.empty());

    applyUILang("en");
    settingsController->sttCloudProviderChanged(0);
    EXPECT_TRUE(logged("Speech cloud model: Groq"));
    settingsController->polishCloudProviderChanged(0);
    EXPECT_TRUE(logged("Polish cloud model: Groq"));
}

}  // namespace
}  // namespace vurin::testing
