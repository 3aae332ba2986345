#include <gtest/gtest.h>

#include <fstream>

#include "app/unavailable_services.h"
#include "config/config.h"
#include "settings_ui/local_models_installer.h"
#include "settings_ui/settings_wiring.h"
#include "support/language.h"
#include "support/private_files.h"
#include "support/settings_controller_fixture.h"
#include "support/virtual_main_queue.h"

namespace vurin::testing {
namespace {

using SystemActions = SettingsControllerFixture;

TEST_F(SystemActions, LaunchAtLoginOnRegistersAndLogs) {
    settingsController->showSettings();
    settingsController->launchAtLoginChanged(true);
    EXPECT_EQ(loginItem->calls, std::vector<std::string>{"register"});
    EXPECT_TRUE(window()->switches[kSettingsLaunchAtLoginSwitchId]);
    EXPECT_TRUE(logged("登录时自动启动已开启"));
    settingsController->launchAtLoginChanged(true);  // already enabled: nothing to do
    EXPECT_EQ(loginItem->calls.size(), 1U);

    applyUILang("en");
    settingsController->launchAtLoginChanged(false);
    EXPECT_EQ(loginItem->calls.back(), "unregister");
    EXPECT_FALSE(window()->switches[kSettingsLaunchAtLoginSwitchId]);
    EXPECT_TRUE(logged("Launch at login disabled"));
    settingsController->launchAtLoginChanged(false);  // not registered: nothing to do
    EXPECT_EQ(loginItem->calls.size(), 2U);
    EXPECT_TRUE(shell->alerts.empty());
}

TEST_F(SystemActions, LaunchAtLoginErrorShowsTheSystemDescription) {
    settingsController->showSettings();
    loginItem->error = "Permission denied: /home/u/.config/autostart";
    settingsController->launchAtLoginChanged(true);
    EXPECT_EQ(alertLines(), std::vector<std::string>{"无法更新登录时启动项 | Permission denied: "
                                                     "/home/u/.config/autostart"});
    EXPECT_FALSE(window()->switches[kSettingsLaunchAtLoginSwitchId]);
    EXPECT_TRUE(logged("登录时自动启动已关闭"));
}

TEST_F(SystemActions, ApprovalRequiredShowsTheApprovalDialogAndLeavesTheSwitchOn) {
    settingsController->showSettings();
    loginItem->stateAfterRegister = LoginItemStatus::requiresApproval;
    answerFirst();
    settingsController->launchAtLoginChanged(true);
    ASSERT_EQ(shell->alerts.size(), 1U);
    EXPECT_EQ(shell->alerts[0].buttons, (std::vector<std::string>{"打开自动启动设置", "以后再说"}));
    EXPECT_EQ(loginItemSettingsOpened, 1);
    EXPECT_TRUE(window()->switches[kSettingsLaunchAtLoginSwitchId]);
    EXPECT_TRUE(logged("登录时启动项已登记,等待系统批准"));
    // Switching on again while approval is pending only asks again.
    answerSecond();
    settingsController->launchAtLoginChanged(true);
    EXPECT_EQ(shell->alerts.size(), 2U);
    EXPECT_EQ(loginItemSettingsOpened, 1);
    EXPECT_EQ(loginItem->calls.size(), 1U);
}

TEST_F(SystemActions, ClearHistoryAsksThenDeletesTheFile) {
    ensurePrivateConfigDirectory();
    std::ofstream(historyURL()) << "{}\n";
    answerSecond();
    settingsController->clearHistoryData();
    EXPECT_TRUE(std::filesystem::exists(historyURL()));
    EXPECT_EQ(alertLines(), std::vector<std::string>{
                                "清除全部 Vurin 历史数据? | 这会永久删除本机保存的延迟指标和可能"
                                "存在的转写/润色全文。设置和 Key 不受影响。 | 清除 | 取消"});
    answerFirst();
    settingsController->clearHistoryData();
    EXPECT_FALSE(std::filesystem::exists(historyURL()));
    EXPECT_EQ(logs, std::vector<std::string>{"🗑 已清除 Vurin 历史数据"});
}

TEST_F(SystemActions, ClearHistoryFailureShowsTheError) {
    // A folder with content where the file should be cannot be removed as a file.
    std::filesystem::create_directories(historyURL() / "inner");
    answerFirst();
    applyUILang("en");
    settingsController->clearHistoryData();
    ASSERT_EQ(shell->alerts.size(), 2U);
    EXPECT_EQ(shell->alerts[0].buttons, (std::vector<std::string>{"Clear", "Cancel"}));
    EXPECT_EQ(shell->alerts[1].messageText, "Could not clear history");
    EXPECT_FALSE(shell->alerts[1].informativeText.empty());
    EXPECT_TRUE(logs.empty());
    std::filesystem::remove_all(historyURL());
}

TEST_F(SystemActions, InstallerIsWrittenAndOpenedInATerminal) {
    settingsController->installLocalModels();
    const auto script = configDir() / "install-local-models.sh";
    EXPECT_EQ(contentOf(script), std::string(localModelsInstallerScript()));
    EXPECT_EQ(modeOf(script) & 0111, 0U);  // run through bash, never executed directly
    EXPECT_EQ(terminal->commands, std::vector<std::string>{"bash '" + script.string() + "'"});
    EXPECT_EQ(logs, std::vector<std::string>{"▸ 已在终端启动本地模型安装脚本"});
    EXPECT_TRUE(clipboard->contents(ClipboardSelection::clipboard).empty());
    EXPECT_TRUE(shell->alerts.empty());
}

TEST_F(SystemActions, WithoutATerminalTheCommandGoesToTheClipboard) {
    terminal->opens = false;
    settingsController->installLocalModels();
    const std::string command = "bash '" + (configDir() / "install-local-models.sh").string() + "'";
    EXPECT_EQ(clipboard->contents(ClipboardSelection::clipboard),
              std::vector{FakeClipboard::textItem(command)});
    EXPECT_EQ(clipboard->contents(ClipboardSelection::primary),
              std::vector{FakeClipboard::textItem(command)});
    EXPECT_EQ(logs,
              std::vector<std::string>{"⚠️ "
                                       "无法自动打开终端,已把命令复制到剪贴板,请手动粘贴运行"});
    EXPECT_EQ(alertLines(),
              std::vector<std::string>{"已复制安装命令到剪贴板 | 请打开终端粘贴运行:\n" + command});
    applyUILang("en");
    settingsController->installLocalModels();
    EXPECT_EQ(alertLines().back(),
              "Install command copied | Open a terminal and paste:\n" + command);
}

TEST(InstallCommand, QuotesThePathSoNoCharacterEndsTheWord) {
    EXPECT_EQ(localModelsInstallCommand("/home/ann/.config/vurin/install-local-models.sh"),
              "bash '/home/ann/.config/vurin/install-local-models.sh'");
    EXPECT_EQ(localModelsInstallCommand("/home/o'brien/x.sh"), "bash '/home/o'\\''brien/x.sh'");
    EXPECT_EQ(localModelsInstallCommand("/h/a';rm -rf ~;'/x.sh"),
              "bash '/h/a'\\'';rm -rf ~;'\\''/x.sh'");
}

TEST_F(SystemActions, SupportMailOpensTheComposePage) {
    settingsController->contactSupport();
    ASSERT_EQ(openedURLs.size(), 1U);
    const auto& url = openedURLs[0];
    EXPECT_EQ(
        url.rfind("https://mail.google.com/mail/?view=cm&fs=1&to=support%40vurin.app&su=Vurin+", 0),
        0U)
        << url;
    EXPECT_NE(
        url.find("+%e2%80%94+Support&body=%0a%0a%e2%80%94%e2%80%94%e2%80%94%e2%80%94%0aApp%3a+"
                 "Vurin+"),
        std::string::npos)
        << url;
    EXPECT_NE(url.find("%0aLinux%3a+"), std::string::npos) << url;
}

TEST(SupportMail, CarriesTheRuntimeFactsEncoded) {
    const auto url = supportMailURL("1.2", "34", "6.1.0", "x86_64");
    ASSERT_TRUE(url);
    EXPECT_EQ(*url,
              "https://mail.google.com/mail/"
              "?view=cm&fs=1&to=support%40vurin.app&su=Vurin+1.2+%e2%80%94+Support"
              "&body=%0a%0a%e2%80%94%e2%80%94%e2%80%94%e2%80%94%0aApp%3a+Vurin+1.2+%2834%29"
              "%0aLinux%3a+6.1.0++%c2%b7++x86_64");
    // A value with & or = cannot add query items of its own.
    const auto odd = supportMailURL("1&to=evil@x", "b", "1", "a");
    ASSERT_TRUE(odd);
    EXPECT_NE(odd->find("su=Vurin+1%26to%3devil%40x"), std::string::npos) << *odd;
}

}  // namespace
}  // namespace vurin::testing

