#include "local_services/supervised_service.h"

#include <chrono>
#include <utility>

#include "pipeline/pipeline_cancellation.h"
#include "support/log.h"

namespace vurin {

bool ServiceShutdown::pause(double seconds) {
    std::unique_lock guard(lock_);
    return !changed_.wait_for(guard, std::chrono::duration<double>(seconds),
                              [this] { return triggered_; });
}

std::shared_ptr<PipelineCancellation> ServiceShutdown::requestCancellation() {
    auto cancellation = std::make_shared<PipelineCancellation>();
    bool cancelNow = false;
    {
        std::lock_guard guard(lock_);
        std::erase_if(requests_, [](const auto& request) { return request.expired(); });
        if (triggered_) {
            cancelNow = true;
        } else {
            requests_.push_back(cancellation);
        }
    }
    if (cancelNow) {
        cancellation->cancel();
    }
    return cancellation;
}

void ServiceShutdown::trigger() {
    std::vector<std::weak_ptr<PipelineCancellation>> requests;
    {
        std::lock_guard guard(lock_);
        triggered_ = true;
        requests.swap(requests_);
    }
    changed_.notify_all();
    for (const auto& request : requests) {
        if (auto live = request.lock()) {
            live->cancel();
        }
    }
}

SupervisedService::SupervisedService(std::shared_ptr<MainQueue> mainQueue, Texts texts,
                                     PollSchedule poll)
    : mainQueue_(std::move(mainQueue)), texts_(std::move(texts)), poll_(poll) {}

SupervisedService::~SupervisedService() {
    // Normally stop() ran at exit already; a service dropped without it still ends its child
    // and its background work.
    std::shared_ptr<ChildProcess> child;
    {
        std::lock_guard guard(stateLock_);
        child = std::move(process_);
    }
    if (child) {
        child->removeTerminationHandler();
        child->terminate();
    }
    shutdown_->trigger();
}

bool SupervisedService::isReady() const {
    std::lock_guard guard(stateLock_);
    return ready_;
}

void SupervisedService::stop() {
    std::shared_ptr<ChildProcess> child;
    {
        std::lock_guard guard(stateLock_);
        child = std::move(process_);
        process_.reset();
        ready_ = false;
        starting_ = false;
        ++lifecycle_;
    }
    if (!child) {
        return;
    }
    child->removeTerminationHandler();
    child->terminate();
}

void SupervisedService::recoverIfUnhealthy(Callback onRecovered) {
    runInBackground([weak = weak_from_this(), onRecovered = std::move(onRecovered)] {
        auto self = weak.lock();
        if (!self || self->healthCheck()) {
            return;
        }
        log(self->texts_.recoveryFailed);
        self->stop();
        self->postToMain(onRecovered);
    });
}

HttpResult SupervisedService::loopbackGet(int port, const std::string& path, double interval,
                                          double wait) {
    HttpRequest request;
    request.url = "http://127.0.0.1:" + std::to_string(port) + path;
    request.method = "GET";
    request.timeoutInterval = interval;
    return httpPost(request, wait, shutdown_->requestCancellation());
}

std::optional<std::int64_t> SupervisedService::admitStart(bool refuseWhileChildRuns) {
    std::lock_guard guard(stateLock_);
    // isRunning() only reads the child's own flag; it never calls back into this object.
    if (ready_ || starting_ || (refuseWhileChildRuns && process_ && process_->isRunning())) {
        return std::nullopt;
    }
    starting_ = true;
    return ++lifecycle_;
}

void SupervisedService::failStart(std::int64_t generation, const std::string& message) {
    {
        std::lock_guard guard(stateLock_);
        if (lifecycle_ != generation) {
            return;
        }
        ready_ = false;
        starting_ = false;
    }
    log(message);
}

void SupervisedService::watch(const std::shared_ptr<ChildProcess>& child) {
    child->setTerminationHandler(
        [weak = weak_from_this(), weakChild = std::weak_ptr<ChildProcess>(child)] {
            auto self = weak.lock();
            if (!self) {
                return;
            }
            bool wasActive = false;
            {
                std::lock_guard guard(self->stateLock_);
                auto ended = weakChild.lock();
                if (!ended || self->process_ != ended) {
                    return;
                }
                self->process_.reset();
                // Before the start has said so, its end is for the start to tell, after that.
                wasActive = (self->ready_ || self->starting_) && self->announced_;
                self->ready_ = false;
                self->starting_ = false;
            }
            if (wasActive) {
                log(self->texts_.exited);
            }
        });
}

bool SupervisedService::registerChild(std::int64_t generation,
                                      const std::shared_ptr<ChildProcess>& child) {
    {
        std::lock_guard guard(stateLock_);
        if (lifecycle_ == generation && starting_) {
            process_ = child;
            announced_ = false;
            return true;
        }
    }
    child->removeTerminationHandler();
    child->terminate();
    return false;
}

bool SupervisedService::ownsChild(const std::shared_ptr<ChildProcess>& child, bool forget) {
    std::lock_guard guard(stateLock_);
    const bool owned = process_ == child;
    if (owned && forget) {
        process_.reset();
    }
    return owned;
}

bool SupervisedService::announce(std::int64_t generation,
                                 const std::shared_ptr<ChildProcess>& child) {
    bool endedAlready = false;
    {
        std::lock_guard guard(stateLock_);
        if (process_ == child) {
            announced_ = true;
            return true;
        }
        endedAlready = lifecycle_ == generation;
    }
    if (endedAlready) {
        log(texts_.exited);
    }
    return false;
}

bool SupervisedService::becomeReady(std::int64_t generation,
                                    const std::shared_ptr<ChildProcess>& child, bool requireChild) {
    std::lock_guard guard(stateLock_);
    if (lifecycle_ != generation || !starting_ || (requireChild && process_ != child)) {
        return false;
    }
    ready_ = true;
    starting_ = false;
    return true;
}

bool SupervisedService::isCurrent(std::int64_t generation) const {
    std::lock_guard guard(stateLock_);
    return lifecycle_ == generation;
}

SupervisedService::PollResult SupervisedService::pollUntilHealthy(
    const std::weak_ptr<SupervisedService>& self, const std::shared_ptr<ChildProcess>& child,
    const std::shared_ptr<ServiceShutdown>& shutdown, PollSchedule poll) {
    for (int attempt = 0; attempt < poll.attempts; ++attempt) {
        if (!shutdown->pause(poll.interval)) {
            return PollResult::gone;
        }
        // A child that has ended will never answer; polling on would only repeat its exit
        // message as a time-out after the maintenance timer has already restarted it.
        if (!child->isRunning()) {
            return PollResult::childEnded;
        }
        auto live = self.lock();
        if (!live) {
            return PollResult::gone;
        }
        if (live->healthCheck()) {
            return PollResult::healthy;
        }
    }
    return PollResult::timedOut;
}

std::shared_ptr<SupervisedService> SupervisedService::launchAndPoll(
    std::shared_ptr<SupervisedService> self, std::int64_t generation,
    const std::shared_ptr<ChildProcess>& child) {
    const std::weak_ptr<SupervisedService> weak = self;
    self->watch(child);
    // Ours before it runs: a child that ends at once still finds its exit handler expecting it.
    if (!self->registerChild(generation, child)) {
        return nullptr;
    }
    if (const auto error = child->launch()) {
        self->ownsChild(child, true);
        self->failStart(generation, self->texts_.launchFailed + *error);
        return nullptr;
    }
    // A stop while it was being launched found nothing running to end yet.
    if (!self->isCurrent(generation)) {
        child->removeTerminationHandler();
        child->terminate();
        return nullptr;
    }
    log(self->texts_.starting);
    if (!self->announce(generation, child)) {
        return nullptr;
    }
    const auto shutdown = self->shutdown_;
    const auto poll = self->poll_;
    self.reset();

    const PollResult result = pollUntilHealthy(weak, child, shutdown, poll);
    self = weak.lock();
    if (!self || result == PollResult::childEnded) {
        return nullptr;
    }
    if (result == PollResult::healthy) {
        return self;
    }
    self->failStart(generation, self->texts_.timedOut);
    // Its termination handler stays: it clears `process_` once the child has gone.
    child->terminate();
    return nullptr;
}

void SupervisedService::postToMain(const Callback& callback) {
    if (callback) {
        mainQueue_->post(callback);
    }
}

}  // namespace vurin
