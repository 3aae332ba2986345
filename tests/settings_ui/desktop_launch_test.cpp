#include "settings_ui/desktop_launch.h"

#include <gtest/gtest.h>

namespace vurin::testing {
namespace {

TEST(ShellQuote, MakesOneLiteralWord) {
    EXPECT_EQ(shellQuote("plain"), "'plain'");
    EXPECT_EQ(shellQuote(""), "''");
    EXPECT_EQ(shellQuote("it's"), "'it'\\''s'");
    EXPECT_EQ(shellQuote("$(x) `y` \"z\" \\"), "'$(x) `y` \"z\" \\'");
}

TEST(WebURL, OnlyAbsoluteHttpAndHttpsWithAHost) {
    for (const char* url : {"https://vurin.app/", "http://vurin.app/dl?x=1", "HTTPS://Vurin.app"}) {
        EXPECT_TRUE(isWebURL(url)) << url;
    }
    for (const char* url : {"file:///etc/passwd", "javascript:alert(1)", "", "vurin.app/dl",
                            "https://", "ftp://vurin.app/", "https://vurin.app/a b",
                            "data:text/html,hi", "//vurin.app/x", "https://vurin.app/\n--x"}) {
        EXPECT_FALSE(isWebURL(url)) << url;
    }
}

TEST(TerminalArguments, EachTerminalGetsTheCommandInBash) {
    EXPECT_EQ(
        SpawnTerminalLauncher::terminalArguments("/usr/bin/xterm", "bash '/a b'"),
        (std::vector<std::string>{"/usr/bin/xterm", "-e", "bash", "-c", "bash '/a b'; exec bash"}));
    EXPECT_EQ(
        SpawnTerminalLauncher::terminalArguments("/usr/bin/gnome-terminal", "c"),
        (std::vector<std::string>{"/usr/bin/gnome-terminal", "--", "bash", "-c", "c; exec bash"}));
}

}  // namespace
}  // namespace vurin::testing
