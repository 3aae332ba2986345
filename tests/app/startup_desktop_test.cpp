// Starts the real executable inside the headless session: it must come up, log, and leave
// cleanly when the desktop asks it to (SIGTERM at log-out or `systemctl --user stop`).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#ifndef VURIN_EXECUTABLE
#error "VURIN_EXECUTABLE must name the built vurin executable (set in cmake/Tests.cmake)"
#endif

extern char** environ;

namespace vurin {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The environment of this test with XDG_CONFIG_HOME replaced, so the program never sees the
// real configuration.
std::vector<std::string> childEnvironment(const std::filesystem::path& configHome) {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, "XDG_CONFIG_HOME=", 16) != 0) {
            entries.emplace_back(*entry);
        }
    }
    entries.push_back("XDG_CONFIG_HOME=" + configHome.string());
    return entries;
}

// The running program with its standard output on a pipe. Killed and reaped if a test
// stops early, so no stray instance outlives the test.
class VurinProcess {
  public:
    explicit VurinProcess(const std::filesystem::path& configHome) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) {
            return;
        }
        out_ = fds[0];
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);

        std::vector<std::string> environment = childEnvironment(configHome);
        std::vector<char*> envp;
        for (std::string& entry : environment) {
            envp.push_back(entry.data());
        }
        envp.push_back(nullptr);
        std::string program = VURIN_EXECUTABLE;
        char* argv[] = {program.data(), nullptr};
        if (posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv, envp.data()) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        close(fds[1]);
    }

    ~VurinProcess() {
        if (pid_ > 0 && !status_) {
            kill(-pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) {
            close(out_);
        }
    }

    VurinProcess(const VurinProcess&) = delete;
    VurinProcess& operator=(const VurinProcess&) = delete;

    bool started() const { return pid_ > 0; }
    void terminate() { kill(pid_, SIGTERM); }
    const std::string& output() const { return output_; }

    // Reaps the program if it has ended; the wait status is kept.
    bool hasExited() {
        int status = 0;
        if (!status_ && waitpid(pid_, &status, WNOHANG) == pid_) {
            status_ = status;
        }
        return status_.has_value();
    }

    // The first whole output line that matches, read until the deadline or the end of output.
    std::optional<std::string> waitForLine(const std::regex& pattern, Clock::duration timeout) {
        const auto deadline = Clock::now() + timeout;
        while (true) {
            if (auto line = nextMatchingLine(pattern)) {
                return line;
            }
            if (Clock::now() >= deadline || !readSome(deadline)) {
                return std::nullopt;
            }
        }
    }

    // The wait status once the program has exited, or nothing at the deadline. Output keeps
    // being drained so a full pipe cannot hold the program back.
    std::optional<int> waitForExit(Clock::duration timeout) {
        const auto deadline = Clock::now() + timeout;
        while (!hasExited() && Clock::now() < deadline) {
            if (!readSome(std::min(deadline, Clock::now() + 20ms))) {
                std::this_thread::sleep_for(10ms);  // output closed: only the exit is left
            }
        }
        return status_;
    }

  private:
    // Reads what is available before the deadline; false once the output has ended.
    bool readSome(Clock::time_point deadline) {
        if (out_ < 0) {
            return false;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd descriptor{out_, POLLIN, 0};
        const int ready =
            poll(&descriptor, 1,
                 static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0)));
        if (ready <= 0) {
            return ready == 0 || errno == EINTR;
        }
        char buffer[4096];
        const ssize_t count = read(out_, buffer, sizeof buffer);
        if (count <= 0) {
            close(out_);
            out_ = -1;
            return false;
        }
        output_.append(buffer, static_cast<size_t>(count));
        return true;
    }

    std::optional<std::string> nextMatchingLine(const std::regex& pattern) {
        size_t end;
        while ((end = output_.find('\n', scanned_)) != std::string::npos) {
            std::string line = output_.substr(scanned_, end - scanned_);
            scanned_ = end + 1;
            if (std::regex_search(line, pattern)) {
                return line;
            }
        }
        return std::nullopt;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    std::string output_;
    size_t scanned_ = 0;
    std::optional<int> status_;
};

class StartupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vurin-startup-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        configHome_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(configHome_, ignored);
    }

    std::filesystem::path configHome_;
};

const std::regex kTimeStampedLine(R"(^\[\d{2}:\d{2}:\d{2}\.\d{3}\] )");

std::string describe(int status) {
    if (WIFEXITED(status)) {
        return "exit status " + std::to_string(WEXITSTATUS(status));
    }
    return "killed by signal " + std::to_string(WTERMSIG(status));
}

TEST_F(StartupTest, LogsTimeStampedLinesAndExitsCleanlyOnSigterm) {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run inside scripts/test-session";
    VurinProcess vurin(configHome_);
    ASSERT_TRUE(vurin.started()) << "could not start " << VURIN_EXECUTABLE;

    if (!vurin.waitForLine(kTimeStampedLine, 10s)) {
        const auto ended = vurin.waitForExit(1s);
        FAIL() << (ended ? "ended before logging a line (" + describe(*ended) + ")"
                         : std::string("no time-stamped line within 10 s"))
               << "; output:\n"
               << vurin.output();
    }
    ASSERT_FALSE(vurin.hasExited()) << "ended on its own before SIGTERM; output:\n"
                                    << vurin.output();

    vurin.terminate();
    const auto status = vurin.waitForExit(5s);
    ASSERT_TRUE(status.has_value()) << "still running 5 s after SIGTERM; output:\n"
                                    << vurin.output();
    EXPECT_EQ(describe(*status), "exit status 0") << "output:\n" << vurin.output();
}

}  // namespace
}  // namespace vurin
