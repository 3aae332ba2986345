#include "app/permission_onboarding.h"

#include <gtest/gtest.h>

#include "support/app_fakes.h"
#include "support/fake_audio_capture.h"
#include "support/fake_window_renderer.h"
#include "support/language.h"
#include "support/private_files.h"
#include "support/testing.h"
#include "support/virtual_main_queue.h"

namespace vurin::testing {
namespace {

using Onboarding = PermissionOnboarding;
using Lines = std::vector<std::string>;

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
    Lines calls;
};

// GNOME's panels; without a desktop the sound mixer for the microphone, else the help page.
class FakeDesktopSettings : public DesktopSettings {
  public:
    std::string desktopName() const override { return name; }
    SettingsDestination destination(SettingsPage page) const override {
        using enum SettingsDestination;
        return !name.empty() ? desktopPanel
                             : (page == SettingsPage::microphone ? soundMixer : helpPage);
    }
    bool open(SettingsPage page, const std::filesystem::path&) override {
        opened.push_back(page);
        return opens;
    }
    std::string name = "GNOME";
    bool opens = true;
    std::vector<SettingsPage> opened;
};

AudioSourceList sources(std::vector<AudioSourceInfo> list, std::string defaultName) {
    return {.sources = std::move(list), .defaultSourceName = std::move(defaultName)};
}
const AudioSourceInfo kMic{.name = "mic", .bus = "pci", .channels = 2};
const AudioSourceInfo kMutedMic{.name = "mic", .bus = "pci", .channels = 2, .muted = true};
const AudioSourceList kNoServer{.status = AudioServerStatus::unavailable, .reason = "refused"};

TEST(PermissionStatusTexts, EveryStateInBothLanguages) {
    std::string texts;
    for (const char* language : {"zh", "en"}) {
        applyUILang(language);
        for (const auto access :
             {SyntheticInputAccess::granted, SyntheticInputAccess::noSyntheticInput,
              SyntheticInputAccess::noDisplay}) {
            texts += accessibilityStatusText(access) + ", ";
        }
        texts += inputMonitoringStatusText(KeyGrabAccess::taken) + ", ";
        for (const auto access : {MicrophoneAccess::muted, MicrophoneAccess::noInputSource}) {
            texts += microphoneStatusText(access) + ", ";
        }
    }
    EXPECT_EQ(texts,
              "✅ 已允许, ❌ 缺少 XTest, ❌ 无 X11 显示, ❌ 被占用, ❌ 已静音, ❌ 无麦克风, ✅ "
              "Allowed, ❌ No XTest, ❌ No X11 display, ❌ Key in use, ❌ Muted, ❌ No microphone, ");
    applyUILang("auto");
}

class PermissionOnboardingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        applyUILang("zh");
        audio->setSources(sources({kMic}, "mic"));
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
        applyUILang("auto");
    }
    // The log lines of a start-up check.
    Lines checked() {
        log.clear();
        gate->checkPermissions();
        return log.lines();
    }
    FakeWindowView& show() {
        gate->showPermissionOnboarding();
        return *windows->last();
    }
    Lines statuses(FakeWindowView& view) {
        return {view.shownText(Onboarding::kAccessibilityStatusId),
                view.shownText(Onboarding::kInputStatusId),
                view.shownText(Onboarding::kMicrophoneStatusId),
                view.shownText(Onboarding::kContinueButtonId),
                view.shownText(Onboarding::kAccessibilityBusNoteId)};
    }

    LogCapture log;
    std::filesystem::path folder = std::filesystem::temp_directory_path() / "vurin-gate";
    std::shared_ptr<VirtualMainQueue> queue = std::make_shared<VirtualMainQueue>();
    std::shared_ptr<FakeShell> shell = std::make_shared<FakeShell>();
    std::shared_ptr<FakeWindowRenderer> windows = std::make_shared<FakeWindowRenderer>();
    std::shared_ptr<FakeProbe> probe = std::make_shared<FakeProbe>();
    std::shared_ptr<FakeDesktopSettings> desktop = std::make_shared<FakeDesktopSettings>();
    std::shared_ptr<test::FakeAudioCapture> audio = std::make_shared<test::FakeAudioCapture>();
    std::shared_ptr<FakeRecorder> recorder = std::make_shared<FakeRecorder>();
    std::shared_ptr<Onboarding> gate = Onboarding::create(
        {queue, shell, windows, probe, desktop, audio, recorder, folder / "help.html"});
    Config config;
    int finishCalls = 0;
    bool finishSucceeds = true, captureRunning = false;
};

