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

// GNOME has panels; without a desktop the microphone goes to the mixer, the rest to a help page.
class FakeDesktop : public PermissionProbe, public DesktopSettings {
  public:
    SyntheticInputAccess syntheticInput() override {
        calls += "ax ";
        return accessibility;
    }
    bool accessibilityBusReachable() override { return busReachable; }
    KeyGrabAccess keyGrab(int evdevCode) override {
        calls += "grab " + std::to_string(evdevCode) + " ";
        return grab;
    }
    std::string desktopName() const override { return name; }
    SettingsDestination destination(SettingsPage page) const override {
        using enum SettingsDestination;
        return !name.empty() ? desktopPanel
                             : (page == SettingsPage::microphone ? soundMixer : helpPage);
    }
    bool open(SettingsPage page, const std::filesystem::path&) override {
        calls += "open " + std::to_string(int(page)) + " ";
        return opens;
    }
    SyntheticInputAccess accessibility = SyntheticInputAccess::granted;
    KeyGrabAccess grab = KeyGrabAccess::granted;
    bool busReachable = true, opens = true;
    std::string name = "GNOME", calls;
};

AudioSourceList sources(std::vector<AudioSourceInfo> list, std::string defaultName) {
    return {.sources = std::move(list), .defaultSourceName = std::move(defaultName)};
}
const AudioSourceInfo kMic{.name = "mic", .bus = "pci", .channels = 2};

class PermissionOnboardingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        applyUILang("zh");
        audio->setSources(sources({kMic}, "mic"));
        gate->attach({.config = [this] { return &config; },
                      .finishInputSetup = [this] { return finishInputSetup(); }});
    }
    bool finishInputSetup() {  // checks the grants, as the controller's does, and succeeds
        return gate->allRequiredPermissionsGranted() && ++finishCalls > 0;
    }
    void TearDown() override {
        std::filesystem::remove_all(folder);
        applyUILang("auto");
    }
    std::string statuses() {  // the status labels, the continue button and the bus note
        std::string texts;
        for (const char* id : {Onboarding::kAccessibilityStatusId, Onboarding::kInputStatusId,
                               Onboarding::kMicrophoneStatusId, Onboarding::kContinueButtonId,
                               Onboarding::kAccessibilityBusNoteId}) {
            texts += windows->last()->shownText(id) + "|";
        }
        return texts;
    }

    LogCapture log;
    std::filesystem::path folder = std::filesystem::temp_directory_path() / "vurin-gate";
    std::shared_ptr<VirtualMainQueue> queue = std::make_shared<VirtualMainQueue>();
    std::shared_ptr<FakeShell> shell = std::make_shared<FakeShell>();
    std::shared_ptr<FakeWindowRenderer> windows = std::make_shared<FakeWindowRenderer>();
    std::shared_ptr<FakeDesktop> desktop = std::make_shared<FakeDesktop>();
    std::shared_ptr<test::FakeAudioCapture> audio = std::make_shared<test::FakeAudioCapture>();
    std::shared_ptr<FakeRecorder> recorder = std::make_shared<FakeRecorder>();
    std::shared_ptr<Onboarding> gate = Onboarding::create(
        {queue, shell, windows, desktop, desktop, audio, recorder, folder / "help.html", {}});
    Config config;
    int finishCalls = 0;
};

