#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "phone/phone_server.h"
#include "platform/main_queue.h"

namespace asio {
class io_context;
}

namespace vurin {

struct PhoneServerLimits {
    int maxPendingConnections = 16;  // connections still sending their request head
    int maxSSEClients = 4;           // open event streams
    double headerTimeout = 5.0;      // seconds from accept to a complete request head
    // Sockets open at once, answered ones still closing included: a flood must not take the
    // descriptors that recording, config saves and D-Bus need.
    int maxConnections = 256;
};

// A minimal HTTP/1.1 server for the phone remote: one page, press and release, and the
// dictation state as an event stream. Every request must carry the pairing token in `t`.
//
// All server state lives on one thread running an Asio io_context (the serial queue
// "com.vurin.phone"); `start`, `stop` and `broadcast` only enqueue work there. The start
// completion and `onEvent` are delivered on the main queue.
class PhoneTriggerServer : public PhoneServer {
  public:
    static constexpr std::uint16_t kDefaultPort = 8930;

    // Port 0 picks a free port (tests); `boundPort()` then tells which.
    explicit PhoneTriggerServer(std::shared_ptr<MainQueue> mainQueue,
                                std::uint16_t port = kDefaultPort, PhoneServerLimits limits = {});
    ~PhoneTriggerServer() override;

    PhoneTriggerServer(const PhoneTriggerServer&) = delete;
    PhoneTriggerServer& operator=(const PhoneTriggerServer&) = delete;

    void start(std::string token, StartCompletion completion) override;
    void stop() override;
    void broadcast(std::string state) override;
    std::optional<std::string> url(std::string_view token) const override;
    // The configured port; the bound one once listening on port 0.
    std::uint16_t port() const override;
    void setOnEvent(EventHandler onEvent) override;

    std::uint16_t boundPort() const { return boundPort_->load(); }

    class Core;
    struct EventSink;

  private:
    std::unique_ptr<asio::io_context> io_;
    std::shared_ptr<EventSink> sink_;
    std::shared_ptr<std::atomic<std::uint16_t>> boundPort_;
    std::uint16_t port_;
    std::shared_ptr<Core> core_;
    std::thread thread_;
};

}  // namespace vurin