// The microphone a recording would use decides: without one the server's default source is a
// speaker's monitor; a muted headset does not matter while the built-in microphone is used.
TEST_F(PermissionOnboardingTest, StartUpLogLines) {
    EXPECT_EQ(checked(), Lines{"权限:辅助功能=✅  输入监控=✅  麦克风=✅"});
    audio->setSources(
        sources({kMic, {.name = "usb", .bus = "usb", .channels = 1, .muted = true}}, "usb"));
    EXPECT_EQ(checked(), Lines{"权限:辅助功能=✅  输入监控=✅  麦克风=✅"});
    config.micDevice = "system";
    EXPECT_EQ(checked()[0], "权限:辅助功能=✅  输入监控=✅  麦克风=❌已静音");
    probe->accessibility = SyntheticInputAccess::noSyntheticInput;
    probe->grab = KeyGrabAccess::taken;
    probe->busReachable = false;
    audio->setSources(sources({kMutedMic}, "mic"));
    EXPECT_EQ(
        checked(),
        (Lines{
            "权限:辅助功能=❌  输入监控=❌  麦克风=❌已静音",
            "⚠️ 无障碍总线(AT-SPI)连不上:粘贴照常,但读不到焦点里的文字",
            "⚠️ 麦克风已静音。请在系统的声音设置(或 "
            "pavucontrol)里取消静音"}));
    probe->busReachable = true;
    audio->setSources(kNoServer);
    EXPECT_EQ(checked(), Lines{"权限:辅助功能=❌  输入监控=❌  麦克风=❌无声音服务"});
    audio->setSources(
        sources({{.name = "spk.monitor", .isMonitor = true, .channels = 2}}, "spk.monitor"));
    EXPECT_EQ(checked(), Lines{"权限:辅助功能=❌  输入监控=❌  麦克风=❌无输入设备"});
}

// The grants are read in order and stop at the first missing; our own capture holding the key
// is the grant, with no trial grab that would collide with it.
TEST_F(PermissionOnboardingTest, GrantsAreReadInOrderAndStopAtTheFirstMissing) {
    EXPECT_TRUE(gate->allRequiredPermissionsGranted());
    probe->accessibility = SyntheticInputAccess::noDisplay;
    EXPECT_FALSE(gate->allRequiredPermissionsGranted());
    probe->accessibility = SyntheticInputAccess::granted;
    captureRunning = true;
    EXPECT_TRUE(gate->allRequiredPermissionsGranted());
    EXPECT_EQ(probe->calls,
              (Lines{"syntheticInput", "keyGrab 183", "syntheticInput", "syntheticInput"}));
    EXPECT_EQ(audio->listCalls(), 2);
    captureRunning = false;
    config.keyCode = 63;  // Fn: no such key on Linux
    EXPECT_EQ(gate->permissionStatusText().inputMonitoring, "❌ 被占用");
}

