#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "settings_ui/desktop_launch.h"
#include "settings_ui/local_models_installer.h"
#include "settings_ui/login_item.h"
#include "settings_ui/update_checker.h"
#include "support/private_files.h"
#include "support/stand_in_http_server.h"
#include "support/testing.h"
#include "support/virtual_main_queue.h"

namespace vurin::testing {
namespace {

namespace fs = std::filesystem;

// Stand-in programs in a folder of their own; "STATE" in a body is the folder they share.
class Programs : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::remove_all(root);
        fs::create_directories(bin);
        fs::create_directories(state);
    }
    void TearDown() override { fs::remove_all(root); }
    void stub(const std::string& name, std::string body) {
        for (auto at = body.find("STATE"); at != std::string::npos; at = body.find("STATE")) {
            body.replace(at, 5, state.string());
        }
        std::ofstream(bin / name) << "#!/bin/sh\n" << body << "\n";
        ::chmod((bin / name).c_str(), 0755);
    }
    void recorder(const std::string& name) { stub(name, "printf '%s\\n' \"$@\" >> STATE/" + name); }

    const fs::path root = fs::temp_directory_path() / "settings-ui-programs";
    const fs::path bin = root / "bin", state = root / "state";
};

// Started detached, a program keeps none of our descriptors; the first terminal found runs.
TEST_F(Programs, TerminalsAndTheBrowserAreFoundAndStarted) {
    int pipeEnds[2] = {-1, -1};
    ASSERT_EQ(::pipe(pipeEnds), 0);
    ASSERT_TRUE(spawnDetached({"sh", "-c", "touch " + (state / "up").string() + "; sleep 2"}));
    ::close(pipeEnds[1]);
    ASSERT_TRUE(eventually([&] { return fs::exists(state / "up"); }));
    pollfd readEnd{pipeEnds[0], POLLIN, 0};
    ASSERT_EQ(::poll(&readEnd, 1, 1000), 1);  // end of file at once, not after the sleep
    char byte = 0;
    EXPECT_EQ(::read(pipeEnds[0], &byte, 1), 0);
    ::close(pipeEnds[0]);
    EXPECT_FALSE(spawnDetached({}) || spawnDetached({"vurin-no-such-program"}));
    EXPECT_FALSE(SpawnTerminalLauncher(bin.string()).runInTerminal("true"));
    recorder("xterm");
    std::ofstream(bin / "plain") << "not executable";
    EXPECT_EQ(findExecutable("xterm", "relative:" + bin.string()), bin / "xterm");
    EXPECT_FALSE(findExecutable("plain", bin.string()) || findExecutable("bin", root.string()) ||
                 findExecutable("../bin/xterm", bin.string()) || findExecutable("xterm", ""));
    stub("x-terminal-emulator", "shift; exec \"$@\"");
    const std::string touch = "touch " + shellQuote((state / "it's here").string());
    ASSERT_TRUE(SpawnTerminalLauncher(bin.string()).runInTerminal(touch));
    EXPECT_TRUE(eventually([&] { return fs::exists(state / "it's here"); }));
    EXPECT_FALSE(fs::exists(state / "xterm"));
    recorder("xdg-open");
    EXPECT_FALSE(openWebURL("file:///etc/passwd", bin.string()));
    EXPECT_FALSE(openWebURL("https://vurin.app/", (root / "none").string()));
    ASSERT_TRUE(openWebURL("https://vurin.app/dl?a=1&b=2", bin.string()));
    EXPECT_TRUE(eventually(
        [&] { return contentOf(state / "xdg-open") == "https://vurin.app/dl?a=1&b=2\n"; }));
}

