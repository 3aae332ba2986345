#include <chrono>

#include "phone/phone_page.h"
#include "phone/phone_server_core.h"

namespace vurin {
namespace {

// Events a stream may have queued for a peer that stopped reading before it is dropped.
constexpr std::size_t kMaxQueuedEvents = 64;

// Accept failures that say "not now" (out of descriptors or memory, a peer that gave up
// while queued) rather than "the listener is broken".
bool isTransientAcceptError(const asio::error_code& error) {
    return error == asio::error::no_descriptors || error == asio::error::no_buffer_space ||
           error == asio::error::no_memory || error == asio::error::connection_aborted ||
           error == asio::error::connection_reset || error.value() == ENFILE ||
           error.value() == EPERM || error.value() == EPROTO;
}

}  // namespace

PhoneTriggerServer::Core::Core(asio::io_context& io, std::shared_ptr<MainQueue> mainQueue,
                               std::weak_ptr<EventSink> sink,
                               std::shared_ptr<std::atomic<std::uint16_t>> boundPort,
                               std::uint16_t port, PhoneServerLimits limits)
    : io_(io),
      mainQueue_(std::move(mainQueue)),
      sink_(std::move(sink)),
      boundPort_(std::move(boundPort)),
      port_(port),
      limits_(limits),
      keepRunning_(asio::make_work_guard(io)),
      acceptRetry_(io) {}

void PhoneTriggerServer::Core::report(const StartCompletion& completion, bool listening) {
    if (completion) {
        mainQueue_->post([completion, listening] { completion(listening); });
    }
}

void PhoneTriggerServer::Core::start(std::string token, StartCompletion completion) {
    token_ = std::move(token);
    if (isRunning_) {
        report(completion, true);
        return;
    }
    if (listener_) {
        report(completion, false);
        return;
    }
    const bool listening = openListener();
    report(completion, listening);
    if (listening) {
        acceptNext();
    }
}

bool PhoneTriggerServer::Core::openListener() {
    asio::ip::tcp::acceptor listener(io_);
    asio::error_code error;
    const asio::ip::tcp::endpoint endpoint(asio::ip::address_v4::any(), port_);
    listener.open(endpoint.protocol(), error);
    if (!error) {
        listener.set_option(asio::socket_base::reuse_address(true), error);
    }
    if (!error) {
        listener.bind(endpoint, error);
    }
    if (!error) {
        listener.listen(asio::socket_base::max_listen_connections, error);
    }
    if (error) {
        return false;
    }
    boundPort_->store(listener.local_endpoint(error).port());
    listener_.emplace(std::move(listener));
    ++listenerGeneration_;
    isRunning_ = true;
    return true;
}

void PhoneTriggerServer::Core::acceptNext() {
    if (!listener_) {
        return;
    }
    listener_->async_accept([weak = weak_from_this(), generation = listenerGeneration_](
                                const asio::error_code& error, asio::ip::tcp::socket socket) {
        if (auto self = weak.lock()) {
            self->accepted(error, std::move(socket), generation);
        }
    });
}

void PhoneTriggerServer::Core::accepted(const asio::error_code& error, asio::ip::tcp::socket socket,
                                        std::uint64_t listener) {
    if (!listener_ || listener != listenerGeneration_ || error == asio::error::operation_aborted) {
        return;  // socket closes with this scope
    }
    if (error && isTransientAcceptError(error)) {
        // Out of descriptors under a flood: wait for some to close instead of giving up.
        acceptRetry_.expires_after(std::chrono::milliseconds(100));
        acceptRetry_.async_wait([weak = weak_from_this(), listener](const asio::error_code& e) {
            auto self = weak.lock();
            if (!e && self && listener == self->listenerGeneration_) {
                self->acceptNext();
            }
        });
        return;
    }
    if (error) {
        listenerFailed();
        return;
    }
    auto connection = std::make_shared<PhoneConnection>(nextConnectionID_++, std::move(socket));
    acceptNext();
    if (!makeRoom()) {
        connection->close();  // only connections that carried the token are left
        return;
    }
    liveConnections_[connection->id] = connection;
    if (pendingConnections_.size() >= static_cast<std::size_t>(limits_.maxPendingConnections)) {
        sendHTTP(connection, "503 Service Unavailable", "text/plain; charset=utf-8", "busy");
        return;
    }
    pendingConnections_[connection->id] = connection;
    connection->timer.expires_after(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(limits_.headerTimeout)));
    connection->timer.async_wait(
        [weak = weak_from_this(), connection](const asio::error_code& timerError) {
            auto self = weak.lock();
            if (timerError || !self) {
                return;
            }
            const auto found = self->pendingConnections_.find(connection->id);
            if (found != self->pendingConnections_.end() && found->second == connection) {
                self->dropPending(connection);
            }
        });
    connection->chunk.resize(RequestHeadReader::kMaxHeadBytes);
    readHead(connection);
}

