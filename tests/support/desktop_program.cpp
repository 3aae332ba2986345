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

using Clock = std::chrono::steady_clock;

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

bool DesktopProgram::waitForLine(const std::function<bool(const std::string&)>& matches,
                                 Timeout timeout) {
    const auto deadline = Clock::now() + timeout;
    while (true) {
        for (size_t start = waitedPast_, end;
             (end = output_.find('\n', start)) != std::string::npos; start = end + 1) {
            if (matches(output_.substr(start, end - start))) {
                waitedPast_ = end + 1;
                return true;
            }
        }
        if (Clock::now() >= deadline || !readSome(deadline)) {
            return false;
        }
    }
}

bool DesktopProgram::readSome(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<Timeout>(deadline - Clock::now()).count();
    pollfd descriptor{out_, POLLIN, 0};
    if (out_ < 0) {
        return false;
    }
    if (poll(&descriptor, 1, static_cast<int>(std::max<Timeout::rep>(left, 0))) <= 0) {
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
    int status = 0;
    if (pid_ > 0 && !reaped_ && waitpid(pid_, &status, WNOHANG) == pid_) {
        reaped_ = true;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return status_;
}

std::optional<int> DesktopProgram::waitForExit(Timeout timeout) {
    using namespace std::chrono_literals;
    const auto deadline = Clock::now() + timeout;
    while (!exitStatus() && Clock::now() < deadline) {
        if (!readSome(std::min(deadline, Clock::now() + 20ms))) {
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
