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

}  // namespace
}  // namespace vurin::testing
