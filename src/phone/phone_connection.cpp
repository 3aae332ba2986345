#include <chrono>
#include <iterator>

#include "phone/phone_server_core.h"

namespace vurin {
namespace {

// How long an answered connection may keep sending before it is closed regardless, and how much
// of what it sends is read and thrown away.
constexpr auto kLingerTime = std::chrono::seconds(1);
constexpr std::size_t kLingerBytes = 64 * 1024;

void writeNext(const std::shared_ptr<PhoneConnection>& connection) {
    if (connection->writing || connection->closed || connection->outbox.empty()) {
        return;
    }
    connection->writing = true;
    asio::async_write(connection->socket, asio::buffer(connection->outbox.front().bytes),
                      [connection](const asio::error_code& error, std::size_t) {
                          connection->writing = false;
                          if (connection->outbox.empty()) {
                              return;
                          }
                          auto done = std::move(connection->outbox.front().done);
                          connection->outbox.pop_front();
                          if (done) {
                              done(error);
                          }
                          if (error || connection->closed) {
                              // Queued callbacks hold the connection: drop them or it never goes.
                              connection->outbox.clear();
                              return;
                          }
                          writeNext(connection);
                      });
}

void drain(const std::shared_ptr<PhoneConnection>& connection, std::size_t total) {
    connection->socket.async_read_some(
        asio::buffer(connection->chunk),
        [connection, total](const asio::error_code& error, std::size_t count) {
            if (error || total + count > kLingerBytes) {
                connection->close();
                return;
            }
            drain(connection, total + count);
        });
}

}  // namespace

PhoneConnection::PhoneConnection(std::uint64_t id, asio::ip::tcp::socket socket)
    : id(id), socket(std::move(socket)), timer(this->socket.get_executor()) {}

void PhoneConnection::close() {
    if (closed) {
        return;
    }
    closed = true;
    asio::error_code ignored;
    timer.cancel();
    socket.close(ignored);
    // Pieces not yet on their way will never be written; their callbacks hold this connection.
    // The one being written stays until its handler has run.
    outbox.erase(writing && !outbox.empty() ? std::next(outbox.begin()) : outbox.begin(),
                 outbox.end());
}

void sendOnConnection(const std::shared_ptr<PhoneConnection>& connection, std::string bytes,
                      std::function<void(const asio::error_code&)> done) {
    if (connection->closed) {
        if (done) {
            done(asio::error::bad_descriptor);
        }
        return;
    }
    connection->outbox.push_back({std::move(bytes), std::move(done)});
    writeNext(connection);
}

void closeAfterResponse(const std::shared_ptr<PhoneConnection>& connection) {
    if (connection->closed) {
        return;
    }
    asio::error_code ignored;
    connection->socket.shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
    connection->chunk.resize(16 * 1024);
    connection->timer.expires_after(kLingerTime);
    connection->timer.async_wait([connection](const asio::error_code& error) {
        if (!error) {
            connection->close();
        }
    });
    drain(connection, 0);
}

}  // namespace vurin
