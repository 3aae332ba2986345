// Local programs on real processes and folders: ChildProcess (launch errors, what a child starts
// with, termination, children that do not outlive a Vurin that dies), the executable search and
// the ollama manifest tree.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstring>

#include "local_services/child_process.h"
#include "local_services/local_executables.h"
#include "local_services/service_constants.h"
#include "support/local_service_stand_ins.h"

namespace vurin::testing {
namespace {

namespace fs = std::filesystem;
using fs::perms;

TEST(ChildProcess, OneThatCannotRunSaysWhyAndDropsItsHandlerAndNoneRunsTwice) {
    auto handler = std::make_shared<int>();
    const std::weak_ptr<int> held = handler;
    auto missing = ChildProcess::create("/nonexistent/whisper-server", {});
    missing->setTerminationHandler([handler = std::exchange(handler, nullptr)] {});
    EXPECT_EQ(missing->launch(), std::string(std::strerror(ENOENT)));
    EXPECT_EQ(missing->processIdentifier(), -1);
    EXPECT_TRUE(held.expired()) << "the handler can never run";
    EXPECT_EQ(missing->launch(), std::string(std::strerror(EALREADY)));
}

TEST(ChildProcess, StartsWithNullStreamsDefaultSignalsAndNoInheritedDescriptors) {
    // Above what the program opens while it loads; not close-on-exec.
    const int opened = ::open("/dev/zero", O_RDONLY);
    const int leaky = ::fcntl(opened, F_DUPFD, 200);
    ::close(opened);
    ASSERT_GE(leaky, 200);
    const auto previous = std::signal(SIGPIPE, SIG_IGN);  // as Vurin does
    std::atomic<bool> handled = false;
    auto child = ChildProcess::create("/bin/sleep", {"5"});
    child->setTerminationHandler([&] { handled = true; });
    ASSERT_EQ(child->launch(), std::nullopt);
    std::signal(SIGPIPE, previous);
    ::close(leaky);
    const auto proc = "/proc/" + std::to_string(child->processIdentifier());
    ASSERT_TRUE(eventually([&] {
        std::error_code error;
        return fs::read_symlink(proc + "/exe", error).filename() == "sleep";
    }));
    for (const char* stream : {"/fd/0", "/fd/1", "/fd/2"}) {
        EXPECT_EQ(fs::read_symlink(proc + stream), "/dev/null") << stream;
    }
    EXPECT_FALSE(fs::exists(proc + "/fd/" + std::to_string(leaky)));
    const auto lines = readLines(proc + "/status");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "SigIgn:\t0000000000000000"), lines.end());
    child->removeTerminationHandler();
    child->terminate();
    const int status = child->waitUntilExit();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    child->terminate();  // long gone: no signal to a recycled process id
    EXPECT_TRUE(eventually([] { return zombieChildren().empty(); }));
    EXPECT_FALSE(handled);
}

TEST(ChildProcess, ChildrenDoNotOutliveAVurinThatDies) {
    // The dying copy is this program run again; it finds the report's name in its environment.
    ScopedEnvironment environment;
    if (!std::getenv("VURIN_ORPHAN_REPORT")) {
        environment.set("VURIN_ORPHAN_REPORT", (fs::temp_directory_path() / "orphan").string());
    }
    const fs::path report = std::getenv("VURIN_ORPHAN_REPORT");
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            auto child = ChildProcess::create("/bin/sleep", {"30"});
            std::ofstream(report) << (child->launch() ? -1 : child->processIdentifier());
            std::_Exit(0);  // no shutdown at all, as when Vurin is killed
        },
        ::testing::ExitedWithCode(0), "");
    pid_t orphan = 0;
    std::ifstream(report) >> orphan;
    ASSERT_GT(orphan, 0);
    EXPECT_TRUE(eventually([&] { return !processAlive(orphan); }, std::chrono::seconds(3)))
        << "the sleep outlived the process that launched it";
    if (processAlive(orphan)) {
        ::kill(orphan, SIGKILL);
    }
}

// World-readable, below /tmp, so that an ordinary user can reach it.
class LocalModelChecks : public ::testing::Test {
  protected:
    void TearDown() override {
        std::error_code ignored;
        fs::permissions(manifests, perms::owner_all, ignored);
        fs::permissions(manifests / "locked", perms::owner_all, ignored);
        fs::remove_all(root, ignored);
    }
    // Creates `relative` with `mode` and opens every folder on the way to everybody.
    fs::path touch(const fs::path& relative, perms mode = perms::owner_read | perms::others_read) {
        const auto path = root / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path) << "{}";
        fs::permissions(path, mode);
        for (auto folder = path.parent_path(); folder != root.parent_path();
             folder = folder.parent_path()) {
            fs::permissions(folder, perms::owner_all | perms::others_read | perms::others_exec);
        }
        return path;
    }
    // Permissions do not bind root, so the check runs in a child that has become nobody.
    bool installedAsNobody() const {
        const pid_t child = ::fork();
        if (child == 0) {
            const bool nobody = ::geteuid() != 0 || (::setgid(65534) == 0 && ::setuid(65534) == 0);
            std::_Exit(nobody && localOllamaModelInstalled(ollamaModel, manifests) ? 42 : 0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 42;
    }

    const fs::path root = fs::path("/tmp") / ("vurin-model-checks-" + std::to_string(::getpid()));
    const fs::path manifests = root / "manifests";
};

TEST_F(LocalModelChecks, TheFirstExecutableWinsAndAnyManifestOfTheModelInReadableFolders) {
    touch("first/ollama");                           // not executable: passed over
    fs::create_directories(root / "second/ollama");  // a folder: passed over
    const auto third = touch("third/ollama", perms::owner_all);
    touch("fourth/ollama", perms::owner_all);
    EXPECT_EQ(findExecutableIn({root / "first", root / "second", root / "third", root / "fourth"},
                               "ollama"),
              third);
    EXPECT_EQ(findExecutableIn({root / "first", root / "missing"}, "ollama"), std::nullopt);
    const auto folders = localExecutableFolders();
    EXPECT_EQ(folders, (std::vector<fs::path>{"/usr/local/bin", "/usr/bin", folders.at(2)}));
    EXPECT_TRUE(folders[2].string().ends_with("/.local/bin")) << folders[2];
    EXPECT_FALSE(localOllamaModelInstalled(ollamaModel, manifests)) << "no folder";
    touch(manifests / "registry.ollama.ai/library/qwen2.5/7b-instruct");
    EXPECT_FALSE(localOllamaModelInstalled(ollamaModel, manifests)) << "another tag";
    touch("manifests/locked/library/qwen2.5/7b");
    fs::permissions(manifests / "locked", perms::none);
    EXPECT_FALSE(installedAsNobody()) << "the only manifest is out of sight";
    touch("manifests/Mirror.Example/Deep/Library/QWEN2.5/7B");
    fs::permissions(manifests / "locked", perms::none);
    EXPECT_TRUE(installedAsNobody()) << "the locked folder is passed over";
    fs::permissions(manifests, perms::none);
    EXPECT_FALSE(installedAsNobody()) << "nothing can be listed";
}

}  // namespace
}  // namespace vurin::testing
