#include "local_services/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <thread>

extern char** environ;

namespace vurin {

namespace {

struct SpawnPlan {
    std::string executable;
    std::vector<std::string> arguments;  // argv[0] first
    std::optional<std::vector<std::string>> environment;
};

struct SpawnOutcome {
    pid_t pid = -1;
    int error = 0;
};

std::vector<char*> pointersTo(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    pointers.reserve(strings.size() + 1);
    for (auto& entry : strings) {
        pointers.push_back(entry.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// Closes descriptors `first` to `last`; a negative `last` means every one above `first`.
// `highest` bounds the slow path for kernels without close_range.
void closeDescriptors(int first, int last, int highest) {
    if (last >= 0 && first > last) {
        return;
    }
#ifdef SYS_close_range
    const unsigned upper = last < 0 ? ~0U : static_cast<unsigned>(last);
    if (::syscall(SYS_close_range, static_cast<unsigned>(first), upper, 0) == 0) {
        return;
    }
#endif
    for (int fd = first; fd <= highest && (last < 0 || fd <= last); ++fd) {
        ::close(fd);
    }
}

[[noreturn]] void reportAndExit(int reportFd, int error) {
    while (::write(reportFd, &error, sizeof error) < 0 && errno == EINTR) {
    }
    ::_exit(127);
}

// The child between fork and exec. The parent has other threads, whose locks may be held
// forever in this copy, so only async-signal-safe system calls are made here: everything the
// exec needs was prepared before the fork.
[[noreturn]] void becomeChild(const char* path, char* const* argv, char* const* envp, int reportFd,
                              pid_t parent, int highestFd) {
    // SIGTERM, not SIGKILL, so a server can still end its own helper processes.
    if (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0) {
        reportAndExit(reportFd, errno);
    }
    if (::getppid() != parent) {
        ::_exit(127);  // Vurin died before the request took hold: nobody is left to tell
    }
    // Ignored signals (Vurin ignores SIGPIPE) and the blocked mask survive exec; a server
    // should start with the defaults, as it would from a shell.
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber) {
        ::sigaction(signalNumber, &defaults, nullptr);
    }
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);

    // Keep the report pipe clear of the three standard descriptors it is about to replace.
    const int report = ::fcntl(reportFd, F_DUPFD_CLOEXEC, 3);
    if (report < 0) {
        reportAndExit(reportFd, errno);  // every failure before the exec is a failed launch
    }
    const int null = ::open("/dev/null", O_RDWR);
    if (null < 0) {
        reportAndExit(report, errno);
    }
    for (int standard = 0; standard < 3; ++standard) {
        if (::dup2(null, standard) < 0) {
            reportAndExit(report, errno);
        }
    }
    // Descriptors Vurin opened without close-on-exec (a listening socket, a file) must not
    // live on in a server that may outlast Vurin.
    closeDescriptors(3, report - 1, highestFd);
    closeDescriptors(report + 1, -1, highestFd);
    ::execve(path, argv, envp);
    reportAndExit(report, errno);
}

SpawnOutcome forkAndExec(SpawnPlan plan) {
    std::vector<char*> argv = pointersTo(plan.arguments);
    std::vector<char*> ownEnvironment;
    char* const* envp = environ;
    if (plan.environment) {
        ownEnvironment = pointersTo(*plan.environment);
        envp = ownEnvironment.data();
    }
    rlimit limit{};
    int highestFd = 65535;
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        limit.rlim_cur < 1048576) {
        highestFd = static_cast<int>(limit.rlim_cur) - 1;
    }
    int reportPipe[2];
    if (::pipe2(reportPipe, O_CLOEXEC) != 0) {
        return {-1, errno};
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        becomeChild(plan.executable.c_str(), argv.data(), envp, reportPipe[1], parent, highestFd);
    }
    const int forkError = errno;
    ::close(reportPipe[1]);
    if (pid < 0) {
        ::close(reportPipe[0]);
        return {-1, forkError};
    }
    // The pipe closes on a successful exec; a failed one writes its errno first.
    int childError = 0;
    ssize_t got = 0;
    do {
        got = ::read(reportPipe[0], &childError, sizeof childError);
    } while (got < 0 && errno == EINTR);
    ::close(reportPipe[0]);
    if (got == static_cast<ssize_t>(sizeof childError)) {
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        return {-1, childError};
    }
    return {pid, 0};
}

// Forks every child from one thread that is never stopped: PR_SET_PDEATHSIG fires when the
// forking thread ends, so forking from a short-lived task would end the child with it.
class Spawner {
  public:
    // Never destroyed: its thread must stay alive as long as any child it forked.
    static Spawner& shared() {
        static Spawner* const spawner = new Spawner();
        return *spawner;
    }

    SpawnOutcome spawn(SpawnPlan plan) {
        auto job = std::make_shared<Job>();
        job->plan = std::move(plan);
        {
            std::lock_guard guard(lock_);
            jobs_.push_back(job);
        }
        wake_.notify_one();
        std::unique_lock guard(lock_);
        done_.wait(guard, [&] { return job->done; });
        return job->outcome;
    }

  private:
    struct Job {
        SpawnPlan plan;
        SpawnOutcome outcome;
        bool done = false;
    };

    Spawner() {
        std::thread([this] { serve(); }).detach();
    }