// The window polls every second; once all is granted input starts from the poll itself, and the
// recorder, which chose its source while there was none, chooses again.
TEST_F(PermissionOnboardingTest, TheWindowPollsUntilContinueCloses) {
    audio->setSources(kNoServer);
    probe->busReachable = false;
    FakeWindowView& view = show();
    EXPECT_EQ(statuses(view), (Lines{"✅ 已允许", "✅ 已允许", "❌ 无声音服务", "等待授权完成",
                                     "⚠️ "
                                     "无障碍总线(AT-SPI)连不上:粘贴照常,但读不到焦点里的文字。"}));
    EXPECT_FALSE(view.enabled.at(Onboarding::kContinueButtonId));
    gate->closePermissionWindowIfReady();  // the disabled button's action anyway
    audio->setSources(sources({kMic}, "mic"));
    probe->busReachable = true;
    queue->advance(0.9);
    EXPECT_EQ(finishCalls, 0);
    queue->advance(0.1);
    EXPECT_EQ(statuses(view), (Lines{"✅ 已允许", "✅ 已允许", "✅ 已允许", "开始使用 Vurin", ""}));
    queue->advance(1.0);
    EXPECT_EQ(finishCalls, 2);
    EXPECT_EQ(recorder->warmUps, std::vector<bool>{true});

    view.userCloses();  // closing keeps the poll; showing again raises the same window
    probe->grab = KeyGrabAccess::noDisplay;
    ASSERT_TRUE(view.press("刷新状态"));
    EXPECT_EQ(statuses(view)[1], "❌ 无 X11 显示");
    probe->grab = KeyGrabAccess::granted;
    show();
    EXPECT_TRUE(windows->opened.size() == 1 && view.isVisible());
    queue->advance(1.0);  // one timer only
    EXPECT_EQ(finishCalls, 4);
    finishSucceeds = false;  // the capture cannot start: the user is asked to reopen Vurin
    ASSERT_TRUE(view.press(Onboarding::kContinueButtonId));
    ASSERT_EQ(shell->alerts.size(), 1U);
    EXPECT_EQ(shell->alerts[0].messageText + shell->alerts[0].informativeText,
              "需要重新打开 Vurin权限已经齐全,但按键监听没能启动(触发键可能刚被其他程序占用)。"
              "请退出 Vurin 后重新打开一次。");
    EXPECT_TRUE(!view.closed && gate->isPolling());
    finishSucceeds = true;
    ASSERT_TRUE(view.press(Onboarding::kContinueButtonId));
    EXPECT_TRUE(view.closed && !gate->permissionWindow() && !gate->isPolling());
    EXPECT_EQ(shell->policies, (std::vector<ActivationPolicy>{ActivationPolicy::regular,
                                                              ActivationPolicy::accessory}));
    EXPECT_EQ(log.lines().back(), "✅ 权限已就绪");
    gate.reset();  // a poll after the gate is gone does nothing
    queue->advance(3.0);
}

TEST_F(PermissionOnboardingTest, RowButtonsOpenTheSettingsAndTheNoteSaysWhere) {
    const auto& blocks = show().model.panes[0].cards[0].blocks;
    for (std::size_t row = 2; row <= 4; ++row) {
        std::get<Button>(std::get<RowBlock>(blocks[row]).trailing[1].kind).action();
    }
    EXPECT_EQ(desktop->opened,
              (std::vector<SettingsPage>{SettingsPage::accessibility, SettingsPage::inputMonitoring,
                                         SettingsPage::microphone}));
    EXPECT_FALSE(std::filesystem::exists(folder / "help.html"));  // a panel needs no help page
    EXPECT_EQ(std::get<NoteBlock>(blocks[6]).text,
              "「去设置」:辅助功能 → GNOME 设置,输入监控 → GNOME 设置,麦克风 → GNOME 设置。");
    desktop->opens = false;
    desktop->name.clear();
    applyUILang("en");
    EXPECT_EQ(gate->settingsDestinationNote(),
              "“Open”: Accessibility → help page, Input Monitoring → help page, Microphone → "
              "pavucontrol.");
    gate->requestInputMonitoringPermission();  // the help page is written first
    EXPECT_EQ(log.lines().back(), "❌ 打不开设置程序,请手动打开系统设置");
    const std::string page = contentOf(folder / "help.html");
    for (const char* part : {"<title>Vurin Permissions</title>", "Key in use", "No sound server"}) {
        EXPECT_NE(page.find(part), std::string::npos) << part;
    }
    EXPECT_EQ(modeOf(folder / "help.html"), 0600U);
}

}  // namespace
}  // namespace vurin::testing
