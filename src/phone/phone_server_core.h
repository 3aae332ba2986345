#pragma once

// Internal to PhoneTriggerServer: the state that lives on the server's io thread.

#include <asio.hpp>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "phone/phone_http.h"
#include "phone/phone_trigger_server.h"

namespace vurin {

struct PhoneTriggerServer::EventSink {
    // Read and written on the main thread only.
    PhoneServer::EventHandler onEvent;
};

// One accepted TCP connection. Handlers keep it alive through shared_ptr; `close` is
// idempotent and makes every outstanding operation finish with an error.
struct PhoneConnection {
    PhoneConnection(std::uint64_t id, asio::ip::tcp::socket socket);

    void close();

    struct Outgoing {
        std::string bytes;
        std::function<void(const asio::error_code&)> done;
    };

    std::uint64_t id;
    asio::ip::tcp::socket socket;
    asio::steady_timer timer;
    RequestHeadReader head;
    std::vector<char> chunk;
    std::deque<Outgoing> outbox;
    bool writing = false;
    bool closed = false;
    // The request carried the pairing token; until then the peer may be anyone.
    bool carriesToken = false;
};

class PhoneTriggerServer::Core : public std::enable_shared_from_this<PhoneTriggerServer::Core> {
  public:
    using ConnectionPtr = std::shared_ptr<PhoneConnection>;

    Core(asio::io_context& io, std::shared_ptr<MainQueue> mainQueue, std::weak_ptr<EventSink> sink,
         std::shared_ptr<std::atomic<std::uint16_t>> boundPort, std::uint16_t port,
         PhoneServerLimits limits);

    void start(std::string token, StartCompletion completion);
    void stop();
    void broadcast(std::string state);
    // Last call, on the io thread: stops, closes every connection still alive and lets the
    // io_context run out of work.
    void shutdown();

  private:
    void report(const StartCompletion& completion, bool listening);
    bool openListener();
    void acceptNext();
    void accepted(const asio::error_code& error, asio::ip::tcp::socket socket,
                  std::uint64_t listener);
    bool makeRoom();
    void listenerFailed();
    void closeClientConnections();

    void readHead(const ConnectionPtr& connection);
    void received(const ConnectionPtr& connection, const asio::error_code& error,
                  std::size_t count);
    void dropPending(const ConnectionPtr& connection);
    void routeHead(const ConnectionPtr& connection, std::string_view head);
    void postEvent(PhoneServer::Event event);

    void sendHTTP(const ConnectionPtr& connection, std::string_view status,
                  std::string_view contentType, std::string_view body);
    void startSSE(const ConnectionPtr& connection);
    void sseHeadWritten(const ConnectionPtr& connection, const asio::error_code& error);
    void watchStream(const ConnectionPtr& connection);
    void sseSend(const ConnectionPtr& connection, std::string_view state);
    bool isStream(const ConnectionPtr& connection) const;
    void removeStream(const ConnectionPtr& connection);

    asio::io_context& io_;
    std::shared_ptr<MainQueue> mainQueue_;
    std::weak_ptr<EventSink> sink_;
    std::shared_ptr<std::atomic<std::uint16_t>> boundPort_;
    std::uint16_t port_;
    PhoneServerLimits limits_;
    asio::executor_work_guard<asio::io_context::executor_type> keepRunning_;

    std::optional<asio::ip::tcp::acceptor> listener_;
    // Tells the handlers of an old listener from those of the current one.
    std::uint64_t listenerGeneration_ = 0;
    asio::steady_timer acceptRetry_;
    std::map<std::uint64_t, ConnectionPtr> pendingConnections_;
    std::map<std::uint64_t, ConnectionPtr> sseClients_;
    // Every open connection, including answered ones lingering outside both maps, so the
    // budget can be kept and shutdown can close them all. Weak: their handlers own them.
    std::map<std::uint64_t, std::weak_ptr<PhoneConnection>> liveConnections_;
    std::uint64_t nextConnectionID_ = 1;
    std::string token_;
    std::string lastState_ = "idle";
    bool isRunning_ = false;
};

// Queues `bytes` behind earlier writes on the connection; `done` runs when this piece has been
// written or failed. Writes never overlap on one socket.
void sendOnConnection(const std::shared_ptr<PhoneConnection>& connection, std::string bytes,
                      std::function<void(const asio::error_code&)> done);

// Sends FIN, then reads and discards what the peer still sends for a short while before
// closing, so unread request bytes do not turn the close into a reset that destroys the
// response on its way.
void closeAfterResponse(const std::shared_ptr<PhoneConnection>& connection);

}  // namespace vurin