    [[noreturn]] void serve() {
        for (;;) {
            std::shared_ptr<Job> job;
            {
                std::unique_lock guard(lock_);
                wake_.wait(guard, [&] { return !jobs_.empty(); });
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            const SpawnOutcome outcome = forkAndExec(std::move(job->plan));
            {
                std::lock_guard guard(lock_);
                job->outcome = outcome;
                job->done = true;
            }
            done_.notify_all();
        }
    }

    std::mutex lock_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::deque<std::shared_ptr<Job>> jobs_;
};

}  // namespace

struct ChildProcess::Shared {
    std::mutex lock;
    std::condition_variable ended;
    pid_t pid = -1;
    bool launched = false;
    bool running = false;
    bool finished = false;
    int status = -1;
    std::function<void()> handler;
};

std::shared_ptr<ChildProcess> ChildProcess::create(std::filesystem::path executable,
                                                   std::vector<std::string> arguments,
                                                   std::vector<std::string> environment) {
    return std::shared_ptr<ChildProcess>(
        new ChildProcess(std::move(executable), std::move(arguments), std::move(environment)));
}

std::shared_ptr<ChildProcess> ChildProcess::create(std::filesystem::path executable,
                                                   std::vector<std::string> arguments) {
    return std::shared_ptr<ChildProcess>(
        new ChildProcess(std::move(executable), std::move(arguments), std::nullopt));
}

ChildProcess::ChildProcess(std::filesystem::path executable, std::vector<std::string> arguments,
                           std::optional<std::vector<std::string>> environment)
    : executable_(std::move(executable)),
      arguments_(std::move(arguments)),
      environment_(std::move(environment)),
      shared_(std::make_shared<Shared>()) {}

void ChildProcess::setTerminationHandler(std::function<void()> handler) {
    std::lock_guard guard(shared_->lock);
    shared_->handler = std::move(handler);
}

void ChildProcess::removeTerminationHandler() {
    std::lock_guard guard(shared_->lock);
    shared_->handler = nullptr;
}

std::optional<std::string> ChildProcess::launch() {
    {
        std::lock_guard guard(shared_->lock);
        if (shared_->launched) {
            return std::string(std::strerror(EALREADY));
        }
        shared_->launched = true;
    }
    SpawnPlan plan;
    plan.executable = executable_.string();
    plan.arguments.push_back(executable_.string());
    plan.arguments.insert(plan.arguments.end(), arguments_.begin(), arguments_.end());
    plan.environment = environment_;
    const SpawnOutcome outcome = Spawner::shared().spawn(std::move(plan));
    if (outcome.pid < 0) {
        std::lock_guard guard(shared_->lock);
        shared_->finished = true;
        shared_->handler = nullptr;
        return std::string(std::strerror(outcome.error));
    }
    {
        std::lock_guard guard(shared_->lock);
        shared_->pid = outcome.pid;
        shared_->running = true;
    }
    std::thread([shared = shared_, pid = outcome.pid] { reap(shared, pid); }).detach();
    return std::nullopt;
}

bool ChildProcess::isRunning() const {
    std::lock_guard guard(shared_->lock);
    return shared_->running;
}

void ChildProcess::terminate() {
    // The signal goes out under the lock: the reaper clears `running` under it before the
    // process id can be reused.
    std::lock_guard guard(shared_->lock);
    if (shared_->running) {
        ::kill(shared_->pid, SIGTERM);
    }
}

int ChildProcess::waitUntilExit() {
    std::unique_lock guard(shared_->lock);
    if (!shared_->launched) {
        return -1;
    }
    shared_->ended.wait(guard, [&] { return shared_->finished; });
    return shared_->status;
}

pid_t ChildProcess::processIdentifier() const {
    std::lock_guard guard(shared_->lock);
    return shared_->pid;
}

void ChildProcess::reap(const std::shared_ptr<Shared>& shared, pid_t pid) {
    siginfo_t info{};
    int waited = 0;
    do {
        waited = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
    } while (waited != 0 && errno == EINTR);
    {
        std::lock_guard guard(shared->lock);
        shared->running = false;
    }
    int status = -1;
    if (waited == 0) {
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    std::function<void()> handler;
    {
        std::lock_guard guard(shared->lock);
        shared->finished = true;
        shared->status = status;
        handler = std::move(shared->handler);
        shared->handler = nullptr;
    }
    shared->ended.notify_all();
    if (handler) {
        handler();
    }
}

std::vector<std::string> environmentWith(
    const std::vector<std::pair<std::string, std::string>>& overrides) {
    std::vector<std::string> entries;
    std::vector<bool> placed(overrides.size(), false);
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const std::string_view name = text.substr(0, text.find('='));
        bool replaced = false;
        for (std::size_t index = 0; index < overrides.size(); ++index) {
            if (name == overrides[index].first) {
                if (!placed[index]) {
                    entries.push_back(overrides[index].first + "=" + overrides[index].second);
                    placed[index] = true;
                }
                replaced = true;
            }
        }
        if (!replaced) {
            entries.emplace_back(text);
        }
    }
    for (std::size_t index = 0; index < overrides.size(); ++index) {
        if (!placed[index]) {
            entries.push_back(overrides[index].first + "=" + overrides[index].second);
        }
    }
    return entries;
}

}  // namespace vurin
