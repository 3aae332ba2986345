#include "app/permission_onboarding.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/app_fakes.h"
#include "support/fake_audio_capture.h"
#include "support/fake_window_renderer.h"
#include "support/language.h"
#include "support/log.h"
#include "support/private_files.h"
#include "support/virtual_main_queue.h"

namespace vurin {
namespace {

using test::FakeAudioCapture;
using testing::FakeRecorder;
using testing::FakeShell;
using testing::FakeWindowRenderer;
using testing::FakeWindowView;
using testing::VirtualMainQueue;

class FakeProbe : public PermissionProbe {
  public:
    SyntheticInputAccess syntheticInput() override {
        calls.push_back("syntheticInput");
        return accessibility;
    }
    bool accessibilityBusReachable() override { return busReachable; }
    KeyGrabAccess keyGrab(int evdevCode) override {
        calls.push_back("keyGrab " + std::to_string(evdevCode));
        return grab;
    }

    SyntheticInputAccess accessibility = SyntheticInputAccess::granted;
    KeyGrabAccess grab = KeyGrabAccess::granted;
    bool busReachable = true;
    std::vector<std::string> calls;
};

class FakeDesktopSettings : public DesktopSettings {
  public:
    std::string desktopName() const override { return name; }
    SettingsDestination destination(SettingsPage page) const override {
        if (!name.empty()) {
            return SettingsDestination::desktopPanel;
        }
        return page == SettingsPage::microphone ? SettingsDestination::soundMixer
                                                : SettingsDestination::helpPage;
    }
    bool open(SettingsPage page, const std::filesystem::path& helpPage) override {
        opened.push_back(page);
        helpPages.push_back(helpPage);
        return opens;
    }

    std::string name = "GNOME";
    bool opens = true;
    std::vector<SettingsPage> opened;
    std::vector<std::filesystem::path> helpPages;
};

AudioSourceInfo microphone(std::string name, bool muted = false) {
    return AudioSourceInfo{.name = std::move(name),
                           .description = "Built-in Audio Analog Stereo",
                           .formFactor = "internal",
                           .bus = "pci",
                           .sampleRate = 48000,
                           .channels = 2,
                           .muted = muted};
}

AudioSourceList sourcesWith(std::vector<AudioSourceInfo> sources, std::string defaultName) {
    return AudioSourceList{.sources = std::move(sources),
                           .defaultSourceName = std::move(defaultName)};
}

AudioSourceList noServer() {
    return AudioSourceList{.status = AudioServerStatus::unavailable,
                           .reason = "Connection refused"};
}

class PermissionOnboardingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vurin-gate-XXXXXX").string();
        folder = mkdtemp(pattern.data());
        applyUILang("zh");
        setLogObserver([this](const std::string& line) { logs.push_back(line); });
        audio->setSources(sourcesWith({microphone("mic")}, "mic"));
        gate = PermissionOnboarding::create({.mainQueue = queue,
                                             .shell = shell,
                                             .windows = windows,
                                             .probe = probe,
                                             .desktopSettings = desktop,
                                             .audio = audio,
                                             .recorder = recorder,
                                             .helpPage = folder / "help.html"});
        gate->attach({.config = [this] { return &config; },
                      .finishInputSetup =
                          [this] {
                              ++finishCalls;
                              return finishSucceeds;
                          },
                      .triggerCaptureRunning = [this] { return captureRunning; }});
    }
    void TearDown() override {
        std::filesystem::remove_all(folder);
        setLogObserver({});
        applyUILang("auto");
    }

    std::shared_ptr<FakeWindowView> window() const { return windows->last(); }

    std::filesystem::path folder;
    std::shared_ptr<VirtualMainQueue> queue = std::make_shared<VirtualMainQueue>();
    std::shared_ptr<FakeShell> shell = std::make_shared<FakeShell>();
    std::shared_ptr<FakeWindowRenderer> windows = std::make_shared<FakeWindowRenderer>();
    std::shared_ptr<FakeProbe> probe = std::make_shared<FakeProbe>();
    std::shared_ptr<FakeDesktopSettings> desktop = std::make_shared<FakeDesktopSettings>();
    std::shared_ptr<FakeAudioCapture> audio = std::make_shared<FakeAudioCapture>();
    std::shared_ptr<FakeRecorder> recorder = std::make_shared<FakeRecorder>();
    std::shared_ptr<PermissionOnboarding> gate;
    Config config;
    int finishCalls = 0;
    bool finishSucceeds = true;
    bool captureRunning = false;
    std::vector<std::string> logs;
};

