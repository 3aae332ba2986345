// ChildProcess on real programs: launch errors, null streams, the reaper, termination, and
// children that do not outlive a Vurin that dies.
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

TEST(ChildProcess, AProgramThatCannotRunSaysWhyAndDropsItsHandler) {
    const auto text = fs::temp_directory_path() / "not-a-program";
    std::ofstream(text) << "hello";
    fs::permissions(text, fs::perms::owner_read);
    for (const auto& [program, error] : std::vector<std::pair<fs::path, int>>{
             {"/nonexistent/whisper-server", ENOENT}, {text, EACCES}}) {
        SCOPED_TRACE(program);
        CountingHandler handler;
        auto child = ChildProcess::create(program, {});
        child->setTerminationHandler(handler.take());
        EXPECT_EQ(child->launch(), std::string(std::strerror(error)));
        EXPECT_FALSE(child->isRunning());
        EXPECT_EQ(child->processIdentifier(), -1);
        EXPECT_TRUE(handler.held.expired()) << "the handler can never run";
    }
    EXPECT_TRUE(zombieChildren().empty());
}

TEST(ChildProcess, RunsOnceWithItsArgumentsAndGivesTheExitStatus) {
    CountingHandler handler;
    auto child = ChildProcess::create("/bin/sh", {"-c", "exit $0", "7"});
    child->setTerminationHandler(handler.take());
    ASSERT_EQ(child->launch(), std::nullopt);
    const int status = child->waitUntilExit();
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 7);
    EXPECT_TRUE(eventually([&] { return *handler.calls == 1; }));
    EXPECT_FALSE(child->isRunning());
    EXPECT_TRUE(zombieChildren().empty());
    EXPECT_TRUE(child->launch().has_value()) << "a child runs once";
}

TEST(ChildProcess, StandardStreamsAreTheNullDeviceAndNothingElseLeaksIn) {
    // Above what the program opens while it loads; not close-on-exec.
    const int opened = ::open("/dev/zero", O_RDONLY);
    const int leaky = ::fcntl(opened, F_DUPFD, 200);
    ::close(opened);
    ASSERT_GE(leaky, 200);
    // Vurin ignores SIGPIPE; a server it starts must not inherit that.
    const auto previous = std::signal(SIGPIPE, SIG_IGN);
    auto child = ChildProcess::create("/bin/sleep", {"5"});
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
    child->terminate();
    const int status = child->waitUntilExit();
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
}

TEST(ChildProcess, ARemovedHandlerNeverRunsAndTerminateAfterTheEndSignalsNobody) {
    CountingHandler handler;
    auto child = ChildProcess::create("/bin/sleep", {"5"});
    child->setTerminationHandler(handler.take());
    ASSERT_EQ(child->launch(), std::nullopt);
    child->removeTerminationHandler();
    EXPECT_TRUE(handler.held.expired());
    child->terminate();
    child->waitUntilExit();
    child->terminate();  // long gone: no signal to a recycled process id
    EXPECT_TRUE(eventually([] { return zombieChildren().empty(); }));
}

TEST(ChildProcess, EnvironmentOverridesReplaceInheritedValuesAndPassTheRestThrough) {
    ScopedEnvironment environment;
    environment.set("VURIN_TEST_OVERRIDDEN", "old");
    environment.set("VURIN_TEST_KEPT", "kept");
    const auto entries =
        environmentWith({{"VURIN_TEST_OVERRIDDEN", "new"}, {"VURIN_TEST_ADDED", "added"}});
    for (const auto& [entry, times] :
         std::vector<std::pair<std::string, int>>{{"VURIN_TEST_OVERRIDDEN=new", 1},
                                                  {"VURIN_TEST_OVERRIDDEN=old", 0},
                                                  {"VURIN_TEST_KEPT=kept", 1},
                                                  {"VURIN_TEST_ADDED=added", 1}}) {
        EXPECT_EQ(std::count(entries.begin(), entries.end(), entry), times) << entry;
    }
    const auto out = fs::temp_directory_path() / "child-environment";
    auto child = ChildProcess::create(
        "/bin/sh",
        {"-c", "printf '%s|%s' \"$VURIN_TEST_ADDED\" \"$VURIN_TEST_KEPT\" > " + out.string()},
        environmentWith({{"VURIN_TEST_ADDED", "added"}}));
    ASSERT_EQ(child->launch(), std::nullopt);
    child->waitUntilExit();
    EXPECT_EQ(readLines(out), std::vector<std::string>{"added|kept"});
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
