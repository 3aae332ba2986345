#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vurin::testing {

struct ReceivedRequest {
    std::string method, path;
    std::string query;  // the raw query string, without "?"
    httplib::Headers headers;
    std::string body;
};

// A one-way latch that handlers can wait on, so a held request never outlives its test.
class Gate {
  public:
    void open() {
        std::lock_guard guard(lock_);
        open_ = true;
        changed_.notify_all();
    }
    bool waitOpen(std::chrono::milliseconds limit) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, limit, [this] { return open_; });
    }

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool open_ = false;
};

// An HTTP server on 127.0.0.1 and an ephemeral port, on its own thread for the life of the
// object, recording every request. Routes are added before requests are sent.
class StandInHttpServer {
  public:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

    StandInHttpServer();
    ~StandInHttpServer();
    // Answers POST and GET `path`; the request is recorded before `handler` runs.
    void route(const std::string& path, Handler handler);
    int port() const { return port_; }
    std::string origin() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::string url(const std::string& path) const { return origin() + path; }
    std::vector<ReceivedRequest> received() const;
    bool waitForRequests(std::size_t count, std::chrono::milliseconds limit) const;
    Gate& shutdownGate() { return shutdown_; }  // opened when the server shuts down

  private:
    httplib::Server server_;
    int port_ = -1;
    std::thread thread_;
    Gate shutdown_;
    mutable std::mutex lock_;
    mutable std::condition_variable arrived_;
    std::vector<ReceivedRequest> received_;
};

// A port on 127.0.0.1 that completes connections (the kernel does) but never answers.
class SilentListener {
  public:
    SilentListener();
    ~SilentListener();
    SilentListener(const SilentListener&) = delete;
    std::string url(const std::string& path) const;

  private:
    int socket_ = -1;
    int port_ = -1;
};

// A port on 127.0.0.1 where nothing listens: connections are refused.
int refusingPort();

}  // namespace vurin::testing
