#include "support/stand_in_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vurin::testing {
namespace {

// A socket bound to 127.0.0.1 on a port the kernel picks.
int boundLoopbackSocket(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{.sin_family = AF_INET, .sin_port = 0};
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (fd >= 0 && (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
                    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)) {
        ::close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

}  // namespace

StandInHttpServer::StandInHttpServer() {
    // Headers and body go out in separate writes; without this, Nagle's algorithm holds the
    // body back until the client's delayed ACK (some 40 ms).
    server_.set_tcp_nodelay(true);
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    // stop() is ignored until the accept loop runs.
    for (int tries = 0; tries < 5000 && !server_.is_running(); ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

StandInHttpServer::~StandInHttpServer() {
    shutdown_.open();
    server_.stop();
    thread_.join();
}

void StandInHttpServer::route(const std::string& path, Handler handler) {
    const auto recorded = [this, handler](const httplib::Request& request,
                                          httplib::Response& response) {
        const auto mark = request.target.find('?');
        std::unique_lock guard(lock_);
        received_.push_back({request.method, request.path,
                             mark == std::string::npos ? "" : request.target.substr(mark + 1),
                             request.headers, request.body});
        guard.unlock();
        arrived_.notify_all();
        handler(request, response);
    };
    // httplib takes a multipart body apart, so it is written back from the parts it accepted.
    server_.Post(path, [recorded](const httplib::Request& request, httplib::Response& response,
                                  const httplib::ContentReader& reader) {
        httplib::Request whole = request;
        const auto append = [&whole](const char* data, std::size_t length) {
            whole.body.append(data, length);
            return true;
        };
        if (!request.is_multipart_form_data()) {
            reader(append);
            return recorded(whole, response);
        }
        const std::string type = request.get_header_value("Content-Type");
        const std::string boundary = "--" + type.substr(type.find("boundary=") + 9);
        reader(
            [&](const httplib::MultipartFormData& part) {
                whole.body += (whole.body.empty() ? "" : "\r\n") + boundary +
                              "\r\nContent-Disposition: form-data; name=\"" + part.name + "\"";
                if (!part.filename.empty()) {
                    whole.body += "; filename=\"" + part.filename + "\"";
                }
                if (!part.content_type.empty()) {
                    whole.body += "\r\nContent-Type: " + part.content_type;
                }
                whole.body += "\r\n\r\n";
                return true;
            },
            append);
        whole.body += "\r\n" + boundary + "--\r\n";
        recorded(whole, response);
    });
    server_.Get(path, recorded);
}

std::vector<ReceivedRequest> StandInHttpServer::received() const {
    std::lock_guard guard(lock_);
    return received_;
}

bool StandInHttpServer::waitForRequests(std::size_t count, std::chrono::milliseconds limit) const {
    std::unique_lock guard(lock_);
    return arrived_.wait_for(guard, limit, [&] { return received_.size() >= count; });
}

SilentListener::SilentListener() {
    socket_ = boundLoopbackSocket(port_);
    ::listen(socket_, 16);
}

SilentListener::~SilentListener() {
    ::close(socket_);
}

std::string SilentListener::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

int refusingPort() {
    int port = -1;
    ::close(boundLoopbackSocket(port));  // bound but never listening, then released
    return port;
}

}  // namespace vurin::testing
