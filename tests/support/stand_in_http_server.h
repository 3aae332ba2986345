#pragma once

#include <httplib.h>  // threads and the standard containers too

#include <asio/ip/tcp.hpp>

namespace vurin::testing {

struct ReceivedRequest {
    std::string method, path;
    std::string query;  // the raw query string, without "?"
    httplib::Headers headers;
    std::string body;
};

// Polls `done` until it holds or `limit` passes (no testing.h: the benchmarks use this file).
inline bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    for (const auto end = std::chrono::steady_clock::now() + limit;
         !done() && std::chrono::steady_clock::now() < end;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return done();
}

// A one-way latch that handlers wait on, so a held request never outlives its test.
struct Gate {
    std::atomic<bool> isOpen = false;
    bool waitOpen(std::chrono::milliseconds limit) {
        return waitUntil([this] { return isOpen.load(); }, limit);
    }
};

// An HTTP server on 127.0.0.1 and a free port, on its own thread, recording every request.
class StandInHttpServer {
  public:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

    StandInHttpServer() {
        server_.set_tcp_nodelay(true);  // else the body waits for the client's delayed ACK
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        waitUntil([this] { return server_.is_running(); },
                  std::chrono::seconds(5));  // or stop() is lost
    }
    ~StandInHttpServer() {
        shutdown_.isOpen = true;
        server_.stop();
        thread_.join();
    }
    // Answers POST and GET `path`, first recording the request (a multipart body as parsed).
    void route(const std::string& path, Handler handler) {
        const auto recorded = [this, handler](const httplib::Request& request,
                                              httplib::Response& response) {
            const auto mark = request.target.find('?');
            std::unique_lock guard(lock_);
            received_.push_back({request.method, request.path,
                                 mark == std::string::npos ? "" : request.target.substr(mark + 1),
                                 request.headers, request.body});
            guard.unlock();
            handler(request, response);
        };
        server_.Post(path, [recorded](const httplib::Request& request, httplib::Response& response,
                                      const httplib::ContentReader& reader) {
            httplib::Request whole = request;
            const auto append = [&whole](const char* data, std::size_t length) {
                return whole.body.append(data, length), true;
            };
            const std::string type = request.get_header_value("Content-Type");
            const std::string boundary = "--" + type.substr(type.find("boundary=") + 9);
            if (!request.is_multipart_form_data()) {
                reader(append);
            } else {
                reader(
                    [&](const httplib::MultipartFormData& part) {
                        whole.body +=
                            (whole.body.empty() ? "" : "\r\n") + boundary +
                            "\r\nContent-Disposition: form-data; name=\"" + part.name + "\"" +
                            (part.filename.empty() ? "" : "; filename=\"" + part.filename + "\"") +
                            (part.content_type.empty() ? ""
                                                       : "\r\nContent-Type: " + part.content_type) +
                            "\r\n\r\n";
                        return true;
                    },
                    append);
                whole.body += "\r\n" + boundary + "--\r\n";
            }
            recorded(whole, response);
        });
        server_.Get(path, recorded);
    }
    int port() const { return port_; }
    std::string origin() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::string url(const std::string& path) const { return origin() + path; }
    std::vector<ReceivedRequest> received() const {
        std::lock_guard guard(lock_);
        return received_;
    }
    bool waitForRequests(std::size_t count, std::chrono::milliseconds limit) const {
        return waitUntil([&] { return received().size() >= count; }, limit);
    }
    Gate& shutdownGate() { return shutdown_; }  // opened when the server shuts down

  private:
    httplib::Server server_;
    int port_ = -1;
    std::thread thread_;
    Gate shutdown_;
    mutable std::mutex lock_;
    std::vector<ReceivedRequest> received_;
};

// A port on 127.0.0.1 that completes connections (the kernel does) but never answers.
struct SilentListener {
    asio::io_context io;
    asio::ip::tcp::acceptor acceptor{io, {asio::ip::address_v4::loopback(), 0}};
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(acceptor.local_endpoint().port()) + path;
    }
};

// A port on 127.0.0.1 where nothing listens: connections are refused.
inline int refusingPort() {
    asio::io_context io;  // bound but never listening, then released
    return asio::ip::tcp::socket(io, {asio::ip::address_v4::loopback(), 0}).local_endpoint().port();
}

}  // namespace vurin::testing
