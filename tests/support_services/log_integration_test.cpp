#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/log.h"

namespace vurin {
namespace {

// Points standard output at a pipe and collects everything written to it until `finish`.
class StdoutCapture {
  public:
    StdoutCapture() {
        std::fflush(stdout);
        int ends[2];
        EXPECT_EQ(::pipe2(ends, O_CLOEXEC), 0);
        readEnd_ = ends[0];
        savedStdout_ = ::dup(STDOUT_FILENO);
        ::dup2(ends[1], STDOUT_FILENO);
        ::close(ends[1]);
        reader_ = std::thread([this] {
            char buffer[65536];
            ssize_t got;
            while ((got = ::read(readEnd_, buffer, sizeof buffer)) > 0) {
                captured_.append(buffer, static_cast<std::size_t>(got));
            }
        });
    }
    ~StdoutCapture() { finish(); }

    // Restores standard output and returns what was written.
    std::string finish() {
        if (savedStdout_ >= 0) {
            std::fflush(stdout);
            ::dup2(savedStdout_, STDOUT_FILENO);
            ::close(savedStdout_);
            savedStdout_ = -1;
            reader_.join();
            ::close(readEnd_);
        }
        return captured_;
    }

  private:
    int readEnd_ = -1;
    int savedStdout_ = -1;
    std::thread reader_;
    std::string captured_;
};

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

const std::regex kStamp(R"(\[([01]\d|2[0-3]):[0-5]\d:[0-5]\d\.\d{3}\] )");

TEST(LogOutput, WritesALocalTimeStampThenTheMessageAndALineFeed) {
    const std::time_t before = std::time(nullptr);
    StdoutCapture capture;
    log("📝 STT[本地] (812ms): 37 字(全文日志关闭)");
    const std::string output = capture.finish();
    const std::time_t after = std::time(nullptr);

    std::smatch match;
    ASSERT_TRUE(std::regex_search(output, match, kStamp)) << output;
    EXPECT_EQ(match.position(0), 0);
    EXPECT_EQ(output.substr(static_cast<std::size_t>(match.length(0))),
              "📝 STT[本地] (812ms): 37 字(全文日志关闭)\n");
    // The stamp is the local wall-clock time of the call.
    std::vector<std::string> candidates;
    for (std::time_t t = before; t <= after; ++t) {
        std::tm local{};
        ::localtime_r(&t, &local);
        char text[16];
        std::strftime(text, sizeof text, "[%H:%M:%S.", &local);
        candidates.push_back(text);
    }
    EXPECT_NE(std::find(candidates.begin(), candidates.end(), output.substr(0, 10)),
              candidates.end())
        << output;
}

TEST(LogOutput, LinesFromManyThreadsStayWhole) {
    constexpr int kThreads = 4;
    constexpr int kLinesEach = 300;
    StdoutCapture capture;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            // Longer than the pipe's atomic write size, so only the lock keeps lines whole.
            const std::string body(6000, static_cast<char>('a' + t));
            for (int i = 0; i < kLinesEach; ++i) {
                log(std::to_string(t) + ":" + body);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const auto lines = linesOf(capture.finish());
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLinesEach));
    std::map<int, int> perThread;
    for (const auto& line : lines) {
        std::smatch match;
        ASSERT_TRUE(std::regex_search(line, match, kStamp));
        const std::string message = line.substr(static_cast<std::size_t>(match.length(0)));
        const int t = message[0] - '0';
        ASSERT_EQ(message, std::to_string(t) + ":" + std::string(6000, static_cast<char>('a' + t)));
        ++perThread[t];
    }
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(perThread[t], kLinesEach);
    }
}

TEST(LogOutput, ClosedReaderDoesNotEndTheProcess) {
    std::fflush(stdout);
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    const int saved = ::dup(STDOUT_FILENO);
    ::dup2(ends[1], STDOUT_FILENO);
    ::close(ends[1]);
    ::close(ends[0]);
    log("nobody reads this");  // SIGPIPE would end the test binary here
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    SUCCEED();
}

}  // namespace
}  // namespace vurin
