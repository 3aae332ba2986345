#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "settings_ui/local_models_installer.h"
#include "settings_ui/settings_wiring.h"
#include "support/private_files.h"
#include "support/settings_controller_fixture.h"

namespace vurin::testing {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using Settings = SettingsControllerFixture;

// The health line, the tab chosen and, in order, runs of the panes' text for what is stored.
TEST_F(Settings, ThePanesShowWhatIsStored) {
    configure(R"({"keyCode": 61, "sendOnClick": false, "saveTextHistory": true, "uiLang": "fr",
        "soundVolume": 0.55, "micDevice": "system", "autoCheckUpdates": false, "sttLanguage": "de",
        "allowCloudFallback": true, "sttCloudProvider": "openai", "polishProvider": "cloud",
        "polishCloudProvider": "gemini"})");
    loginItem->state = LoginItemStatus::requiresApproval;
    whisperBinaryFound = permissions->granted = false;
    keychain->items["GEMINI_API_KEY"] = "x";
    permissionTexts = {"❌ 未允许", "✅ 已允许", "⏳ 待定", false};
    settingsController->showSettings();
    EXPECT_EQ(window()->shownText(kSettingsHealthLabelId),
              "缺少权限 · 识别: 本地(未就绪)   ·   润色: Gemini · 缺 Key:OpenAI");
    const auto& header = std::get<ControlRowBlock>(window()->model.header->blocks.at(0));
    EXPECT_EQ(std::get<StatusDot>(header.controls.at(0).kind).colour, ColourRole::orange);
    EXPECT_EQ(window()->model.tabs->selected, static_cast<int>(SettingsTab::permissions));
    const std::string text = panesText();
    const std::string shown =
        "Key 61 | [重新识别] * off * on * @系统默认 * 0.55 | 55% * 中批准 | on * @自动 * off * "
        "Version 0.1.0 (0.1.0) · support@vurin.app * @本地 whisper * @自动 * 未安装 | 本地 qwen | "
        "qwen2.5:7b | Idle * [安装缺失组件(打开终端)…] | 缺少:whisper。 * on * @OpenAI | 模型 | - "
        "| gpt-4o-mini-transcribe | key:sk-… | [保存 Key] * 尚未保存 OpenAI Key。 * 音频会 * "
        "@云端 * @Gemini | 模型 | - | gemini-2.5-flash | key:输入新 Key 后点替换 | [替换 Key] * "
        "已保存 Gemini Key * 缺少必要权限 * ❌ 未允许 | [去设置] * ✅ 已允许 * ⏳ 待定";
    std::size_t at = 0;  // each run between " * " is found after the one before
    for (std::size_t start = 0, end = 0; start < shown.size(); start = end + 3) {
        end = std::min(shown.find(" * ", start), shown.size());
        at = text.find(shown.substr(start, end - start), at);
        ASSERT_NE(at, std::string::npos) << shown.substr(start, end - start) << "\nin " << text;
    }
}

// What is installed, the login item already on and a Gemini key not yet saved, as shown.
TEST_F(Settings, TheLocalModelsCardSaysWhatIsMissing) {
    const std::tuple<std::pair<bool, bool>, const char*, Lines, const char*> cases[] = {
        {{true, false},
         "{}",
         {"本地 qwen | qwen2.5:7b | 未安装 | ", "缺少:qwen2.5:7b。"},
         "未检测到 whisper"},
        {{false, false}, "{}", {"缺少:whisper、qwen2.5:7b。"}, "Running"},
        {{true, true}, "{}", {"large-v3-turbo | Running | "}, "[安装缺失组件"},
        {{true, true},
         R"({"sttProvider": "cloud", "sttCloudProvider": "gemini"})",
         {"key:Google AI Studio Key | [保存 Key]",
          "登录时启动 | 由桌面的自动启动管理(~/.config/autostart) | on"},
         "[安装缺失组件"},
    };
    whisper->ready = true;
    loginItem->state = LoginItemStatus::enabled;
    for (const auto& [found, config, shown, hidden] : cases) {
        SCOPED_TRACE(shown.front());
        configure(config);
        std::tie(whisperBinaryFound, ollamaModelFound) = found;
        settingsController->showSettings();
        const std::string text = panesText();
        for (const auto& part : shown) {
            EXPECT_NE(text.find(part), std::string::npos) << part << "\nin " << text;
        }
        EXPECT_EQ(text.find(hidden), std::string::npos);
        settingsController->windowWillClose();
    }
}

