#include "phone/phone_trigger_server.h"

#include <pthread.h>

#include "phone/local_address.h"
#include "phone/phone_server_core.h"

namespace vurin {

PhoneTriggerServer::PhoneTriggerServer(std::shared_ptr<MainQueue> mainQueue, std::uint16_t port,
                                       PhoneServerLimits limits)
    : io_(std::make_unique<asio::io_context>(1)),
      sink_(std::make_shared<EventSink>()),
      boundPort_(std::make_shared<std::atomic<std::uint16_t>>(0)),
      port_(port),
      core_(std::make_shared<Core>(*io_, std::move(mainQueue), sink_, boundPort_, port, limits)) {
    thread_ = std::thread([io = io_.get()] {
        pthread_setname_np(pthread_self(), "com.vurin.phone");
        io->run();
    });
}

PhoneTriggerServer::~PhoneTriggerServer() {
    // Handlers own their connection (and through its outbox, the queued bytes). Stopping the
    // io_context would leave them unrun, and the connections they hold would never be freed.
    // Instead the shutdown runs on the io thread and closes everything; run() returns once each
    // aborted handler has run and let go, and only then does the core go.
    asio::post(*io_, [core = core_] { core->shutdown(); });
    if (thread_.joinable()) {
        thread_.join();
    }
    core_.reset();
}

void PhoneTriggerServer::start(std::string token, StartCompletion completion) {
    asio::post(*io_, [weak = std::weak_ptr<Core>(core_), token = std::move(token),
                      completion = std::move(completion)]() mutable {
        if (auto core = weak.lock()) {
            core->start(std::move(token), std::move(completion));
        }
    });
}

void PhoneTriggerServer::stop() {
    asio::post(*io_, [weak = std::weak_ptr<Core>(core_)] {
        if (auto core = weak.lock()) {
            core->stop();
        }
    });
}

void PhoneTriggerServer::broadcast(std::string state) {
    asio::post(*io_, [weak = std::weak_ptr<Core>(core_), state = std::move(state)]() mutable {
        if (auto core = weak.lock()) {
            core->broadcast(std::move(state));
        }
    });
}

std::uint16_t PhoneTriggerServer::port() const {
    const std::uint16_t bound = boundPort_->load();
    return port_ == 0 && bound != 0 ? bound : port_;
}

std::optional<std::string> PhoneTriggerServer::url(std::string_view token) const {
    const auto address = localWiFiIPv4();
    if (!address) {
        return std::nullopt;
    }
    return "http://" + *address + ":" + std::to_string(port()) + "/?t=" + std::string(token);
}

void PhoneTriggerServer::setOnEvent(EventHandler onEvent) {
    sink_->onEvent = std::move(onEvent);
}

}  // namespace vurin
