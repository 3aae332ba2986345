#include "support/log.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>

namespace vurin {

namespace {

std::mutex& outputLock() {
    static std::mutex lock;
    return lock;
}

std::mutex& observerLock() {
    static std::mutex lock;
    return lock;
}

std::shared_ptr<const LogObserver>& observerSlot() {
    static std::shared_ptr<const LogObserver> observer;
    return observer;
}

// "[HH:mm:ss.SSS] " in local time.
std::string timeStamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char text[32];
    std::snprintf(text, sizeof text, "[%02d:%02d:%02d.%03d] ", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<int>(millis));
    return text;
}

// A reader that went away (`vurin | head`) must not kill the process with SIGPIPE: the signal
// is blocked for this thread during the write and a SIGPIPE the write raised is consumed.
class SigpipeGuard {
  public:
    SigpipeGuard() {
        sigemptyset(&pipeOnly_);
        sigaddset(&pipeOnly_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        alreadyPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipeOnly_, &previous_);
    }
    ~SigpipeGuard() {
        if (!alreadyPending_) {
            const timespec noWait{0, 0};
            while (sigtimedwait(&pipeOnly_, nullptr, &noWait) == -1 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

  private:
    sigset_t pipeOnly_{};
    sigset_t previous_{};
    bool alreadyPending_ = false;
};

// One write call per line where the system allows it, so lines never mix even with other
// processes writing to the same pipe; the lock keeps our own threads in line.
void writeLine(const std::string& line) {
    const int savedErrno = errno;
    std::lock_guard guard(outputLock());
    SigpipeGuard sigpipe;
    std::fflush(stdout);  // anything printed through stdio earlier goes out first
    std::string_view rest(line);
    while (!rest.empty()) {
        const ssize_t written = ::write(STDOUT_FILENO, rest.data(), rest.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            break;
        }
        rest.remove_prefix(static_cast<std::size_t>(written));
    }
    errno = savedErrno;
}

}  // namespace

void log(std::string_view message) {
    std::string line = timeStamp();
    line.append(message);
    line.push_back('\n');
    writeLine(line);

    std::shared_ptr<const LogObserver> observer;
    {
        std::lock_guard guard(observerLock());
        observer = observerSlot();
    }
    // Called outside every lock, so an observer may itself log.
    if (observer && *observer) {
        (*observer)(std::string(message));
    }
}

void setLogObserver(LogObserver observer) {
    auto installed = observer ? std::make_shared<const LogObserver>(std::move(observer)) : nullptr;
    std::lock_guard guard(observerLock());
    observerSlot() = std::move(installed);
}

}  // namespace vurin
