// ChildProcess on real programs: launch errors, null streams, the reaper, termination, and
// children that do not outlive a Vurin that dies.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <atomic>
#include <cerrno>
#include <cstring>

#include <csignal>
#include <fstream>

#include "local_services/child_process.h"
#include "support/local_service_stand_ins.h"

namespace vurin {
namespace {

using testing::eventually;
using testing::processAlive;
using testing::zombieChildren;
using namespace std::chrono_literals;

std::filesystem::path scratch(const std::string& name) {
    return std::filesystem::temp_directory_path() / (name + "-" + std::to_string(::getpid()));
}

TEST(ChildProcess, ReportsWhyAProgramCannotRunAndNeverCallsTheHandler) {
    std::atomic<int> ended{0};
    auto missing = ChildProcess::create("/nonexistent/whisper-server", {});
    missing->setTerminationHandler([&] { ++ended; });
    EXPECT_EQ(missing->launch(), std::string(std::strerror(ENOENT)));
    EXPECT_FALSE(missing->isRunning());
    EXPECT_EQ(missing->processIdentifier(), -1);

    const auto text = scratch("not-a-program");
    std::ofstream(text) << "hello";
    std::filesystem::permissions(text, std::filesystem::perms::owner_read);
    auto refused = ChildProcess::create(text, {});
    EXPECT_EQ(refused->launch(), std::string(std::strerror(EACCES)));
    std::filesystem::remove(text);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(ended.load(), 0);
    EXPECT_TRUE(zombieChildren().empty());
}

TEST(ChildProcess, RunsWithArgumentsAndGivesTheExitStatus) {
    auto child = ChildProcess::create("/bin/sh", {"-c", "exit $0", "7"});
    std::atomic<int> ended{0};
    child->setTerminationHandler([&] { ++ended; });
    ASSERT_EQ(child->launch(), std::nullopt);
    const int status = child->waitUntilExit();
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 7);
    EXPECT_TRUE(eventually([&] { return ended.load() == 1; }));
    EXPECT_FALSE(child->isRunning());
    EXPECT_TRUE(zombieChildren().empty());
    EXPECT_TRUE(child->launch().has_value()) << "a child runs once";
}

TEST(ChildProcess, StandardStreamsAreTheNullDeviceAndNothingElseLeaksIn) {
    // A descriptor Vurin opened without close-on-exec must not reach the child.
    // A high number, so it cannot be confused with what the program opens while it loads.
    const int opened = ::open("/dev/zero", O_RDONLY);
    const int leaky = ::fcntl(opened, F_DUPFD, 200);
    ::close(opened);
    ASSERT_GE(leaky, 200);
    auto child = ChildProcess::create("/bin/sleep", {"5"});
    ASSERT_EQ(child->launch(), std::nullopt);
    const auto fds = "/proc/" + std::to_string(child->processIdentifier()) + "/fd";
    ASSERT_TRUE(eventually([&] {
        std::error_code error;
        return std::filesystem::read_symlink(
                   "/proc/" + std::to_string(child->processIdentifier()) + "/exe", error)
                   .filename() == "sleep";
    }));
    for (const char* stream : {"/0", "/1", "/2"}) {
        EXPECT_EQ(std::filesystem::read_symlink(fds + stream), "/dev/null") << stream;
    }
    EXPECT_FALSE(std::filesystem::exists(fds + "/" + std::to_string(leaky)));
    ::close(leaky);
    child->terminate();
    const int status = child->waitUntilExit();
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
}

TEST(ChildProcess, IgnoredSignalsAreResetForTheChild) {
    // Vurin ignores SIGPIPE; a server it starts must not inherit that.
    const auto previous = std::signal(SIGPIPE, SIG_IGN);
    auto child = ChildProcess::create("/bin/sleep", {"5"});
    ASSERT_EQ(child->launch(), std::nullopt);
    std::signal(SIGPIPE, previous);
    const pid_t pid = child->processIdentifier();
    ASSERT_TRUE(eventually([&] {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("SigIgn:", 0) == 0) {
                return line.find("0000000000000000") != std::string::npos;
            }
        }
        return false;
    }));
    child->terminate();
    child->waitUntilExit();
}

