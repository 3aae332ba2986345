#include "support/log.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vurin {
namespace {

class LogObserverTest : public ::testing::Test {
  protected:
    void TearDown() override { setLogObserver({}); }
};

TEST_F(LogObserverTest, ObserverSeesEachMessageWithoutTheTimeStamp) {
    std::vector<std::string> seen;
    setLogObserver([&](const std::string& message) { seen.push_back(message); });
    log("✅ 本地 Whisper 就绪");
    log("");
    EXPECT_EQ(seen, (std::vector<std::string>{"✅ 本地 Whisper 就绪", ""}));
}

TEST_F(LogObserverTest, EmptyObserverRemovesIt) {
    int calls = 0;
    setLogObserver([&](const std::string&) { ++calls; });
    log("one");
    setLogObserver({});
    log("two");
    EXPECT_EQ(calls, 1);
}

TEST_F(LogObserverTest, ObserverMayLogItself) {
    std::vector<std::string> seen;
    setLogObserver([&](const std::string& message) {
        seen.push_back(message);
        if (message == "outer") {
            log("inner");
        }
    });
    log("outer");
    EXPECT_EQ(seen, (std::vector<std::string>{"outer", "inner"}));
}

TEST_F(LogObserverTest, EveryThreadsMessagesArrive) {
    std::mutex lock;
    int count = 0;
    setLogObserver([&](const std::string&) {
        std::lock_guard guard(lock);
        ++count;
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 50; ++i) {
                log("line");
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(count, 200);
}

}  // namespace
}  // namespace vurin