// A tab scrolls up and refreshes the health line; permission labels also refresh every second.
TEST_F(Settings, TheWindowOpensOnceAndRefreshesWhatItShows) {
    settingsController->setTriggerKeyLabel("F1");  // no window: nothing to update
    settingsController->showSettings();
    settingsController->showSettings();
    EXPECT_EQ(window()->activations.size(), 2U);  // opened forward, then brought forward
    settingsController->setTriggerKeyLabel("Esc");
    EXPECT_EQ(window()->shownText(kSettingsTriggerKeyLabelId), "Esc");
    permissionTexts.accessibility = "❌ 未允许";
    permissions->granted = false;
    window()->model.tabs->onSelect(2);
    EXPECT_EQ(window()->shownText(kSettingsAxStatusId), "✅ 已允许");
    EXPECT_EQ(window()->shownText(kSettingsHealthLabelId).substr(0, 12), "缺少权限");
    window()->model.tabs->onSelect(3);
    EXPECT_EQ(window()->shownText(kSettingsAxStatusId), "❌ 未允许");
    permissionTexts.microphone = "❌ 已拒绝";
    queue->advance(0.9);
    EXPECT_EQ(window()->shownText(kSettingsMicStatusId), "✅ 已允许");
    queue->advance(0.1);
    EXPECT_EQ(window()->shownText(kSettingsMicStatusId), "❌ 已拒绝");
    answerFirst();
    controller->warnNotConfigured();  // its first button opens the speech tab
    EXPECT_EQ(window()->selectedTab(), 1);
    EXPECT_EQ(window()->scrollsToTop, 4);
    auto view = windows->last();
    view->userCloses();
    EXPECT_EQ(shell->policies.back(), ActivationPolicy::accessory);
    permissionTexts.inputMonitoring = "❌ 未允许";
    queue->advance(3.0);
    EXPECT_EQ(view->shownText(kSettingsInputStatusId), "✅ 已允许");
}

// Each control reaches its operation, held weakly: once the controllers are gone nothing runs.
TEST_F(Settings, ControlsCallTheirOperations) {
    settingsController->showSettings();
    const auto control = [this](int pane, int card, int block) -> const Control::Kind& {
        const auto& cards = window()->model.panes.at(pane).cards;
        return std::get<RowBlock>(cards.at(card).blocks.at(block)).trailing.at(0).kind;
    };
    std::get<Switch>(control(0, 0, 1)).action(false);
    std::get<Switch>(control(0, 0, 2)).action(true);
    std::get<Slider>(control(0, 1, 1)).onRelease(0.5);
    std::get<Switch>(control(0, 2, 0)).action(true);
    std::get<Switch>(control(0, 2, 2)).action(false);
    std::get<SegmentedControl>(control(1, 0, 1)).action(2);
    std::get<SegmentedControl>(control(2, 0, 0)).action(0);
    std::get<PopUpButton>(control(2, 1, 0)).action(1);  // the cloud card of the rebuilt pane
    EXPECT_EQ(controller->config(), decodeConfig(R"({"sendOnClick": false, "sttLanguage": "en",
        "polishProvider": "cloud", "saveTextHistory": true, "polishCloudProvider": "openai",
        "uiLang": "zh", "soundVolume": 0.5, "autoCheckUpdates": false})"));
    EXPECT_EQ(loginItem->calls, Lines{"register"});
    settingsController->soundVolumeChanged(1.7);  // clamped; not a number is ignored
    settingsController->soundVolumeChanged(std::nan(""));
    EXPECT_EQ(loadConfig().soundVolume, 1.0);
    EXPECT_EQ(window()->shownText(kSettingsVolumeLabelId), "100%");
    settingsController->soundVolumeChanged(-0.2);  // muted: the preview plays nothing
    queue->runPending();
    EXPECT_EQ(window()->shownText(kSettingsVolumeLabelId), "静音");
    EXPECT_EQ(sound->played, (Lines{"Glass", "Glass"}));
    setSoundVolume(0.3F);
    for (const char* button : {"重新识别", "去设置", "立即检查", "写邮件"}) {
        EXPECT_TRUE(window()->press(button)) << button;
    }
    EXPECT_EQ(hookCalls, (Lines{"detect", "ax"}));
    EXPECT_EQ(openedURLs.size(), 1U);
    auto view = windows->last();
    controller.reset();
    settingsController.reset();
    view->press("立即检查");
    view->model.tabs->onSelect(3);
    EXPECT_EQ(updates->timeouts.size(), 1U);
}

