#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

#include "settings_ui/login_item.h"
#include "support/private_files.h"

namespace vurin::testing {
namespace {

class AutostartIntegration : public ::testing::Test {
  protected:
    void SetUp() override {
        root = std::filesystem::temp_directory_path() / "autostart-test";
        std::filesystem::remove_all(root);
        std::filesystem::create_directories(root);
    }
    void TearDown() override {
        ::chmod(root.c_str(), 0700);
        std::filesystem::remove_all(root);
    }

    std::filesystem::path root;
};

TEST(AutostartFolder, FollowsTheConfigurationFolderRule) {
    EXPECT_EQ(autostartDirFrom("/x/cfg", "/home/a"), "/x/cfg/autostart");
    EXPECT_EQ(autostartDirFrom("relative", "/home/a"), "/home/a/.config/autostart");
    EXPECT_EQ(autostartDirFrom("", "/home/a"), "/home/a/.config/autostart");
}

TEST(DesktopExec, QuotesOnlyWhatNeedsQuoting) {
    EXPECT_EQ(desktopExecArgument("/usr/bin/vurin"), "/usr/bin/vurin");
    EXPECT_EQ(desktopExecArgument("/opt/My Apps/vurin"), "\"/opt/My Apps/vurin\"");
    // Escaped for the Exec quoting (\$, \"), then every backslash doubled for the entry.
    EXPECT_EQ(desktopExecArgument("/o/a$b\"c/v"), "\"/o/a\\\\$b\\\\\"c/v\"");
    EXPECT_EQ(desktopExecArgument("/o/100%/v"), "/o/100%%/v");
    EXPECT_EQ(desktopExecArgument("/o/a\nb"), "\"/o/a\\nb\"");
}

TEST_F(AutostartIntegration, RegisterWritesTheEntryAndUnregisterRemovesIt) {
    XdgAutostartLoginItem item("/opt/My Apps/vurin", root / "autostart");
    EXPECT_EQ(item.status(), LoginItemStatus::notRegistered);
    EXPECT_EQ(item.registerItem(), std::nullopt);
    EXPECT_EQ(item.entryPath(), root / "autostart" / "vurin.desktop");
    EXPECT_EQ(contentOf(item.entryPath()),
              "[Desktop Entry]\nType=Application\nName=Vurin\nComment=Push-to-talk dictation\n"
              "Exec=\"/opt/My Apps/vurin\"\nTerminal=false\nX-GNOME-Autostart-enabled=true\n");
    EXPECT_EQ(item.status(), LoginItemStatus::enabled);
    EXPECT_EQ(item.registerItem(), std::nullopt);  // again: replaced, still one entry
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(root / "autostart"),
                            std::filesystem::directory_iterator()),
              1);

    EXPECT_EQ(item.unregisterItem(), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(item.entryPath()));
    EXPECT_EQ(item.status(), LoginItemStatus::notRegistered);
    EXPECT_EQ(item.unregisterItem(), std::nullopt);  // nothing to remove is fine
}

TEST_F(AutostartIntegration, AnEntryTheDesktopHidIsNotEnabled) {
    XdgAutostartLoginItem item("/usr/bin/vurin", root);
    std::ofstream(item.entryPath()) << "[Desktop Entry]\nExec=vurin\nHidden=true\n";
    EXPECT_EQ(item.status(), LoginItemStatus::notRegistered);
    std::ofstream(item.entryPath()) << "[Desktop Entry]\nX-GNOME-Autostart-enabled=false\r\n";
    EXPECT_EQ(item.status(), LoginItemStatus::notRegistered);
    ASSERT_EQ(item.registerItem(), std::nullopt);
    EXPECT_EQ(item.status(), LoginItemStatus::enabled);
}

TEST_F(AutostartIntegration, FailuresCarryTheSystemDescription) {
    // A file where the autostart folder should be.
    std::ofstream(root / "autostart") << "x";
    XdgAutostartLoginItem blocked("/usr/bin/vurin", root / "autostart");
    const auto error = blocked.registerItem();
    ASSERT_TRUE(error);
    EXPECT_NE(error->find(root.string()), std::string::npos) << *error;

    if (::geteuid() == 0) {
        GTEST_SKIP() << "root ignores folder permissions";
    }
    XdgAutostartLoginItem readOnly("/usr/bin/vurin", root / "ro");
    std::filesystem::create_directories(root / "ro");
    ::chmod((root / "ro").c_str(), 0500);
    const auto denied = readOnly.registerItem();
    ASSERT_TRUE(denied);
    EXPECT_NE(denied->find("Permission denied"), std::string::npos) << *denied;
    ::chmod((root / "ro").c_str(), 0700);
}

TEST(AutostartDefault, StartsThisProgramFromTheConfigurationHomesAutostartFolder) {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    ASSERT_NE(xdg, nullptr);  // the test environment points it at a temporary folder
    XdgAutostartLoginItem item;
    EXPECT_EQ(item.entryPath(), std::filesystem::path(xdg) / "autostart" / "vurin.desktop");
    ASSERT_EQ(item.registerItem(), std::nullopt);
    const auto entry = contentOf(item.entryPath());
    EXPECT_NE(entry.find("Exec=" + std::filesystem::read_symlink("/proc/self/exe").string()),
              std::string::npos)
        << entry;
    EXPECT_EQ(item.unregisterItem(), std::nullopt);
}

}  // namespace
}  // namespace vurin::testing
