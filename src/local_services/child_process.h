#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vurin {

// One child program with its standard input, output and error on /dev/null. After launch a
// reaper thread waits for it to end and then runs the termination handler (if one is still
// installed), on that thread.
//
// The child is bound to this process: it asks the kernel for SIGTERM when Vurin dies, so a
// Vurin that is killed outright does not leave servers holding their ports. The kernel sends
// that signal when the *thread* that forked the child ends, not the process, so every child is
// forked by one spawning thread that lives as long as the process (see child_process.cpp).
class ChildProcess {
  public:
    // `environment` holds "NAME=value" entries and replaces the inherited environment.
    static std::shared_ptr<ChildProcess> create(std::filesystem::path executable,
                                                std::vector<std::string> arguments,
                                                std::vector<std::string> environment);
    // The same, inheriting this process's environment unchanged.
    static std::shared_ptr<ChildProcess> create(std::filesystem::path executable,
                                                std::vector<std::string> arguments);

    virtual ~ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Runs once, on the reaper thread, after the child has ended. Install it before launch().
    // Virtual, as is launch(), so a test can stand in a child that ends inside its launch.
    virtual void setTerminationHandler(std::function<void()> handler);
    // A handler already running is not interrupted.
    void removeTerminationHandler();

    // Starts the child once. Nothing on success; otherwise why it could not run ("No such file
    // or directory"), and the child never ran.
    virtual std::optional<std::string> launch();

    // Launched and not yet ended.
    bool isRunning() const;
    // Sends SIGTERM when the child is still running; never signals a process id the child no
    // longer owns. Does not wait.
    void terminate();
    // Blocks until the child has ended and gives its wait status (as waitpid reports it); -1
    // when it never launched.
    int waitUntilExit();

    // The child's process id once launched, else -1.
    pid_t processIdentifier() const;

  protected:
    ChildProcess(std::filesystem::path executable, std::vector<std::string> arguments,
                 std::optional<std::vector<std::string>> environment);

  private:
    struct Shared;

    // Waits for the child to end, marks it so before its process id is released (so
    // terminate() can never signal a recycled id), reaps it and runs the termination handler.
    static void reap(const std::shared_ptr<Shared>& shared, pid_t pid);

    const std::filesystem::path executable_;
    const std::vector<std::string> arguments_;
    const std::optional<std::vector<std::string>> environment_;
    // Shared with the reaper thread, which may outlive this object.
    const std::shared_ptr<Shared> shared_;
};

// This process's environment as "NAME=value" entries, with each of `overrides` set (replacing
// any inherited value of that name) and everything else passed through in order.
std::vector<std::string> environmentWith(
    const std::vector<std::pair<std::string, std::string>>& overrides);

}  // namespace vurin