// Turning launch at login on or off, by the item's state before and what registering gives.
TEST_F(Settings, LaunchAtLoginRegistersOnlyWhenNeededAndAsksForApproval) {
    using enum LoginItemStatus;
    const Lines failed = {"无法更新登录时启动项 | denied"};
    const Lines ask = {
        "需要在桌面设置中批准 | 系统已记录启动项,但目前不允许它运行。请在桌面设置的"
        "“自动启动”中启用 Vurin。 | 打开自动启动设置 | 以后再说"};
    const struct {
        LoginItemStatus before, afterRegister;
        bool turnOn;
        std::optional<std::string> error;
        Lines calls, alerts;
        bool shownOn;
    } cases[] = {
        {notRegistered, enabled, true, {}, {"register"}, {}, true},
        {enabled, enabled, true, {}, {}, {}, true},
        {enabled, enabled, false, {}, {"unregister"}, {}, false},
        {notFound, enabled, false, {}, {}, {}, false},
        {notRegistered, enabled, true, "denied", {"register"}, failed, false},
        {notRegistered, requiresApproval, true, {}, {"register"}, ask, true},
        {requiresApproval, enabled, true, {}, {}, ask, true},
        {requiresApproval, enabled, false, "denied", {"unregister"}, ask, true},
    };
    settingsController->showSettings();
    answerFirst();
    for (const auto& c : cases) {
        *loginItem = FakeLoginItem();
        loginItem->state = c.before;
        loginItem->stateAfterRegister = c.afterRegister;
        loginItem->error = c.error;
        shell->alerts.clear();
        settingsController->launchAtLoginChanged(c.turnOn);
        EXPECT_EQ(loginItem->calls, c.calls);
        EXPECT_EQ(alertLines(), c.alerts);
        EXPECT_EQ(window()->switches[kSettingsLaunchAtLoginSwitchId], c.shownOn);
    }
    EXPECT_EQ(window()->shownText(kSettingsLaunchAtLoginSubtitleId),
              "已登记,需在桌面设置的“自动启动”中批准");
    EXPECT_EQ(loginItemSettingsOpened, 3);
}

// What a check's result shows, by who asked; only a web address is ever opened.
TEST_F(Settings, AnUpdateCheckTellsWhatItFound) {
    const auto newer = [](const char* url) -> UpdateCheckResult {
        return UpdateInfo{.latest = "2.0", .current = "1.0", .url = url, .isNewer = true};
    };
    const UpdateCheckResult current = UpdateInfo{.latest = "1.0", .current = "1.0", .url = "x"};
    const Lines latest = {"已是最新版本 | 当前 Vurin 1.0 已是最新。 | 好"};
    const Lines failed = {"暂时无法检查更新 | 请检查网络后重试,或直接访问 vurin.app 查看。 | 好"};
    const Lines offer = {
        "发现新版本 Vurin 2.0 | 你当前是 1.0。到官网下载最新版覆盖安装即可。 | "
        "下载 | 稍后"};
    const struct {
        UpdateCheckResult result;
        bool byUser;
        int answer;
        Lines alerts, opened;
    } cases[] = {
        {current, true, 0, latest, {}},
        {UpdateCheckError::parse, true, 0, failed, {}},
        {current, false, 0, {}, {}},
        {UpdateCheckError::network, false, 0, {}, {}},
        {newer("https://vurin.app/dl"), false, 0, offer, {"https://vurin.app/dl"}},
        {newer("file:///etc/passwd"), false, 0, offer, {}},
        {newer("https://vurin.app/dl"), true, 1, offer, {}},
    };
    for (const auto& c : cases) {
        updates->result = c.result;
        shell->alertResponse = kAlertFirstButtonReturn + c.answer;
        shell->alerts.clear();
        shell->activations = 0;
        openedURLs.clear();
        settingsController->runUpdateCheck(c.byUser);
        EXPECT_EQ(alertLines(), c.alerts);
        EXPECT_EQ(shell->activations, static_cast<int>(c.alerts.size()));  // to the front
        EXPECT_EQ(openedURLs, c.opened);
    }
    settingsController->checkForUpdatesMenu();
    EXPECT_EQ(updates->timeouts, std::vector(8, 8.0));
}

