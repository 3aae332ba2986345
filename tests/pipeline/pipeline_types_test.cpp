#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <future>
#include <latch>
#include <set>
#include <thread>

#include "pipeline/pipeline_cancellation.h"
#include "pipeline/pipeline_generation.h"

namespace vurin {
namespace {

struct CountingTask : CancellableTask {
    explicit CountingTask(std::function<void()> onCancel = nullptr)
        : onCancel(std::move(onCancel)) {}
    ~CountingTask() override {
        if (onDestroy) {
            onDestroy();
        }
    }
    void cancel() override {
        ++cancels;
        if (onCancel) {
            onCancel();
        }
    }
    std::atomic<int> cancels{0};
    std::function<void()> onCancel;
    std::function<void()> onDestroy;
};

std::shared_ptr<CountingTask> task(std::function<void()> onCancel = nullptr) {
    return std::make_shared<CountingTask>(std::move(onCancel));
}

// Runs `body(index)` on `count` threads that all start at the same moment.
void runTogether(int count, const std::function<void(int)>& body) {
    std::latch start(count);
    std::vector<std::jthread> threads;
    for (int i = 0; i < count; ++i) {
        threads.emplace_back([&, i] {
            start.arrive_and_wait();
            body(i);
        });
    }
}

// A lock held across a task's cancel() deadlocks: that stops the binary instead of hanging it.
void runWithoutDeadlock(const std::function<void()>& body) {
    auto finished = std::async(std::launch::async, body);
    if (finished.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        ADD_FAILURE() << "deadlock: a lock is still held while a task is called";
        std::abort();
    }
}

TEST(PipelineGenerationTest, InvalidateMakesEveryEarlierValueStale) {
    PipelineGeneration generation;
    EXPECT_TRUE(generation.isCurrent(0));
    EXPECT_FALSE(generation.isCurrent(1));
    EXPECT_EQ(generation.invalidate(), 1);
    EXPECT_EQ(generation.invalidate(), 2);
    EXPECT_EQ(generation.current(), 2);
    EXPECT_TRUE(generation.isCurrent(2));
    EXPECT_FALSE(generation.isCurrent(1));
    EXPECT_FALSE(generation.isCurrent(0));
}

TEST(PipelineGenerationTest, ConcurrentInvalidatesHandOutDistinctValues) {
    constexpr int kThreads = 8;
    constexpr int kEach = 2000;
    PipelineGeneration generation;
    std::vector<std::vector<std::int64_t>> values(kThreads);
    runTogether(kThreads, [&](int index) {
        for (int i = 0; i < kEach; ++i) {
            values[index].push_back(generation.invalidate());
        }
    });
    std::set<std::int64_t> all;
    for (const auto& list : values) {
        EXPECT_TRUE(std::is_sorted(list.begin(), list.end()));
        all.insert(list.begin(), list.end());
    }
    EXPECT_EQ(all.size(), std::size_t{kThreads * kEach});
    EXPECT_EQ(*all.rbegin(), kThreads * kEach);
    EXPECT_EQ(generation.current(), kThreads * kEach);
}

TEST(PipelineCancellationTest, CancelAbortsTheLastRegisteredTaskOnceAndLaterOnesAtOnce) {
    PipelineCancellation cancellation;
    auto first = task(), second = task(), late = task();
    cancellation.registerTask(nullptr);
    cancellation.registerTask(first);
    cancellation.registerTask(second);
    EXPECT_FALSE(cancellation.isCancelled());
    cancellation.cancel();
    cancellation.cancel();
    EXPECT_TRUE(cancellation.isCancelled());
    EXPECT_EQ(first->cancels, 0);
    EXPECT_EQ(second->cancels, 1) << "the slot is emptied by the first cancel";

    std::weak_ptr<CountingTask> weak = late;
    cancellation.registerTask(late);
    cancellation.registerTask(nullptr);
    EXPECT_EQ(late->cancels, 1);
    cancellation.cancel();
    EXPECT_EQ(late->cancels, 1) << "a task registered after the cancel is not stored";
    late.reset();
    EXPECT_TRUE(weak.expired());
}

TEST(PipelineCancellationTest, ClearForgetsOnlyTheRegisteredTaskAndTheSlotKeepsNoneAlive) {
    auto registered = task(), other = task(), gone = task();
    PipelineCancellation kept, cleared, weak;
    kept.registerTask(registered);
    kept.clear(other);
    kept.clear(nullptr);
    kept.cancel();
    EXPECT_EQ(registered->cancels, 1);

    cleared.registerTask(other);
    cleared.clear(other);
    cleared.cancel();
    std::weak_ptr<CountingTask> watch = gone;
    weak.registerTask(gone);
    gone.reset();
    EXPECT_TRUE(watch.expired());
    weak.clear(other);
    weak.cancel();
    EXPECT_EQ(other->cancels, 0);
}

TEST(PipelineCancellationTest, TaskCancelRunsOutsideTheLock) {
    PipelineCancellation cancellation;
    bool sawCancelled = false;
    auto late = task();
    std::shared_ptr<CountingTask> reentering = task([&] {
        sawCancelled = cancellation.isCancelled();
        cancellation.clear(reentering);
        cancellation.registerTask(late);
    });
    cancellation.registerTask(reentering);
    runWithoutDeadlock([&] { cancellation.cancel(); });
    EXPECT_TRUE(sawCancelled);
    EXPECT_EQ(late->cancels, 1) << "registered after cancel: aborted at once";
    // The same holds for the immediate cancel inside registerTask.
    auto immediate = task([&] { cancellation.clear(nullptr); });
    runWithoutDeadlock([&] { cancellation.registerTask(immediate); });
    EXPECT_EQ(immediate->cancels, 1);

    // The request's owner lets go of it when it is aborted: its destructor runs on the
    // cancelling thread and must not find the lock held.
    PipelineCancellation owned;
    bool destroyed = false;
    std::shared_ptr<CountingTask> owner = task([&] { owner.reset(); });
    owner->onDestroy = [&] { destroyed = owned.isCancelled(); };
    owned.registerTask(owner);
    runWithoutDeadlock([&] { owned.cancel(); });
    EXPECT_TRUE(destroyed);
}

// One request at a time, as a job does (register, check, clear), against two cancels a little
// later each round: every request that saw the cancel was aborted, none twice, and of those
// that did not see it only the one in flight at the cancel.
TEST(PipelineCancellationRaceTest, RequestLoopRacingCancelsAbortsExactlyTheTasksInFlight) {
    for (int round = 0; round < 40; ++round) {
        PipelineCancellation cancellation;
        std::vector<std::pair<std::shared_ptr<CountingTask>, bool>> requests;
        std::atomic<int> progress{0};
        runTogether(3, [&](int index) {
            if (index > 0) {
                while (progress < round * 5) {
                    std::this_thread::yield();
                }
                cancellation.cancel();
                return;
            }
            for (int seen = 0; seen < 50 && requests.size() < 200'000;) {
                auto& [request, sawCancelled] = requests.emplace_back(task(), false);
                progress = static_cast<int>(requests.size());
                cancellation.registerTask(request);
                sawCancelled = cancellation.isCancelled();
                cancellation.clear(request);
                seen += sawCancelled ? 1 : 0;
            }
        });
        ASSERT_TRUE(requests.back().second);
        int abortedUnseen = 0;
        for (std::size_t i = 0; i < requests.size(); ++i) {
            const auto& [request, sawCancelled] = requests[i];
            SCOPED_TRACE("round " + std::to_string(round) + " request " + std::to_string(i));
            ASSERT_LE(request->cancels, 1);
            ASSERT_TRUE(!sawCancelled || request->cancels == 1);
            abortedUnseen += sawCancelled ? 0 : request->cancels.load();
        }
        EXPECT_LE(abortedUnseen, 1);
    }
}

}  // namespace
}  // namespace vurin
