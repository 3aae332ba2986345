#include <gtest/gtest.h>

#include "config/config.h"
#include "settings_ui/update_checker.h"
#include "support/language.h"
#include "support/settings_controller_fixture.h"

namespace vurin::testing {
namespace {

TEST(CompareVersions, OrdersNumericallyComponentByComponent) {
    EXPECT_EQ(compareVersions("1.2", "1.2.0"), std::strong_ordering::equal);
    EXPECT_EQ(compareVersions("1.9", "1.10"), std::strong_ordering::less);
    EXPECT_EQ(compareVersions("2.0", "1.99.99"), std::strong_ordering::greater);
    EXPECT_EQ(compareVersions("1..2", "1.2"), std::strong_ordering::equal);
    EXPECT_EQ(compareVersions("2-beta", "2"), std::strong_ordering::equal);
    EXPECT_EQ(compareVersions("1.beta", "1.0"), std::strong_ordering::equal);
    EXPECT_EQ(compareVersions("dev", "0.0.1"), std::strong_ordering::less);
    EXPECT_EQ(compareVersions("dev", "0"), std::strong_ordering::equal);
    EXPECT_EQ(compareVersions("", ""), std::strong_ordering::equal);
    // Too large for 64 bits, or digits of another script: 0.
    EXPECT_EQ(compareVersions("99999999999999999999", "0"), std::strong_ordering::equal);
    EXPECT_EQ(compareVersions("9223372036854775807", "9223372036854775806"),
              std::strong_ordering::greater);
    EXPECT_EQ(compareVersions("١٢", "0"), std::strong_ordering::equal);
    EXPECT_EQ(compareVersions("1²", "0"), std::strong_ordering::equal);
    EXPECT_EQ(compareVersions("-3", "0"), std::strong_ordering::equal);
}

TEST(UpdateManifest, VersionIsTrimmedAndUrlFallsBack) {
    const auto result =
        parseUpdateManifest(R"({"version":" 1.3\n","extra":1})", "1.2", "https://h/");
    ASSERT_TRUE(std::holds_alternative<UpdateInfo>(result));
    EXPECT_EQ(
        std::get<UpdateInfo>(result),
        (UpdateInfo{.latest = "1.3", .current = "1.2", .url = "https://h/", .isNewer = true}));
    const auto empty = parseUpdateManifest(R"({"version":"1.2.0","url":""})", "1.2", "https://h/");
    EXPECT_EQ(std::get<UpdateInfo>(empty),
              (UpdateInfo{.latest = "1.2.0", .current = "1.2", .url = "https://h/"}));
    const auto given =
        parseUpdateManifest(R"({"version":"2","url":"file:///x"})", "dev", "https://h/");
    EXPECT_EQ(std::get<UpdateInfo>(given).url, "file:///x");  // not validated here
    EXPECT_TRUE(std::get<UpdateInfo>(given).isNewer);
}

TEST(UpdateManifest, AnythingButANonBlankStringVersionIsAParseError) {
    for (const char* body :
         {"", "not json", "[]", "{}", R"({"version":1.3})", R"({"version":"  \n"})",
          R"({"url":"https://h/"})", R"("1.3")", R"({"version":null})"}) {
        const auto result = parseUpdateManifest(body, "1.0", "https://h/");
        ASSERT_TRUE(std::holds_alternative<UpdateCheckError>(result)) << body;
        EXPECT_EQ(std::get<UpdateCheckError>(result), UpdateCheckError::parse) << body;
    }
}

class UpdateActions : public SettingsControllerFixture {
  protected:
    void newer(std::string url = "https://vurin.app/download") {
        updates->result =
            UpdateInfo{.latest = "2.0", .current = "1.0", .url = url, .isNewer = true};
    }
};

TEST_F(UpdateActions, UserCheckAlwaysEndsInADialog) {
    updates->result = UpdateInfo{.latest = "1.0", .current = "1.0", .url = "https://h/"};
    settingsController->checkForUpdatesMenu();
    updates->result = UpdateCheckError::parse;
    settingsController->checkForUpdatesMenu();
    updates->result = UpdateCheckError::network;
    applyUILang("en");
    settingsController->checkForUpdatesMenu();
    EXPECT_EQ(alertLines(),
              (std::vector<std::string>{
                  "已是最新版本 | 当前 Vurin 1.0 已是最新。 | 好",
                  "暂时无法检查更新 | 请检查网络后重试,或直接访问 vurin.app 查看。 | 好",
                  "Couldn't check for updates | Check your connection and try again, or visit "
                  "vurin.app. | OK"}));
    EXPECT_EQ(updates->timeouts, (std::vector<double>{8.0, 8.0, 8.0}));
    EXPECT_EQ(shell->activations, 3);
}

TEST_F(UpdateActions, AutomaticCheckIsSilentUnlessNewer) {
    updates->result = UpdateInfo{.latest = "1.0", .current = "1.0", .url = "https://h/"};
    settingsController->runUpdateCheck(false);
    updates->result = UpdateCheckError::network;
    settingsController->runUpdateCheck(false);
    EXPECT_TRUE(shell->alerts.empty());
    newer();
    settingsController->runUpdateCheck(false);
    EXPECT_EQ(alertLines(),
              std::vector<std::string>{"发现新版本 Vurin 2.0 | 你当前是 1.0。到官网下载最新版覆盖"
                                       "安装即可。 | 下载 | 稍后"});
}

TEST_F(UpdateActions, DownloadOpensOnlyWebAddresses) {
    answerFirst();
    for (const char* url : {"https://vurin.app/dl", "http://vurin.app/dl", "file:///etc/passwd",
                            "javascript:alert(1)", "", "vurin.app/dl", "https://"}) {
        newer(url);
        settingsController->checkForUpdatesMenu();
    }
    EXPECT_EQ(openedURLs,
              (std::vector<std::string>{"https://vurin.app/dl", "http://vurin.app/dl"}));
    answerSecond();
    newer();
    applyUILang("en");
    settingsController->checkForUpdatesMenu();
    EXPECT_EQ(openedURLs.size(), 2U);
    EXPECT_EQ(alertLines().back(),
              "Vurin 2.0 is available | You're on 1.0. Download the latest build from the website "
              "and replace the app. | Download | Later");
}

TEST_F(UpdateActions, LaunchCheckRunsAfterSixSecondsWhenEnabled) {
    newer();
    launch();  // the fixture's start-up hook does not reach the settings controller
    settingsController->checkForUpdatesOnLaunchIfEnabled();
    queue->advance(5.9);
    EXPECT_TRUE(updates->timeouts.empty());
    queue->advance(0.1);
    EXPECT_EQ(updates->timeouts.size(), 1U);
    EXPECT_EQ(shell->alerts.size(), 1U);

    controller->config().autoCheckUpdates = false;
    settingsController->checkForUpdatesOnLaunchIfEnabled();
    queue->advance(10);
    EXPECT_EQ(updates->timeouts.size(), 1U);
}

TEST_F(UpdateActions, LaunchCheckHoldsTheControllerWeakly) {
    settingsController->checkForUpdatesOnLaunchIfEnabled();
    controller.reset();
    settingsController.reset();
    queue->advance(6);
    EXPECT_TRUE(updates->timeouts.empty());
}

TEST_F(UpdateActions, AutoCheckSwitchSavesAndLogs) {
    settingsController->autoCheckUpdatesChanged(false);
    EXPECT_FALSE(loadConfig().autoCheckUpdates);
    settingsController->autoCheckUpdatesChanged(true);
    EXPECT_TRUE(loadConfig().autoCheckUpdates);
    applyUILang("en");
    settingsController->autoCheckUpdatesChanged(false);
    EXPECT_EQ(logs,
              (std::vector<std::string>{"已关闭:不再自动检查更新", "已开启:启动时自动检查更新",
                                        "Disabled: no automatic update checks"}));
    EXPECT_TRUE(updates->timeouts.empty());
}

}  // namespace
}  // namespace vurin::testing