// A flood leaves connections behind that never showed the token: heads still awaited, and
// answers to requests without it, each closing slowly so that its answer arrives. At the budget
// all of them are closed at once: the room, a free place for a request head included, goes to
// whoever comes next, so a request with the token still finds it.
bool PhoneTriggerServer::Core::makeRoom() {
    const auto budget = static_cast<std::size_t>(limits_.maxConnections);
    const auto forgetClosed = [this] {
        std::erase_if(liveConnections_, [](const auto& entry) {
            const auto connection = entry.second.lock();
            return !connection || connection->closed;
        });
    };
    forgetClosed();
    if (liveConnections_.size() < budget) {
        return true;
    }
    for (const auto& [id, weak] : liveConnections_) {
        const auto connection = weak.lock();
        if (!connection->carriesToken) {
            pendingConnections_.erase(id);
            connection->close();
        }
    }
    forgetClosed();
    return liveConnections_.size() < budget;
}

void PhoneTriggerServer::Core::listenerFailed() {
    isRunning_ = false;
    listener_.reset();
    ++listenerGeneration_;
    closeClientConnections();
}

void PhoneTriggerServer::Core::stop() {
    if (listener_) {
        asio::error_code ignored;
        listener_->close(ignored);
        listener_.reset();
    }
    ++listenerGeneration_;
    acceptRetry_.cancel();
    closeClientConnections();
    token_.clear();
    isRunning_ = false;
}

void PhoneTriggerServer::Core::shutdown() {
    stop();
    for (const auto& [id, weak] : liveConnections_) {
        if (auto connection = weak.lock()) {
            connection->close();
        }
    }
    liveConnections_.clear();
    // Closed sockets and cancelled timers complete their operations with operation_aborted;
    // once those handlers have run, nothing is left and run() returns.
    keepRunning_.reset();
}

void PhoneTriggerServer::Core::closeClientConnections() {
    for (auto& [id, connection] : pendingConnections_) {
        connection->close();
    }
    for (auto& [id, connection] : sseClients_) {
        connection->close();
    }
    pendingConnections_.clear();
    sseClients_.clear();
}

void PhoneTriggerServer::Core::readHead(const ConnectionPtr& connection) {
    connection->socket.async_read_some(
        asio::buffer(connection->chunk),
        [weak = weak_from_this(), connection](const asio::error_code& error, std::size_t count) {
            auto self = weak.lock();
            if (!self) {
                connection->close();
                return;
            }
            self->received(connection, error, count);
        });
}

void PhoneTriggerServer::Core::received(const ConnectionPtr& connection,
                                        const asio::error_code& error, std::size_t count) {
    const auto found = pendingConnections_.find(connection->id);
    if (connection->closed || found == pendingConnections_.end()) {
        return;  // timed out or closed by stop()
    }
    const auto progress =
        connection->head.append(std::string_view(connection->chunk.data(), count));
    if (progress == RequestHeadReader::Progress::complete) {
        pendingConnections_.erase(found);
        connection->timer.cancel();
        const std::string head(connection->head.head());
        connection->head = {};
        routeHead(connection, head);
        return;
    }
    if (!error && progress == RequestHeadReader::Progress::incomplete) {
        readHead(connection);
        return;
    }
    dropPending(connection);
}

void PhoneTriggerServer::Core::dropPending(const ConnectionPtr& connection) {
    pendingConnections_.erase(connection->id);
    connection->close();
}

