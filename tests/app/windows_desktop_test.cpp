// The Qt renderer of the logic's windows and the desktop's settings programs.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QTabBar>

#include "platform/linux/desktop_settings_linux.h"
#include "support/qt_widgets_testing.h"
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

// The panels of known desktops, else the sound mixer or the help page; GNOME named but without
// its settings program counts as unknown.
TEST(LinuxDesktopSettingsTest, PanelsOfKnownDesktopsElseMixerOrHelpPage) {
    const std::filesystem::path help = "/tmp/help.html";
    const auto has = [](Lines programs) {
        return [programs](const std::string& program) {
            return std::find(programs.begin(), programs.end(), program) != programs.end();
        };
    };
    Lines launched;
    const auto launch = [&](const Lines& command) {
        launched.insert(launched.end(), command.begin(), command.end());
        return true;
    };
    LinuxDesktopSettings gnome("ubuntu:GNOME", has({"gnome-control-center"}), launch);
    LinuxDesktopSettings kde("KDE", has({"systemsettings5"}), launch);
    LinuxDesktopSettings bare("GNOME", has({"pavucontrol", "xdg-open"}), launch);
    EXPECT_EQ(gnome.desktopName() + "," + kde.desktopName() + "," + bare.desktopName(),
              "GNOME,KDE Plasma,");
    EXPECT_TRUE(gnome.open(SettingsPage::microphone, help) &&
                gnome.open(SettingsPage::accessibility, help) &&
                kde.open(SettingsPage::inputMonitoring, help) &&
                bare.open(SettingsPage::microphone, help) &&
                bare.open(SettingsPage::accessibility, help));
    EXPECT_EQ(launched, (Lines{"gnome-control-center", "sound", "gnome-control-center",
                               "universal-access", "systemsettings5", "kcm_keys", "pavucontrol",
                               "--tab=4", "xdg-open", help.string()}));
    EXPECT_FALSE(LinuxDesktopSettings("", has({}), launch).open(SettingsPage::accessibility, help));
}

}  // namespace
}  // namespace vurin::testing
