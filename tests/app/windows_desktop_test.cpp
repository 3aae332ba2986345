// The onboarding window, the phone window and the generic renderer on the real desktop of the
// headless session: real X11 and AT-SPI probes, the session's PulseAudio, Qt widgets. Each
// window is also saved as a PNG under the build folder's "screenshots" so a reviewer can look.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QTabBar>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/permission_onboarding.h"
#include "phone/phone_window_presenter.h"
#include "platform/linux/audio_capture_pulse.h"
#include "platform/linux/desktop_settings_linux.h"
#include "platform/linux/key_grab_x11.h"
#include "platform/linux/permission_probe_x11.h"
#include "support/app_fakes.h"
#include "support/language.h"
#include "support/qt_widgets_testing.h"
#include "support/virtual_main_queue.h"
#include "ui/qt/qt_window_renderer.h"
#include "ui/qt/qt_window_widgets.h"

namespace vurin {
namespace {

using testing::buttonTitled;
using testing::FakeRecorder;
using testing::FakeShell;
using testing::saveScreenshot;
using testing::screenshotFolder;
using testing::VirtualMainQueue;

constexpr int kF13Evdev = 183;

void settle() {
    testing::settleWidgets();
}

template <typename T>
T* child(QWidget* root, const std::string& name) {
    return root ? root->findChild<T*>(QString::fromStdString(name)) : nullptr;
}

bool showsText(QWidget* root, const std::string& text) {
    for (QLabel* label : root->findChildren<QLabel*>()) {
        if (label->text().toStdString() == text && label->isVisible()) {
            return true;
        }
    }
    return false;
}

// Restores an environment variable when the test ends.
class EnvironmentOverride {
  public:
    EnvironmentOverride(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        ::setenv(name, value, 1);
    }
    ~EnvironmentOverride() { restore(); }
    void restore() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

class WindowsDesktopTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { testing::ensureQtApplication(); }
    void SetUp() override {
        ASSERT_NE(std::getenv("VURIN_TEST_SESSION"), nullptr) << "run inside scripts/test-session";
        applyUILang("zh");
    }
    void TearDown() override {
        settle();
        applyUILang("auto");
    }
};

class OnboardingDesktopTest : public WindowsDesktopTest {
  protected:
    void makeGate() {
        desktop = std::make_shared<LinuxDesktopSettings>(
            "", [](const std::string& program) { return program == "xdg-open"; },
            [this](const std::vector<std::string>& command) {
                launched.push_back(command);
                return true;
            });
        gate = PermissionOnboarding::create(
            {.mainQueue = queue,
             .shell = shell,
             .windows = std::make_shared<QtWindowRenderer>(),
             .probe = std::make_shared<X11PermissionProbe>(),
             .desktopSettings = desktop,
             .audio = std::make_shared<PulseAudioCapture>(),
             .recorder = recorder,
             .helpPage = screenshotFolder() / "permissions-help.html"});
        gate->attach({.config = [this] { return &config; },
                      .finishInputSetup =
                          [this] {
                              ++finishCalls;
                              return true;
                          },
                      .triggerCaptureRunning = [] { return false; }});
    }

    QWidget* window() const {
        auto* view = dynamic_cast<QtWindowView*>(gate->permissionWindow().get());
        return view ? view->widget() : nullptr;
    }
    std::string labelText(const char* id) const {
        auto* label = child<QLabel>(window(), id);
        return label ? label->text().toStdString() : "<missing>";
    }
    QPushButton* continueButton() const {
        return child<QPushButton>(window(), PermissionOnboarding::kContinueButtonId);
    }
    void tick() {
        queue->advance(1.0);
        settle();
    }

