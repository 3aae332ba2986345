#include "support/testing.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "support/log.h"

namespace vurin::testing {

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

ScopedEnvironment::~ScopedEnvironment() {
    for (auto entry = saved_.rbegin(); entry != saved_.rend(); ++entry) {
        if (entry->second) {
            ::setenv(entry->first.c_str(), entry->second->c_str(), 1);
        } else {
            ::unsetenv(entry->first.c_str());
        }
    }
}

void ScopedEnvironment::save(const std::string& name) {
    const char* previous = std::getenv(name.c_str());
    saved_.emplace_back(name, previous ? std::optional<std::string>(previous) : std::nullopt);
}

void ScopedEnvironment::set(const std::string& name, const std::string& value) {
    save(name);
    ::setenv(name.c_str(), value.c_str(), 1);
}

void ScopedEnvironment::unset(const std::string& name) {
    save(name);
    ::unsetenv(name.c_str());
}

LogCapture::LogCapture() {
    setLogObserver([this](const std::string& line) {
        std::lock_guard guard(lock_);
        lines_.push_back(line);
    });
}

LogCapture::~LogCapture() {
    setLogObserver(nullptr);
}

std::vector<std::string> LogCapture::lines() const {
    std::lock_guard guard(lock_);
    return lines_;
}

std::size_t LogCapture::count(const std::string& line) const {
    std::lock_guard guard(lock_);
    return static_cast<std::size_t>(std::count(lines_.begin(), lines_.end(), line));
}

std::size_t LogCapture::countContaining(const std::string& fragment) const {
    std::lock_guard guard(lock_);
    return static_cast<std::size_t>(std::count_if(lines_.begin(), lines_.end(), [&](const auto& l) {
        return l.find(fragment) != std::string::npos;
    }));
}

void LogCapture::clear() {
    std::lock_guard guard(lock_);
    lines_.clear();
}

bool LogCapture::waitFor(const std::string& line, std::chrono::milliseconds limit) const {
    return eventually([&] { return count(line) > 0; }, limit);
}

bool LogCapture::waitForContaining(const std::string& fragment,
                                   std::chrono::milliseconds limit) const {
    return eventually([&] { return countContaining(fragment) > 0; }, limit);
}

std::vector<std::string> readLines(const std::filesystem::path& file) {
    std::vector<std::string> lines;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

}  // namespace vurin::testing
