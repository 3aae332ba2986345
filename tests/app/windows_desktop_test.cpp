// The Qt renderer of the logic's windows and menus, the desktop's settings programs and the X11
// permission probe, on the headless session.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QTabBar>

#include "platform/linux/desktop_settings_linux.h"
#include "platform/linux/key_grab_x11.h"
#include "platform/linux/permission_probe_x11.h"
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

// Every kind of control, tabs, a dark palette and a pane replaced from inside its own button.
TEST(WindowsDesktopTest, GenericRendererControlsTabsAndReplacement) {
    ensureQtApplication();
    std::string calls;
    std::shared_ptr<WindowView> view;
    const auto record = [&](const std::string& what) { calls += what + " "; };
    const auto row = [](Control control) {
        return RowBlock{.title = "Row", .trailing = {control}};
    };
    Card card{.symbol = "keyboard", .title = "Trigger key"};
    card.blocks = {
        RowBlock{.title = "Trigger key",
                 .subtitle = "Hold to talk",
                 .trailing = {makeLabel("F13", {.monospaced = true, .width = 120}, "key"),
                              makeButton(
                                  "Rebuild", [&] { view->replacePane(0, {}); }, 0, "rebuild")},
                 .boldTitle = true},
        row(makeSwitch(
            false, [&](bool on) { record(on ? "on" : "off"); }, "send")),
        row({"mic", SegmentedControl{.segments = {"Built-in", "System"}}}),
        row({"volume",
             Slider{.value = 0.3,
                    .width = 120,
                    .onRelease = [&](double v) { record(std::to_string(int(v * 100)) + "%"); }}}),
        row({"provider",
             PopUpButton{.items = {"Groq", "OpenAI"},
                         .selected = 1,
                         .action = [&](int i) { record("provider " + std::to_string(i)); }}}),
        ControlRowBlock{
            .controls = {{"field", SecureTextField{.placeholder = "New key"}},
                         makeButton(
                             "Save", [&] { record(view->text("field")); }, 108, "save")}},
        NoteBlock{.text = "Keys are stored in the keyring.", .id = "note"}};
    // An address that must stay whole shrinks to its width; a picture is drawn pixel for pixel.
    WindowModel model{.title = "Vurin Settings", .width = 560, .height = 600};
    model.header =
        Card{.blocks = {ControlRowBlock{
                 .controls = {{"dot", StatusDot{.colour = ColourRole::green}},
                              makeLabel("http://192.168.100.200:8930/?t=012345678",
                                        {.width = 240, .shrinkToFit = true}, "address"),
                              {"picture", ImageView{ImageData{2, 2, {0, 255, 255, 0}}, 40, 40}}}}}};
    model.tabs = TabBar{.titles = {"General", "Permissions"},
                        .selected = 1,
                        .onSelect = [&](int i) { record("tab " + std::to_string(i)); }};
    model.panes = {Pane{.cards = {card}},
                   Pane{.cards = {Card{.blocks = {NoteBlock{.text = "2"}}}}}};
    model.onClose = [&] { record("closed"); };
    view = QtWindowRenderer().open(std::move(model));
    settleWidgets();
    QWidget* shown = dynamic_cast<QtWindowView&>(*view).widget();
    EXPECT_LT(child<QLabel>(shown, "address")->font().pixelSize(), 12);
    const QImage drawn = child<PictureView>(shown, "picture")->grab().toImage();
    EXPECT_EQ(qGray(drawn.pixel(10, 10)), 0);
    EXPECT_EQ(qGray(drawn.pixel(30, 10)), 255);
    shown->findChild<QTabBar*>()->setCurrentIndex(0);  // as a click does
    EXPECT_EQ(view->selectedTab(), 0);
    view->selectTab(1);  // the logic's own selection calls nothing back
    view->selectTab(0);
    view->setOn("send", true);
    view->setText("key", "Right Alt");
    view->setText("note", "");
    view->setEnabled("rebuild", false);
    view->setValue("volume", 1.0);
    view->setSelectedIndex("provider", 0);
    view->setSelectedIndex("mic", 1);
    view->setColour("dot", ColourRole::orange);
    view->setImage("picture", std::nullopt);
    settleWidgets();
    EXPECT_EQ(calls, "tab 0 ");  // setters never call actions
    EXPECT_TRUE(child<SwitchButton>(shown, "send")->isChecked());
    EXPECT_EQ(child<QLabel>(shown, "key")->text().toStdString(), "Right Alt");
    EXPECT_FALSE(child<QLabel>(shown, "note")->isVisible());
    EXPECT_FALSE(child<QPushButton>(shown, "rebuild")->isEnabled());
    EXPECT_EQ(child<QSlider>(shown, "volume")->value(), 1000);
    EXPECT_EQ(child<QComboBox>(shown, "provider")->currentIndex(), 0);
    EXPECT_EQ(child<DotView>(shown, "dot")->colour(), ColourRole::orange);
    EXPECT_TRUE(child<PictureView>(shown, "picture")->picture().isNull());
    child<QLineEdit>(shown, "field")->setText("sk-test");
    EXPECT_EQ(child<QLineEdit>(shown, "field")->echoMode(), QLineEdit::Password);
    child<QPushButton>(shown, "save")->click();
    child<QComboBox>(shown, "provider")->activated(1);  // as choosing an item does
    child<QSlider>(shown, "volume")->setValue(500);     // as letting go at the middle does
    child<SwitchButton>(shown, "send")->click();
    EXPECT_EQ(calls, "tab 0 sk-test provider 1 50% off ");

    QPalette dark = QApplication::palette();  // a dark desktop palette turns the chrome dark
    dark.setColor(QPalette::Window, QColor(30, 30, 30));
    dark.setColor(QPalette::WindowText, QColor(235, 235, 235));
    QApplication::setPalette(dark);
    settleWidgets();
    EXPECT_LT(shown->palette().color(QPalette::Window).lightness(), 64);
    QApplication::setPalette(QPalette());
    child<QPushButton>(shown, "rebuild")->setEnabled(true);
    QPointer<QPushButton> rebuild = child<QPushButton>(shown, "rebuild");
    rebuild->click();
    settleWidgets();
    EXPECT_TRUE(rebuild.isNull());
    view->setText("key", "ignored");  // unknown now: ignored
    shown->close();                   // the window's close button hides it and tells the logic
    EXPECT_TRUE(!shown->isVisible() && calls.ends_with("closed "));
    view->raise();
    EXPECT_TRUE(shown->isVisible());
    QPointer<QWidget> closed = shown;
    view->close();
    settleWidgets();
    EXPECT_TRUE(closed.isNull());
}