TEST_F(Settings, TheLaunchCheckRunsSixSecondsAfterLaunchWhenEnabled) {
    settingsController->checkForUpdatesOnLaunchIfEnabled();
    queue->advance(5.9);
    EXPECT_TRUE(updates->timeouts.empty());
    queue->advance(0.1);
    EXPECT_EQ(updates->timeouts.size(), 1U);
    settingsController->autoCheckUpdatesChanged(false);
    settingsController->checkForUpdatesOnLaunchIfEnabled();
    queue->advance(7);
    controller->config().autoCheckUpdates = true;
    settingsController->checkForUpdatesOnLaunchIfEnabled();
    controller.reset();  // both gone before the six seconds have passed
    settingsController.reset();
    queue->advance(7);
    EXPECT_EQ(updates->timeouts.size(), 1U);
}

// The application's hooks hold the controller weakly: once it is gone they do nothing.
TEST_F(Settings, WiredHooksFindTheControllerGone) {
    AppServices services{.mainQueue = queue, .shell = shell};
    std::weak_ptr<SettingsController> wired = installSettingsController(services, {});
    services.settings.reset();
    EXPECT_TRUE(wired.expired());
    services.checkForUpdatesMenu();
    services.checkForUpdatesOnLaunchIfEnabled();
    services.refreshSettingsAfterFallbackChange();
    EXPECT_EQ(queue->pendingCount() + shell->alerts.size() + windows->opened.size(), 0U);
}

// On Wayland the trigger row shows what the desktop bound and, below it to copy, the lines that
// bind the key in sway and Hyprland; on X11 the key's name and no lines.
TEST_F(Settings, OnWaylandTheTriggerRowShowsTheBoundKeyAndTheCompositorLines) {
    const SettingsPlatform wayland{
        .triggerKeyLabel = [] { return std::string("当前:Ctrl+F13(桌面快捷键)"); },
        .compositorBindingLines = [] { return compositorBindingLines("F13", "/bin/vurin"); }};
    for (const auto& [platform, label, lines] :
         {std::tuple<SettingsPlatform, std::string, std::string>{{}, "105", ""},
          {wayland, "当前:Ctrl+F13(桌面快捷键)",
           "bindsym --no-repeat F13 exec /bin/vurin --trigger press\nbindsym --release F13 exec "
           "/bin/vurin "
           "--trigger release\nbind = , F13, exec, /bin/vurin --trigger press\nbindr = , F13, "
           "exec, /bin/vurin --trigger release"}}) {
        SCOPED_TRACE(label);
        AppServices services{.mainQueue = queue, .shell = shell};
        const auto blocks =
            installSettingsController(services, platform)->buildGeneralPane().cards[0].blocks;
        const auto& row = std::get<RowBlock>(blocks.at(0));
        EXPECT_EQ(std::get<Label>(row.trailing.at(0).kind).text, label);
        const auto* copyable = std::get_if<ControlRowBlock>(&blocks.at(2));
        const Label* shown = copyable ? &std::get<Label>(copyable->controls.at(0).kind) : nullptr;
        EXPECT_EQ(shown && shown->style.selectable ? shown->text : "", lines);
    }
}

