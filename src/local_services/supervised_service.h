#pragma once

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "audio/background_tasks.h"
#include "local_services/child_process.h"
#include "local_services/local_service.h"
#include "platform/main_queue.h"
#include "providers/http_transport.h"

namespace vurin {

class PipelineCancellation;

// How a start waits for its child to answer: `attempts` health checks, each after a pause of
// `interval` seconds (40 × 0.5 s, a 20-second budget).
struct PollSchedule {
    double interval = 0.5;
    int attempts = 40;
};

// Where a service finds its server: each service's own options add to these and set the
// product's defaults. Tests point them at stand-ins, other ports and shorter polls.
struct SupervisedServiceOptions {
    int port = 0;
    PollSchedule poll;
    std::function<std::optional<std::filesystem::path>()> findExecutable;
};

// Ends the background work of a service that is being destroyed: pauses return early and
// requests in flight are aborted. Shared with the tasks, which may outlive the service.
class ServiceShutdown {
  public:
    // Pauses `seconds`; false when the shutdown came first.
    bool pause(double seconds);
    // A cancellation for one request, cancelled at once if the shutdown has come.
    std::shared_ptr<PipelineCancellation> requestCancellation();
    void trigger();

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool triggered_ = false;
    std::vector<std::weak_ptr<PipelineCancellation>> requests_;
};

// What the two local model services share: the state under `stateLock_`, the `lifecycle_`
// generations that let a stop overtake a running start without holding the lock, and the
// identical stop, recovery, polling and child-exit behaviour.
//
// Every background step holds the service weakly and writes its result back only when the
// generation it started with is still current; a superseded start logs nothing.
class SupervisedService : public LocalService,
                          public std::enable_shared_from_this<SupervisedService> {
  public:
    ~SupervisedService() override;

    bool isReady() const override;
    // Forgets the child and sends it SIGTERM without waiting; the generation moves on, so the
    // results of a start still running are dropped.
    void stop() override;
    // In the background: when the health check fails, logs, stops and schedules `onRecovered`
    // (the controller restarts the service through maintain()).
    void recoverIfUnhealthy(Callback onRecovered) override;

  protected:
    struct Texts {
        std::string exited;          // our child ended while starting or ready
        std::string recoveryFailed;  // recoverIfUnhealthy found the service down
        std::string launchFailed;    // the child could not be started; the error follows
        std::string starting;        // our child runs and is being polled
        std::string timedOut;        // our child did not answer within the poll's attempts
    };

    SupervisedService(std::shared_ptr<MainQueue> mainQueue, Texts texts, PollSchedule poll);

    // Blocking; only on background threads. Bounded by its own short wait.
    virtual bool healthCheck() = 0;

    // A GET of `path` on the loopback port, given `interval` as the request's own limit and
    // waited on for at most `wait` seconds; aborted if the service is destroyed.
    HttpResult loopbackGet(int port, const std::string& path, double interval, double wait);

    // Start steps 1-2: admits one start at a time and gives its generation, or nothing when
    // the service is ready or starting (or, if `whileChildRuns` is false, when our child is
    // still running).
    std::optional<std::int64_t> admitStart(bool refuseWhileChildRuns);
    // Returns to Stopped and logs `message` if `generation` is still current; else silent.
    void failStart(std::int64_t generation, const std::string& message);
    // The termination handler for `child`, installed before it is launched.
    void watch(const std::shared_ptr<ChildProcess>& child);
    // Registers a child about to be launched as the current one. When a stop came in meanwhile,
    // the child is unwatched and terminated instead, and the answer is false.
    bool registerChild(std::int64_t generation, const std::shared_ptr<ChildProcess>& child);
    // After the starting line: true while `child` is still the current one (its end is then
    // its termination handler's to tell); else false, and when it ended by itself in the
    // meantime the exit line is logged here, after the starting one.
    bool announce(std::int64_t generation, const std::shared_ptr<ChildProcess>& child);
    // Whether `child` is still the current one; if so and `forget`, it no longer is.
    bool ownsChild(const std::shared_ptr<ChildProcess>& child, bool forget = false);
    // Marks the start Ready if `generation` is current and, when `child` is given, the child
    // is still the registered one. False otherwise (nothing changes).
    bool becomeReady(std::int64_t generation, const std::shared_ptr<ChildProcess>& child,
                     bool requireChild);
    bool isCurrent(std::int64_t generation) const;

    enum class PollResult { healthy, timedOut, childEnded, gone };
    // Polls `self` until its health check succeeds, the attempts run out, `child` ends (its
    // termination handler has then reported it), or the service is destroyed.
    static PollResult pollUntilHealthy(const std::weak_ptr<SupervisedService>& self,
                                       const std::shared_ptr<ChildProcess>& child,
                                       const std::shared_ptr<ServiceShutdown>& shutdown,
                                       PollSchedule poll);
    // The rest of a start task once its `child` is made: launches it under watch, registers it,
    // logs the starting text and polls it, holding the service only for the launch (`self` is
    // given up before the poll). Returns the service when the child answers and the start may
    // be finished; otherwise nothing, the failure having been logged where one is due and a
    // child that never answered ended.
    static std::shared_ptr<SupervisedService> launchAndPoll(
        std::shared_ptr<SupervisedService> self, std::int64_t generation,
        const std::shared_ptr<ChildProcess>& child);
    // The service as the derived type, held weakly for background steps.
    template <typename Derived>
    std::weak_ptr<Derived> weakSelf() {
        return std::static_pointer_cast<Derived>(shared_from_this());
    }

    void postToMain(const Callback& callback);

    // Background work of this service; waited for on destruction.
    void runInBackground(std::function<void()> task) { tasks_.run(std::move(task)); }

    const std::shared_ptr<MainQueue> mainQueue_;
    const Texts texts_;
    const PollSchedule poll_;
    const std::shared_ptr<ServiceShutdown> shutdown_ = std::make_shared<ServiceShutdown>();

    mutable std::mutex stateLock_;
    std::shared_ptr<ChildProcess> process_;
    bool ready_ = false;
    bool starting_ = false;
    bool announced_ = false;  // the current child's start has been logged
    std::int64_t lifecycle_ = 0;

  private:
    BackgroundTasks tasks_;
};

}  // namespace vurin
