#include "support/wayland_session.h"

#include <gtest/gtest.h>

#include "support/testing.h"

// What the Wayland tests stand on (its portal's stand-in: see the GlobalShortcuts portal tests).
namespace vurin::testing {
namespace {

TEST(WaylandSessionTest, BindingsRunOnAVirtualKeyboardsPressAndRelease) {
    std::optional<WaylandSession> session = WaylandSession::join();
    ASSERT_TRUE(session);
    const std::string touch = session->shareExecutable("/usr/bin/touch") + " ";
    const auto folder = session->sharedFolder(), pressed = folder / "F13-pressed",
               released = folder / "F13-released";
    ASSERT_TRUE(session->swaymsg("bindsym F13 exec " + touch + pressed.string()));
    ASSERT_TRUE(session->swaymsg("bindsym --release F13 exec " + touch + released.string()));

    ASSERT_TRUE(session->typeKey("F13", true));
    EXPECT_TRUE(eventually([&] { return std::filesystem::exists(pressed); }));
    EXPECT_FALSE(std::filesystem::exists(released));  // held until typeKey lets go
    ASSERT_TRUE(session->typeKey("F13", false));
    EXPECT_TRUE(eventually([&] { return std::filesystem::exists(released); }));
    EXPECT_TRUE(session->swaymsg("unbindsym F13") && session->swaymsg("unbindsym --release F13"));
}

// The display without data-control: libwayland itself (WAYLAND_DEBUG) hears of the seat but of
// no data-control, and keymaps cross the proxy both ways (sway's to foot, wtype's to sway).
TEST(WaylandSessionTest, WithoutDataControlTheRegistryHidesItAndTypedTextArrives) {
    std::optional<WaylandSession> session = WaylandSession::join();
    ASSERT_TRUE(session);
    ScopedEnvironment environment;
    for (const auto& [name, value] : session->environment(true)) {
        value ? environment.set(name, *value) : environment.unset(name);
    }
    const auto typed = session->sharedFolder() / "typed";
    DesktopProgram foot({"foot", "sh", "-c", "cat > " + typed.string()});
    // Keys reach foot only once its window has the focus.
    ASSERT_TRUE(eventually([&] {
        DesktopProgram enter({"wtype", "-k", "Return"});
        return eventually([&] { return enter.exitStatus() == 0; }) && !readLines(typed).empty();
    }));
    std::string text;
    for (int i = 0; i < 10; ++i) {
        text += "Grüße vom Proxy " + std::to_string(i) + "-9 ";  // 200 characters in all
    }
    // foot may miss a new virtual keyboard's first key or two (on sway itself too): Returns lead.
    DesktopProgram wtype({"sh", "-c",
                          "WAYLAND_DEBUG=1 wtype -k Return -k Return -k Return \"$0\" -k Return "
                          "2>&1 | grep -F '.global(' | "
                          "grep -o -e '\"wl_seat\"' -e '\"[a-z_0-9]*data_control[a-z_0-9]*\"' | "
                          "paste -sd,",
                          text});
    EXPECT_TRUE(wtype.waitForLine("\"wl_seat\""));
    EXPECT_TRUE(eventually([&] { return readLines(typed).back() == text; }));
}

}  // namespace
}  // namespace vurin::testing