    std::shared_ptr<VirtualMainQueue> queue = std::make_shared<VirtualMainQueue>();
    std::shared_ptr<FakeShell> shell = std::make_shared<FakeShell>();
    std::shared_ptr<FakeRecorder> recorder = std::make_shared<FakeRecorder>();
    std::shared_ptr<LinuxDesktopSettings> desktop;
    std::shared_ptr<PermissionOnboarding> gate;
    std::vector<std::vector<std::string>> launched;
    Config config;
    int finishCalls = 0;
};

TEST_F(OnboardingDesktopTest, WithoutASoundServerTheMicrophoneRowSaysSoUntilOneAppears) {
    // A sound server socket that does not exist stands for a stopped server; putting the real
    // address back is the server starting.
    EnvironmentOverride pulse("PULSE_SERVER", "unix:/nonexistent/vurin-test/native");
    makeGate();
    gate->showPermissionOnboarding();
    settle();
    QWidget* shown = window();
    ASSERT_NE(shown, nullptr);
    EXPECT_TRUE(shown->isVisible());
    EXPECT_EQ(shown->windowTitle().toStdString(), "Vurin 权限设置");
    EXPECT_TRUE(showsText(shown, "需要 3 个权限才能监听按键、录音并粘贴指令"));
    EXPECT_TRUE(showsText(shown, "辅助功能"));
    EXPECT_TRUE(showsText(shown, "用于合成 Ctrl+V / Return"));
    EXPECT_EQ(labelText(PermissionOnboarding::kAccessibilityStatusId), "✅ 已允许");
    EXPECT_EQ(labelText(PermissionOnboarding::kInputStatusId), "✅ 已允许");
    EXPECT_EQ(labelText(PermissionOnboarding::kMicrophoneStatusId), "❌ 无声音服务");
    ASSERT_NE(continueButton(), nullptr);
    EXPECT_FALSE(continueButton()->isEnabled());
    EXPECT_EQ(continueButton()->text().toStdString(), "等待授权完成");
    // The session runs the AT-SPI bus: no warning about it.
    auto* busNote = child<QLabel>(shown, PermissionOnboarding::kAccessibilityBusNoteId);
    ASSERT_NE(busNote, nullptr);
    EXPECT_FALSE(busNote->isVisible());
    saveScreenshot(shown, "onboarding-no-sound-server");
    EXPECT_EQ(finishCalls, 0);

    pulse.restore();
    tick();
    EXPECT_EQ(labelText(PermissionOnboarding::kMicrophoneStatusId), "✅ 已允许");
    EXPECT_TRUE(continueButton()->isEnabled());
    EXPECT_EQ(continueButton()->text().toStdString(), "开始使用 Vurin");
    EXPECT_EQ(finishCalls, 1);
    EXPECT_EQ(recorder->warmUps, (std::vector<bool>{true}));
    saveScreenshot(shown, "onboarding-ready");

    continueButton()->click();
    settle();
    EXPECT_EQ(gate->permissionWindow(), nullptr);
    EXPECT_EQ(window(), nullptr);
    EXPECT_FALSE(gate->isPolling());
}

TEST_F(OnboardingDesktopTest, AMutedMicrophoneAndATakenKeyInEnglish) {
    applyUILang("en");
    ASSERT_EQ(std::system("pactl set-source-mute vmic 1"), 0);
    struct Unmute {
        ~Unmute() { [[maybe_unused]] int ignored = std::system("pactl set-source-mute vmic 0"); }
    } unmute;
    X11KeyGrab other;  // another program holding F13
    ASSERT_EQ(other
                  .start(kF13Evdev, {.onKey = [](const KeyGrabEvent&) {},
                                     .onFailure = [](const KeyGrabResult&) {}})
                  .status,
              KeyGrabStatus::ok);
    makeGate();
    gate->showPermissionOnboarding();
    settle();
    EXPECT_EQ(labelText(PermissionOnboarding::kMicrophoneStatusId), "❌ Muted");
    EXPECT_EQ(labelText(PermissionOnboarding::kInputStatusId), "❌ Key in use");
    EXPECT_EQ(continueButton()->text().toStdString(), "Waiting for permissions");
    EXPECT_TRUE(showsText(window(),
                          "“Open”: Accessibility → help page, Input Monitoring → help page, "
                          "Microphone → help page."));
    saveScreenshot(window(), "onboarding-muted-taken-en");

    // The refresh button reads again at once; the row buttons open the help page.
    other.stop();
    ASSERT_EQ(std::system("pactl set-source-mute vmic 0"), 0);
    QPushButton* refresh = buttonTitled(window(), "Refresh");
    ASSERT_NE(refresh, nullptr);
    refresh->click();
    settle();
    EXPECT_EQ(labelText(PermissionOnboarding::kMicrophoneStatusId), "✅ Allowed");
    EXPECT_EQ(labelText(PermissionOnboarding::kInputStatusId), "✅ Allowed");
    QPushButton* open = buttonTitled(window(), "Open");
    ASSERT_NE(open, nullptr);
    open->click();
    ASSERT_EQ(launched.size(), 1U);
    EXPECT_EQ(launched[0],
              (std::vector<std::string>{"xdg-open",
                                        (screenshotFolder() / "permissions-help.html").string()}));
    EXPECT_TRUE(std::filesystem::exists(screenshotFolder() / "permissions-help.html"));

    // The close button hides the window; polling goes on and input starts from it.
    const int before = finishCalls;
    window()->close();
    settle();
    ASSERT_NE(window(), nullptr);
    EXPECT_FALSE(window()->isVisible());
    tick();
    EXPECT_GT(finishCalls, before);
    gate->showPermissionOnboarding();
    settle();
    EXPECT_TRUE(window()->isVisible());
}

TEST_F(WindowsDesktopTest, PhoneWindowRendersTheModel) {
    applyUILang("zh");
    auto shell = std::make_shared<FakeShell>();
    auto presenter =
        GenericPhoneWindowPresenter::create(std::make_shared<QtWindowRenderer>(), shell);
    std::vector<std::string> calls;
    PhoneWindowModel model = makePhoneWindowModel();
    model.switchOn = true;
    model.address.text = "http://192.168.1.20:8930/?t=0123456789abcdef0123456789abcdef";
    model.qr = qrImage(model.address.text, model.qrSide);
    model.hint.text = "手机打不开页面时,请确认防火墙放行了 TCP 端口 8930。";
    model.onToggle = [&](bool on) { calls.push_back(on ? "on" : "off"); };
    model.onReset = [&] { calls.push_back("reset"); };
    presenter->show(model);
    settle();
    auto* view = dynamic_cast<QtWindowView*>(presenter->window().get());
    ASSERT_NE(view, nullptr);
    QWidget* shown = view->widget();
    EXPECT_EQ(shown->windowTitle().toStdString(), "手机遥控");
    EXPECT_TRUE(showsText(shown, "手机当遥控器"));
    EXPECT_TRUE(showsText(shown, "开启手机遥控"));
    auto* address = child<QLabel>(shown, kPhoneAddressId);
    EXPECT_EQ(address->text().toStdString(), model.address.text);
    // The whole address stays visible: its font shrinks to the line's width.
    EXPECT_LE(QFontMetrics(address->font()).horizontalAdvance(address->text()), address->width());
    EXPECT_LT(address->font().pixelSize(), 12);
    auto* toggle = child<SwitchButton>(shown, kPhoneSwitchId);
    ASSERT_NE(toggle, nullptr);
    EXPECT_TRUE(toggle->isChecked());
    auto* picture = child<PictureView>(shown, kPhoneQRId);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->size(), QSize(220, 220));
    ASSERT_FALSE(picture->picture().isNull());
    // The rendered picture is the model's pixels, one to one (the rounded corners aside).
    const QImage drawn = picture->grab().toImage();
    int mismatches = 0;
    for (int y = 10; y < 210; ++y) {
        for (int x = 10; x < 210; ++x) {
            mismatches += (qGray(drawn.pixel(x, y)) < 128) != model.qr->isDark(x, y);
        }
    }
    EXPECT_EQ(mismatches, 0);
    saveScreenshot(shown, "phone-window");

