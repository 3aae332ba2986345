#include "platform/display_session.h"

#include <gtest/gtest.h>

#include <tuple>

namespace vurin::testing {
namespace {

using enum DisplaySession;

// XWayland's DISPLAY in a Wayland session does not make it an X11 one; a forwarded one does.
TEST(DisplaySessionTest, TheOptionWinsThenTheSessionTypeThenACompositorNamed) {
    const std::tuple<SessionEnvironment, std::optional<DisplaySession>, DisplaySession> rows[] = {
        {{"w-0", "wayland", ":0"}, x11, x11}, {{"w-0", "wayland", ":0"}, {}, wayland},
        {{{}, "wayland", "h:10"}, {}, x11},   {{{}, "wayland", {}}, {}, wayland},
        {{"w-0", "x11", ":0"}, {}, x11},      {{"w-0", {}, ":0"}, {}, wayland}};
    for (const auto& row : rows) {
        SCOPED_TRACE(&row - rows);
        EXPECT_EQ(chooseDisplaySession(std::get<0>(row), std::get<1>(row)), std::get<2>(row));
    }
}

}  // namespace
}  // namespace vurin::testing