TEST(PermissionStatusTexts, EveryStateInBothLanguages) {
    struct Case {
        std::string text;
        std::string zh;
        std::string en;
    };
    const auto both = [](auto status, auto textOf) {
        applyUILang("zh");
        std::string zh = textOf(status);
        applyUILang("en");
        std::string en = textOf(status);
        return std::pair{zh, en};
    };
    const std::vector<
        std::pair<std::pair<std::string, std::string>, std::pair<std::string, std::string>>>
        cases = {
            {both(SyntheticInputAccess::granted, accessibilityStatusText),
             {"✅ 已允许", "✅ Allowed"}},
            {both(SyntheticInputAccess::noSyntheticInput, accessibilityStatusText),
             {"❌ 缺少 XTest", "❌ No XTest"}},
            {both(SyntheticInputAccess::noDisplay, accessibilityStatusText),
             {"❌ 无 X11 显示", "❌ No X11 display"}},
            {both(KeyGrabAccess::granted, inputMonitoringStatusText), {"✅ 已允许", "✅ Allowed"}},
            {both(KeyGrabAccess::taken, inputMonitoringStatusText), {"❌ 被占用", "❌ Key in use"}},
            {both(KeyGrabAccess::noDisplay, inputMonitoringStatusText),
             {"❌ 无 X11 显示", "❌ No X11 display"}},
            {both(MicrophoneAccess::authorized, microphoneStatusText), {"✅ 已允许", "✅ Allowed"}},
            {both(MicrophoneAccess::muted, microphoneStatusText), {"❌ 已静音", "❌ Muted"}},
            {both(MicrophoneAccess::noInputSource, microphoneStatusText),
             {"❌ 无麦克风", "❌ No microphone"}},
            {both(MicrophoneAccess::noSoundServer, microphoneStatusText),
             {"❌ 无声音服务", "❌ No sound server"}},
        };
    for (const auto& [shown, expected] : cases) {
        EXPECT_EQ(shown, expected);
    }
    applyUILang("auto");
}

TEST(MicrophoneAccessTest, TheSourceARecordingWouldUseDecides) {
    EXPECT_EQ(microphoneAccess(noServer(), true), MicrophoneAccess::noSoundServer);
    EXPECT_EQ(microphoneAccess(sourcesWith({}, ""), true), MicrophoneAccess::noInputSource);
    // Without a microphone the server's default source is a speaker's monitor.
    AudioSourceInfo monitor{.name = "spk.monitor", .isMonitor = true, .channels = 2};
    EXPECT_EQ(microphoneAccess(sourcesWith({monitor}, "spk.monitor"), false),
              MicrophoneAccess::noInputSource);
    EXPECT_EQ(microphoneAccess(sourcesWith({monitor}, "spk.monitor"), true),
              MicrophoneAccess::noInputSource);
    EXPECT_EQ(microphoneAccess(sourcesWith({microphone("mic", true)}, "mic"), true),
              MicrophoneAccess::muted);
    // A muted headset does not matter while the built-in microphone is the one used, and the
    // other way round.
    AudioSourceInfo headset{.name = "usb", .bus = "usb", .channels = 1, .muted = true};
    const AudioSourceList both = sourcesWith({microphone("mic"), headset}, "usb");
    EXPECT_EQ(microphoneAccess(both, true), MicrophoneAccess::authorized);
    EXPECT_EQ(microphoneAccess(both, false), MicrophoneAccess::muted);
}

