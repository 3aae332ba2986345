#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>

#include "config/config.h"
#include "config/keychain.h"
#include "settings_ui/local_models_installer.h"
#include "support/language.h"
#include "support/private_files.h"
#include "support/runtime_metadata.h"
#include "support/settings_controller_fixture.h"

namespace vurin::testing {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

class Action;
struct ActionCase {
    std::string name;
    std::function<void(Action&)> act;  // acts and checks what it changed
    Lines alerts;                      // what the user was asked or told
    Lines logs;
};

// Each action of the settings window: what it changes, asks, tells and logs.
class Action : public SettingsControllerFixture, public ::testing::WithParamInterface<ActionCase> {
  public:
    static std::vector<ActionCase> cases();

  protected:
    std::string installCommand() const {
        return "bash '" + (configDir() / "install-local-models.sh").string() + "'";
    }
    void newer(const std::string& url) {
        updates->result =
            UpdateInfo{.latest = "2.0", .current = "1.0", .url = url, .isNewer = true};
    }
};

TEST_P(Action, ChangesAsksTellsAndLogs) {
    GetParam().act(*this);
    Lines alerts = GetParam().alerts;
    for (auto& alert : alerts) {  // the configuration folder is known only now
        if (const auto at = alert.find("$COMMAND"); at != std::string::npos) {
            alert.replace(at, 8, installCommand());
        }
    }
    EXPECT_EQ(alertLines(), alerts);
    std::erase_if(logs, [](const auto& line) { return line.starts_with("🔑 Keychain 中没有"); });
    EXPECT_EQ(logs, GetParam().logs);
}

INSTANTIATE_TEST_SUITE_P(Settings, Action, ::testing::ValuesIn(Action::cases()),
                         [](const auto& info) { return info.param.name; });

const std::string kBlankKey =
    "请输入新的 Groq Key | 空输入不会覆盖已保存的 Key。如需删除,请点「清除 Key」。";
const std::string kClearGroq =
    "清除 Groq Key? | 同一家服务商的 Key 在语音识别和文本润色间共享。清除后,使用 Groq "
    "的云端识别/润色都会不可用,直到重新保存 Key。 | 清除 Key | 取消";
const std::string kApproval =
    "需要在系统设置中批准 | 系统已记录启动项,但目前不允许它运行。请在桌面设置的“自动启动”中启用 "
    "Vurin。 | 打开自动启动设置 | 以后再说";
const std::string kClearHistory =
    "清除全部 Vurin 历史数据? | 这会永久删除本机保存的延迟指标和可能存在的转写/润色全文。设置和 "
    "Key 不受影响。 | 清除 | 取消";
const std::string kNewer =
    "发现新版本 Vurin 2.0 | 你当前是 1.0。到官网下载最新版覆盖安装即可。 | 下载 | 稍后";
const std::string kBuiltin = "录音改用内置麦克风(不会把蓝牙耳机切到通话模式)";

std::vector<ActionCase> Action::cases() {
    return {
        {"ABlankKeyKeepsTheStoredOne",
         [](Action& t) {
             t.keychain->put("GROQ_API_KEY", "gsk-old");
             t.configure(R"({"sttProvider": "cloud"})");
             t.settingsController->showSettings();
             t.keychain->calls.clear();
             t.typeKey("stt:groq", " \t\n ");
             t.settingsController->saveSTTCloudKey();
             t.settingsController->savePolishCloudKey();  // no key field on that pane: empty
             EXPECT_EQ(t.keychain->calls, Lines{});
         },
         {kBlankKey, kBlankKey},
         {}},
        {"ASavedKeyIsTrimmedSharedAndNeverShownAgain",
         [](Action& t) {
             t.configure(R"({"sttProvider": "cloud", "sttCloudProvider": "mystery",
                             "polishProvider": "cloud", "polishCloudProvider": "openai"})");
             t.launch();
             t.logs.clear();
             t.settingsController->showSettings();
             t.typeKey("stt:groq", "  gsk-new\n");  // an unknown provider is Groq
             t.typeKey("polish:openai", "sk-shared");
             ASSERT_TRUE(t.window()->press("保存 Key"));
             t.settingsController->savePolishCloudKey();
             EXPECT_EQ(t.keychain->value("GROQ_API_KEY"), "gsk-new");
             EXPECT_EQ(t.keychain->value("OPENAI_API_KEY"), "sk-shared");
             EXPECT_EQ(t.shell->statusItem->menuBuilds, 3);
             EXPECT_EQ(t.window()->paneReplacements, 4);
             EXPECT_NE(t.paneText(1).find("key:输入新 Key 后点替换 | button:替换 Key | button:清除 "
                                          "Key | 已保存 Groq Key,输入框不回显真实 Key。"),
                       std::string::npos);
         },
         {},
         {"🔑 Groq Key 已保存", "🔑 OpenAI Key 已保存"}},
        {"AKeyringFailureKeepsTheOldKey",
         [](Action& t) {
             t.keychain->put("GEMINI_API_KEY", "old");
             t.keychain->updateFailure = SecretStatus::locked;
             t.configure(R"({"polishProvider": "cloud", "polishCloudProvider": "gemini"})");
             t.settingsController->showSettings();
             t.typeKey("polish:gemini", "new");
             t.settingsController->savePolishCloudKey();
             EXPECT_EQ(t.keychain->value("GEMINI_API_KEY"), "old");
         },
         {"无法保存 Gemini Key | 系统钥匙环(Secret Service)写入失败。原来已保存的 Key "
          "没有被删除,请稍后重试。"},
         {"❌ 保存 GEMINI_API_KEY 的 Key 失败:钥匙环已锁定 (locked)"}},
        {"ClearingAKeyAsksFirst",
         [](Action& t) {
             t.keychain->put("GROQ_API_KEY", "gsk");
             t.settingsController->clearSTTCloudKey();
             EXPECT_EQ(t.keychain->value("GROQ_API_KEY"), "gsk");
             t.answerFirst();
             t.settingsController->clearPolishCloudKey();
             EXPECT_EQ(t.keychain->value("GROQ_API_KEY"), std::nullopt);
         },
         {kClearGroq, kClearGroq},
         {"🔑 Groq Key 已清除"}},
        {"AProviderOrLanguageChoiceIsStoredAndRebuildsMenuAndPane",
         [](Action& t) {
             t.launch();
             t.logs.clear();
             t.settingsController->showSettings();
             for (const int index : {1, 3}) {
                 t.settingsController->sttCloudProviderChanged(index);
                 t.settingsController->langSegChanged(index);
             }
             for (const int index : {2, -1}) {
                 t.settingsController->polishCloudProviderChanged(index);
             }
             EXPECT_EQ(t.controller->config(), decodeConfig(R"({"sttLanguage": "zh",
                 "sttCloudProvider": "openai", "polishCloudProvider": "gemini", "uiLang": "zh"})"));
             EXPECT_EQ(loadConfig(), t.controller->config());
             EXPECT_EQ(t.shell->statusItem->menuBuilds, 4);
             EXPECT_EQ(t.window()->paneReplacements, 2);
         },
         {},
         {"语音识别云端模型已设为:OpenAI", "识别语言已设为:zh", "文本润色云端模型已设为:Gemini"}},
        {"InterfaceLanguageReopensAnOpenWindowInIt",
         [](Action& t) {
             t.launch();
             t.logs.clear();
             t.settingsController->uiLangSegChanged(0);
             EXPECT_EQ(loadConfig().uiLang, "auto");
             EXPECT_FALSE(t.settingsController->isSettingsOpen());
             t.settingsController->showSettings();
             t.settingsController->uiLangSegChanged(2);
             EXPECT_EQ(loadConfig().uiLang, "en");
             EXPECT_EQ(t.menuTitles().back(), "Quit Vurin");
             EXPECT_TRUE(t.windows->opened.at(0)->closed);
             EXPECT_EQ(t.window()->model.title, "Vurin Settings");
             EXPECT_EQ(t.shell->policies.end()[-2], ActivationPolicy::accessory);
             t.settingsController->uiLangSegChanged(1);
             EXPECT_FALSE(uiIsEnglish());
         },
         {},
         {}},
        {"TheMicrophoneIsStoredAndWarmedUp",
         [](Action& t) {
             for (const int segment : {1, 0, 7}) {
                 t.settingsController->micDeviceSegChanged(segment);
                 EXPECT_EQ(loadConfig().micDevice, segment == 1 ? "system" : "builtin");
             }
             EXPECT_EQ(t.recorder->warmUps, (std::vector<bool>{false, true, true}));
         },
         {},
         {"录音改用系统默认输入设备", kBuiltin, kBuiltin}},
        {"TheVolumeIsClampedStoredLabelledAndPreviewed",
         [](Action& t) {
             t.settingsController->showSettings();
             for (const double volume : {1.7, -0.2, std::nan("")}) {
                 t.settingsController->soundVolumeChanged(volume);
                 t.queue->runPending();
                 EXPECT_EQ(loadConfig().soundVolume, volume > 0 ? 1.0 : 0.0);
                 EXPECT_EQ(soundVolume(), volume > 0 ? 1.0F : 0.0F);
                 EXPECT_EQ(t.window()->shownText(kSettingsVolumeLabelId),
                           volume > 0 ? "100%" : "静音");
             }
             EXPECT_EQ(t.sound->played, Lines{"Glass"});  // muted: the preview plays nothing
             setSoundVolume(0.3F);
         },
         {},
         {}},
        {"EnginesRebuildTheirPaneAndTheFallbackBoth",
         [](Action& t) {
             t.settingsController->showSettings();
             t.settingsController->sttSegChanged(0);
             t.settingsController->polishSegChanged(1);  // already local: rebuilt anyway
             EXPECT_EQ(t.window()->paneReplacements, 2);
             t.settingsController->cloudFallbackSwitchChanged();
             EXPECT_EQ(loadConfig(), decodeConfig(R"({"sttProvider": "cloud",
                 "allowCloudFallback": true, "uiLang": "zh"})"));
             EXPECT_EQ(t.window()->paneReplacements, 4);
             EXPECT_NE(t.paneText(1).find("[cloud] 云端模型"), std::string::npos);
             EXPECT_NE(t.paneText(2).find("[cloud] 回退云端模型"), std::string::npos);
         },
         {},
         {"STT 已切换到云端(Groq)", "已开启全局回退:本地未就绪时允许回退云端"}},
        {"LaunchAtLoginRegistersAndUnregistersOnlyWhenNeeded",
         [](Action& t) {
             t.settingsController->showSettings();
             for (const bool on : {true, true, false, false}) {
                 t.settingsController->launchAtLoginChanged(on);
                 EXPECT_EQ(t.window()->switches[kSettingsLaunchAtLoginSwitchId], on);
             }
             EXPECT_EQ(t.loginItem->calls, (Lines{"register", "unregister"}));
         },
         {},
         {"登录时自动启动已开启", "登录时自动启动已开启", "登录时自动启动已关闭",
          "登录时自动启动已关闭"}},
        {"ALaunchAtLoginFailureShowsTheSystemsDescription",
         [](Action& t) {
             t.settingsController->showSettings();
             t.loginItem->error = "Permission denied: /home/u/.config/autostart";
             t.settingsController->launchAtLoginChanged(true);
             EXPECT_FALSE(t.window()->switches[kSettingsLaunchAtLoginSwitchId]);
         },
         {"无法更新登录时启动项 | Permission denied: /home/u/.config/autostart"},
         {"登录时自动启动已关闭"}},
        {"ApprovalRequiredAsksToOpenTheAutostartSettings",
         [](Action& t) {
             t.settingsController->showSettings();
             t.loginItem->stateAfterRegister = LoginItemStatus::requiresApproval;
             t.answerFirst();
             t.settingsController->launchAtLoginChanged(true);
             EXPECT_TRUE(t.window()->switches[kSettingsLaunchAtLoginSwitchId]);
             EXPECT_EQ(t.window()->shownText(kSettingsLaunchAtLoginSubtitleId),
                       "已登记,需在桌面设置的“自动启动”中批准");
             t.answerSecond();
             t.settingsController->launchAtLoginChanged(true);  // pending: it only asks again
             EXPECT_EQ(t.loginItemSettingsOpened, 1);
             EXPECT_EQ(t.loginItem->calls.size(), 1U);
         },
         {kApproval, kApproval},
         {"登录时启动项已登记,等待系统批准", "登录时启动项已登记,等待系统批准"}},
        {"ClearingHistoryAsksThenDeletesTheFile",
         [](Action& t) {
             ensurePrivateConfigDirectory();
             std::ofstream(historyURL()) << "{}\n";
             t.settingsController->clearHistoryData();
             EXPECT_TRUE(fs::exists(historyURL()));
             t.answerFirst();
             t.settingsController->clearHistoryData();
             EXPECT_FALSE(fs::exists(historyURL()));
             fs::create_directories(historyURL() / "inner");  // cannot be removed as a file
             t.settingsController->clearHistoryData();
         },
         {kClearHistory, kClearHistory, kClearHistory, "清除失败 | Directory not empty"},
         {"🗑 已清除 Vurin 历史数据"}},
        {"TheInstallerRunsInATerminalElseItsCommandIsCopied",
         [](Action& t) {
             t.settingsController->installLocalModels();
             const auto script = configDir() / "install-local-models.sh";
             EXPECT_EQ(contentOf(script), std::string(localModelsInstallerScript()));
             EXPECT_EQ(modeOf(script) & 0111, 0U);  // run through bash, never executed itself
             EXPECT_EQ(t.terminal->commands, Lines{t.installCommand()});
             t.terminal->opens = false;
             t.settingsController->installLocalModels();
             for (const auto selection :
                  {ClipboardSelection::clipboard, ClipboardSelection::primary}) {
                 EXPECT_EQ(t.clipboard->contents(selection),
                           std::vector{FakeClipboard::textItem(t.installCommand())});
             }
         },
         {"已复制安装命令到剪贴板 | 请打开终端粘贴运行:\n$COMMAND"},
         {"▸ 已在终端启动本地模型安装脚本",
          "⚠️ 无法自动打开终端,已把命令复制到剪贴板,请手动粘贴运行"}},
        {"SupportMailOpensTheComposePageWithThisSystemsFacts",
         [](Action& t) {
             t.settingsController->contactSupport();
             const auto& facts = runtimeMetadata();
             EXPECT_EQ(t.openedURLs,
                       Lines{*supportMailURL(facts.appVersion, facts.appBuild, facts.macOSVersion,
                                             facts.architecture)});
         },
         {},
         {}},
        {"AUserCheckAlwaysEndsInADialog",
         [](Action& t) {
             t.updates->result = UpdateInfo{.latest = "1.0", .current = "1.0", .url = "x"};
             t.settingsController->checkForUpdatesMenu();
             t.updates->result = UpdateCheckError::parse;
             t.settingsController->checkForUpdatesMenu();
             EXPECT_EQ(t.updates->timeouts, std::vector(2, 8.0));
             EXPECT_EQ(t.shell->activations, 2);  // each dialog comes to the front
         },
         {"已是最新版本 | 当前 Vurin 1.0 已是最新。 | 好",
          "暂时无法检查更新 | 请检查网络后重试,或直接访问 vurin.app 查看。 | 好"},
         {}},
        {"ANewerVersionIsOfferedAndOnlyAWebAddressOpened",
         [](Action& t) {
             t.updates->result = UpdateInfo{.latest = "1.0", .current = "1.0", .url = "x"};
             t.settingsController->runUpdateCheck(false);
             t.updates->result = UpdateCheckError::network;
             t.settingsController->runUpdateCheck(false);  // the automatic check is silent
             t.answerFirst();
             for (const char* url :
                  {"https://vurin.app/dl", "http://vurin.app/dl", "file:///etc/passwd",
                   "javascript:alert(1)", "", "vurin.app/dl", "https://"}) {
                 t.newer(url);
                 t.settingsController->runUpdateCheck(false);
             }
             t.answerSecond();
             t.newer("https://vurin.app/later");
             t.settingsController->checkForUpdatesMenu();
             EXPECT_EQ(t.openedURLs, (Lines{"https://vurin.app/dl", "http://vurin.app/dl"}));
         },
         Lines(8, kNewer),
         {}},
        {"TheLaunchCheckRunsSixSecondsAfterLaunchWhenEnabled",
         [](Action& t) {
             t.newer("https://vurin.app/dl");
             for (const bool enabled : {true, false}) {
                 t.settingsController->autoCheckUpdatesChanged(enabled);
                 EXPECT_EQ(loadConfig().autoCheckUpdates, enabled);
                 t.settingsController->checkForUpdatesOnLaunchIfEnabled();
                 t.queue->advance(5.9);
                 EXPECT_TRUE(t.updates->timeouts.empty());
                 t.queue->advance(0.1);
                 EXPECT_EQ(t.updates->timeouts.size(), enabled ? 1U : 0U);
                 t.updates->timeouts.clear();
             }
         },
         {kNewer},
         {"已开启:启动时自动检查更新", "已关闭:不再自动检查更新"}},
    };
}

class WithoutClipboard : public SettingsControllerFixture {
  protected:
    void SetUp() override {
        clipboard.reset();
        SettingsControllerFixture::SetUp();
    }
};

TEST_F(WithoutClipboard, TheInstallDialogSaysWhatToRunWithoutClaimingACopy) {
    terminal->opens = false;
    settingsController->installLocalModels();
    const std::string command = "bash '" + (configDir() / "install-local-models.sh").string() + "'";
    EXPECT_EQ(logs,
              Lines{"⚠️ 无法自动打开终端,请在终端中手动运行安装命令"});
    EXPECT_EQ(alertLines(), Lines{"请手动运行安装命令 | 请打开终端运行:\n" + command});
}

}  // namespace
}  // namespace vurin::testing