// Blank keys are refused, keys trimmed (an unknown provider is Groq), clearing asks first.
TEST_F(Settings, KeysAreStoredTrimmedAndClearedAfterAsking) {
    configure(R"({"sttProvider": "cloud", "sttCloudProvider": "mystery",
                  "polishProvider": "cloud", "polishCloudProvider": "openai"})");
    settingsController->showSettings();
    typeKey("stt:groq", " \t\n ");
    settingsController->saveSTTCloudKey();
    typeKey("stt:groq", "  gsk-new\n");
    ASSERT_TRUE(window()->press("保存 Key"));
    typeKey("polish:openai", "sk-o");
    keychain->failures["add"] = SecretStatus::locked;
    settingsController->savePolishCloudKey();
    keychain->failures.clear();
    settingsController->clearSTTCloudKey();
    answerFirst();
    settingsController->clearPolishCloudKey();
    EXPECT_EQ(keychain->items, (std::map<std::string, std::string>{{"GROQ_API_KEY", "gsk-new"}}));
    EXPECT_EQ(window()->paneReplacements, 4);
    const auto clear = [](const std::string& name) {
        return "清除 " + name +
               " Key? | 同一家服务商的 Key 在语音识别和文本润色间共享。清除后,使用 " + name +
               " 的云端识别/润色都会不可用,直到重新保存 Key。 | 清除 Key | 取消";
    };
    EXPECT_EQ(
        alertLines(),
        (Lines{"请输入新的 Groq Key | 空输入不会覆盖已保存的 Key。如需删除,请点「清除 Key」。",
               "无法保存 OpenAI Key | 系统钥匙环(Secret Service)写入失败。原来已保存的 Key "
               "没有被删除,请稍后重试。",
               clear("Groq"), clear("OpenAI")}));
}

// Each choice is stored and rebuilds what shows it; a segment that is none is ignored.
TEST_F(Settings, ChoicesAreStoredAndRebuildWhatShowsThem) {
    launch();  // which warms the built-in microphone up
    settingsController->showSettings();
    for (const int index : {1, 3}) {
        settingsController->sttCloudProviderChanged(index);
        settingsController->langSegChanged(index);
        settingsController->polishCloudProviderChanged(index + 1);
        settingsController->micDeviceSegChanged(index);
    }
    EXPECT_EQ(shell->statusItem->menuBuilds, 4);
    settingsController->sttSegChanged(0);
    settingsController->polishSegChanged(1);  // already local: rebuilt anyway
    settingsController->cloudFallbackSwitchChanged();
    EXPECT_EQ(window()->paneReplacements, 6);
    EXPECT_EQ(loadConfig(), decodeConfig(R"({"sttLanguage": "zh", "uiLang": "zh",
        "sttCloudProvider": "openai", "polishCloudProvider": "gemini", "sttProvider": "cloud",
        "allowCloudFallback": true})"));
    EXPECT_EQ(recorder->warmUps, (std::vector<bool>{true, false, true}));
    settingsController->uiLangSegChanged(2);
    EXPECT_EQ(loadConfig().uiLang, "en");
    EXPECT_EQ(window()->model.title, "Vurin Settings");  // reopened in the new language
    settingsController->uiLangSegChanged(7);             // none: ignored
    settingsController->windowWillClose();
    settingsController->uiLangSegChanged(1);  // stored, but no window opens for it
    EXPECT_EQ(loadConfig().uiLang, "zh");
    EXPECT_EQ(windows->opened.size(), 2U);
}

TEST_F(Settings, ClearingHistoryAsksThenDeletesTheFile) {
    ensurePrivateConfigDirectory();
    std::ofstream(historyURL()) << "{}\n";
    settingsController->clearHistoryData();
    EXPECT_TRUE(fs::exists(historyURL()));
    answerFirst();
    settingsController->clearHistoryData();
    EXPECT_FALSE(fs::exists(historyURL()));
    fs::create_directories(historyURL() / "inner");  // cannot be removed as a file
    settingsController->clearHistoryData();
    const std::string ask =
        "清除全部 Vurin 历史数据? | 这会永久删除本机保存的延迟指标和可能存在的"
        "转写/润色全文。设置和 Key 不受影响。 | 清除 | 取消";
    EXPECT_EQ(alertLines(), (Lines{ask, ask, ask, "清除失败 | Directory not empty"}));
}

std::string installCommand() {
    return "bash '" + (configDir() / "install-local-models.sh").string() + "'";
}