TEST_F(PermissionOnboardingTest, StartUpLogLine) {
    gate->checkPermissions();
    EXPECT_EQ(logs, (std::vector<std::string>{"权限:辅助功能=✅  输入监控=✅  麦克风=✅"}));

    logs.clear();
    probe->accessibility = SyntheticInputAccess::noSyntheticInput;
    probe->grab = KeyGrabAccess::taken;
    probe->busReachable = false;
    audio->setSources(sourcesWith({microphone("mic", true)}, "mic"));
    gate->checkPermissions();
    EXPECT_EQ(
        logs,
        (std::vector<std::string>{
            "权限:辅助功能=❌  输入监控=❌  麦克风=❌已静音",
            "⚠️ 无障碍总线(AT-SPI)连不上:粘贴照常,但读不到焦点里的文字",
            "⚠️ 麦克风已静音。请在系统的声音设置(或 "
            "pavucontrol)里取消静音"}));

    logs.clear();
    probe->busReachable = true;
    audio->setSources(noServer());
    gate->checkPermissions();
    EXPECT_EQ(logs, (std::vector<std::string>{"权限:辅助功能=❌  输入监控=❌  麦克风=❌无声音服务"}));
    logs.clear();
    audio->setSources(sourcesWith({}, ""));
    gate->checkPermissions();
    EXPECT_EQ(logs, (std::vector<std::string>{"权限:辅助功能=❌  输入监控=❌  麦克风=❌无输入设备"}));
}

TEST_F(PermissionOnboardingTest, GrantsAreReadInOrderAndStopAtTheFirstMissing) {
    config.keyCode = 105;  // F13: evdev 183
    EXPECT_TRUE(gate->allRequiredPermissionsGranted());
    EXPECT_EQ(probe->calls, (std::vector<std::string>{"syntheticInput", "keyGrab 183"}));
    EXPECT_EQ(audio->listCalls(), 1);

    probe->calls.clear();
    probe->accessibility = SyntheticInputAccess::noDisplay;
    EXPECT_FALSE(gate->allRequiredPermissionsGranted());
    EXPECT_EQ(probe->calls, (std::vector<std::string>{"syntheticInput"}));
    EXPECT_EQ(audio->listCalls(), 1);

    probe->calls.clear();
    probe->accessibility = SyntheticInputAccess::granted;
    probe->grab = KeyGrabAccess::taken;
    EXPECT_FALSE(gate->allRequiredPermissionsGranted());
    EXPECT_EQ(audio->listCalls(), 1);

    // Our own capture holding the key is the grant: no trial grab that would collide with it.
    probe->calls.clear();
    captureRunning = true;
    EXPECT_TRUE(gate->allRequiredPermissionsGranted());
    EXPECT_EQ(probe->calls, (std::vector<std::string>{"syntheticInput"}));
}

TEST_F(PermissionOnboardingTest, AKeyCodeWithoutALinuxKeyCannotBeGrabbed) {
    config.keyCode = 63;  // Fn: no such key on Linux
    EXPECT_FALSE(gate->allRequiredPermissionsGranted());
    EXPECT_EQ(gate->permissionStatusText().inputMonitoring, "❌ 被占用");
}

