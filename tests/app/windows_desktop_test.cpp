// The Qt renderer of the logic's windows and the desktop's settings programs.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QTabBar>
#include <QWheelEvent>

#include "platform/linux/desktop_settings_linux.h"
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

// Every kind of control, set by the logic and used by the user; tabs; a pane replaced from
// inside its own button; an address that must stay whole shrinks to its width; a
// picture is drawn pixel for pixel.
TEST(WindowsDesktopTest, GenericRenderer) {
    ensureQtApplication();
    std::string calls;
    std::shared_ptr<WindowView> view;
    const auto record = [&](const std::string& what) { calls += what + " "; };
    const auto number = [&](auto value) { record(std::to_string(value)); };
    const auto rebuild = [&] { view->replacePane(0, {}); };
    const auto save = [&] { record(view->text("field")); };
    const std::vector<Control> controls{
        makeLabel("F13", {.monospaced = true, .width = 120}, "key"),
        makeButton("Rebuild", rebuild, 0, "rebuild"),
        makeSwitch(
            false, [&](bool on) { record(on ? "on" : "off"); }, "send"),
        {"mic", SegmentedControl{.segments = {"Built-in", "System"}}},
        {"volume", Slider{.value = 0.3, .onRelease = number}},
        {"provider", PopUpButton{.items = {"Groq", "OpenAI"}, .action = number}},
        {"field", SecureTextField{.placeholder = "New key"}},
        makeButton("Save", save, 0, "save")};
    const std::vector<Control> header{
        {"dot", StatusDot{.colour = ColourRole::green}},
        makeLabel("http://192.168.100.200:8930/?t=012345678", {.width = 240, .shrinkToFit = true},
                  "address"),
        {"picture", ImageView{ImageData{2, 2, {0, 255, 255, 0}}, 40, 40}}};
    WindowModel model{.title = "Vurin Settings", .width = 560, .height = 600};
    model.header = Card{.blocks = {ControlRowBlock{.controls = header}}};
    model.panes = {Pane{.cards = {Card{.blocks = {ControlRowBlock{.controls = controls}}}}},
                   Pane{.cards = {Card{.blocks = {NoteBlock{.text = "2", .id = "note"}}}}}};
    model.tabs = TabBar{.titles = {"General", "Permissions"},
                        .selected = 1,
                        .onSelect = [&](int i) { record("tab " + std::to_string(i)); }};
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
    EXPECT_EQ(view->selectedTab(), 1);
    view->selectTab(0);
    view->setOn("send", true);
    view->setText("key", "Right Alt");
    view->setText("note", "");
    view->setEnabled("rebuild", false);
    view->setValue("volume", 1.0);
    view->setSelectedIndex("provider", 1);
    view->setSelectedIndex("mic", 1);
    view->setColour("dot", ColourRole::orange);
    view->setImage("picture", std::nullopt);
    settleWidgets();
    EXPECT_EQ(calls, "tab 0 ");  // setters never call actions
    const auto state = [&] {
        return std::to_string(child<SwitchButton>(shown, "send")->isChecked()) +
               child<QLabel>(shown, "key")->text().toStdString() +
               std::to_string(child<QLabel>(shown, "note")->isVisible()) +
               std::to_string(child<QPushButton>(shown, "rebuild")->isEnabled()) +
               std::to_string(child<QSlider>(shown, "volume")->value()) +
               std::to_string(child<QComboBox>(shown, "provider")->currentIndex()) +
               std::to_string(int(child<DotView>(shown, "dot")->colour())) +
               std::to_string(child<PictureView>(shown, "picture")->picture().isNull());
    };
    EXPECT_EQ(state(), "1Right Alt0010001" + std::to_string(int(ColourRole::orange)) + "1");
    child<QLineEdit>(shown, "field")->setText("sk-test");
    EXPECT_EQ(child<QLineEdit>(shown, "field")->echoMode(), QLineEdit::Password);
    child<QPushButton>(shown, "save")->click();
    child<QComboBox>(shown, "provider")->activated(0);  // as choosing an item does
    child<QSlider>(shown, "volume")->setValue(500);     // as letting go at the middle does
    child<SwitchButton>(shown, "send")->click();
    EXPECT_EQ(calls, "tab 0 sk-test 0 0.500000 off ");
    // The wheel changes a pop-up or a slider only once it has the focus; else the pane scrolls.
    for (QWidget* control : {child<QWidget>(shown, "provider"), child<QWidget>(shown, "volume")}) {
        for (const bool focused : {false, true}) {
            if (focused) {
                shown->activateWindow();
                control->setFocus();
                ASSERT_TRUE(eventually([&] { return settleWidgets(), control->hasFocus(); }));
            }
            QWheelEvent wheel({4, 4}, control->mapToGlobal(QPointF(4, 4)), {}, {0, 120},
                              Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(control, &wheel);
        }
    }
    EXPECT_EQ(calls, "tab 0 sk-test 0 0.500000 off 0 0.503000 ");

    // 'd' for dark: window, card, label; restyled as the palette changes, and so is a new window.
    const auto tones = [](QWidget* window) {
        settleWidgets();
        auto* card = window->findChild<CardFrame*>();
        std::string tones;
        for (const QColor& colour :
             {window->palette().color(QPalette::Window),
              card->grab().toImage().pixelColor(4, card->height() / 2),
              child<QLabel>(window, "key")->palette().color(QPalette::WindowText)}) {
            tones += colour.lightness() < 128 ? 'd' : 'l';
        }
        return tones;
    };
    const QPalette light = QApplication::palette();
    EXPECT_EQ(tones(shown), "lld");
    QApplication::setPalette(QPalette(QColor(30, 30, 30)));  // light text on dark grey
    const auto note = Card{.blocks = {NoteBlock{.text = "n", .id = "key"}}};
    const auto opened = QtWindowRenderer().open({.panes = {Pane{.cards = {note}}}});
    EXPECT_EQ(tones(shown) + tones(dynamic_cast<QtWindowView&>(*opened).widget()), "ddlddl");
    QApplication::setPalette(light);
    EXPECT_EQ(tones(shown), "lld");
    child<QPushButton>(shown, "rebuild")->setEnabled(true);
    QPointer<QPushButton> button = child<QPushButton>(shown, "rebuild");
    button->click();
    settleWidgets();
    EXPECT_TRUE(button.isNull());
    view->setText("key", "ignored");  // unknown now: ignored
    shown->close();                   // the window's close button hides it and tells the logic
    view->raise();
    EXPECT_TRUE(shown->isVisible() && calls.ends_with("closed "));
    QPointer<QWidget> closed = shown;
    view->close();
    settleWidgets();
    EXPECT_TRUE(closed.isNull());
}

// The tray item as the desktop's panel drives it over D-Bus: a plain click opens the menu, which
// stays open with its items through a rebuild and shows the new ones once closed.
TEST(WindowsDesktopTest, TrayMenuOpensOnAClickAndOutlivesARebuild) {
    ensureQtApplication();
    QtStatusItem item;
    const auto titled = [](const char* title) { return MenuModel{.items = {{.title = title}}}; };
    const auto shownTitle = [&] { return item.menu().actions().at(0)->text().toStdString(); };
    item.setMenu(titled("Old"));
    QDBusInterface watcher("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                           "org.kde.StatusNotifierWatcher");
    QString service;
    ASSERT_TRUE(eventually([&] {
        settleWidgets();
        for (const QString& id : watcher.property("RegisteredStatusNotifierItems").toStringList()) {
            const QString owner = id.section('/', 0, 0);
            if (QDBusConnection::sessionBus().interface()->servicePid(owner).value() ==
                QCoreApplication::applicationPid()) {
                service = owner;
            }
        }
        return !service.isEmpty();
    }));
    EXPECT_TRUE(item.shownByDesktop());
    auto click = QDBusMessage::createMethodCall(service, "/StatusNotifierItem",
                                                "org.kde.StatusNotifierItem", "Activate");
    QDBusConnection::sessionBus().asyncCall(click << 10 << 10);  // we answer it ourselves
    ASSERT_TRUE(eventually([&] { return settleWidgets(), item.menu().isVisible(); }));
    item.setMenu(titled("New"));
    settleWidgets();
    EXPECT_EQ(shownTitle() + std::to_string(item.menu().isVisible()), "Old1");
    item.menu().hide();
    settleWidgets();
    EXPECT_EQ(shownTitle(), "New");
    // A panel that asks for the layout as if opening, and never says closed, holds it 5 s.
    auto prefetch = QDBusMessage::createMethodCall(service, "/MenuBar", "com.canonical.dbusmenu",
                                                   "AboutToShow");
    const auto asked = QDBusConnection::sessionBus().asyncCall(prefetch << 0);
    ASSERT_TRUE(eventually([&] { return settleWidgets(), asked.isFinished(); }));
    item.setMenu(titled("Newer"));
    EXPECT_EQ((settleWidgets(), shownTitle()), "New");
    EXPECT_TRUE(eventually([&] { return settleWidgets(), shownTitle() == "Newer"; },
                           std::chrono::seconds(8)));
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
    EXPECT_EQ(gnome.desktopName() + kde.desktopName() + bare.desktopName(), "GNOMEKDE Plasma");
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

// A Wayland session: the trigger's shortcuts are the desktop's keyboard settings where it has
// them, else the help page (with the compositor lines); synthetic input is the help page always.
TEST(LinuxDesktopSettingsTest, WaylandOpensShortcutSettingsOrTheHelpPage) {
    using enum SettingsPage;
    const std::string help = "/tmp/help.html";
    const std::tuple<const char*, SettingsPage, Lines> cases[] = {
        {"GNOME", inputMonitoring, {"gnome-control-center", "keyboard"}},
        {"KDE", inputMonitoring, {"systemsettings", "kcm_keys"}},
        {"sway", inputMonitoring, {"xdg-open", help}},
        {"Hyprland", inputMonitoring, {"xdg-open", help}},
        {"GNOME", accessibility, {"xdg-open", help}},
        {"KDE", accessibility, {"xdg-open", help}},
        {"GNOME", microphone, {"gnome-control-center", "sound"}},
        {"sway", microphone, {"pavucontrol", "--tab=4"}}};
    for (const auto& [desktop, page, command] : cases) {
        SCOPED_TRACE(desktop + std::to_string(int(page)));
        LinuxDesktopSettings settings(desktop, [](const std::string&) { return true; }, {});
        settings.setSession(DisplaySession::wayland);
        EXPECT_EQ(settings.command(page, help), command);
    }
}

}  // namespace
}  // namespace vurin::testing
