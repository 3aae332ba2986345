#include "app/application_options.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

namespace vurin::testing {
namespace {

using enum DisplaySession;

// The application's options are taken out of the command line; the toolkit's stay.
TEST(ApplicationOptionsTest, AreTakenOutOfTheCommandLine) {
    using Parsed = ParsedApplicationOptions;
    const Parsed usage = std::string("usage: vurin [--session x11|wayland] [--autostart]");
    const auto options = [](std::optional<DisplaySession> session, bool autostart) {
        return Parsed(ApplicationOptions{session, autostart});
    };
    const std::tuple<std::vector<std::string>, Parsed, std::vector<std::string>> rows[] = {
        {{"vurin", "-v", "--session", "wayland", "x"},
         options(wayland, false),
         {"vurin", "-v", "x"}},
        {{"vurin", "--session=x11", "y"}, options(x11, false), {"vurin", "y"}},
        {{"vurin", "--autostart", "-platform", "xcb"},
         options({}, true),
         {"vurin", "-platform", "xcb"}},
        {{"vurin", "-v", "--session"}, usage, {"vurin", "-v", "--session"}},
        {{"vurin", "--session", "bogus", "y"}, usage, {"vurin", "--session", "bogus", "y"}}};
    for (auto [args, expected, kept] : rows) {
        SCOPED_TRACE(::testing::PrintToString(args));
        std::vector<char*> argv(args.size() + 1);
        std::ranges::transform(args, argv.begin(), [](std::string& text) { return text.data(); });
        int argc = int(args.size());
        EXPECT_EQ(takeApplicationOptions(argc, argv.data()), expected);
        EXPECT_EQ(std::vector<std::string>(argv.begin(), argv.begin() + argc), kept);
        EXPECT_EQ(argv[argc], nullptr);
    }
}

}  // namespace
}  // namespace vurin::testing