TEST(WindowsDesktopTest, MenusAsTheModelSaysAndTheirActions) {
    ensureQtApplication();
    int runs = 0;
    const auto menu =
        renderMenu({.items = {{.title = "Status", .enabled = false},
                              MenuItem::separator(),
                              {.title = "Quit", .keyEquivalent = "q", .action = [&] { ++runs; }}}});
    const auto actions = menu->actions();
    ASSERT_EQ(actions.size(), 3);
    EXPECT_TRUE(!actions[0]->isEnabled() && actions[1]->isSeparator());
    EXPECT_EQ(actions[2]->shortcut().toString().toStdString(), "Ctrl+Q");
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
    LinuxDesktopSettings kde("KDE", has({"systemsettings5"}), launch);
    // GNOME named but its settings program missing counts as unknown.
    LinuxDesktopSettings bare("GNOME", has({"pavucontrol", "xdg-open"}), launch);
    EXPECT_EQ(gnome.desktopName() + "," + kde.desktopName() + "," + bare.desktopName(),
              "GNOME,KDE Plasma,");
    EXPECT_EQ(gnome.command(SettingsPage::microphone, help),
              (Lines{"gnome-control-center", "sound"}));
    EXPECT_EQ(gnome.command(SettingsPage::accessibility, help),
              (Lines{"gnome-control-center", "universal-access"}));
    EXPECT_EQ(kde.command(SettingsPage::inputMonitoring, help),
              (Lines{"systemsettings5", "kcm_keys"}));
    EXPECT_EQ(bare.destination(SettingsPage::microphone), SettingsDestination::soundMixer);
    EXPECT_EQ(bare.command(SettingsPage::microphone, help), (Lines{"pavucontrol", "--tab=4"}));
    EXPECT_EQ(bare.destination(SettingsPage::accessibility), SettingsDestination::helpPage);
    EXPECT_TRUE(bare.open(SettingsPage::accessibility, help));
    EXPECT_EQ(launched, (std::vector<Lines>{{"xdg-open", help.string()}}));
    EXPECT_FALSE(LinuxDesktopSettings("", has({}), launch).open(SettingsPage::accessibility, help));
}

// The trial grab is given back: a real grab right after it succeeds.
TEST(X11PermissionProbeTest, ReadsTheSessionsDisplayAndBuses) {
    X11PermissionProbe probe, nowhere(":99");
    EXPECT_EQ(probe.syntheticInput(), SyntheticInputAccess::granted);
    EXPECT_EQ(probe.keyGrab(183), KeyGrabAccess::granted);
    X11KeyGrab grab;
    ASSERT_EQ(grab.start(183, {}).status, KeyGrabStatus::ok);
    EXPECT_EQ(probe.keyGrab(183), KeyGrabAccess::taken);
    grab.stop();
    EXPECT_EQ(probe.keyGrab(183), KeyGrabAccess::granted);
    EXPECT_EQ(nowhere.syntheticInput(), SyntheticInputAccess::noDisplay);
    EXPECT_EQ(nowhere.keyGrab(183), KeyGrabAccess::noDisplay);
    EXPECT_TRUE(probe.accessibilityBusReachable());
    ScopedEnvironment environment;
    environment.set("AT_SPI_BUS_ADDRESS", "unix:path=/nonexistent/vurin-test-bus");
    EXPECT_FALSE(probe.accessibilityBusReachable());
}

}  // namespace
}  // namespace vurin::testing
