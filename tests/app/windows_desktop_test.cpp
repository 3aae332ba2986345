// The Qt renderer of the logic's windows and menus, the desktop's settings programs and the X11
// permission probe, on the headless session.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QSlider>
#include <QTabBar>

#include "phone/phone_window_presenter.h"
#include "platform/linux/desktop_settings_linux.h"
#include "platform/linux/key_grab_x11.h"
#include "platform/linux/permission_probe_x11.h"
#include "support/app_fakes.h"
#include "support/qt_widgets_testing.h"
#include "support/testing.h"
#include "ui/qt/qt_application_shell.h"
#include "ui/qt/qt_window_renderer.h"
#include "ui/qt/qt_window_widgets.h"

namespace vurin::testing {
namespace {

using Lines = std::vector<std::string>;

template <typename T>
T* child(QWidget* root, const std::string& name) {
    return root->findChild<T*>(QString::fromStdString(name));
}

class WindowsDesktopTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ensureQtApplication(); }
    void TearDown() override { settleWidgets(); }
};

TEST_F(WindowsDesktopTest, PhoneWindowShowsTheWholeAddressAndTheQRCodePixelForPixel) {
    auto shell = std::make_shared<FakeShell>();
    auto presenter =
        GenericPhoneWindowPresenter::create(std::make_shared<QtWindowRenderer>(), shell);
    PhoneWindowModel model = makePhoneWindowModel();
    model.address.text = "http://192.168.1.20:8930/?t=0123456789abcdef0123456789abcdef";
    model.qr = qrImage(model.address.text, model.qrSide);
    presenter->show(model);
    settleWidgets();
    QWidget* shown = dynamic_cast<QtWindowView&>(*presenter->window()).widget();
    auto* address = child<QLabel>(shown, kPhoneAddressId);
    EXPECT_LE(QFontMetrics(address->font()).horizontalAdvance(address->text()), address->width());
    EXPECT_LT(address->font().pixelSize(), 12);  // shrunk to the line's width
    auto* picture = child<PictureView>(shown, kPhoneQRId);
    EXPECT_EQ(picture->size(), QSize(220, 220));
    const QImage drawn = picture->grab().toImage();
    int mismatches = 0;
    for (int y = 10; y < 210; ++y) {  // the rounded corners aside
        for (int x = 10; x < 210; ++x) {
            mismatches += (qGray(drawn.pixel(x, y)) < 128) != model.qr->isDark(x, y);
        }
    }
    EXPECT_EQ(mismatches, 0);
    model.qr.reset();
    presenter->update(model);
    EXPECT_TRUE(picture->picture().isNull());
    shown->close();  // the window's close button
    settleWidgets();
    EXPECT_EQ(presenter->window(), nullptr);
    EXPECT_EQ(shell->policies, std::vector<ActivationPolicy>{ActivationPolicy::accessory});
}

