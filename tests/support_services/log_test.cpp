#include "support/log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace vurin {
namespace {

TEST(LogObserverTest, SeesEachMessageBareMayLogItselfAndIsRemovedByAnEmptyOne) {
    std::vector<std::string> seen;
    setLogObserver([&](const std::string& message) {
        seen.push_back(message);
        if (message == "outer") {
            log("inner");  // called outside the log's locks
        }
    });
    log("✅ 本地 Whisper 就绪");
    log("");
    log("outer");
    setLogObserver({});
    log("after");
    EXPECT_EQ(seen, (std::vector<std::string>{"✅ 本地 Whisper 就绪", "", "outer", "inner"}));
}

TEST(LogObserverTest, EveryThreadsMessagesArrive) {
    std::atomic<int> count{0};
    setLogObserver([&](const std::string&) { ++count; });
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
    setLogObserver({});
    EXPECT_EQ(count, 200);
}

}  // namespace
}  // namespace vurin