TEST_F(Programs, TheAutostartEntryIsWrittenReplacedAndRemoved) {
    XdgAutostartLoginItem item("/opt/My 100% Apps/vurin", root / "autostart");
    EXPECT_EQ(item.status(), LoginItemStatus::notRegistered);
    EXPECT_EQ(item.registerItem(), std::nullopt);
    EXPECT_EQ(contentOf(item.entryPath()),
              "[Desktop Entry]\nType=Application\nName=Vurin\nComment=Push-to-talk dictation\n"
              "Icon=com.vurin.app\nTryExec=/opt/My 100% Apps/vurin\n"
              "Exec=\"/opt/My 100%% Apps/vurin\" --autostart\nTerminal=false\n"
              "X-GNOME-Autostart-enabled=true\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(root / "autostart"), {}), 1);
    EXPECT_EQ(item.status(), LoginItemStatus::enabled);
    for (const char* hidden : {"Hidden=true\n", "X-GNOME-Autostart-enabled=false\r\n"}) {
        std::ofstream(item.entryPath()) << "[Desktop Entry]\n" << hidden;
        EXPECT_EQ(item.status(), LoginItemStatus::notRegistered) << hidden;
    }
    EXPECT_EQ(item.unregisterItem(), std::nullopt);
    EXPECT_FALSE(fs::exists(item.entryPath()));
    // An entry under the former name that a build tree wrote: renamed, and the installed one's.
    fs::create_directories(root / "build");
    for (const char* file : {"build/CMakeCache.txt", "build/vurin", "bin/vurin"}) {
        std::ofstream(root / file) << "";
    }
    std::ofstream(root / "autostart/vurin.desktop") << autostartDesktopEntry(root / "build/vurin");
    XdgAutostartLoginItem(root / "bin/vurin", root / "autostart").updateAtStart();
    EXPECT_EQ(contentOf(item.entryPath()), autostartDesktopEntry(root / "bin/vurin"));
    EXPECT_EQ(std::distance(fs::directory_iterator(root / "autostart"), {}), 1);
    std::ofstream(root / "file") << "x";  // a file where the folder should be
    const auto error = XdgAutostartLoginItem("/v", root / "file").registerItem();
    EXPECT_NE(error.value_or("").find((root / "file").string()), std::string::npos);
}

// One check against a stand-in feed; the result counts only when it arrives on the main queue.
UpdateCheckResult check(const std::string& feed, double timeout = 8.0) {
    auto queue = std::make_shared<VirtualMainQueue>();
    UpdateChecker checker(queue, feed, "1.2");
    std::optional<UpdateCheckResult> result;
    checker.check(
        [&](const UpdateCheckResult& value) {
            result = queue->isMainThread() ? std::optional(value) : std::nullopt;
        },
        timeout);
    EXPECT_TRUE(eventually([&] {
        queue->runPending();
        return result.has_value();
    }));
    return result.value_or(UpdateCheckError::parse);
}

TEST(UpdateCheckerIntegration, OnlyA2xxBodyIsReadAndNoAnswerIsANetworkFailure) {
    StandInHttpServer server;
    std::atomic<int> status = 200;
    server.route("/version.json", [&](const httplib::Request&, httplib::Response& response) {
        response.status = status;
        response.set_content(R"({"version":"1.10","url":"https://vurin.app/dl"})", "text/json");
    });
    EXPECT_EQ(
        check(server.url("/version.json")),
        UpdateCheckResult(UpdateInfo{
            .latest = "1.10", .current = "1.2", .url = "https://vurin.app/dl", .isNewer = true}));
    status = 404;
    EXPECT_EQ(check(server.url("/version.json")), UpdateCheckResult(UpdateCheckError::network));
    SilentListener silent;
    for (const std::string& feed : {silent.url("/v"), std::string("not a url"),
                                    "http://127.0.0.1:" + std::to_string(refusingPort()) + "/v"}) {
        EXPECT_EQ(check(feed, 0.3), UpdateCheckResult(UpdateCheckError::network)) << feed;
    }
}

// The installer, against stand-ins of every program that could download or install anything.
TEST_F(Programs, TheInstallerPassesShellcheckAndInstallsOnlyWhatIsMissing) {
    if (findExecutable("whisper-server", "/usr/local/bin:/usr/bin") ||
        findExecutable("ollama", "/usr/local/bin:/usr/bin")) {
        GTEST_SKIP() << "real local components are installed on this machine";
    }
    const auto script = (root / "install.sh").string(), out = (root / "out").string();
    std::ofstream(script) << localModelsInstallerScript();
    ASSERT_TRUE(findExecutable("shellcheck", "/usr/bin:/usr/local/bin"));  // scripts/install-deps
    EXPECT_EQ(std::system(("shellcheck " + script).c_str()), 0);
    stub("whisper-server", "");
    stub("curl", R"SH(echo "$*" >> STATE/curl
for a in "$@"; do [ "$prev" = "-o" ] && truncate -s 1000000000 "$a"; prev="$a"; done; exit 0)SH");
    stub("ollama",
         "echo \"$*\" >> STATE/ollama; [ \"$1\" = pull ] && echo qwen2.5:7b > STATE/qwen;"
         "[ \"$1\" = list ] && echo NAME && cat STATE/qwen; exit 0");
    const auto model = root / "home/.config/vurin/models/ggml-large-v3-turbo.bin";
    const std::string run = "env -i HOME=" + (root / "home").string() + " PATH=" + bin.string() +
                            ":/usr/bin:/bin bash " + script + " >" + out + " 2>&1";
    EXPECT_EQ(std::system(run.c_str()), 0);
    EXPECT_EQ(contentOf(out),
              "=== Vurin 本地组件安装(按缺失项安装,请保持联网)===\n▸ 下载语音模型(约 "
              "1.5GB,支持断点续传)…\n▸ 拉取润色模型 qwen2.5:7b…\n\n✅ 完成!Vurin "
              "会自动发现并启动本地组件,无需重启。\n");
    EXPECT_EQ(fs::file_size(model), 1000000000U);
    EXPECT_EQ(contentOf(state / "ollama"), "list\npull qwen2.5:7b\n");
    EXPECT_EQ(std::system(run.c_str()), 0);  // now everything is there
    EXPECT_EQ(contentOf(out).substr(contentOf(out).find('\n') + 1), "✅ 本地组件已就绪,无需安装\n");
    EXPECT_NE(contentOf(state / "curl")
                  .find("-o " + model.string() +
                        ".part https://huggingface.co/"
                        "ggerganov/whisper.cpp/resolve/main/ggml-large-v3-turbo.bin"),
              std::string::npos);
}

}  // namespace
}  // namespace vurin::testing