// Every kind of control, tabs, a dark palette and a pane replaced from inside its own button.
TEST_F(WindowsDesktopTest, GenericRendererControlsTabsAndReplacement) {
    Lines calls;
    std::shared_ptr<WindowView> view;
    const auto record = [&](std::string what) { calls.push_back(std::move(what)); };
    const auto paneWith = [&](const std::string& p) {
        Card card{.symbol = "keyboard", .title = "Trigger key"};
        const auto row = [&](Control control) {
            card.blocks.push_back(RowBlock{.title = "Row", .trailing = {std::move(control)}});
        };
        card.blocks.push_back(RowBlock{
            .title = "Trigger key",
            .subtitle = "Hold to talk",
            .trailing =
                {makeLabel("F13",
                           {.monospaced = true, .alignment = TextAlignment::trailing, .width = 120},
                           p + "key"),
                 makeButton(
                     "Rebuild", [&] { view->replacePane(0, Pane{}); }, 0, p + "rebuild")},
            .boldTitle = true});
        row(makeSwitch(
            false, [&](bool on) { record(on ? "on" : "off"); }, p + "send"));
        row({p + "mic", SegmentedControl{.segments = {"Built-in", "System"}, .action = [&](int i) {
                                             record("seg " + std::to_string(i));
                                         }}});
        row({p + "volume", Slider{.value = 0.3, .width = 120, .onRelease = [&](double v) {
                                      record("volume " + std::to_string(int(v * 100)));
                                  }}});
        row({p + "provider",
             PopUpButton{.items = {"Groq", "OpenAI"}, .selected = 1, .action = [&](int i) {
                             record("provider " + std::to_string(i));
                         }}});
        card.blocks.push_back(ControlRowBlock{
            .controls = {
                Control{p + "field", SecureTextField{.placeholder = "Enter a new key"}},
                makeButton(
                    "Save key", [&] { record("save " + view->text(p + "field")); }, 108)}});
        card.blocks.push_back(
            NoteBlock{.text = "Keys are stored in the keyring.", .id = p + "note"});
        Pane pane;
        pane.cards.push_back(std::move(card));
        return pane;
    };
    WindowModel model{.title = "Vurin Settings", .width = 560, .height = 600};
    model.header = Card{.blocks = {ControlRowBlock{
                            .controls = {Control{"dot", StatusDot{.colour = ColourRole::green}},
                                         makeLabel("All set", {.bold = true, .wraps = true})}}}};
    model.tabs = TabBar{.titles = {"General", "Permissions"},
                        .selected = 1,
                        .onSelect = [&](int i) { record("tab " + std::to_string(i)); }};
    model.panes = {paneWith("g."), paneWith("p.")};
    view = QtWindowRenderer().open(std::move(model));
    settleWidgets();
    QWidget* shown = dynamic_cast<QtWindowView&>(*view).widget();
    auto* tabs = shown->findChild<QTabBar*>();
    EXPECT_EQ(tabs->currentIndex(), 1);
    tabs->setCurrentIndex(0);  // as a click does
    EXPECT_EQ(view->selectedTab(), 0);
    view->selectTab(1);  // the logic's own selection calls nothing back

    view->setOn("p.send", true);
    view->setText("p.key", "Right Alt");
    view->setText("p.note", "");
    view->setEnabled("p.rebuild", false);
    view->setValue("p.volume", 1.0);
    view->setSelectedIndex("p.provider", 0);
    view->setSelectedIndex("p.mic", 1);
    view->setColour("dot", ColourRole::orange);
    settleWidgets();
    EXPECT_EQ(calls, Lines{"tab 0"});  // setters never call actions
    EXPECT_TRUE(child<SwitchButton>(shown, "p.send")->isChecked());
    EXPECT_EQ(child<QLabel>(shown, "p.key")->text().toStdString(), "Right Alt");
    EXPECT_FALSE(child<QLabel>(shown, "p.note")->isVisible());
    EXPECT_FALSE(child<QLabel>(shown, "g.note")->isHidden());
    EXPECT_FALSE(child<QPushButton>(shown, "p.rebuild")->isEnabled());
    EXPECT_EQ(child<QSlider>(shown, "p.volume")->value(), 1000);
    EXPECT_EQ(child<QComboBox>(shown, "p.provider")->currentIndex(), 0);
    EXPECT_EQ(child<DotView>(shown, "dot")->colour(), ColourRole::orange);

    child<QLineEdit>(shown, "p.field")->setText("sk-test");
    EXPECT_EQ(child<QLineEdit>(shown, "p.field")->echoMode(), QLineEdit::Password);
    buttonTitled(shown, "Save key")->click();
    child<QComboBox>(shown, "p.provider")->activated(1);  // as choosing an item does
    child<QSlider>(shown, "p.volume")->setValue(500);     // as letting go at the middle does
    child<SwitchButton>(shown, "p.send")->click();
    EXPECT_EQ(calls, (Lines{"tab 0", "save sk-test", "provider 1", "volume 50", "off"}));

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
    QApplication::setPalette(light);
    settleWidgets();
    EXPECT_GT(shown->palette().color(QPalette::Window).lightness(), 200);

    view->selectTab(0);
    settleWidgets();
    QPointer<QPushButton> rebuild = child<QPushButton>(shown, "g.rebuild");
    rebuild->click();
    settleWidgets();
    EXPECT_TRUE(rebuild.isNull());
    EXPECT_EQ(child<QLabel>(shown, "g.key"), nullptr);
    view->setText("g.key", "ignored");  // unknown now: ignored
    shown->close();  // the window's close button hides it; the logic may show it again
    EXPECT_FALSE(shown->isVisible());
    view->raise();
    EXPECT_TRUE(shown->isVisible());
    QPointer<QWidget> closed = shown;
    view->close();
    settleWidgets();
    EXPECT_TRUE(closed.isNull());
}