void PhoneTriggerServer::Core::routeHead(const ConnectionPtr& connection, std::string_view head) {
    const auto line = parseRequestHead(head);
    if (!line) {
        connection->close();
        return;
    }
    const auto route = phoneTriggerRoute(line->method, line->rawPath, token_);
    connection->carriesToken = route != PhoneTriggerRoute::forbidden;
    switch (route) {
        case PhoneTriggerRoute::page:
            sendHTTP(connection, "200 OK", "text/html; charset=utf-8", phonePageDocument());
            return;
        case PhoneTriggerRoute::events:
            startSSE(connection);
            return;
        case PhoneTriggerRoute::down:
            postEvent(PhoneServer::Event::down);
            sendHTTP(connection, "200 OK", "text/plain", "ok");
            return;
        case PhoneTriggerRoute::up:
            postEvent(PhoneServer::Event::up);
            sendHTTP(connection, "200 OK", "text/plain", "ok");
            return;
        case PhoneTriggerRoute::forbidden:
            sendHTTP(connection, "403 Forbidden", "text/plain; charset=utf-8", "forbidden");
            return;
        case PhoneTriggerRoute::notFound:
            sendHTTP(connection, "404 Not Found", "text/plain", "not found");
            return;
    }
}

void PhoneTriggerServer::Core::postEvent(PhoneServer::Event event) {
    mainQueue_->post([sink = sink_, event, at = mainQueue_->now()] {
        auto target = sink.lock();
        if (target && target->onEvent) {
            target->onEvent(event, at);
        }
    });
}

void PhoneTriggerServer::Core::sendHTTP(const ConnectionPtr& connection, std::string_view status,
                                        std::string_view contentType, std::string_view body) {
    sendOnConnection(connection, httpResponse(status, contentType, body),
                     [connection](const asio::error_code& error) {
                         if (error) {
                             connection->close();
                         } else {
                             closeAfterResponse(connection);
                         }
                     });
}

void PhoneTriggerServer::Core::startSSE(const ConnectionPtr& connection) {
    if (sseClients_.size() >= static_cast<std::size_t>(limits_.maxSSEClients)) {
        sendHTTP(connection, "503 Service Unavailable", "text/plain; charset=utf-8",
                 "too many clients");
        return;
    }
    sseClients_[connection->id] = connection;
    watchStream(connection);
    sendOnConnection(connection, std::string(kEventStreamHead),
                     [weak = weak_from_this(), connection](const asio::error_code& error) {
                         if (auto self = weak.lock()) {
                             self->sseHeadWritten(connection, error);
                         } else {
                             connection->close();
                         }
                     });
}

void PhoneTriggerServer::Core::sseHeadWritten(const ConnectionPtr& connection,
                                              const asio::error_code& error) {
    if (!error && isRunning_ && isStream(connection)) {
        sseSend(connection, lastState_);
        return;
    }
    removeStream(connection);
}

// A stream carries nothing from the peer; a read that ends means the peer went away.
void PhoneTriggerServer::Core::watchStream(const ConnectionPtr& connection) {
    connection->socket.async_read_some(
        asio::buffer(connection->chunk),
        [weak = weak_from_this(), connection](const asio::error_code& error, std::size_t) {
            auto self = weak.lock();
            if (!self) {
                connection->close();
            } else if (error) {
                self->removeStream(connection);
            } else {
                self->watchStream(connection);
            }
        });
}

void PhoneTriggerServer::Core::sseSend(const ConnectionPtr& connection, std::string_view state) {
    if (connection->outbox.size() >= kMaxQueuedEvents) {
        removeStream(connection);  // the peer stopped reading; do not queue without bound
        return;
    }
    sendOnConnection(connection, eventStreamMessage(state),
                     [weak = weak_from_this(), connection](const asio::error_code& error) {
                         auto self = weak.lock();
                         if (error && self) {
                             self->removeStream(connection);
                         }
                     });
}

bool PhoneTriggerServer::Core::isStream(const ConnectionPtr& connection) const {
    const auto found = sseClients_.find(connection->id);
    return found != sseClients_.end() && found->second == connection;
}

void PhoneTriggerServer::Core::removeStream(const ConnectionPtr& connection) {
    if (isStream(connection)) {
        sseClients_.erase(connection->id);
    }
    connection->close();
}

void PhoneTriggerServer::Core::broadcast(std::string state) {
    lastState_ = std::move(state);
    // Copy: a failed send may remove a stream while iterating.
    const auto streams = sseClients_;
    for (const auto& [id, connection] : streams) {
        sseSend(connection, lastState_);
    }
}

}  // namespace vurin