    toggle->click();
    buttonTitled(shown, "重置配对(旧手机需重扫)")->click();
    EXPECT_EQ(calls, (std::vector<std::string>{"off", "reset"}));

    model.switchOn = false;
    model.address.text = "已关闭";
    model.qr.reset();
    model.hint.text.clear();
    presenter->update(model);
    settle();
    EXPECT_FALSE(toggle->isChecked());
    EXPECT_TRUE(picture->picture().isNull());
    EXPECT_EQ(child<QLabel>(shown, kPhoneAddressId)->text().toStdString(), "已关闭");
    saveScreenshot(shown, "phone-window-off");

    shown->close();  // the window's close button
    settle();
    EXPECT_EQ(presenter->window(), nullptr);
    EXPECT_EQ(shell->policies, (std::vector<ActivationPolicy>{ActivationPolicy::accessory}));
}

// Every kind of control, tabs, and a pane replaced from inside its own button's action.
TEST_F(WindowsDesktopTest, GenericRendererControlsTabsAndReplacement) {
    std::vector<std::string> calls;
    std::shared_ptr<WindowView> view;
    const auto record = [&](std::string what) { calls.push_back(std::move(what)); };
    const auto paneWith = [&](const std::string& title, const std::string& p) {
        Card card{.symbol = "keyboard", .title = title};
        card.blocks.push_back(RowBlock{
            .title = "Trigger key",
            .subtitle = "Hold to talk · click to send",
            .trailing = {makeLabel("F13", {.monospaced = true}, p + "key"),
                         makeButton(
                             "Rebuild", [&] { view->replacePane(0, Pane{}); }, 0, p + "rebuild")}});
        card.blocks.push_back(
            RowBlock{.title = "Send on click",
                     .trailing = {makeSwitch(
                         false, [&](bool on) { record(on ? "on" : "off"); }, p + "send")}});
        card.blocks.push_back(RowBlock{
            .title = "Microphone",
            .trailing = {Control{p + "mic", SegmentedControl{.segments = {"Built-in", "System"},
                                                             .selected = 0,
                                                             .action = [&](int index) {
                                                                 record("seg " +
                                                                        std::to_string(index));
                                                             }}}}});
        card.blocks.push_back(RowBlock{
            .title = "Alert volume",
            .trailing = {Control{p + "volume",
                                 Slider{.value = 0.3, .width = 120, .onRelease = [&](double value) {
                                            record("volume " +
                                                   std::to_string(static_cast<int>(value * 100)));
                                        }}}}});
        card.blocks.push_back(RowBlock{
            .title = "Provider",
            .trailing = {Control{
                p + "provider",
                PopUpButton{.items = {"Groq", "OpenAI"}, .selected = 1, .action = [&](int index) {
                                record("provider " + std::to_string(index));
                            }}}}});
        card.blocks.push_back(ControlRowBlock{
            .controls = {
                Control{p + "key-field", SecureTextField{.placeholder = "Enter a new key"}},
                makeButton(
                    "Save key", [&] { record("save " + view->text(p + "key-field")); }, 108)}});
        card.blocks.push_back(
            NoteBlock{.text = "Keys are stored in the keyring.", .id = p + "note"});
        Pane pane;
        pane.cards.push_back(std::move(card));
        return pane;
    };
    WindowModel model{.title = "Vurin Settings", .width = 560, .height = 600};
    model.header = Card{.blocks = {ControlRowBlock{
                            .controls = {Control{"dot", StatusDot{.colour = ColourRole::green}},
                                         makeLabel("All set", {}, "health")}}}};
    model.tabs = TabBar{.titles = {"General", "Permissions"},
                        .selected = 1,
                        .onSelect = [&](int index) { record("tab " + std::to_string(index)); }};
    model.panes.push_back(paneWith("Trigger key · Interaction", "g."));
    model.panes.push_back(paneWith("Permissions", "p."));
    view = QtWindowRenderer().open(std::move(model));
    settle();
    QWidget* shown = dynamic_cast<QtWindowView*>(view.get())->widget();
    ASSERT_NE(shown, nullptr);
    auto* tabs = shown->findChild<QTabBar*>();
    ASSERT_NE(tabs, nullptr);
    EXPECT_EQ(tabs->currentIndex(), 1);
    EXPECT_EQ(view->selectedTab(), 1);
    saveScreenshot(shown, "generic-window");

    tabs->setCurrentIndex(0);  // as a click does
    EXPECT_EQ(view->selectedTab(), 0);
    view->selectTab(1);  // the logic's own selection calls nothing back
    EXPECT_EQ(calls, (std::vector<std::string>{"tab 0"}));
    calls.clear();

    view->setOn("p.send", true);
    view->setText("p.key", "Right Alt");
    view->setText("p.note", "");
    view->setEnabled("p.rebuild", false);
    view->setValue("p.volume", 1.0);
    view->setSelectedIndex("p.provider", 0);
    view->setSelectedIndex("p.mic", 1);
    view->setColour("p.dot", ColourRole::orange);
    view->setColour("dot", ColourRole::orange);
    settle();
    EXPECT_EQ(calls, std::vector<std::string>{});  // setters never call actions
    EXPECT_TRUE(child<SwitchButton>(shown, "p.send")->isChecked());
    EXPECT_EQ(child<QLabel>(shown, "p.key")->text().toStdString(), "Right Alt");
    EXPECT_FALSE(child<QLabel>(shown, "p.note")->isVisible());
    EXPECT_FALSE(child<QLabel>(shown, "g.note")->isHidden());
    EXPECT_FALSE(child<QPushButton>(shown, "p.rebuild")->isEnabled());
    EXPECT_EQ(child<QSlider>(shown, "p.volume")->value(), 1000);
    EXPECT_EQ(child<QComboBox>(shown, "p.provider")->currentIndex(), 0);
    EXPECT_EQ(child<DotView>(shown, "dot")->colour(), ColourRole::orange);

    child<QLineEdit>(shown, "p.key-field")->setText("sk-test");
    EXPECT_EQ(child<QLineEdit>(shown, "p.key-field")->echoMode(), QLineEdit::Password);
    buttonTitled(shown, "Save key")->click();
    child<QComboBox>(shown, "p.provider")->activated(1);  // as choosing an item does
    child<QSlider>(shown, "p.volume")->setValue(500);     // as letting go at the middle does
    child<SwitchButton>(shown, "p.send")->click();
    EXPECT_EQ(calls, (std::vector<std::string>{"save sk-test", "provider 1", "volume 50", "off"}));

    // A dark desktop palette turns the colour roles and the chrome dark.
    const QPalette light = QApplication::palette();
    QPalette dark = light;
    dark.setColor(QPalette::Window, QColor(30, 30, 30));
    dark.setColor(QPalette::WindowText, QColor(235, 235, 235));
    QApplication::setPalette(dark);
    settle();
    EXPECT_TRUE(WindowTheme::current().dark);
    EXPECT_EQ(child<QLabel>(shown, "p.key")->palette().color(QPalette::WindowText),
              QColor(235, 235, 235));
    EXPECT_LT(shown->palette().color(QPalette::Window).lightness(), 64);
    saveScreenshot(shown, "generic-window-dark");
    QApplication::setPalette(light);
    settle();
    EXPECT_FALSE(WindowTheme::current().dark);
    EXPECT_GT(shown->palette().color(QPalette::Window).lightness(), 200);

    // Replacing a pane from inside its own button's action is safe; its controls are gone.
    view->selectTab(0);
    settle();
    QPointer<QPushButton> rebuild = child<QPushButton>(shown, "g.rebuild");
    ASSERT_NE(rebuild, nullptr);
    rebuild->click();
    settle();
    EXPECT_TRUE(rebuild.isNull());
    EXPECT_EQ(child<QLabel>(shown, "g.key"), nullptr);
    view->setText("g.key", "ignored");  // unknown now: ignored
    EXPECT_NE(child<QLabel>(shown, "p.key"), nullptr);
    QPointer<QWidget> closed = shown;
    view->close();
    settle();
    EXPECT_TRUE(closed.isNull());
}

TEST(LinuxDesktopSettingsTest, PanelsOfKnownDesktopsElseMixerOrHelpPage) {
    const std::filesystem::path help = "/tmp/help.html";
    const auto has = [](std::vector<std::string> programs) {
        return [programs](const std::string& program) {
            return std::find(programs.begin(), programs.end(), program) != programs.end();
        };
    };
    const auto noLaunch = [](const std::vector<std::string>&) { return true; };
    LinuxDesktopSettings gnome("ubuntu:GNOME", has({"gnome-control-center"}), noLaunch);
    EXPECT_EQ(gnome.desktopName(), "GNOME");
    EXPECT_EQ(gnome.command(SettingsPage::microphone, help),
              (std::vector<std::string>{"gnome-control-center", "sound"}));
    EXPECT_EQ(gnome.command(SettingsPage::accessibility, help),
              (std::vector<std::string>{"gnome-control-center", "universal-access"}));
    LinuxDesktopSettings kde("KDE", has({"systemsettings5"}), noLaunch);
    EXPECT_EQ(kde.desktopName(), "KDE Plasma");
    EXPECT_EQ(kde.command(SettingsPage::inputMonitoring, help),
              (std::vector<std::string>{"systemsettings5", "kcm_keys"}));
    // GNOME named but its settings program missing counts as unknown.
    LinuxDesktopSettings bare("GNOME", has({"pavucontrol", "xdg-open"}), noLaunch);
    EXPECT_EQ(bare.desktopName(), "");
    EXPECT_EQ(bare.destination(SettingsPage::microphone), SettingsDestination::soundMixer);
    EXPECT_EQ(bare.command(SettingsPage::microphone, help),
              (std::vector<std::string>{"pavucontrol", "--tab=4"}));
    EXPECT_EQ(bare.destination(SettingsPage::accessibility), SettingsDestination::helpPage);
    EXPECT_EQ(bare.command(SettingsPage::accessibility, help),
              (std::vector<std::string>{"xdg-open", help.string()}));
    LinuxDesktopSettings nothing("", has({}), noLaunch);
    EXPECT_FALSE(nothing.open(SettingsPage::accessibility, help));
}

TEST(X11PermissionProbeTest, ReadsTheSessionsDisplayAndBuses) {
    ASSERT_NE(std::getenv("VURIN_TEST_SESSION"), nullptr) << "run inside scripts/test-session";
    X11PermissionProbe probe;
    EXPECT_EQ(probe.syntheticInput(), SyntheticInputAccess::granted);
    EXPECT_TRUE(probe.accessibilityBusReachable());
    EXPECT_EQ(probe.keyGrab(kF13Evdev), KeyGrabAccess::granted);
    // The trial grab is given back: a real grab right after it succeeds.
    X11KeyGrab grab;
    ASSERT_EQ(grab.start(kF13Evdev, {.onKey = [](const KeyGrabEvent&) {},
                                     .onFailure = [](const KeyGrabResult&) {}})
                  .status,
              KeyGrabStatus::ok);
    EXPECT_EQ(probe.keyGrab(kF13Evdev), KeyGrabAccess::taken);
    grab.stop();
    EXPECT_EQ(probe.keyGrab(kF13Evdev), KeyGrabAccess::granted);

    X11PermissionProbe nowhere(":99");
    EXPECT_EQ(nowhere.syntheticInput(), SyntheticInputAccess::noDisplay);
    EXPECT_EQ(nowhere.keyGrab(kF13Evdev), KeyGrabAccess::noDisplay);
    EnvironmentOverride bus("AT_SPI_BUS_ADDRESS", "unix:path=/nonexistent/vurin-test-bus");
    EXPECT_FALSE(probe.accessibilityBusReachable());
}

}  // namespace
}  // namespace vurin
