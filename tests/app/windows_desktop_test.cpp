// The Qt renderer of the logic's windows (the phone window and every kind of control), the
// desktop's settings programs and the X11 permission probe, on the headless session. Each window
// is also saved as a PNG under the build folder's "screenshots" so a reviewer can look.
#include <gtest/gtest.h>

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

#include "phone/phone_window_presenter.h"
#include "platform/linux/desktop_settings_linux.h"
#include "platform/linux/key_grab_x11.h"
#include "platform/linux/permission_probe_x11.h"
#include "support/app_fakes.h"
#include "support/language.h"
#include "support/qt_widgets_testing.h"
#include "support/testing.h"
#include "ui/qt/qt_window_renderer.h"
#include "ui/qt/qt_window_widgets.h"

namespace vurin {
namespace {

using testing::buttonTitled;
using testing::saveScreenshot;
using testing::settleWidgets;

template <typename T>
T* child(QWidget* root, const std::string& name) {
    return root->findChild<T*>(QString::fromStdString(name));
}

class WindowsDesktopTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { testing::ensureQtApplication(); }
    void SetUp() override { applyUILang("zh"); }
    void TearDown() override {
        settleWidgets();
        applyUILang("auto");
    }
};

TEST_F(WindowsDesktopTest, PhoneWindowRendersTheModel) {
    auto shell = std::make_shared<testing::FakeShell>();
    auto presenter =
        GenericPhoneWindowPresenter::create(std::make_shared<QtWindowRenderer>(), shell);
    PhoneWindowModel model = makePhoneWindowModel();
    model.switchOn = true;
    model.address.text = "http://192.168.1.20:8930/?t=0123456789abcdef0123456789abcdef";
    model.qr = qrImage(model.address.text, model.qrSide);
    model.hint.text = "手机打不开页面时,请确认防火墙放行了 TCP 端口 8930。";
    std::vector<std::string> calls;
    model.onToggle = [&](bool on) { calls.push_back(on ? "on" : "off"); };
    model.onReset = [&] { calls.push_back("reset"); };
    presenter->show(model);
    settleWidgets();
    QWidget* shown = dynamic_cast<QtWindowView&>(*presenter->window()).widget();
    auto* address = child<QLabel>(shown, kPhoneAddressId);
    EXPECT_EQ(address->text().toStdString(), model.address.text);
    // The whole address stays visible: its font shrinks to the line's width.
    EXPECT_LE(QFontMetrics(address->font()).horizontalAdvance(address->text()), address->width());
    EXPECT_LT(address->font().pixelSize(), 12);
    auto* toggle = child<SwitchButton>(shown, kPhoneSwitchId);
    EXPECT_TRUE(toggle->isChecked());
    auto* picture = child<PictureView>(shown, kPhoneQRId);
    EXPECT_EQ(picture->size(), QSize(220, 220));
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
    settleWidgets();
    EXPECT_FALSE(toggle->isChecked());
    EXPECT_TRUE(picture->picture().isNull());
    EXPECT_EQ(child<QLabel>(shown, kPhoneAddressId)->text().toStdString(), "已关闭");

    shown->close();  // the window's close button
    settleWidgets();
    EXPECT_EQ(presenter->window(), nullptr);
    EXPECT_EQ(shell->policies, std::vector<ActivationPolicy>{ActivationPolicy::accessory});
}

// Every kind of control, tabs, a dark palette and a pane replaced from inside its own button.
TEST_F(WindowsDesktopTest, GenericRendererControlsTabsAndReplacement) {
    std::vector<std::string> calls;
    std::shared_ptr<WindowView> view;
    const auto record = [&](std::string what) { calls.push_back(std::move(what)); };
    const auto paneWith = [&](const std::string& p) {
        Card card{.symbol = "keyboard", .title = "Trigger key"};
        const auto row = [&](std::string title, Control control) {
            card.blocks.push_back(RowBlock{.title = std::move(title), .trailing = {control}});
        };
        card.blocks.push_back(RowBlock{
            .title = "Trigger key",
            .subtitle = "Hold to talk · click to send",
            .trailing =
                {makeLabel("F13",
                           {.monospaced = true, .alignment = TextAlignment::trailing, .width = 120},
                           p + "key"),
                 makeButton(
                     "Rebuild", [&] { view->replacePane(0, Pane{}); }, 0, p + "rebuild")},
            .boldTitle = true});
        row("Send on click", makeSwitch(
                                 false, [&](bool on) { record(on ? "on" : "off"); }, p + "send"));
        row("Microphone",
            Control{p + "mic",
                    SegmentedControl{.segments = {"Built-in", "System"}, .action = [&](int index) {
                                         record("seg " + std::to_string(index));
                                     }}});
        row("Alert volume",
            Control{p + "volume", Slider{.value = 0.3, .width = 120, .onRelease = [&](double v) {
                                             record("volume " + std::to_string(int(v * 100)));
                                         }}});
        row("Provider",
            Control{
                p + "provider",
                PopUpButton{.items = {"Groq", "OpenAI"}, .selected = 1, .action = [&](int index) {
                                record("provider " + std::to_string(index));
                            }}});
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
    model.header =
        Card{.blocks = {ControlRowBlock{
                 .controls = {Control{"dot", StatusDot{.colour = ColourRole::green}},
                              makeLabel("All set", {.bold = true, .wraps = true}, "health")}}}};
    model.tabs = TabBar{.titles = {"General", "Permissions"},
                        .selected = 1,
                        .onSelect = [&](int index) { record("tab " + std::to_string(index)); }};
    model.panes.push_back(paneWith("g."));
    model.panes.push_back(paneWith("p."));
    view = QtWindowRenderer().open(std::move(model));
    settleWidgets();
    QWidget* shown = dynamic_cast<QtWindowView&>(*view).widget();
    auto* tabs = shown->findChild<QTabBar*>();
    EXPECT_EQ(tabs->currentIndex(), 1);
    saveScreenshot(shown, "generic-window");
    tabs->setCurrentIndex(0);  // as a click does
    EXPECT_EQ(view->selectedTab(), 0);
    view->selectTab(1);  // the logic's own selection calls nothing back
    EXPECT_EQ(calls, std::vector<std::string>{"tab 0"});
    calls.clear();

    view->setOn("p.send", true);
    view->setText("p.key", "Right Alt");
    view->setText("p.note", "");
    view->setEnabled("p.rebuild", false);
    view->setValue("p.volume", 1.0);
    view->setSelectedIndex("p.provider", 0);
    view->setSelectedIndex("p.mic", 1);
    view->setColour("dot", ColourRole::orange);
    settleWidgets();
    EXPECT_TRUE(calls.empty());  // setters never call actions
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
    settleWidgets();
    EXPECT_TRUE(WindowTheme::current().dark);
    EXPECT_EQ(child<QLabel>(shown, "p.key")->palette().color(QPalette::WindowText),
              QColor(235, 235, 235));
    EXPECT_LT(shown->palette().color(QPalette::Window).lightness(), 64);
    saveScreenshot(shown, "generic-window-dark");
    QApplication::setPalette(light);
    settleWidgets();
    EXPECT_FALSE(WindowTheme::current().dark);
    EXPECT_GT(shown->palette().color(QPalette::Window).lightness(), 200);

    view->selectTab(0);
    settleWidgets();
    QPointer<QPushButton> rebuild = child<QPushButton>(shown, "g.rebuild");
    rebuild->click();
    settleWidgets();
    EXPECT_TRUE(rebuild.isNull());
    EXPECT_EQ(child<QLabel>(shown, "g.key"), nullptr);
    view->setText("g.key", "ignored");  // unknown now: ignored
    EXPECT_NE(child<QLabel>(shown, "p.key"), nullptr);
    shown->close();  // the window's close button hides it; the logic may show it again
    EXPECT_FALSE(shown->isVisible());
    view->raise();
    EXPECT_TRUE(shown->isVisible());
    QPointer<QWidget> closed = shown;
    view->close();
    settleWidgets();
    EXPECT_TRUE(closed.isNull());
}

TEST(LinuxDesktopSettingsTest, PanelsOfKnownDesktopsElseMixerOrHelpPage) {
    const std::filesystem::path help = "/tmp/help.html";
    const auto has = [](std::vector<std::string> programs) {
        return [programs](const std::string& program) {
            return std::find(programs.begin(), programs.end(), program) != programs.end();
        };
    };
    std::vector<std::vector<std::string>> launched;
    const auto launch = [&](const std::vector<std::string>& command) {
        launched.push_back(command);
        return true;
    };
    LinuxDesktopSettings gnome("ubuntu:GNOME", has({"gnome-control-center"}), launch);
    EXPECT_EQ(gnome.desktopName(), "GNOME");
    EXPECT_EQ(gnome.command(SettingsPage::microphone, help),
              (std::vector<std::string>{"gnome-control-center", "sound"}));
    EXPECT_EQ(gnome.command(SettingsPage::accessibility, help),
              (std::vector<std::string>{"gnome-control-center", "universal-access"}));
    LinuxDesktopSettings kde("KDE", has({"systemsettings5"}), launch);
    EXPECT_EQ(kde.desktopName(), "KDE Plasma");
    EXPECT_EQ(kde.command(SettingsPage::inputMonitoring, help),
              (std::vector<std::string>{"systemsettings5", "kcm_keys"}));
    // GNOME named but its settings program missing counts as unknown.
    LinuxDesktopSettings bare("GNOME", has({"pavucontrol", "xdg-open"}), launch);
    EXPECT_EQ(bare.desktopName(), "");
    EXPECT_EQ(bare.destination(SettingsPage::microphone), SettingsDestination::soundMixer);
    EXPECT_EQ(bare.command(SettingsPage::microphone, help),
              (std::vector<std::string>{"pavucontrol", "--tab=4"}));
    EXPECT_EQ(bare.destination(SettingsPage::accessibility), SettingsDestination::helpPage);
    EXPECT_TRUE(bare.open(SettingsPage::accessibility, help));
    EXPECT_EQ(launched, (std::vector<std::vector<std::string>>{{"xdg-open", help.string()}}));
    LinuxDesktopSettings nothing("", has({}), launch);
    EXPECT_FALSE(nothing.open(SettingsPage::accessibility, help));
}

TEST(X11PermissionProbeTest, ReadsTheSessionsDisplayAndBuses) {
    constexpr int kF13Evdev = 183;
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
    testing::ScopedEnvironment environment;
    environment.set("AT_SPI_BUS_ADDRESS", "unix:path=/nonexistent/vurin-test-bus");
    EXPECT_FALSE(probe.accessibilityBusReachable());
}

}  // namespace
}  // namespace vurin