namespace vurin::testing {
namespace {

class WithoutClipboard : public SettingsControllerFixture {
  protected:
    void SetUp() override {
        clipboard.reset();
        SettingsControllerFixture::SetUp();
    }
};

TEST_F(WithoutClipboard, TheDialogSaysWhatToRunWithoutClaimingACopy) {
    terminal->opens = false;
    settingsController->installLocalModels();
    const std::string command = "bash '" + (configDir() / "install-local-models.sh").string() + "'";
    EXPECT_EQ(logs, std::vector<std::string>{
                        "⚠️ 无法自动打开终端,请在终端中手动运行安装命令"});
    EXPECT_EQ(alertLines(),
              std::vector<std::string>{"请手动运行安装命令 | 请打开终端运行:\n" + command});
}

TEST(SettingsWiring, ServicesHooksReachTheSettingsControllerWeakly) {
    auto queue = std::make_shared<VirtualMainQueue>();
    AppServices services;
    services.mainQueue = queue;
    services.shell = std::make_shared<FakeShell>();
    fillUnavailableServices(services);
    auto settings = installSettingsController(services, {});
    EXPECT_EQ(services.settings, settings);
    services.refreshSettingsAfterFallbackChange();  // window closed: nothing to rebuild
    services.checkForUpdatesOnLaunchIfEnabled();    // no application controller yet: nothing
    EXPECT_EQ(queue->pendingCount(), 0U);
    std::weak_ptr<SettingsController> weak = settings;
    services.settings.reset();
    settings.reset();
    EXPECT_TRUE(weak.expired());
    services.checkForUpdatesMenu();  // the controller is gone: nothing runs
}

}  // namespace
}  // namespace vurin::testing
