#include "settings_ui/desktop_launch.h"

#include <gtest/gtest.h>

#include "settings_ui/local_models_installer.h"
#include "settings_ui/login_item.h"
#include "settings_ui/settings_controller.h"

namespace vurin::testing {
namespace {

// Each text becomes one word of a shell command line, or of an autostart entry's Exec line.
TEST(Quoting, NoCharacterEndsTheWord) {
    const std::pair<std::string, std::string> shell[] = {
        {"plain", "'plain'"},
        {"", "''"},
        {"it's", "'it'\\''s'"},
        {"$(x) `y` \"z\" \\", "'$(x) `y` \"z\" \\'"},
    };
    for (const auto& [text, quoted] : shell) {
        EXPECT_EQ(shellQuote(text), quoted);
    }
    EXPECT_EQ(localModelsInstallCommand("/h/a';rm -rf ~;'/x.sh"),
              "bash '/h/a'\\'';rm -rf ~;'\\''/x.sh'");
    const std::pair<std::string, std::string> exec[] = {
        {"/usr/bin/vurin", "/usr/bin/vurin"},
        {"/opt/My Apps/vurin", "\"/opt/My Apps/vurin\""},
        // Escaped for the Exec quoting (\$, \"), then every backslash doubled for the entry.
        {"/o/a$b\"c/v", "\"/o/a\\\\$b\\\\\"c/v\""},
        {"/o/100%/v", "/o/100%%/v"},
        {"/o/a\nb", "\"/o/a\\nb\""},
    };
    for (const auto& [path, argument] : exec) {
        EXPECT_EQ(desktopExecArgument(path), argument);
    }
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

TEST(DesktopPaths, TerminalsAutostartFolderAndSupportMail) {
    EXPECT_EQ(
        SpawnTerminalLauncher::terminalArguments("/usr/bin/xterm", "bash '/a b'"),
        (std::vector<std::string>{"/usr/bin/xterm", "-e", "bash", "-c", "bash '/a b'; exec bash"}));
    EXPECT_EQ(
        SpawnTerminalLauncher::terminalArguments("/usr/bin/gnome-terminal", "c"),
        (std::vector<std::string>{"/usr/bin/gnome-terminal", "--", "bash", "-c", "c; exec bash"}));
    EXPECT_EQ(autostartDirFrom("/x/cfg", "/home/a"), "/x/cfg/autostart");
    EXPECT_EQ(autostartDirFrom("relative", "/home/a"), "/home/a/.config/autostart");
    EXPECT_EQ(autostartDirFrom("", "/home/a"), "/home/a/.config/autostart");
    EXPECT_EQ(
        supportMailURL("1.2", "34", "6.1.0", "x86_64"),
        "https://mail.google.com/mail/?view=cm&fs=1&to=support%40vurin.app&su=Vurin+1.2+"
        "%e2%80%94+Support&body=%0a%0a%e2%80%94%e2%80%94%e2%80%94%e2%80%94%0aApp%3a+Vurin+1.2+"
        "%2834%29%0aLinux%3a+6.1.0++%c2%b7++x86_64");
    // A value with & or = cannot add query items of its own.
    EXPECT_NE(supportMailURL("1&to=evil@x", "b", "1", "a")->find("su=Vurin+1%26to%3devil%40x"),
              std::string::npos);
}

}  // namespace
}  // namespace vurin::testing
