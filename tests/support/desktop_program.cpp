#include "support/desktop_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

extern char** environ;

namespace vurin::testing {

DesktopProgram::DesktopProgram(std::vector<std::string> argv) {
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
    std::vector<char*> args;
    for (std::string& arg : argv) {
        args.push_back(arg.data());
    }
    args.push_back(nullptr);
    if (posix_spawnp(&pid_, args[0], &actions, &attributes, args.data(), environ) != 0) {
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(fds[1]);
}

DesktopProgram::~DesktopProgram() {
    if (pid_ > 0 && !reaped_) {
        kill(-pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) {
        close(out_);
    }
}

bool DesktopProgram::waitForLine(const std::string& line, std::chrono::milliseconds timeout) {
    return waitForMatch([&](const std::string& candidate) { return candidate == line; }, timeout);
}

bool DesktopProgram::waitForLine(const std::regex& pattern, std::chrono::milliseconds timeout) {
    return waitForMatch(
        [&](const std::string& candidate) { return std::regex_search(candidate, pattern); },
        timeout);
}

bool DesktopProgram::waitForMatch(const std::function<bool(const std::string&)>& matches,
                                  std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        size_t start = waitedPast_, end;
        while ((end = output_.find('\n', start)) != std::string::npos) {
            if (matches(output_.substr(start, end - start))) {
                waitedPast_ = end + 1;
                return true;
            }
            start = end + 1;
        }
        if (std::chrono::steady_clock::now() >= deadline || !readSome(deadline)) {
            return false;
        }
    }
}

bool DesktopProgram::readSome(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (out_ < 0) {
        return false;
    }
    pollfd descriptor{out_, POLLIN, 0};
    if (poll(&descriptor, 1,
             static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0))) <= 0) {
        return true;
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

std::optional<int> DesktopProgram::exitStatus() {
    if (pid_ > 0 && !reaped_) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            reaped_ = true;
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
    }
    return status_;
}

std::optional<int> DesktopProgram::waitForExit(std::chrono::milliseconds timeout) {
    using namespace std::chrono_literals;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!exitStatus() && std::chrono::steady_clock::now() < deadline) {
        if (!readSome(std::min(deadline, std::chrono::steady_clock::now() + 20ms))) {
            std::this_thread::sleep_for(10ms);  // output closed: only the exit is left
        }
    }
    return exitStatus();
}

void DesktopProgram::pause() {
    kill(pid_, SIGSTOP);
}

void DesktopProgram::resume() {
    kill(pid_, SIGCONT);
}

}  // namespace vurin::testing
