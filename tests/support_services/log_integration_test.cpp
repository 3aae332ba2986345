#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <ctime>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "support/log.h"

namespace vurin {
namespace {

// Everything `body` writes to standard output, read through a pipe.
std::string captureStdout(const std::function<void()>& body) {
    std::fflush(stdout);
    int ends[2];
    EXPECT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    const int saved = ::dup(STDOUT_FILENO);
    ::dup2(ends[1], STDOUT_FILENO);
    ::close(ends[1]);
    std::string captured;
    std::thread reader([&] {
        char buffer[65536];
        for (ssize_t got; (got = ::read(ends[0], buffer, sizeof buffer)) > 0;) {
            captured.append(buffer, static_cast<std::size_t>(got));
        }
    });
    body();
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    reader.join();
    ::close(ends[0]);
    return captured;
}

const std::regex kStamp(R"(\[([01]\d|2[0-3]):[0-5]\d:[0-5]\d\.\d{3}\] )");

TEST(LogOutput, WritesALocalTimeStampThenTheMessageAndALineFeed) {
    const std::time_t before = std::time(nullptr);
    const std::string output = captureStdout([] { log("📝 STT[本地] (812ms): 37 字"); });
    const std::time_t after = std::time(nullptr);

    std::smatch match;
    ASSERT_TRUE(std::regex_search(output, match, kStamp)) << output;
    EXPECT_EQ(match.position(0), 0);
    EXPECT_EQ(match.suffix().str(), "📝 STT[本地] (812ms): 37 字\n");
    bool localTime = false;
    for (std::time_t t = before; t <= after; ++t) {
        std::tm local{};
        ::localtime_r(&t, &local);
        char text[16];
        std::strftime(text, sizeof text, "[%H:%M:%S.", &local);
        localTime = localTime || output.starts_with(text);
    }
    EXPECT_TRUE(localTime) << output;
}

TEST(LogOutput, LinesFromManyThreadsStayWhole) {
    constexpr int kThreads = 4;
    constexpr int kLinesEach = 300;
    const std::string output = captureStdout([] {
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
    });
    std::map<int, int> perThread;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        ASSERT_TRUE(std::regex_search(line, match, kStamp));
        const std::string message = match.suffix();
        const int t = message[0] - '0';
        ASSERT_EQ(message, std::to_string(t) + ":" + std::string(6000, static_cast<char>('a' + t)));
        ++perThread[t];
    }
    EXPECT_EQ(perThread, (std::map<int, int>{
                             {0, kLinesEach}, {1, kLinesEach}, {2, kLinesEach}, {3, kLinesEach}}));
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
}

}  // namespace
}  // namespace vurin
