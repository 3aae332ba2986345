// ChildProcess on real programs: launch errors, the exit status, what a child starts with,
// termination, and children that do not outlive a Vurin that dies.
#include "local_services/child_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstring>
#include <fstream>

#include "support/local_service_stand_ins.h"

namespace vurin::testing {
namespace {

namespace fs = std::filesystem;

// A termination handler that counts its calls; `held` expires once the child has dropped it.
struct CountingHandler {
    std::shared_ptr<std::atomic<int>> calls = std::make_shared<std::atomic<int>>(0);
    std::shared_ptr<int> token = std::make_shared<int>();
    std::weak_ptr<int> held = token;
    std::function<void()> take() {
        return [calls = calls, token = std::exchange(token, nullptr)] { ++*calls; };
    }
};

TEST(ChildProcess, RunsOnceAndGivesItsExitStatusOrWhyItCouldNotRun) {
    CountingHandler dropped;
    auto missing = ChildProcess::create("/nonexistent/whisper-server", {});
    missing->setTerminationHandler(dropped.take());
    EXPECT_EQ(missing->launch(), std::string(std::strerror(ENOENT)));
    EXPECT_FALSE(missing->isRunning());
    EXPECT_EQ(missing->processIdentifier(), -1);
    EXPECT_TRUE(dropped.held.expired()) << "the handler can never run";

    CountingHandler handler;
    auto child = ChildProcess::create("/bin/sh", {"-c", "exit $0", "7"});
    child->setTerminationHandler(handler.take());
    ASSERT_EQ(child->launch(), std::nullopt);
    const int status = child->waitUntilExit();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7) << status;
    EXPECT_TRUE(eventually([&] { return *handler.calls == 1; }));
    EXPECT_FALSE(child->isRunning());
    child->terminate();  // long gone: no signal to a recycled process id
    EXPECT_TRUE(child->launch().has_value()) << "a child runs once";
    EXPECT_TRUE(zombieChildren().empty());
}

TEST(ChildProcess, StartsWithNullStreamsDefaultSignalsAndNoInheritedDescriptors) {
    // Above what the program opens while it loads; not close-on-exec.
    const int opened = ::open("/dev/zero", O_RDONLY);
    const int leaky = ::fcntl(opened, F_DUPFD, 200);
    ::close(opened);
    ASSERT_GE(leaky, 200);
    const auto previous = std::signal(SIGPIPE, SIG_IGN);  // as Vurin does
    CountingHandler handler;
    auto child = ChildProcess::create("/bin/sleep", {"5"});
    child->setTerminationHandler(handler.take());
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
    EXPECT_TRUE(handler.held.expired());
    child->terminate();
    const int status = child->waitUntilExit();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_EQ(*handler.calls, 0);
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

}  // namespace
}  // namespace vurin::testing
