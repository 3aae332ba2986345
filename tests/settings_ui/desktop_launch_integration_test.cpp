#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "settings_ui/desktop_launch.h"
#include "settings_ui/login_item.h"
#include "support/private_files.h"
#include "support/testing.h"

namespace vurin::testing {
namespace {

namespace fs = std::filesystem;

class DesktopLaunchIntegration : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::remove_all(root);
        fs::create_directories(bin);
    }
    void TearDown() override { fs::remove_all(root); }

    // A stand-in program that records its arguments, one a line, and runs `then`.
    void stub(const std::string& name, const std::string& then = "") {
        std::ofstream(bin / name) << "#!/bin/sh\nprintf '%s\\n' \"$@\" >> "
                                  << shellQuote(record.string()) << "\n"
                                  << then << "\n";
        ::chmod((bin / name).c_str(), 0755);
    }
    bool recorded(const std::string& content) const {
        return eventually([&] { return contentOf(record) == content; });
    }

    const fs::path root = fs::temp_directory_path() / "desktop-launch-test";
    const fs::path bin = root / "bin";
    const fs::path record = root / "record";
};

TEST_F(DesktopLaunchIntegration, ExecutablesAreFoundOnlyInAbsoluteSearchFolders) {
    stub("xterm");
    std::ofstream(bin / "plain") << "not executable";
    EXPECT_EQ(findExecutable("xterm", "relative:" + bin.string()), bin / "xterm");
    EXPECT_EQ(findExecutable("plain", bin.string()), std::nullopt);
    EXPECT_EQ(findExecutable("bin", root.string()), std::nullopt);  // a folder
    EXPECT_EQ(findExecutable("../bin/xterm", bin.string()), std::nullopt);
    EXPECT_EQ(findExecutable("xterm", ""), std::nullopt);
}

TEST_F(DesktopLaunchIntegration, ADetachedProgramKeepsNoneOfOurDescriptors) {
    int pipeEnds[2] = {-1, -1};
    ASSERT_EQ(::pipe(pipeEnds), 0);
    const auto marker = root / "started";
    ASSERT_TRUE(spawnDetached({"sh", "-c", "touch " + shellQuote(marker.string()) + "; sleep 2"}));
    ::close(pipeEnds[1]);
    ASSERT_TRUE(eventually([&] { return fs::exists(marker); }));
    pollfd readEnd{pipeEnds[0], POLLIN, 0};
    ASSERT_EQ(::poll(&readEnd, 1, 1000), 1);  // end of file at once, not after the sleep
    char byte = 0;
    EXPECT_EQ(::read(pipeEnds[0], &byte, 1), 0);
    ::close(pipeEnds[0]);
    EXPECT_FALSE(spawnDetached({}));
    EXPECT_FALSE(spawnDetached({"vurin-no-such-program"}));
    EXPECT_FALSE(spawnDetached({(bin / "missing").string()}));
}

TEST_F(DesktopLaunchIntegration, TheFirstTerminalFoundRunsTheCommandLine) {
    EXPECT_FALSE(SpawnTerminalLauncher(bin.string()).runInTerminal("true"));
    stub("xterm");
    stub("x-terminal-emulator", "shift; exec \"$@\"");
    const auto marker = root / "it's here";
    ASSERT_TRUE(
        SpawnTerminalLauncher(bin.string()).runInTerminal("touch " + shellQuote(marker.string())));
    EXPECT_TRUE(recorded("-e\nbash\n-c\ntouch " + shellQuote(marker.string()) + "; exec bash\n"));
    EXPECT_TRUE(eventually([&] { return fs::exists(marker); }));
}

TEST_F(DesktopLaunchIntegration, OnlyWebAddressesReachXdgOpen) {
    stub("xdg-open");
    EXPECT_FALSE(openWebURL("file:///etc/passwd", bin.string()));
    EXPECT_FALSE(openWebURL("javascript:alert(1)", bin.string()));
    EXPECT_FALSE(openWebURL("https://vurin.app/", (root / "none").string()));
    ASSERT_TRUE(openWebURL("https://vurin.app/dl?a=1&b=2", bin.string()));
    EXPECT_TRUE(recorded("https://vurin.app/dl?a=1&b=2\n"));
}

TEST_F(DesktopLaunchIntegration, TheAutostartEntryIsWrittenReplacedAndRemoved) {
    XdgAutostartLoginItem item("/opt/My Apps/vurin", root / "autostart");
    EXPECT_EQ(item.status(), LoginItemStatus::notRegistered);
    EXPECT_EQ(item.registerItem(), std::nullopt);
    EXPECT_EQ(item.registerItem(), std::nullopt);
    EXPECT_EQ(item.entryPath(), root / "autostart" / "vurin.desktop");
    EXPECT_EQ(contentOf(item.entryPath()),
              "[Desktop Entry]\nType=Application\nName=Vurin\nComment=Push-to-talk dictation\n"
              "Exec=\"/opt/My Apps/vurin\"\nTerminal=false\nX-GNOME-Autostart-enabled=true\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(root / "autostart"), {}), 1);
    EXPECT_EQ(item.status(), LoginItemStatus::enabled);
    // An entry the desktop hid is not enabled.
    for (const char* hidden :
         {"Exec=vurin\nHidden=true\n", "X-GNOME-Autostart-enabled=false\r\n"}) {
        std::ofstream(item.entryPath()) << "[Desktop Entry]\n" << hidden;
        EXPECT_EQ(item.status(), LoginItemStatus::notRegistered) << hidden;
    }
    EXPECT_EQ(item.unregisterItem(), std::nullopt);
    EXPECT_FALSE(fs::exists(item.entryPath()));
    EXPECT_EQ(item.status(), LoginItemStatus::notRegistered);
    EXPECT_EQ(item.unregisterItem(), std::nullopt);
    // A file where the folder should be: the error names the path.
    std::ofstream(root / "file") << "x";
    const auto error = XdgAutostartLoginItem("/usr/bin/vurin", root / "file").registerItem();
    EXPECT_NE(error.value_or("").find((root / "file").string()), std::string::npos);
}

TEST(AutostartDefault, StartsThisProgramFromTheConfigurationHomesAutostartFolder) {
    XdgAutostartLoginItem item;
    EXPECT_EQ(item.entryPath(),
              fs::path(std::getenv("XDG_CONFIG_HOME")) / "autostart" / "vurin.desktop");
    ASSERT_EQ(item.registerItem(), std::nullopt);
    EXPECT_NE(
        contentOf(item.entryPath()).find("Exec=" + fs::read_symlink("/proc/self/exe").string()),
        std::string::npos);
    EXPECT_EQ(item.unregisterItem(), std::nullopt);
}

}  // namespace
}  // namespace vurin::testing