TEST_F(PermissionOnboardingTest, WindowContentInChinese) {
    gate->showPermissionOnboarding();
    ASSERT_EQ(windows->opened.size(), 1U);
    const WindowModel& model = window()->model;
    EXPECT_EQ(model.title, "Vurin 权限设置");
    EXPECT_EQ(model.width, 520);
    EXPECT_EQ(model.height, 360);
    ASSERT_EQ(model.panes.size(), 1U);
    EXPECT_FALSE(model.tabs);
    const Pane& pane = model.panes[0];
    EXPECT_EQ(pane.spacing, 14);
    EXPECT_EQ(pane.margins.top, 22);
    EXPECT_EQ(pane.margins.left, 24);
    ASSERT_EQ(pane.cards.size(), 1U);
    const auto& blocks = pane.cards[0].blocks;
    ASSERT_GE(blocks.size(), 6U);
    const auto& heading = std::get<Label>(std::get<ControlRowBlock>(blocks[0]).controls[0].kind);
    EXPECT_EQ(heading.text, "需要 3 个权限才能监听按键、录音并粘贴指令");
    EXPECT_EQ(heading.style.pointSize, 16);
    EXPECT_TRUE(heading.style.bold);
    EXPECT_EQ(std::get<NoteBlock>(blocks[1]).text,
              "按顺序点击下面按钮。授权后这里会自动刷新,全部通过后即可开始使用。");
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"辅助功能", "用于合成 Ctrl+V / Return"},
        {"输入监控", "用于全局监听触发键并吞掉事件"},
        {"麦克风", "用于录音并转写成指令"}};
    const char* statusIds[] = {PermissionOnboarding::kAccessibilityStatusId,
                               PermissionOnboarding::kInputStatusId,
                               PermissionOnboarding::kMicrophoneStatusId};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto& row = std::get<RowBlock>(blocks[2 + i]);
        EXPECT_EQ(row.title, rows[i].first);
        EXPECT_EQ(row.subtitle, rows[i].second);
        EXPECT_TRUE(row.boldTitle);
        EXPECT_EQ(row.spacing, 12);
        ASSERT_EQ(row.trailing.size(), 2U);
        EXPECT_EQ(row.trailing[0].id, statusIds[i]);
        EXPECT_EQ(std::get<Label>(row.trailing[0].kind).style.alignment, TextAlignment::trailing);
        const auto& open = std::get<Button>(row.trailing[1].kind);
        EXPECT_EQ(open.title, "去设置");
        EXPECT_EQ(open.width, 92);
    }
    const auto& buttons = std::get<ControlRowBlock>(blocks[5]);
    EXPECT_EQ(buttons.spacing, 10);
    ASSERT_EQ(buttons.controls.size(), 2U);
    EXPECT_EQ(std::get<Button>(buttons.controls[0].kind).title, "刷新状态");
    EXPECT_EQ(buttons.controls[1].id, PermissionOnboarding::kContinueButtonId);
    EXPECT_EQ(std::get<Button>(buttons.controls[1].kind).title, "等待授权完成");
    EXPECT_FALSE(std::get<Button>(buttons.controls[1].kind).enabled);
    EXPECT_EQ(std::get<NoteBlock>(blocks[6]).text,
              "「去设置」:辅助功能 → GNOME 设置,输入监控 → GNOME 设置,麦克风 → GNOME 设置。");
}

TEST_F(PermissionOnboardingTest, WindowTextsInEnglishOnAnUnknownDesktop) {
    applyUILang("en");
    desktop->name.clear();
    gate->showPermissionOnboarding();
    const WindowModel& model = window()->model;
    EXPECT_EQ(model.title, "Vurin Permissions");
    const auto& blocks = model.panes[0].cards[0].blocks;
    EXPECT_EQ(std::get<Label>(std::get<ControlRowBlock>(blocks[0]).controls[0].kind).text,
              "Vurin needs 3 permissions to listen for the key, record, and paste");
    EXPECT_EQ(std::get<NoteBlock>(blocks[1]).text,
              "Click each button below. Status refreshes automatically; start once all are "
              "allowed.");
    EXPECT_EQ(std::get<RowBlock>(blocks[2]).title, "Accessibility");
    EXPECT_EQ(std::get<RowBlock>(blocks[2]).subtitle, "To synthesize Ctrl+V / Return");
    EXPECT_EQ(std::get<RowBlock>(blocks[3]).title, "Input Monitoring");
    EXPECT_EQ(std::get<RowBlock>(blocks[3]).subtitle, "To listen for the trigger key globally");
    EXPECT_EQ(std::get<RowBlock>(blocks[4]).title, "Microphone");
    EXPECT_EQ(std::get<RowBlock>(blocks[4]).subtitle, "To record and transcribe your voice");
    EXPECT_NE(window()->button("Open"), nullptr);
    EXPECT_NE(window()->button("Refresh"), nullptr);
    EXPECT_EQ(window()->shownText(PermissionOnboarding::kContinueButtonId), "Start using Vurin");
    EXPECT_EQ(std::get<NoteBlock>(blocks[6]).text,
              "“Open”: Accessibility → help page, Input Monitoring → help page, Microphone → "
              "pavucontrol.");
}

