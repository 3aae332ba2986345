#include <gtest/gtest.h>

#include <filesystem>

#include "config/config.h"
#include "providers/provider_runtime_status.h"
#include "support/app_controller_fixture.h"
#include "support/language.h"

namespace vurin::testing {
namespace {

class MenuBar : public AppControllerFixture {
  protected:
    void SetUp() override {
        AppControllerFixture::SetUp();
        setCloudKeyPresenceLookup({});
        std::filesystem::remove(configURL());
    }
    void TearDown() override {
        setCloudKeyPresenceLookup({});
        AppControllerFixture::TearDown();
    }
};

TEST_F(MenuBar, DefaultMenuHasTwoInformationLinesAndTheFixedOrder) {
    launch();
    EXPECT_EQ(menuTitles(),
              (std::vector<std::string>{"状态:就绪(F13)",
                                        "  识别: 本地(未就绪)   ·   润色: 本地qwen(未就绪)", "-",
                                        "语音识别 → 切云端", "文本润色 → 切云端", "-", "手机遥控…",
                                        "-", "设置…", "检查更新…", "-", "退出 Vurin"}));
    const auto& items = shell->statusItem->menu.items;
    EXPECT_FALSE(items[0].enabled);
    EXPECT_FALSE(items[1].enabled);
    EXPECT_EQ(items[8].keyEquivalent, ",");
    EXPECT_EQ(items[11].keyEquivalent, "q");
}

TEST_F(MenuBar, MissingCloudKeyAddsAThirdInformationLine) {
    controller->config().sttProvider = "cloud";
    controller->config().polishProvider = "cloud";
    launch();
    const auto titles = menuTitles();
    EXPECT_EQ(titles.at(2), "  云端 Key 未设置: Groq");
    EXPECT_EQ(titles.at(3), "-");
    EXPECT_EQ(titles.at(4), "语音识别 → 切本地");
    EXPECT_EQ(titles.at(5), "文本润色 → 切本地");

    setCloudKeyPresenceLookup([](const std::string&) { return true; });
    controller->rebuildMenu();
    EXPECT_EQ(menuTitles().at(2), "-");
}

TEST_F(MenuBar, StatusLineFollowsTheStateOfTheLastRebuild) {
    launch();
    controller->setAppState(AppState::transcribing);
    EXPECT_EQ(menuTitles().at(0), "状态:就绪(F13)");
    controller->rebuildMenu();
    EXPECT_EQ(menuTitles().at(0), "状态:转写润色中…");
    controller->setAppState(AppState::pendingSend);
    controller->rebuildMenu();
    EXPECT_EQ(menuTitles().at(0), "状态:待发送");
}

TEST_F(MenuBar, ItemsCallTheirActions) {
    controller->config().phoneTriggerEnabled = true;
    launch();
    const auto& items = shell->statusItem->menu.items;
    EXPECT_EQ(items.at(6).title, "手机遥控:开 — 二维码…");
    items.at(6).action();
    items.at(8).action();
    items.at(9).action();
    EXPECT_EQ(menuActions, (std::vector<std::string>{"phone", "updates"}));
    EXPECT_EQ(settings->calls, std::vector<std::string>{"show"});
}

TEST_F(MenuBar, SwitchingToTheSameValueDoesNothingAtAll) {
    launch();
    logs.clear();
    const int builds = shell->statusItem->menuBuilds;
    controller->setSTT(true);
    controller->setPolish(true);
    EXPECT_TRUE(logs.empty());
    EXPECT_EQ(shell->statusItem->menuBuilds, builds);
    EXPECT_FALSE(std::filesystem::exists(configURL()));
    EXPECT_TRUE(whisper->started.empty());
    EXPECT_EQ(whisper->stops, 0);
}

TEST_F(MenuBar, SwitchingSpeechToCloudAndBackSavesLogsAndDrivesTheService) {
    controller->config().sttCloudProvider = "openai";
    launch();
    controller->quickToggleSTT();
    EXPECT_EQ(controller->config().sttProvider, "cloud");
    EXPECT_EQ(whisper->stops, 1);
    EXPECT_TRUE(logged("STT 已切换到云端(OpenAI)"));
    EXPECT_EQ(loadConfig().sttProvider, "cloud");
    EXPECT_EQ(menuTitles().at(4), "语音识别 → 切本地");
    EXPECT_EQ(settings->calls, std::vector<std::string>{"refresh"});

    controller->quickToggleSTT();
    EXPECT_TRUE(logged("STT 已切换到本地(whisper),启动 server…"));
    ASSERT_EQ(whisper->started.size(), 1U);
    const int builds = shell->statusItem->menuBuilds;
    whisper->started[0]();
    EXPECT_EQ(shell->statusItem->menuBuilds, builds + 1);
}

TEST_F(MenuBar, AnUnknownProviderValueCountsAsCloud) {
    controller->config().sttProvider = "something";
    launch();
    EXPECT_EQ(menuTitles().at(3), "语音识别 → 切本地");
    controller->quickToggleSTT();
    EXPECT_EQ(controller->config().sttProvider, "local");
    EXPECT_EQ(whisper->started.size(), 1U);
}

TEST_F(MenuBar, SwitchingPolishLogsTheModelAndProvider) {
    controller->config().polishCloudProvider = "gemini";
    launch();
    controller->quickTogglePolish();
    EXPECT_TRUE(logged("润色已切换到云端(Gemini)"));
    EXPECT_EQ(ollama->stops, 1);
    controller->quickTogglePolish();
    EXPECT_TRUE(logged("润色已切换到本地(qwen2.5:7b),启动 ollama…"));
    EXPECT_EQ(ollama->started.size(), 1U);
}

TEST_F(MenuBar, ToggleLinesAndRefreshes) {
    launch();
    controller->toggleSendOnClick();
    EXPECT_TRUE(logged("单击发送已关闭"));
    controller->toggleSendOnClick();
    EXPECT_TRUE(logged("单击发送已开启"));

    controller->toggleCloudFallback();
    EXPECT_TRUE(logged("已开启全局回退:本地未就绪时允许回退云端"));
    EXPECT_EQ(menuActions, std::vector<std::string>{"fallback settings"});
    applyUILang("en");
    controller->toggleCloudFallback();
    EXPECT_TRUE(logged("Disabled global fallback: local mode will not auto-fallback to cloud"));
    controller->toggleSaveTextHistory();
    EXPECT_TRUE(logged("Enabled: history will store raw and polished text"));
    applyUILang("zh");
    controller->toggleSaveTextHistory();
    EXPECT_TRUE(logged("已关闭:history 只保存指标,不保存全文"));
    // The click-to-send line exists in Chinese only.
    applyUILang("en");
    controller->toggleSendOnClick();
    EXPECT_TRUE(logged("单击发送已关闭"));
    applyUILang("zh");

    const Config saved = loadConfig();
    EXPECT_FALSE(saved.sendOnClick);
    EXPECT_FALSE(saved.allowCloudFallback);
    EXPECT_FALSE(saved.saveTextHistory);
}

}  // namespace
}  // namespace vurin::testing