TEST_F(WindowsDesktopTest, MenusAsTheModelSaysAndTheirActions) {
    int runs = 0;
    const MenuModel model{
        .items = {MenuItem{.title = "Status", .enabled = false}, MenuItem::separator(),
                  MenuItem{.title = "Quit", .keyEquivalent = "q", .action = [&] { ++runs; }}}};
    const auto menu = renderMenu(model);
    const auto actions = menu->actions();
    ASSERT_EQ(actions.size(), 3);
    EXPECT_FALSE(actions[0]->isEnabled());
    EXPECT_TRUE(actions[1]->isSeparator());
    EXPECT_EQ(actions[2]->text().toStdString() + actions[2]->shortcut().toString().toStdString(),
              "QuitCtrl+Q");
    actions[2]->trigger();
    EXPECT_EQ(runs, 1);
}

TEST(LinuxDesktopSettingsTest, PanelsOfKnownDesktopsElseMixerOrHelpPage) {
    const std::filesystem::path help = "/tmp/help.html";
    const auto has = [](Lines programs) {
        return [programs](const std::string& program) {
            return std::find(programs.begin(), programs.end(), program) != programs.end();
        };
    };
    std::vector<Lines> launched;
    const auto launch = [&](const Lines& command) {
        launched.push_back(command);
        return true;
    };
    LinuxDesktopSettings gnome("ubuntu:GNOME", has({"gnome-control-center"}), launch);
    EXPECT_EQ(gnome.desktopName(), "GNOME");
    EXPECT_EQ(gnome.command(SettingsPage::microphone, help),
              (Lines{"gnome-control-center", "sound"}));
    EXPECT_EQ(gnome.command(SettingsPage::accessibility, help),
              (Lines{"gnome-control-center", "universal-access"}));
    LinuxDesktopSettings kde("KDE", has({"systemsettings5"}), launch);
    EXPECT_EQ(kde.desktopName(), "KDE Plasma");
    EXPECT_EQ(kde.command(SettingsPage::inputMonitoring, help),
              (Lines{"systemsettings5", "kcm_keys"}));
    // GNOME named but its settings program missing counts as unknown.
    LinuxDesktopSettings bare("GNOME", has({"pavucontrol", "xdg-open"}), launch);
    EXPECT_EQ(bare.desktopName(), "");
    EXPECT_EQ(bare.destination(SettingsPage::microphone), SettingsDestination::soundMixer);
    EXPECT_EQ(bare.command(SettingsPage::microphone, help), (Lines{"pavucontrol", "--tab=4"}));
    EXPECT_EQ(bare.destination(SettingsPage::accessibility), SettingsDestination::helpPage);
    EXPECT_TRUE(bare.open(SettingsPage::accessibility, help));
    EXPECT_EQ(launched, (std::vector<Lines>{{"xdg-open", help.string()}}));
    EXPECT_FALSE(LinuxDesktopSettings("", has({}), launch).open(SettingsPage::accessibility, help));
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
    ScopedEnvironment environment;
    environment.set("AT_SPI_BUS_ADDRESS", "unix:path=/nonexistent/vurin-test-bus");
    EXPECT_FALSE(probe.accessibilityBusReachable());
}

}  // namespace
}  // namespace vurin::testing
