// The real executable on the X11 session (openbox, a tray): a second start hands its startup id
// to the running Vurin, which brings its window forward with it.
#include <gtest/gtest.h>

#include <chrono>

#include "injection/desktop_apps.h"
#include "support/vurin_under_test.h"

namespace vurin::testing {
namespace {

// The window the window manager has made active, by its title.
std::string activeWindow(const ScratchFolder& folder) {
    const auto answer = folder / "active";
    const std::string command = "xdotool getactivewindow getwindowname >'" + answer.string() + "'";
    return std::system(command.c_str()) == 0 ? contentOf(answer) : "?";
}

bool vurinActive(const ScratchFolder& folder) {
    return activeWindow(folder).find("Vurin") != std::string::npos;
}

// With the user in their program, a start without a startup id (a terminal's `vurin`) shows the
// window and leaves the keyboard there; a start a launcher announced (its click later than any
// input so far) brings the window forward.
TEST(SecondStartTest, OnlyTheLaunchersStartupIdBringsTheWindowForward) {
    ScratchFolder folder;
    ScopedEnvironment environment;
    VurinUnderTest vurin(folder / "", environment);
    ASSERT_TRUE(vurin.launch());
    ASSERT_TRUE(vurin.waitFor("👂 Vurin 就绪")) << vurin.log();
    auto field = startGtkEntries(folder, {""});
    ASSERT_TRUE(field);
    ASSERT_TRUE(eventually([&] { return activeWindow(folder) != "?"; }));
    const std::string user = activeWindow(folder);

    for (int time = 1; time <= 2; ++time) {  // as the window opens, and once it is open
        EXPECT_EQ(vurin.run("").first, 0);
        ASSERT_TRUE(vurin.waitFor("(没有激活令牌)", time)) << vurin.log();
        EXPECT_FALSE(eventually([&] { return vurinActive(folder); }, std::chrono::seconds(1)));
        EXPECT_EQ(activeWindow(folder), user);
    }

    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto click = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
    environment.set("DESKTOP_STARTUP_ID", "launcher-1_TIME" + std::to_string(click & 0x7fffffff));
    EXPECT_EQ(vurin.run("").first, 0);
    ASSERT_TRUE(vurin.waitFor("(带激活令牌)")) << vurin.log();
    EXPECT_TRUE(eventually([&] { return vurinActive(folder); })) << activeWindow(folder);
    EXPECT_EQ(vurin.terminate(), 0) << vurin.log();
}

}  // namespace
}  // namespace vurin::testing