// The start-up lines; then the line by what each probe finds, with the key's and the
// microphone's status texts.
TEST_F(PermissionOnboardingTest, StartUpLogLines) {
    desktop->accessibility = SyntheticInputAccess::noDisplay;
    desktop->grab = KeyGrabAccess::taken;
    desktop->busReachable = false;
    audio->setSources(sources({{.name = "mic", .channels = 2, .muted = true}}, "mic"));
    gate->checkPermissions();
    EXPECT_EQ(
        log.lines(),
        (std::vector<std::string>{
            "权限:辅助功能=❌  输入监控=❌  麦克风=❌已静音",
            "⚠️ 无障碍总线(AT-SPI)连不上:粘贴照常,但读不到焦点里的文字",
            "⚠️ 麦克风已静音。请在系统的声音设置(或 "
            "pavucontrol)里取消静音"}));
    const AudioSourceInfo monitor{.name = "out.monitor", .isMonitor = true, .channels = 2};
    const std::tuple<bool, std::int64_t, AudioSourceList, const char*, const char*, const char*>
        cases[] = {// our capture holds the key; a key with no Linux key and only a monitor
                   {true, 105, sources({kMic}, "mic"), "✅  麦克风=✅", "✅ 已允许|✅ 已允许", ""},
                   {false, 63, sources({monitor}, "out.monitor"), "❌  麦克风=❌无输入设备",
                    "❌ 无此按键|❌ 无麦克风", ""},
                   {false,
                    105,
                    {.status = AudioServerStatus::unavailable},
                    "❌  麦克风=❌无声音服务",
                    "❌ 被占用|❌ 无声音服务",
                    "grab 183 "}};
    for (const auto& [running, keyCode, list, line, shown, grabs] : cases) {
        SCOPED_TRACE(line);
        config.keyCode = keyCode;
        audio->setSources(list);
        gate->attach({.config = [this] { return &config; },
                      .triggerCaptureRunning = [running] { return running; }});
        desktop->calls.clear();
        log.clear();
        gate->checkPermissions();
        EXPECT_EQ(log.lines().at(0), std::string("权限:辅助功能=❌  输入监控=") + line);
        EXPECT_EQ(desktop->calls, std::string("ax ") + grabs);
        const PermissionStatusText texts = gate->permissionStatusText();
        EXPECT_EQ(texts.inputMonitoring + "|" + texts.microphone, shown);
    }
}

// The window polls every second, one reading a tick, also after its close button; once all is
// granted input starts from the poll itself, and the recorder, which chose its source while there
// was none, chooses again. A closed window then stops the poll; showing it raises the same one.
TEST_F(PermissionOnboardingTest, TheWindowPollsUntilContinueCloses) {
    audio->setSources(sources({{.name = "mic", .channels = 2, .muted = true}}, "mic"));
    desktop->accessibility = SyntheticInputAccess::noSyntheticInput;
    desktop->busReachable = false;
    desktop->grab = KeyGrabAccess::taken;
    gate->showPermissionOnboarding();
    FakeWindowView& view = *windows->last();
    EXPECT_EQ(statuses(),
              "❌ 缺少 XTest|❌ 被占用|❌ 已静音|等待授权完成|⚠️ "
              "无障碍总线(AT-SPI)连不上:粘贴照常,但读不到焦点里的文字。|");
    EXPECT_FALSE(view.press(Onboarding::kContinueButtonId));
    gate->closePermissionWindowIfReady();  // the disabled button's action anyway
    const auto& blocks = view.model.panes[0].cards[0].blocks;
    for (std::size_t row = 2; row <= 4; ++row) {  // each row's button opens its settings
        std::get<Button>(std::get<RowBlock>(blocks[row]).trailing[1].kind).action();
    }
    EXPECT_EQ(std::get<NoteBlock>(blocks[6]).text,
              "「去设置」:辅助功能 → GNOME 设置,输入监控 → GNOME 设置,麦克风 → GNOME 设置。");
    audio->setSources({.status = AudioServerStatus::unavailable});
    desktop->accessibility = SyntheticInputAccess::noDisplay;
    desktop->busReachable = true;
    desktop->grab = KeyGrabAccess::noDisplay;
    ASSERT_TRUE(view.press("刷新状态"));
    EXPECT_EQ(statuses(), "❌ 无 X11 显示|❌ 无 X11 显示|❌ 无声音服务|等待授权完成||");
    gate->showPermissionOnboarding();
    desktop->accessibility = SyntheticInputAccess::granted;
    desktop->grab = KeyGrabAccess::granted;
    view.userCloses();
    for (const bool microphone : {false, true}) {
        SCOPED_TRACE(microphone);
        audio->setSources(microphone ? sources({kMic}, "mic") : AudioSourceList{});
        const std::size_t calls = desktop->calls.size();
        const int listings = audio->listCalls();
        queue->advance(0.9);
        EXPECT_EQ(finishCalls, 0);
        queue->advance(0.1);
        EXPECT_EQ(desktop->calls.substr(calls) + std::to_string(audio->listCalls() - listings),
                  "ax grab 183 1");
    }
    EXPECT_EQ(statuses(), "✅ 已允许|✅ 已允许|✅ 已允许|开始使用 Vurin||");
    EXPECT_EQ(finishCalls, 1);
    EXPECT_EQ(recorder->warmUps, std::vector<bool>{true});
    EXPECT_TRUE(windows->opened.size() == 1 && view.closed && !gate->isPolling());
    EXPECT_EQ(log.lines().back(), "✅ 权限已就绪");
    queue->advance(3.0);
    EXPECT_EQ(finishCalls, 1);

    gate->showPermissionOnboarding();
    FakeWindowView& shown = *windows->last();
    gate->attach({.config = [this] { return &config; }, .finishInputSetup = [] { return false; }});
    gate->closePermissionWindowIfReady();  // the key was taken meanwhile: the window stays
    EXPECT_TRUE(gate->permissionWindow() &&
                shell->alerts.at(0).messageText == "需要重新打开 Vurin");
    gate->attach({.config = [this] { return &config; },
                  .finishInputSetup = [this] { return finishInputSetup(); }});
    ASSERT_TRUE(shown.press(Onboarding::kContinueButtonId));
    EXPECT_TRUE(shown.closed && !gate->permissionWindow() && !gate->isPolling());
    EXPECT_EQ(shell->policies.back(), ActivationPolicy::accessory);
    EXPECT_EQ(log.lines().back(), "✅ 权限已就绪");
    // Without a desktop panel the help page is written first.
    desktop->opens = false;
    desktop->name.clear();
    applyUILang("en");
    EXPECT_EQ(gate->settingsDestinationNote(),
              "“Open”: Accessibility → help page, Input Monitoring → help page, Microphone → "
              "pavucontrol.");
    gate->requestInputMonitoringPermission();
    EXPECT_EQ(log.lines().back(), "❌ 打不开设置程序,请手动打开桌面的设置");
    EXPECT_NE(contentOf(folder / "help.html").find("<title>Vurin Permissions</title>"),
              std::string::npos);
    EXPECT_EQ(modeOf(folder / "help.html"), 0600U);
    EXPECT_TRUE(desktop->calls.find("open 0 open 1 open 2 ") != std::string::npos &&
                desktop->calls.ends_with("open 1 "));
    gate.reset();  // a poll after the gate is gone does nothing
    queue->advance(3.0);
}