TEST(ChildProcess, TerminateAfterTheEndSignalsNobodyAndARemovedHandlerStaysQuiet) {
    std::atomic<int> ended{0};
    auto child = ChildProcess::create("/bin/sleep", {"5"});
    child->setTerminationHandler([&] { ++ended; });
    ASSERT_EQ(child->launch(), std::nullopt);
    child->removeTerminationHandler();
    child->terminate();
    child->waitUntilExit();
    child->terminate();  // long gone: no signal to a recycled process id
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(ended.load(), 0);
    EXPECT_TRUE(zombieChildren().empty());
}

TEST(ChildProcess, EnvironmentOverridesReplaceInheritedValuesAndPassTheRestThrough) {
    ::setenv("VURIN_TEST_OVERRIDDEN", "old", 1);
    ::setenv("VURIN_TEST_KEPT", "kept", 1);
    const auto entries =
        environmentWith({{"VURIN_TEST_OVERRIDDEN", "new"}, {"VURIN_TEST_ADDED", "added"}});
    ::unsetenv("VURIN_TEST_OVERRIDDEN");
    ::unsetenv("VURIN_TEST_KEPT");
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "VURIN_TEST_OVERRIDDEN=new"), 1);
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "VURIN_TEST_OVERRIDDEN=old"), 0);
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "VURIN_TEST_KEPT=kept"), 1);
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "VURIN_TEST_ADDED=added"), 1);

    const auto out = scratch("child-environment");
    auto child = ChildProcess::create(
        "/bin/sh", {"-c", "printf '%s|%s' \"$VURIN_TEST_ADDED\" \"$HOME\" > " + out.string()},
        environmentWith({{"VURIN_TEST_ADDED", "added"}}));
    ASSERT_EQ(child->launch(), std::nullopt);
    child->waitUntilExit();
    std::string seen;
    std::getline(std::ifstream(out), seen);
    EXPECT_EQ(seen, std::string("added|") + (std::getenv("HOME") ? std::getenv("HOME") : ""));
    std::filesystem::remove(out);
}

// Run by the test below in a separate copy of this program, which launches a long sleep and then
// dies without any shutdown, as a killed Vurin would.
TEST(ChildProcess, DiesAbruptlyHelper) {
    const char* report = std::getenv("VURIN_ABRUPT_DEATH_REPORT");
    if (report == nullptr) {
        GTEST_SKIP() << "runs only inside ChildProcess.ChildrenDoNotOutliveAVurinThatDies";
    }
    auto child = ChildProcess::create("/bin/sleep", {"30"});
    if (child->launch()) {
        ::_exit(3);
    }
    std::ofstream(report) << child->processIdentifier();
    // _exit skips the test environment's clean-up; remove this copy's private folders here.
    if (const char* config = std::getenv("XDG_CONFIG_HOME")) {
        const auto own = std::filesystem::path(config).parent_path();
        if (own.filename().string().rfind("vurin-tests-", 0) == 0) {
            std::error_code ignored;
            std::filesystem::remove_all(own, ignored);
        }
    }
    ::_exit(0);
}

TEST(ChildProcess, ChildrenDoNotOutliveAVurinThatDies) {
    const auto report = scratch("abrupt-death");
    std::filesystem::remove(report);
    char self[4096] = {};
    ASSERT_GT(::readlink("/proc/self/exe", self, sizeof self - 1), 0);
    auto copy =
        ChildProcess::create(self, {"--gtest_filter=ChildProcess.DiesAbruptlyHelper"},
                             environmentWith({{"VURIN_ABRUPT_DEATH_REPORT", report.string()}}));
    ASSERT_EQ(copy->launch(), std::nullopt);
    const int status = copy->waitUntilExit();
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    pid_t orphan = 0;
    std::ifstream(report) >> orphan;
    std::filesystem::remove(report);
    ASSERT_GT(orphan, 0);
    EXPECT_TRUE(eventually([&] { return !processAlive(orphan); }, 3000ms))
        << "the sleep outlived the process that launched it";
    if (processAlive(orphan)) {
        ::kill(orphan, SIGKILL);
    }
}

}  // namespace
}  // namespace vurin