TEST_F(PermissionOnboardingTest, OnlyTheMicrophoneMissingThenGrantedWithoutAClick) {
    audio->setSources(noServer());
    gate->showPermissionOnboarding();
    FakeWindowView& view = *window();
    EXPECT_EQ(shell->policies, (std::vector<ActivationPolicy>{ActivationPolicy::regular}));
    EXPECT_GE(shell->activations, 1);
    EXPECT_TRUE(view.isVisible());
    EXPECT_EQ(view.shownText(PermissionOnboarding::kAccessibilityStatusId), "✅ 已允许");
    EXPECT_EQ(view.shownText(PermissionOnboarding::kInputStatusId), "✅ 已允许");
    EXPECT_EQ(view.shownText(PermissionOnboarding::kMicrophoneStatusId), "❌ 无声音服务");
    EXPECT_EQ(view.shownText(PermissionOnboarding::kContinueButtonId), "等待授权完成");
    EXPECT_FALSE(view.enabled.at(PermissionOnboarding::kContinueButtonId));
    EXPECT_EQ(finishCalls, 0);

    // Pressing the disabled button's action anyway changes nothing.
    gate->closePermissionWindowIfReady();
    EXPECT_FALSE(view.closed);
    EXPECT_TRUE(shell->alerts.empty());
    EXPECT_EQ(finishCalls, 0);

    audio->setSources(sourcesWith({microphone("mic")}, "mic"));
    queue->advance(0.9);
    EXPECT_EQ(view.shownText(PermissionOnboarding::kMicrophoneStatusId), "❌ 无声音服务");
    queue->advance(0.1);
    EXPECT_EQ(view.shownText(PermissionOnboarding::kMicrophoneStatusId), "✅ 已允许");
    EXPECT_EQ(view.shownText(PermissionOnboarding::kContinueButtonId), "开始使用 Vurin");
    EXPECT_TRUE(view.enabled.at(PermissionOnboarding::kContinueButtonId));
    // Input starts from the poll itself.
    EXPECT_EQ(finishCalls, 1);
    // The recorder chose its source while there was none; it chooses again.
    EXPECT_EQ(recorder->warmUps, (std::vector<bool>{true}));
    queue->advance(1.0);
    EXPECT_EQ(finishCalls, 2);
    EXPECT_EQ(recorder->warmUps.size(), 1U);
}

TEST_F(PermissionOnboardingTest, ContinueClosesTheWindowAndStopsPolling) {
    gate->showPermissionOnboarding();
    FakeWindowView& view = *window();
    ASSERT_TRUE(view.press(PermissionOnboarding::kContinueButtonId));
    EXPECT_TRUE(view.closed);
    EXPECT_EQ(gate->permissionWindow(), nullptr);
    EXPECT_FALSE(gate->isPolling());
    EXPECT_EQ(shell->policies, (std::vector<ActivationPolicy>{ActivationPolicy::regular,
                                                              ActivationPolicy::accessory}));
    EXPECT_EQ(logs.back(), "✅ 权限已就绪");
    const int probes = static_cast<int>(probe->calls.size());
    queue->advance(5.0);
    EXPECT_EQ(static_cast<int>(probe->calls.size()), probes);
}

TEST_F(PermissionOnboardingTest, ContinueWhenTheCaptureCannotStartAsksForAReopen) {
    finishSucceeds = false;
    gate->showPermissionOnboarding();
    ASSERT_TRUE(window()->press(PermissionOnboarding::kContinueButtonId));
    ASSERT_EQ(shell->alerts.size(), 1U);
    EXPECT_EQ(shell->alerts[0].messageText, "需要重新打开 Vurin");
    EXPECT_EQ(shell->alerts[0].informativeText,
              "权限已经齐全,但按键监听没能启动(触发键可能刚被其他程序占用)。请退出 Vurin "
              "后重新打开一次。");
    EXPECT_TRUE(shell->alerts[0].buttons.empty());
    EXPECT_FALSE(window()->closed);
    EXPECT_TRUE(gate->isPolling());

    applyUILang("en");
    window()->press(PermissionOnboarding::kContinueButtonId);
    ASSERT_EQ(shell->alerts.size(), 2U);
    EXPECT_EQ(shell->alerts[1].messageText, "Reopen Vurin to finish");
    EXPECT_EQ(shell->alerts[1].informativeText,
              "All permissions are enabled, but keyboard monitoring could not start (another "
              "program may have just taken the trigger key). Quit and reopen Vurin once.");
}