// A Wayland session: the trigger's sources, the keystroke path in use or what the desktop lacks,
// in the window and on the help page, with the compositor lines (escaped as HTML); a consent
// declined while the window is open shows at the next poll.
TEST_F(PermissionOnboardingTest, AWaylandSessionSaysWhatTheDesktopOffers) {
    using enum KeyGrabAccess;
    using Path = WaylandKeystrokePath;
    // clang-format off
    const std::tuple<WaylandKeystrokePaths, Path, KeyGrabAccess, const char*, const char*,
                     const char*, const char*> cases[] = {
        {{}, Path::none, bindingOnly, "zh", "❌ 无按键注入途径|⚠️ 待合成器绑定|✅ 已允许|开始使用 Vurin||",
         "⚠️ 无法粘贴:这个桌面没有虚拟键盘协议(wlroots)、RemoteDesktop 门户(GNOME/KDE),"
         "/dev/uinput 也不可写。可以为 /dev/uinput 加一条 udev 规则并加入 input 组(注意:input "
         "组的成员能读到所有键盘输入;做法见帮助页),或者换用有 RemoteDesktop 门户的桌面(GNOME、"
         "KDE Plasma)。", "一条也没有提供。Vurin 在这个桌面上一条也用不上,所以不能粘贴。"},
        {{.virtualKeyboard = true, .uinputWritable = true}, Path::none, noTriggerSource, "zh",
         "❌ 无按键注入途径|❌ 无触发来源|✅ 已允许|等待授权完成||", "⚠️ 无法粘贴:这个桌面提供虚拟键盘"
         "协议(wlroots)、可写的 /dev/uinput,但没有一条能用(原因见日志)。", "上一条也用不上"},
        {{true, true, true}, Path::virtualKeyboard, granted, "en", "✅ Allowed|✅ Allowed|✅ Allowed|"
         "Start using Vurin||", "Keystrokes: the virtual keyboard protocol.", "and a writable "
         "/dev/uinput. On this desktop Vurin uses the virtual keyboard protocol. Reading"},
        {{.uinputWritable = true}, Path::uinput, granted, "en", "✅ Allowed|✅ Allowed|✅ Allowed|"
         "Start using Vurin||", "Keystrokes: /dev/uinput.", "Vurin uses /dev/uinput."},
        {{.remoteDesktopPortal = true}, Path::remoteDesktopPortal, granted, "zh", "✅ 已允许|✅ 已允许"
         "|✅ 已允许|开始使用 Vurin||", "按键注入:RemoteDesktop 门户。Vurin 每次运行时第一次录音,"
         "桌面会请你同意(GNOME 要先勾选“允许远程交互”,“共享”才能点)。",
         "上用的是RemoteDesktop 门户。"}};
    // clang-format on
    desktop->name.clear();
    bool declined = false;
    for (const auto& [offered, path, grab, language, shown, note, page] : cases) {
        SCOPED_TRACE(shown);
        applyUILang(language);
        desktop->grab = grab;
        desktop->accessibility = path == Path::none ? SyntheticInputAccess::noKeystrokePath
                                                    : SyntheticInputAccess::granted;
        auto wayland = Onboarding::create(
            {queue, shell, windows, desktop, desktop, audio, recorder, folder / "help.html",
             WaylandPermissionHelp{
                 offered, [] { return compositorBindingLines("F13", "/a&b"); },
                 [path] { return path; }, [&declined] { return declined; },
                 // GNOME's shortcuts toggle, where the portal is the path
                 [path] { return std::pair(path == Path::remoteDesktopPortal, "why"); }}});
        wayland->showPermissionOnboarding();
        EXPECT_EQ(statuses(), shown);
        EXPECT_EQ(windows->last()->shownText(Onboarding::kKeystrokeNoteId), note);
        EXPECT_EQ(windows->last()->colours.at(Onboarding::kKeystrokeNoteId) == ColourRole::orange,
                  path == Path::none);
        EXPECT_EQ(windows->last()->shownText(Onboarding::kTriggerModeNoteId),
                  path == Path::remoteDesktopPortal ? "触发方式:按一下开始,再按一下结束(why)。"
                  : std::string(language) == "en" ? "Trigger: hold to talk, release to end (why)."
                                                  : "触发方式:按住说话,松开结束(why)。");
        wayland->requestAccessibilityPermission();
        const std::string help = contentOf(folder / "help.html");
        EXPECT_NE(help.find(page), std::string::npos);
        // Quoted for the compositor's shell, escaped for the page.
        EXPECT_NE(help.find("<pre>bindsym --no-repeat F13 exec '/a&amp;b' --trigger press\nbindsym "
                            "--release "
                            "F13 exec '/a&amp;b' --trigger release\n</pre>"),
                  std::string::npos);
        EXPECT_EQ(help.find("Xorg"), std::string::npos);  // no X11 sections
        if (path == Path::remoteDesktopPortal) {          // the user declines the portal's dialog
            declined = true;
            desktop->accessibility = SyntheticInputAccess::declined;
            queue->advance(1.0);
            EXPECT_EQ(statuses(), "❌ 已拒绝|✅ 已允许|✅ 已允许|开始使用 Vurin||");
            EXPECT_EQ(windows->last()->shownText(Onboarding::kKeystrokeNoteId),
                      "❌ 你拒绝了桌面的键盘控制请求(RemoteDesktop 门户),这次运行无法粘贴。重新"
                      "启动 Vurin,桌面会再问一次,选择允许即可。");
            EXPECT_EQ(windows->last()->colours.at(Onboarding::kKeystrokeNoteId),
                      ColourRole::orange);
        }
    }
}

}  // namespace
}  // namespace vurin::testing
