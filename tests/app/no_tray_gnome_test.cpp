// The real executable on GNOME Shell 43, which has no tray: the window carries what the tray menu
// would, and a start at login stays out of the way.
#include <gtest/gtest.h>

#include "support/gnome_session.h"
#include "support/vurin_under_test.h"

namespace vurin::testing {
namespace {

// The real Vurin in a home of its own, on the GNOME session.
class GnomeNoTrayTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(gnome.joined()) << "no GNOME session (scripts/test-session start DIR gnome)";
    }

    GnomeSession gnome;
    ScratchFolder folder;
    ScopedEnvironment environment;
    VurinUnderTest vurin{folder / "", environment};
};

// The windows GNOME Shell shows, each by its title and class (app id).
std::string windowClasses() {
    return GnomeSession::eval(
               "global.get_window_actors().map(a => a.meta_window.get_title() + "
               "' ' + a.meta_window.get_wm_class()).join(', ')")
        .value_or("?");
}

// A start the user made opens the window, whose Quit (pressed as a screen reader does) ends
// Vurin cleanly; a start at login opens nothing and asks the desktop to let it run in the
// background.
TEST_F(GnomeNoTrayTest, AStartOpensTheWindowWithQuitAndALoginStartOpensNothing) {
    // Qt 6.4 joins the accessibility bus only when asked through the session bus.
    environment.set("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    environment.unset("AT_SPI_BUS_ADDRESS");
    const auto scope = DesktopSession::inAppScope("com.vurin.app", {});

    ASSERT_TRUE(vurin.launch({}, scope));
    ASSERT_TRUE(vurin.waitFor("已打开设置窗口") && vurin.waitFor("👂 Vurin 就绪")) << vurin.log();
    EXPECT_NE(windowClasses().find("urin"), std::string::npos) << windowClasses();
    ASSERT_TRUE(
        runToEnd({VURIN_SESSION_SCRIPTS "/accessibility", "press", "Vurin", "20", "Quit Vurin"},
                 std::chrono::seconds(25)));
    EXPECT_EQ(vurin.terminate(), 0) << vurin.log();

    ASSERT_TRUE(vurin.launch({"--autostart"}, scope));
    ASSERT_TRUE(
        vurin.waitFor("🪟 桌面没有系统托盘:Vurin 在后台运行,不打开窗口"))
        << vurin.log();
    EXPECT_TRUE(vurin.waitFor("✅ 桌面已允许 Vurin 在后台运行")) << vurin.log();
    EXPECT_TRUE(vurin.waitFor("👂 Vurin 就绪")) << vurin.log();
    EXPECT_EQ(windowClasses().find("urin"), std::string::npos) << windowClasses();
    EXPECT_EQ(vurin.terminate(), 0) << vurin.log();
}

// A token the shell hands a program it launches now, as its app grid does at a click (the
// launcher's XDG_ACTIVATION_TOKEN); empty when it gave none.
std::string launchToken() {
    const std::string token =
        GnomeSession::eval(
            "global.create_app_launch_context(global.display.get_current_time_roundtrip(), "
            "-1).get_startup_notify_id("
            "imports.gi.Gio.AppInfo.create_from_commandline('vurin', 'Vurin', "
            "imports.gi.Gio.AppInfoCreateFlags.SUPPORTS_STARTUP_NOTIFICATION), [])")
            .value_or("");
    return token.size() > 2 ? token.substr(1, token.size() - 2) : "";
}

std::string focusedWindow() {
    return GnomeSession::eval("global.display.get_focus_window()?.get_title() ?? 'none'")
        .value_or("?");
}

// With the user in their program, a second start the shell launched brings Vurin's window
// forward with the launcher's token, and one without a token (a terminal's `vurin`) leaves the
// focus where it is.
TEST_F(GnomeNoTrayTest, ASecondStartBringsTheWindowForwardOnlyWithTheLaunchersToken) {
    ASSERT_TRUE(vurin.launch({"--autostart"}, DesktopSession::inAppScope("com.vurin.app", {})));
    ASSERT_TRUE(vurin.waitFor("👂 Vurin 就绪")) << vurin.log();
    // Mutter focuses a window as it first maps: the window is there before the starts below.
    EXPECT_EQ(vurin.run("").first, 0);
    ASSERT_TRUE(vurin.waitFor("(没有激活令牌)")) << vurin.log();
    EXPECT_TRUE(eventually([] { return focusedWindow().find("Vurin") != std::string::npos; }));
    const auto field = gnome.gtkField("");
    ASSERT_TRUE(field && gnome.activate(field->pid()));
    const std::string user = focusedWindow();

    const std::string token = launchToken();
    ASSERT_FALSE(token.empty());
    environment.set("XDG_ACTIVATION_TOKEN", token);
    EXPECT_EQ(vurin.run("").first, 0);
    ASSERT_TRUE(vurin.waitFor("(带激活令牌)")) << vurin.log();
    EXPECT_TRUE(eventually([] { return focusedWindow().find("Vurin") != std::string::npos; }))
        << focusedWindow();

    ASSERT_TRUE(gnome.activate(field->pid()));
    environment.unset("XDG_ACTIVATION_TOKEN");
    EXPECT_EQ(vurin.run("").first, 0);
    ASSERT_TRUE(vurin.waitFor("(没有激活令牌)", 2)) << vurin.log();
    EXPECT_FALSE(eventually([] { return focusedWindow().find("Vurin") != std::string::npos; },
                            std::chrono::seconds(1)));
    EXPECT_EQ(focusedWindow(), user);
    EXPECT_EQ(vurin.terminate(), 0) << vurin.log();
}

}  // namespace
}  // namespace vurin::testing
