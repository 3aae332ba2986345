#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace vurin::testing {

// Another program of the desktop tests, in a process group of its own with its output on a pipe;
// killed and reaped with its whole group when the object goes, so nothing outlives its test.
class DesktopProgram {
  public:
    // With `input`, its standard input is a pipe that `write` feeds; else /dev/null.
    explicit DesktopProgram(std::vector<std::string> argv, bool input = false);
    ~DesktopProgram();
    DesktopProgram(const DesktopProgram&) = delete;
    DesktopProgram& operator=(const DesktopProgram&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // Reads output until `line` arrives after the last line waited for; false at the deadline.
    bool waitForLine(const std::string& line,
                     std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Whatever it writes after the last line waited for, once it closes its output (or what
    // came by the deadline).
    std::string remainingOutput(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    bool write(const std::string& text);
    // The exit code once the program has ended (-1 when a signal ended it); never waits.
    std::optional<int> exitStatus();
    void pause();   // SIGSTOP: the program stops answering, as a hung one does
    void resume();  // SIGCONT

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    int in_ = -1;
    bool reaped_ = false;
    std::optional<int> status_;
    std::string output_;
    std::size_t waitedPast_ = 0;  // where the line after the last one waited for starts
};

}  // namespace vurin::testing
