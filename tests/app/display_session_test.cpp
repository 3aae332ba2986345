#include "app/display_session.h"

#include <gtest/gtest.h>

#include <algorithm>
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

TEST(DisplaySessionTest, TheSessionOptionIsTakenOutOfTheCommandLine) {
    const SessionOption usage = std::string("usage: vurin [--session x11|wayland]");
    const std::tuple<std::vector<std::string>, SessionOption, std::vector<std::string>> rows[] = {
        {{"vurin", "-v", "--session", "wayland", "x"}, wayland, {"vurin", "-v", "x"}},
        {{"vurin", "--session=x11", "y"}, x11, {"vurin", "y"}},
        {{"vurin", "-v", "--session"}, usage, {"vurin", "-v", "--session"}},
        {{"vurin", "--session", "bogus", "y"}, usage, {"vurin", "--session", "bogus", "y"}}};
    for (auto [args, expected, kept] : rows) {
        SCOPED_TRACE(::testing::PrintToString(args));
        std::vector<char*> argv(args.size() + 1);
        std::ranges::transform(args, argv.begin(), [](std::string& text) { return text.data(); });
        int argc = int(args.size());
        EXPECT_EQ(takeSessionOption(argc, argv.data()), expected);
        EXPECT_EQ(std::vector<std::string>(argv.begin(), argv.begin() + argc), kept);
        EXPECT_EQ(argv[argc], nullptr);
    }
}

}  // namespace
}  // namespace vurin::testing
