#include "support/desktop_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

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
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (char buffer[4096];;) {
        for (size_t start = waitedPast_, end;
             (end = output_.find('\n', start)) != std::string::npos; start = end + 1) {
            if (output_.compare(start, end - start, line) == 0) {
                waitedPast_ = end + 1;
                return true;
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (out_ < 0 || left.count() <= 0) {
            return false;
        }
        pollfd descriptor{out_, POLLIN, 0};
        if (poll(&descriptor, 1, static_cast<int>(left.count())) <= 0) {
            continue;  // the deadline, or a signal
        }
        const ssize_t count = read(out_, buffer, sizeof buffer);
        if (count <= 0) {
            close(out_);
            out_ = -1;
            return false;
        }
        output_.append(buffer, static_cast<size_t>(count));
    }
}

std::optional<int> DesktopProgram::exitStatus() {
    int status = 0;
    if (pid_ > 0 && !reaped_ && waitpid(pid_, &status, WNOHANG) == pid_) {
        reaped_ = true;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return status_;
}

void DesktopProgram::pause() {
    kill(pid_, SIGSTOP);
}

void DesktopProgram::resume() {
    kill(pid_, SIGCONT);
}

}  // namespace vurin::testing
