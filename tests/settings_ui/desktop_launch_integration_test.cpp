#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "settings_ui/desktop_launch.h"
#include "settings_ui/local_models_installer.h"
#include "support/private_files.h"

namespace vurin::testing {
namespace {

using namespace std::chrono_literals;

class DesktopLaunchIntegration : public ::testing::Test {
  protected:
    void SetUp() override {
        root = std::filesystem::temp_directory_path() / "desktop-launch-test";
        std::filesystem::remove_all(root);
        std::filesystem::create_directories(root / "bin");
    }
    void TearDown() override { std::filesystem::remove_all(root); }

    // A stand-in terminal called `name` that records its arguments and runs what follows
    // its command option, as a terminal would.
    void stubTerminal(const std::string& name) {
        const auto path = root / "bin" / name;
        std::ofstream(path) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > "
                            << shellQuote(record().string()) << "\nshift\nexec \"$@\"\n";
        ::chmod(path.c_str(), 0755);
    }
    std::filesystem::path record() const { return root / "record"; }

    static bool waitFor(const std::filesystem::path& file) {
        for (int i = 0; i < 400 && !std::filesystem::exists(file); ++i) {
            std::this_thread::sleep_for(5ms);
        }
        return std::filesystem::exists(file);
    }

    static bool waitForContent(const std::filesystem::path& file) {
        for (int i = 0; i < 400 && contentOf(file).empty(); ++i) {
            std::this_thread::sleep_for(5ms);
        }
        return !contentOf(file).empty();
    }

    std::filesystem::path root;
};

TEST_F(DesktopLaunchIntegration, FindsExecutablesOnlyInAbsoluteSearchFolders) {
    stubTerminal("xterm");
    std::ofstream(root / "bin" / "plain") << "not executable";
    const std::string bin = (root / "bin").string();
    EXPECT_EQ(findExecutable("xterm", "relative:" + bin), root / "bin" / "xterm");
    EXPECT_EQ(findExecutable("plain", bin), std::nullopt);
    EXPECT_EQ(findExecutable("bin", root.string()), std::nullopt);  // a folder
    EXPECT_EQ(findExecutable("../bin/xterm", bin), std::nullopt);
    EXPECT_EQ(findExecutable("xterm", ""), std::nullopt);
}

TEST_F(DesktopLaunchIntegration, SpawnDetachedFindsNamesOnThePathAndLeavesOurDescriptors) {
    // A pipe whose write end we would leak: the started program must not hold it open.
    int pipeEnds[2] = {-1, -1};
    ASSERT_EQ(::pipe(pipeEnds), 0);
    const auto marker = root / "started";
    ASSERT_TRUE(spawnDetached({"sh", "-c", "touch " + shellQuote(marker.string()) + "; sleep 2"}));
    ::close(pipeEnds[1]);
    ASSERT_TRUE(waitFor(marker));
    pollfd readEnd{pipeEnds[0], POLLIN, 0};
    ASSERT_EQ(::poll(&readEnd, 1, 1000), 1);  // end of file at once, not after the sleep
    char byte = 0;
    EXPECT_EQ(::read(pipeEnds[0], &byte, 1), 0);
    ::close(pipeEnds[0]);

    EXPECT_FALSE(spawnDetached({}));
    EXPECT_FALSE(spawnDetached({"vurin-no-such-program"}));
    EXPECT_FALSE(spawnDetached({(root / "bin" / "missing").string()}));
}

TEST_F(DesktopLaunchIntegration, TheFirstTerminalRunsTheCommandLine) {
    stubTerminal("xterm");
    stubTerminal("x-terminal-emulator");
    const auto marker = root / "it's here";
    SpawnTerminalLauncher launcher((root / "bin").string());
    ASSERT_TRUE(launcher.runInTerminal("touch " + shellQuote(marker.string())));
    ASSERT_TRUE(waitFor(marker));
    ASSERT_TRUE(waitForContent(record()));
    EXPECT_EQ(contentOf(record()),
              "-e\nbash\n-c\ntouch " + shellQuote(marker.string()) + "; exec bash\n");
}

TEST_F(DesktopLaunchIntegration, NoTerminalMeansFailure) {
    SpawnTerminalLauncher launcher((root / "bin").string());
    EXPECT_FALSE(launcher.runInTerminal("true"));
}

TEST_F(DesktopLaunchIntegration, InstallCommandSurvivesAHostileFolderName) {
    const auto folder = root / "o'brien'; touch pwned; '$(touch pwned2)";
    std::filesystem::create_directories(folder);
    const auto script = folder / "install-local-models.sh";
    std::ofstream(script) << "touch " << shellQuote((root / "ran").string()) << "\n";
    const auto command = localModelsInstallCommand(script);
    const std::string inRoot = "cd " + shellQuote(root.string()) + " && ";
    EXPECT_EQ(std::system((inRoot + command).c_str()), 0);
    EXPECT_TRUE(std::filesystem::exists(root / "ran"));
    EXPECT_FALSE(std::filesystem::exists(root / "pwned"));
    EXPECT_FALSE(std::filesystem::exists(root / "pwned2"));
}

TEST_F(DesktopLaunchIntegration, OpenWebURLRefusesOtherSchemesAndUsesXdgOpen) {
    const auto opener = root / "bin" / "xdg-open";
    std::ofstream(opener) << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> " << shellQuote(record().string())
                          << "\n";
    ::chmod(opener.c_str(), 0755);
    const std::string bin = (root / "bin").string();
    EXPECT_FALSE(openWebURL("file:///etc/passwd", bin));
    EXPECT_FALSE(openWebURL("javascript:alert(1)", bin));
    ASSERT_TRUE(openWebURL("https://vurin.app/dl?a=1&b=2", bin));
    ASSERT_TRUE(waitForContent(record()));
    EXPECT_EQ(contentOf(record()), "https://vurin.app/dl?a=1&b=2\n");
    EXPECT_FALSE(openWebURL("https://vurin.app/", (root / "none").string()));
}

}  // namespace
}  // namespace vurin::testing
