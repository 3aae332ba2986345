#include "support/stand_in_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vurin::testing {
namespace {

// A socket bound to 127.0.0.1 on a port the kernel picks; the port through `port`.
int boundLoopbackSocket(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof(address);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

std::string multipartWireForm(const std::string& contentType,
                              const httplib::MultipartFormDataItems& parts) {
    const std::string marker = "boundary=";
    const auto at = contentType.find(marker);
    const std::string boundary =
        at == std::string::npos ? std::string() : contentType.substr(at + marker.size());
    std::string body;
    for (const auto& part : parts) {
        body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + part.name + "\"";
        if (!part.filename.empty()) {
            body += "; filename=\"" + part.filename + "\"";
        }
        body += "\r\n";
        if (!part.content_type.empty()) {
            body += "Content-Type: " + part.content_type + "\r\n";
        }
        body += "\r\n" + part.content + "\r\n";
    }
    return body + "--" + boundary + "--\r\n";
}

}  // namespace

void Gate::open() {
    {
        std::lock_guard guard(lock_);
        open_ = true;
    }
    changed_.notify_all();
}

bool Gate::waitOpen(std::chrono::milliseconds limit) {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, limit, [this] { return open_; });
}

StandInHttpServer::StandInHttpServer() {
    // Replies go out as headers and body in separate writes; without this, Nagle's algorithm
    // holds the body back until the client's delayed ACK (some 40 ms), and every reply of an
    // "instant" stand-in would be that slow.
    server_.set_tcp_nodelay(true);
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    // stop() is ignored until the accept loop runs; wait for it so that a server stopped
    // straight away does not leave its thread blocked in accept().
    for (int tries = 0; tries < 5000 && !server_.is_running(); ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

StandInHttpServer::~StandInHttpServer() {
    shutdown_.open();
    server_.stop();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void StandInHttpServer::route(const std::string& path, Handler handler) {
    auto recorded = [this, handler](const httplib::Request& request, httplib::Response& response) {
        record(request);
        handler(request, response);
    };
    // POST bodies are read through a content reader. httplib takes a multipart body apart
    // and leaves `body` empty, so such a body is written back from the parts it parsed, in the
    // framing a well-formed request uses: what reaches the tests is every part in order, with
    // its headers and bytes, after a real parser accepted the framing.
    server_.Post(path, [recorded](const httplib::Request& request, httplib::Response& response,
                                  const httplib::ContentReader& reader) {
        httplib::Request whole = request;
        if (request.is_multipart_form_data()) {
            httplib::MultipartFormDataItems parts;
            reader(
                [&parts](const httplib::MultipartFormData& part) {
                    parts.push_back(part);
                    return true;
                },
                [&parts](const char* data, std::size_t length) {
                    parts.back().content.append(data, length);
                    return true;
                });
            whole.body = multipartWireForm(request.get_header_value("Content-Type"), parts);
        } else {
            reader([&whole](const char* data, std::size_t length) {
                whole.body.append(data, length);
                return true;
            });
        }
        recorded(whole, response);
    });
    server_.Get(path, recorded);
}

std::string StandInHttpServer::origin() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

std::string StandInHttpServer::url(const std::string& path) const {
    return origin() + path;
}

std::vector<ReceivedRequest> StandInHttpServer::received() const {
    std::lock_guard guard(lock_);
    return received_;
}

bool StandInHttpServer::waitForRequests(std::size_t count, std::chrono::milliseconds limit) const {
    std::unique_lock guard(lock_);
    return arrived_.wait_for(guard, limit, [&] { return received_.size() >= count; });
}

void StandInHttpServer::record(const httplib::Request& request) {
    ReceivedRequest copy{request.method, request.path, {}, request.headers, request.body};
    const auto target = request.target.find('?');
    if (target != std::string::npos) {
        copy.query = request.target.substr(target + 1);
    }
    {
        std::lock_guard guard(lock_);
        received_.push_back(std::move(copy));
    }
    arrived_.notify_all();
}

SilentListener::SilentListener() {
    socket_ = boundLoopbackSocket(port_);
    if (socket_ >= 0) {
        ::listen(socket_, 16);
    }
}

SilentListener::~SilentListener() {
    if (socket_ >= 0) {
        ::close(socket_);
    }
}

std::string SilentListener::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

int refusingPort() {
    int port = -1;
    const int fd = boundLoopbackSocket(port);
    if (fd >= 0) {
        ::close(fd);  // bound but never listening, then released: nothing answers there
    }
    return port;
}

}  // namespace vurin::testing
