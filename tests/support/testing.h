#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// What every kind of test needs: waiting for an event with a deadline, a scoped environment
// and the log lines written meanwhile. No test sleeps a fixed time: it waits for what it expects.
namespace vurin::testing {

// Polls `condition` every few milliseconds until it holds or `limit` passes.
bool eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds limit = std::chrono::milliseconds(5000));

// Sets or removes environment variables for the life of the object (children inherit them),
// then puts the previous values back.
class ScopedEnvironment {
  public:
    ScopedEnvironment() = default;
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    void set(const std::string& name, const std::string& value);
    void unset(const std::string& name);

  private:
    void save(const std::string& name);
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// Every line logged while the object lives.
class LogCapture {
  public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() const;
    // Lines equal to `line`.
    std::size_t count(const std::string& line) const;
    // Lines that hold `fragment` somewhere.
    std::size_t countContaining(const std::string& fragment) const;
    void clear();
    // Waits until `line` has been logged at least once.
    bool waitFor(const std::string& line,
                 std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) const;
    // Waits until a line holding `fragment` has been logged.
    bool waitForContaining(const std::string& fragment,
                           std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) const;

  private:
    mutable std::mutex lock_;
    std::vector<std::string> lines_;
};

// The lines of a text file (empty when it does not exist).
std::vector<std::string> readLines(const std::filesystem::path& file);

}  // namespace vurin::testing
