#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <future>
#include <latch>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "config/config.h"
#include "pipeline/pipeline_cancellation.h"
#include "pipeline/pipeline_config_snapshot.h"
#include "pipeline/pipeline_generation.h"

namespace vurin {
namespace {

class CountingTask : public CancellableTask {
  public:
    CountingTask() = default;
    explicit CountingTask(std::function<void()> onCancel) : onCancel_(std::move(onCancel)) {}
    ~CountingTask() override {
        if (onDestroy) {
            onDestroy();
        }
    }

    void cancel() override {
        cancels.fetch_add(1);
        if (onCancel_) {
            onCancel_();
        }
    }

    std::atomic<int> cancels{0};
    std::function<void()> onDestroy;

  private:
    std::function<void()> onCancel_;
};

// Runs `body(index)` on `count` threads that all start at the same moment.
void runTogether(int count, const std::function<void(int)>& body) {
    std::latch start(count);
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i) {
        threads.emplace_back([&, i] {
            start.arrive_and_wait();
            body(i);
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
}

// Runs `body` on another thread. A lock held across a callback would deadlock; this reports
// that and stops the test binary instead of letting the run hang.
void runWithoutDeadlock(const std::function<void()>& body) {
    auto finished = std::async(std::launch::async, body);
    if (finished.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        ADD_FAILURE() << "deadlock: a lock is still held while a task is called";
        std::abort();
    }
    finished.get();
}

// --- PipelineGeneration ---

TEST(PipelineGenerationTest, FreshGenerationIsZero) {
    PipelineGeneration generation;
    EXPECT_EQ(generation.current(), 0);
    EXPECT_TRUE(generation.isCurrent(0));
    EXPECT_FALSE(generation.isCurrent(1));
    EXPECT_FALSE(generation.isCurrent(-1));
}

TEST(PipelineGenerationTest, InvalidateMakesEveryEarlierValueStale) {
    PipelineGeneration generation;
    std::vector<std::int64_t> handedOut{generation.current()};
    for (std::int64_t expected = 1; expected <= 5; ++expected) {
        const std::int64_t fresh = generation.invalidate();
        EXPECT_EQ(fresh, expected);
        EXPECT_EQ(generation.current(), fresh);
        EXPECT_TRUE(generation.isCurrent(fresh));
        for (std::int64_t old : handedOut) {
            EXPECT_FALSE(generation.isCurrent(old)) << old;
        }
        handedOut.push_back(fresh);
    }
}

TEST(PipelineGenerationTest, ConcurrentInvalidatesHandOutDistinctValues) {
    constexpr int threads = 8;
    constexpr int perThread = 2000;
    PipelineGeneration generation;
    std::vector<std::vector<std::int64_t>> values(threads);
    std::atomic<int> nonMonotonic{0};
    runTogether(threads + 2, [&](int index) {
        if (index >= threads) {
            // Readers: the current value never goes backwards.
            std::int64_t last = 0;
            for (int i = 0; i < perThread; ++i) {
                const std::int64_t now = generation.current();
                if (now < last) {
                    nonMonotonic.fetch_add(1);
                }
                last = now;
                generation.isCurrent(now);
            }
            return;
        }
        for (int i = 0; i < perThread; ++i) {
            values[index].push_back(generation.invalidate());
        }
    });
    std::set<std::int64_t> all;
    for (const auto& list : values) {
        EXPECT_TRUE(std::is_sorted(list.begin(), list.end()));
        all.insert(list.begin(), list.end());
    }
    EXPECT_EQ(all.size(), static_cast<std::size_t>(threads * perThread));
    EXPECT_EQ(*all.begin(), 1);
    EXPECT_EQ(*all.rbegin(), threads * perThread);
    EXPECT_EQ(generation.current(), threads * perThread);
    EXPECT_EQ(nonMonotonic.load(), 0);
}

// --- PipelineCancellation: single thread ---

TEST(PipelineCancellationTest, CancelWithoutTaskOnlySetsTheFlagAndIsIdempotent) {
    PipelineCancellation cancellation;
    EXPECT_FALSE(cancellation.isCancelled());
    cancellation.cancel();
    EXPECT_TRUE(cancellation.isCancelled());
    cancellation.cancel();
    EXPECT_TRUE(cancellation.isCancelled());
}

TEST(PipelineCancellationTest, CancelAbortsTheRegisteredTaskOnce) {
    PipelineCancellation cancellation;
    auto task = std::make_shared<CountingTask>();
    cancellation.registerTask(task);
    EXPECT_EQ(task->cancels, 0);
    cancellation.cancel();
    EXPECT_EQ(task->cancels, 1);
    cancellation.cancel();
    EXPECT_EQ(task->cancels, 1) << "the slot is emptied by the first cancel";
}

TEST(PipelineCancellationTest, RegisterAfterCancelAbortsAtOnceAndStoresNothing) {
    PipelineCancellation cancellation;
    cancellation.cancel();
    auto task = std::make_shared<CountingTask>();
    std::weak_ptr<CountingTask> weak = task;
    cancellation.registerTask(task);
    EXPECT_EQ(task->cancels, 1);
    EXPECT_TRUE(cancellation.isCancelled());
    cancellation.cancel();
    EXPECT_EQ(task->cancels, 1) << "the task was not stored";
    task.reset();
    EXPECT_TRUE(weak.expired());
}

TEST(PipelineCancellationTest, LaterRegistrationReplacesTheEarlierOne) {
    PipelineCancellation cancellation;
    auto first = std::make_shared<CountingTask>();
    auto second = std::make_shared<CountingTask>();
    cancellation.registerTask(first);
    cancellation.registerTask(second);
    cancellation.cancel();
    EXPECT_EQ(first->cancels, 0);
    EXPECT_EQ(second->cancels, 1);
}

TEST(PipelineCancellationTest, ClearWithAnotherTaskLeavesTheRegisteredOne) {
    PipelineCancellation cancellation;
    auto registered = std::make_shared<CountingTask>();
    auto other = std::make_shared<CountingTask>();
    cancellation.registerTask(registered);
    cancellation.clear(other);
    cancellation.clear(nullptr);
    cancellation.cancel();
    EXPECT_EQ(registered->cancels, 1);
    EXPECT_EQ(other->cancels, 0);
}

TEST(PipelineCancellationTest, ClearWithTheRegisteredTaskEmptiesTheSlot) {
    PipelineCancellation cancellation;
    auto task = std::make_shared<CountingTask>();
    cancellation.registerTask(task);
    cancellation.clear(task);
    cancellation.cancel();
    EXPECT_EQ(task->cancels, 0);
    EXPECT_TRUE(cancellation.isCancelled());
}

TEST(PipelineCancellationTest, TheSlotNeverKeepsATaskAlive) {
    PipelineCancellation cancellation;
    auto task = std::make_shared<CountingTask>();
    std::weak_ptr<CountingTask> weak = task;
    cancellation.registerTask(task);
    task.reset();
    EXPECT_TRUE(weak.expired());
    // Clearing and cancelling after the task is gone find an empty slot.
    auto unrelated = std::make_shared<CountingTask>();
    cancellation.clear(unrelated);
    cancellation.cancel();
    EXPECT_EQ(unrelated->cancels, 0);
    EXPECT_TRUE(cancellation.isCancelled());
}

TEST(PipelineCancellationTest, NullTaskIsIgnored) {
    PipelineCancellation cancellation;
    cancellation.registerTask(nullptr);
    cancellation.cancel();
    cancellation.registerTask(nullptr);
    EXPECT_TRUE(cancellation.isCancelled());
}

TEST(PipelineCancellationTest, TaskCancelRunsOutsideTheLock) {
    // A task whose cancel() calls back into the cancellation would deadlock if the lock were
    // still held.
    PipelineCancellation cancellation;
    bool sawCancelled = false;
    auto late = std::make_shared<CountingTask>();
    std::shared_ptr<CountingTask> task;
    task = std::make_shared<CountingTask>([&] {
        sawCancelled = cancellation.isCancelled();
        cancellation.clear(task);
        cancellation.registerTask(late);
    });
    cancellation.registerTask(task);
    runWithoutDeadlock([&] { cancellation.cancel(); });
    EXPECT_EQ(task->cancels, 1);
    EXPECT_TRUE(sawCancelled);
    EXPECT_EQ(late->cancels, 1) << "registered after cancel: aborted at once";

    // The same holds for the immediate cancel inside registerTask.
    auto reentrant = std::make_shared<CountingTask>([&] { cancellation.clear(nullptr); });
    runWithoutDeadlock([&] { cancellation.registerTask(reentrant); });
    EXPECT_EQ(reentrant->cancels, 1);
}

TEST(PipelineCancellationTest, LastReferenceMayDieInsideCancel) {
    // The request's owner lets go of it when it is aborted; its destructor then runs on the
    // cancelling thread and must not find the cancellation's lock held.
    PipelineCancellation cancellation;
    std::shared_ptr<CountingTask> owner;
    bool destroyed = false;
    owner = std::make_shared<CountingTask>([&] { owner.reset(); });
    owner->onDestroy = [&] { destroyed = cancellation.isCancelled(); };
    cancellation.registerTask(owner);
    runWithoutDeadlock([&] { cancellation.cancel(); });
    EXPECT_EQ(owner, nullptr);
    EXPECT_TRUE(destroyed);
}

// --- PipelineCancellation: real threads ---

TEST(PipelineCancellationRaceTest, RegisterRacingCancelAbortsTheTaskExactlyOnce) {
    for (int round = 0; round < 300; ++round) {
        PipelineCancellation cancellation;
        auto task = std::make_shared<CountingTask>();
        runTogether(2, [&](int index) {
            if (index == 0) {
                cancellation.registerTask(task);
            } else {
                cancellation.cancel();
            }
        });
        ASSERT_EQ(task->cancels, 1) << "round " << round;
        ASSERT_TRUE(cancellation.isCancelled());
    }
}

TEST(PipelineCancellationRaceTest, RequestLoopRacingCancelAbortsExactlyTheTasksInFlight) {
    struct Request {
        std::shared_ptr<CountingTask> task = std::make_shared<CountingTask>();
        bool sawCancelled = false;
    };
    constexpr int rounds = 40;
    constexpr int requestsAfterCancel = 50;
    constexpr int requestLimit = 200'000;
    for (int round = 0; round < rounds; ++round) {
        PipelineCancellation cancellation;
        std::vector<Request> requests;
        std::atomic<int> progress{0};
        runTogether(2, [&](int index) {
            if (index == 1) {
                // Cancel once the loop is under way, a little later each round.
                while (progress.load() < round * 5) {
                    std::this_thread::yield();
                }
                cancellation.cancel();
                return;
            }
            // One request at a time, as a job does: register, wait, clear. The loop runs on
            // until some requests have met the cancel, so the cancel always lands inside it.
            int seenSinceCancel = 0;
            while (seenSinceCancel < requestsAfterCancel &&
                   static_cast<int>(requests.size()) < requestLimit) {
                Request& request = requests.emplace_back();
                progress.store(static_cast<int>(requests.size()));
                cancellation.registerTask(request.task);
                request.sawCancelled = cancellation.isCancelled();
                cancellation.clear(request.task);
                seenSinceCancel += request.sawCancelled ? 1 : 0;
            }
        });
        ASSERT_TRUE(requests.back().sawCancelled);
        int abortedWhileUnseen = 0;
        for (std::size_t i = 0; i < requests.size(); ++i) {
            const int cancels = requests[i].task->cancels;
            ASSERT_LE(cancels, 1) << "round " << round << " request " << i;
            if (requests[i].sawCancelled) {
                // Cancelled before the check and not yet cleared: it must have been aborted.
                ASSERT_EQ(cancels, 1) << "round " << round << " request " << i;
            } else if (cancels == 1) {
                ++abortedWhileUnseen;
            }
        }
        EXPECT_LE(abortedWhileUnseen, 1) << "only the request in flight at the cancel";
    }
}

TEST(PipelineCancellationRaceTest, ManyThreadsNeverCancelTwiceNorMissALateRegistration) {
    constexpr int registrants = 4;
    constexpr int cancellers = 3;
    constexpr int readers = 2;
    constexpr int lateRegistrationsPerThread = 30;
    constexpr int iterationLimit = 200'000;
    for (int round = 0; round < 10; ++round) {
        PipelineCancellation cancellation;
        std::atomic<bool> cancelDone{false};
        std::atomic<int> lateRegistrations{0};
        std::atomic<int> lateNotAborted{0};
        std::atomic<int> flagWentBack{0};
        std::atomic<int> progress{0};
        std::vector<std::vector<std::shared_ptr<CountingTask>>> tasks(registrants);
        runTogether(registrants + cancellers + readers, [&](int index) {
            if (index < registrants) {
                // Keeps registering until this thread has registered some tasks after a cancel
                // had certainly finished: each of those must be aborted before registerTask
                // returns.
                int late = 0;
                for (int i = 0; late < lateRegistrationsPerThread && i < iterationLimit; ++i) {
                    auto task = tasks[index].emplace_back(std::make_shared<CountingTask>());
                    progress.fetch_add(1);
                    const bool afterCancel = cancelDone.load();
                    cancellation.registerTask(task);
                    if (afterCancel) {
                        ++late;
                        lateRegistrations.fetch_add(1);
                        if (task->cancels != 1) {
                            lateNotAborted.fetch_add(1);
                        }
                    }
                    cancellation.isCancelled();
                    cancellation.clear(task);
                }
            } else if (index < registrants + cancellers) {
                while (progress.load() < round * 20) {
                    std::this_thread::yield();
                }
                cancellation.cancel();
                cancelDone.store(true);
            } else {
                // Once seen, the flag stays set.
                bool seen = false;
                for (int i = 0; !cancelDone.load() && i < iterationLimit; ++i) {
                    const bool now = cancellation.isCancelled();
                    if (seen && !now) {
                        flagWentBack.fetch_add(1);
                    }
                    seen = seen || now;
                }
                if (cancelDone.load() && !cancellation.isCancelled()) {
                    flagWentBack.fetch_add(1);
                }
            }
        });
        EXPECT_EQ(lateRegistrations.load(), registrants * lateRegistrationsPerThread);
        EXPECT_EQ(lateNotAborted.load(), 0);
        EXPECT_EQ(flagWentBack.load(), 0);
        EXPECT_TRUE(cancellation.isCancelled());
        for (const auto& list : tasks) {
            for (const auto& task : list) {
                ASSERT_LE(task->cancels, 1) << "round " << round;
            }
        }
    }
}

// --- PipelineConfigSnapshot ---

Config unusualConfig() {
    Config config;
    config.sendOnClick = false;
    config.sttProvider = "cloud";
    config.sttLanguage = "zh";
    config.polishProvider = "not-a-provider";  // copied verbatim, never validated
    config.allowCloudFallback = true;
    config.saveTextHistory = true;
    config.sttCloudProvider = "openai";
    config.polishCloudProvider = "";
    return config;
}

TEST(PipelineConfigSnapshotTest, CopiesTheEightFieldsVerbatim) {
    const PipelineConfigSnapshot snapshot(unusualConfig());
    EXPECT_FALSE(snapshot.sendOnClick());
    EXPECT_EQ(snapshot.sttProvider(), "cloud");
    EXPECT_EQ(snapshot.sttLanguage(), "zh");
    EXPECT_EQ(snapshot.polishProvider(), "not-a-provider");
    EXPECT_TRUE(snapshot.allowCloudFallback());
    EXPECT_TRUE(snapshot.saveTextHistory());
    EXPECT_EQ(snapshot.sttCloudProvider(), "openai");
    EXPECT_EQ(snapshot.polishCloudProvider(), "");

    const PipelineConfigSnapshot defaults{Config{}};
    EXPECT_TRUE(defaults.sendOnClick());
    EXPECT_EQ(defaults.sttProvider(), "local");
    EXPECT_EQ(defaults.sttLanguage(), "auto");
    EXPECT_EQ(defaults.polishProvider(), "local");
    EXPECT_FALSE(defaults.allowCloudFallback());
    EXPECT_FALSE(defaults.saveTextHistory());
    EXPECT_EQ(defaults.sttCloudProvider(), "groq");
    EXPECT_EQ(defaults.polishCloudProvider(), "groq");
}

TEST(PipelineConfigSnapshotTest, LaterChangesToTheSettingsDoNotReachTheSnapshot) {
    Config live = unusualConfig();
    const PipelineConfigSnapshot snapshot(live);
    const PipelineConfigSnapshot copy = snapshot;
    live = Config{};
    live.sttProvider = "local";
    live.sttCloudProvider = "gemini";
    EXPECT_EQ(snapshot, PipelineConfigSnapshot(unusualConfig()));
    EXPECT_EQ(snapshot.sttProvider(), "cloud");
    EXPECT_EQ(snapshot.sttCloudProvider(), "openai");
    EXPECT_EQ(copy, snapshot);
}

TEST(PipelineConfigSnapshotTest, OnlyTheEightFieldsMatter) {
    Config base;
    Config otherwise = base;
    otherwise.keyCode = 122;
    otherwise.uiLang = "en";
    otherwise.soundVolume = 0.0;
    otherwise.micDevice = "system";
    otherwise.phoneTriggerEnabled = true;
    otherwise.phoneToken = "secret-token";
    otherwise.autoCheckUpdates = false;
    EXPECT_EQ(PipelineConfigSnapshot(base), PipelineConfigSnapshot(otherwise));

    const std::vector<std::function<void(Config&)>> changes = {
        [](Config& c) { c.sendOnClick = !c.sendOnClick; },
        [](Config& c) { c.sttProvider = "cloud"; },
        [](Config& c) { c.sttLanguage = "en"; },
        [](Config& c) { c.polishProvider = "cloud"; },
        [](Config& c) { c.allowCloudFallback = !c.allowCloudFallback; },
        [](Config& c) { c.saveTextHistory = !c.saveTextHistory; },
        [](Config& c) { c.sttCloudProvider = "openai"; },
        [](Config& c) { c.polishCloudProvider = "gemini"; },
    };
    for (std::size_t i = 0; i < changes.size(); ++i) {
        Config changed = base;
        changes[i](changed);
        EXPECT_NE(PipelineConfigSnapshot(base), PipelineConfigSnapshot(changed)) << "field " << i;
    }
}

}  // namespace
}  // namespace vurin