TEST_F(PermissionOnboardingTest, ClosingTheWindowKeepsPollingAndShowingAgainRaisesIt) {
    probe->grab = KeyGrabAccess::taken;
    gate->showPermissionOnboarding();
    FakeWindowView& view = *window();
    view.userCloses();
    EXPECT_FALSE(view.isVisible());
    EXPECT_TRUE(gate->isPolling());
    probe->grab = KeyGrabAccess::granted;
    queue->advance(1.0);
    EXPECT_EQ(finishCalls, 1);

    const int raises = view.raises;
    gate->showPermissionOnboarding();
    EXPECT_EQ(windows->opened.size(), 1U);
    EXPECT_EQ(view.raises, raises + 1);
    EXPECT_TRUE(view.isVisible());
    // One timer only: a second show does not start another.
    finishCalls = 0;
    queue->advance(1.0);
    EXPECT_EQ(finishCalls, 1);
}

TEST_F(PermissionOnboardingTest, TheRefreshButtonAndTheAccessibilityBusNote) {
    probe->busReachable = false;
    gate->showPermissionOnboarding();
    FakeWindowView& view = *window();
    EXPECT_EQ(
        view.shownText(PermissionOnboarding::kAccessibilityBusNoteId),
        "⚠️ 无障碍总线(AT-SPI)连不上:粘贴照常,但读不到焦点里的文字。");
    probe->busReachable = true;
    probe->grab = KeyGrabAccess::noDisplay;
    ASSERT_TRUE(view.press("刷新状态"));
    EXPECT_EQ(view.shownText(PermissionOnboarding::kAccessibilityBusNoteId), "");
    EXPECT_EQ(view.shownText(PermissionOnboarding::kInputStatusId), "❌ 无 X11 显示");
}

TEST_F(PermissionOnboardingTest, RowButtonsOpenTheDesktopSettings) {
    gate->showPermissionOnboarding();
    FakeWindowView& view = *window();
    const auto& blocks = view.model.panes[0].cards[0].blocks;
    for (std::size_t row = 2; row <= 4; ++row) {
        std::get<Button>(std::get<RowBlock>(blocks[row]).trailing[1].kind).action();
    }
    EXPECT_EQ(desktop->opened,
              (std::vector<SettingsPage>{SettingsPage::accessibility, SettingsPage::inputMonitoring,
                                         SettingsPage::microphone}));
    // A desktop panel needs no help page.
    EXPECT_FALSE(std::filesystem::exists(folder / "help.html"));

    desktop->opens = false;
    gate->requestMicrophonePermission();
    EXPECT_EQ(logs.back(), "❌ 打不开设置程序,请手动打开系统设置");
}

TEST_F(PermissionOnboardingTest, WithoutADesktopPanelTheHelpPageIsWrittenFirst) {
    desktop->name.clear();
    applyUILang("en");
    gate->requestInputMonitoringPermission();
    ASSERT_EQ(desktop->helpPages.size(), 1U);
    EXPECT_EQ(desktop->helpPages[0], folder / "help.html");
    const std::string text = testing::contentOf(folder / "help.html");
    const std::string* page = &text;
    EXPECT_NE(page->find("<title>Vurin Permissions</title>"), std::string::npos);
    EXPECT_NE(page->find("Key in use"), std::string::npos);
    EXPECT_NE(page->find("No sound server"), std::string::npos);
    EXPECT_EQ(testing::modeOf(folder / "help.html"), 0600U);
}

TEST_F(PermissionOnboardingTest, APollAfterTheGateIsGoneDoesNothing) {
    gate->showPermissionOnboarding();
    const std::weak_ptr<PermissionOnboarding> weak = gate;
    gate.reset();
    EXPECT_TRUE(weak.expired());
    const int before = finishCalls;
    queue->advance(3.0);
    EXPECT_EQ(finishCalls, before);
}

}  // namespace
}  // namespace vurin
