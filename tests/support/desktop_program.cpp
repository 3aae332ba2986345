#include "support/desktop_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vurin::testing {

DesktopProgram::DesktopProgram(std::vector<std::string> argv, bool input) {
    int fds[2], inputs[2] = {-1, -1};
    // A socket, so that writing to a program that has ended fails instead of raising SIGPIPE.
    if (pipe2(fds, O_CLOEXEC) != 0 ||
        (input && socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, inputs) != 0)) {
        return;
    }
    out_ = fds[0];
    in_ = inputs[1];
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input) {
        posix_spawn_file_actions_adddup2(&actions, inputs[0], STDIN_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
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
    if (input) {
        close(inputs[0]);
    }
}

DesktopProgram::~DesktopProgram() {
    if (pid_ > 0 && !reaped_) {
        kill(-pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) {
        close(out_);
    }
    if (in_ >= 0) {
        close(in_);
    }
}

bool DesktopProgram::write(const std::string& text) {
    for (std::size_t done = 0; in_ >= 0 && done < text.size();) {
        const ssize_t count = send(in_, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (count <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(count);
    }
    return in_ >= 0;
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

std::string DesktopProgram::remainingOutput(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (char buffer[4096]; out_ >= 0;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd descriptor{out_, POLLIN, 0};
        if (left.count() <= 0) {
            break;
        }
        if (poll(&descriptor, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        const ssize_t count = read(out_, buffer, sizeof buffer);
        if (count <= 0) {
            close(out_);
            out_ = -1;
            break;
        }
        output_.append(buffer, static_cast<size_t>(count));
    }
    return output_.substr(waitedPast_);
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