TEST_F(Settings, TheInstallerRunsInATerminalElseItsCommandIsCopied) {
    whisperModelFound = false;
    settingsController->showSettings();
    ASSERT_TRUE(window()->press("安装缺失组件(打开终端)…"));
    const auto script = configDir() / "install-local-models.sh";
    EXPECT_EQ(contentOf(script), std::string(localModelsInstallerScript()));
    EXPECT_EQ(modeOf(script) & 0111, 0U);  // run through bash, never executed itself
    EXPECT_EQ(terminal->commands, Lines{installCommand()});
    terminal->opens = false;
    settingsController->installLocalModels();
    for (const auto selection : {ClipboardSelection::clipboard, ClipboardSelection::primary}) {
        EXPECT_EQ(clipboard->contents(selection),
                  std::vector{FakeClipboard::textItem(installCommand())});
    }
    TearDown();  // without a clipboard the dialog says what to run without claiming a copy
    clipboard.reset();
    SetUp();
    settingsController->installLocalModels();
    EXPECT_EQ(alertLines(),
              (Lines{"已复制安装命令到剪贴板 | 请打开终端粘贴运行:\n" + installCommand(),
                     "请手动运行安装命令 | 请打开终端运行:\n" + installCommand()}));
}

// Quoted as one word of a command line, or of an Exec line (whose backslashes are doubled).
TEST(DesktopLaunch, QuotingWebAddressesTerminalsAndSupportMail) {
    EXPECT_EQ(localModelsInstallCommand("/h/a';rm -rf ~;'/x.sh"),
              "bash '/h/a'\\'';rm -rf ~;'\\''/x.sh'");
    EXPECT_EQ(desktopExecArgument("/usr/bin/vurin"), "/usr/bin/vurin");
    EXPECT_EQ(desktopExecArgument("/o/a$b\"c/v"), "\"/o/a\\\\$b\\\\\"c/v\"");
    EXPECT_EQ(desktopExecArgument("/o/a\nb"), "\"/o/a\\nb\"");
    EXPECT_TRUE(isWebURL("HTTPS://Vurin.app") && isWebURL("http://vurin.app/dl?x=1"));
    for (const char* url : {"file:///etc/passwd", "javascript:alert(1)", "", "vurin.app/dl",
                            "https://", "ftp://vurin.app/", "https://vurin.app/a b"}) {
        EXPECT_FALSE(isWebURL(url)) << url;
    }
    EXPECT_EQ(SpawnTerminalLauncher::terminalArguments("/usr/bin/gnome-terminal", "c"),
              (Lines{"/usr/bin/gnome-terminal", "--", "bash", "-c", "c; exec bash"}));
    EXPECT_EQ(
        supportMailURL("1.2", "34", "6.1.0", "x86_64"),
        "https://mail.google.com/mail/?view=cm&fs=1&to=support%40vurin.app&su=Vurin+1.2+"
        "%e2%80%94+Support&body=%0a%0a%e2%80%94%e2%80%94%e2%80%94%e2%80%94%0aApp%3a+Vurin+1.2+"
        "%2834%29%0aLinux%3a+6.1.0++%c2%b7++x86_64");
}

// Numeric component by component, missing ones 0; too large or foreign digits count as 0.
TEST(Updates, VersionsCompareAndTheManifestGivesATrimmedVersionAndAnyNonEmptyUrl) {
    for (const char* row :
         {"1.2 = 1.2.0", "1.9 < 1.10", "2.0 > 1.99.9", "1.0.1 > 1.0", "1..2 = 1.2", "2-beta = 2",
          "dev < 0.0.1", "99999999999999999999 = 0", "١٢ = 0", "1² = 0"}) {
        std::istringstream words(row);
        std::string a, relation, b;
        words >> a >> relation >> b;
        const auto order = compareVersions(a, b);
        EXPECT_EQ(relation, order < 0 ? "<" : order > 0 ? ">" : "=") << row;
    }
    const auto parsed = [](const char* body) {
        return parseUpdateManifest(body, "1.2", "https://h/");
    };
    EXPECT_EQ(parsed(R"({"version":" 1.3\n","extra":1})"),
              UpdateCheckResult(UpdateInfo{
                  .latest = "1.3", .current = "1.2", .url = "https://h/", .isNewer = true}));
    EXPECT_EQ(std::get<UpdateInfo>(parsed(R"({"version":"1","url":""})")).url, "https://h/");
    for (const char* body : {"", "[]", "{}", R"({"version":1.3})", R"({"version":"  \n"})"}) {
        EXPECT_EQ(parsed(body), UpdateCheckResult(UpdateCheckError::parse)) << body;
    }
}

}  // namespace
}  // namespace vurin::testing
