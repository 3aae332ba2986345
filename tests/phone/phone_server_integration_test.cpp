#include <gtest/gtest.h>

#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <asio/basic_socket_iostream.hpp>
#include <asio/ip/tcp.hpp>
#include <filesystem>
#include <fstream>

#include "phone/phone_http.h"
#include "phone/phone_page.h"
#include "phone/phone_trigger_server.h"
#include "support/testing.h"
#include "support/virtual_main_queue.h"

namespace vurin {
namespace {

using namespace std::chrono_literals;
constexpr std::string_view kToken = "00112233445566778899aabbccddeeff";
const std::string kOtherToken(32, 'f');
const std::string kPage = httpResponse("200 OK", "text/html; charset=utf-8", phonePageDocument());
const std::string kStreamStart = std::string(kEventStreamHead) + "data: ";
const auto busy = [](const char* body) {
    return httpResponse("503 Service Unavailable", "text/plain; charset=utf-8", body);
};

// A loopback client whose every wait gives up after five seconds, so no test can hang.
struct Client : asio::ip::tcp::iostream {
    explicit Client(std::uint16_t port) {
        expires_after(std::chrono::seconds(5));
        connect("127.0.0.1", std::to_string(port));
    }
    void send(std::string_view b) {
        write(b.data(), static_cast<std::streamsize>(b.size())).flush();
    }
    bool readAtLeast(std::string& out, std::size_t count) {
        const std::size_t start = out.size();
        out.resize(count);
        read(out.data() + start, static_cast<std::streamsize>(count - start));
        out.resize(start + static_cast<std::size_t>(gcount()));
        return out.size() == count;
    }
    std::string readAll() { return {std::istreambuf_iterator<char>(*this), {}}; }
    bool closedByPeer() const {
        return error() == asio::error::eof || error() == asio::error::connection_reset;
    }
    bool dropped() { return readAll().empty() && closedByPeer(); }  // closed without an answer
};

std::string get(std::string_view path, std::string_view token = kToken,
                const char* method = "GET") {
    return std::string(method) + " " + std::string(path) + "?t=" + std::string(token) +
           " HTTP/1.1\r\nHost: phone\r\n\r\n";
}

class PhoneServerIntegrationTest : public ::testing::Test {
  protected:
    bool until(const std::function<bool()>& done) {
        return testing::eventually([&] { return queue->runPending(), done(); }, 3000ms);
    }
    bool listens(std::string_view token = kToken, PhoneTriggerServer* target = nullptr) {
        std::optional<bool> outcome;
        (target ? target : server.get())->start(std::string(token), [&](bool yes) {
            outcome = yes;
        });
        return until([&] { return outcome.has_value(); }) && *outcome;
    }
    std::string exchange(const std::string& bytes) {
        Client client(server->boundPort());
        client.send(bytes);
        return client.readAll();
    }
    std::unique_ptr<Client> openStream(std::string& received) {
        auto client = std::make_unique<Client>(server->boundPort());
        client->send(get("/events"));
        while (received.find("\n\n", kEventStreamHead.size()) == std::string::npos &&
               client->readAtLeast(received, received.size() + 1)) {
        }
        return client;
    }

    std::shared_ptr<testing::VirtualMainQueue> queue =
        std::make_shared<testing::VirtualMainQueue>();
    std::unique_ptr<PhoneTriggerServer> server =
        std::make_unique<PhoneTriggerServer>(queue, 0, PhoneServerLimits{.headerTimeout = 2});
};

TEST_F(PhoneServerIntegrationTest, AnswersStreamsSurvivesAbuseAndClosesEverythingAtOnce) {
    std::vector<std::string> events;
    server->setOnEvent([&](auto event, double) {
        events.push_back(event == PhoneServer::Event::down ? "down" : "up");
    });
    ASSERT_TRUE(listens());
    // The head lines in order, then the body (the other answers are built the same way).
    const std::string no =
        "HTTP/1.1 403 Forbidden\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: 9\r\n"
        "Cache-Control: no-store\r\nContent-Security-Policy: default-src 'self'; script-src "
        "'unsafe-inline'; style-src 'unsafe-inline'; connect-src 'self'; frame-ancestors 'none'; "
        "base-uri 'none'\r\nReferrer-Policy: no-referrer\r\nX-Content-Type-Options: nosniff\r\n"
        "Connection: close\r\n\r\nforbidden";
    const std::string ok = httpResponse("200 OK", "text/plain", "ok");
    // clang-format off
    const std::vector<std::pair<std::string, std::string>> cases = {
        {get("/"), kPage}, {"GET / HTTP/1.1\r\n\r\n", no},
        {get("/e/down"), httpResponse("404 Not Found", "text/plain", "not found")},
        {"\xff\xfe / HTTP/1.1\r\n\r\n", ""},
        {get("/e/down", kToken, "POST"), ok}, {get("/e/down", kToken, "POST"), ok},
        // A body is never read, and unread bytes must not reset the answer away.
        {"POST /e/up?t=" + std::string(kToken) + " HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello", ok}};
    // clang-format on
    for (const auto& [sent, answer] : cases) {
        EXPECT_EQ(exchange(sent), answer) << sent;
    }
    ASSERT_TRUE(until([&] { return events.size() == 3; }));
    EXPECT_EQ(events, (std::vector<std::string>{"down", "down", "up"}));

    std::vector<std::unique_ptr<Client>> streams;
    for (int i = 0; i < 4; ++i) {
        std::string received;
        streams.push_back(openStream(received));
        ASSERT_EQ(received, kStreamStart + "idle\n\n");
    }
    EXPECT_EQ(exchange(get("/events")), busy("too many clients"));
    server->broadcast("recording");
    streams.erase(streams.begin());
    EXPECT_TRUE(until([&] {
        std::string received;
        streams.push_back(openStream(received));
        return received == kStreamStart + "recording\n\n";
    }));
    ASSERT_TRUE(listens(kOtherToken));  // while running
    EXPECT_TRUE(exchange(get("/")).starts_with("HTTP/1.1 403"));
    EXPECT_EQ(exchange(get("/", kOtherToken)), kPage);
    const std::uint16_t firstPort = server->boundPort();
    server->stop();
    streams[0]->readAll();
    EXPECT_TRUE(streams[0]->closedByPeer());
    EXPECT_TRUE(
        until([&] { return Client(firstPort).error() == asio::error::connection_refused; }));
    ASSERT_TRUE(listens());
    EXPECT_EQ(exchange(get("/")), kPage);
    EXPECT_TRUE(exchange(get("/", kOtherToken)).starts_with("HTTP/1.1 403"));

    // A stalled stream, a 17th waiting head, heads stalled or past 64 KiB, a flood, a taken port.
    const std::uint16_t port = server->boundPort();
    std::string ignored, buffer;
    auto stalled = openStream(ignored);  // never read again
    auto reader = openStream(buffer);
    const std::string big(256 * 1024, 'x');  // far more than the socket buffers hold
    for (int i = 0; i < 200; ++i) {
        buffer.clear();
        server->broadcast(big);
        ASSERT_TRUE(reader->readAtLeast(buffer, big.size() + 8));
    }
    stalled->readAll();
    EXPECT_TRUE(stalled->closedByPeer());

    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 16; ++i) {
        clients.push_back(std::make_unique<Client>(port));
    }
    EXPECT_EQ(exchange(get("/")), busy("busy"));
    clients.clear();
    Client silent(port);
    silent.send("GET / HTTP/1.1\r\nHo");
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(silent.dropped());
    EXPECT_GE(std::chrono::steady_clock::now() - started, 1500ms);
    Client flooding(port);
    flooding.send("GET /" + std::string(65536 - 5 + 1, 'a'));  // 65537 bytes, no terminator
    EXPECT_TRUE(flooding.dropped());
    EXPECT_EQ(exchange(get("/", std::string(kToken) + "&x=" + std::string(60000, 'b'))), kPage);
    const std::vector<std::string> garbage = {"GET\r\n\r\n", "GET /?t=x HTT",
                                              std::string(70000, 'z'), ""};
    for (int i = 0; i < 200; ++i) {
        clients.push_back(std::make_unique<Client>(port));
        clients.back()->send(i % 5 == 0 ? std::string(1000, static_cast<char>(i)) + "\r\n\r\n"
                                        : garbage[i % 5 - 1]);
        if (clients.size() > 40) {
            clients.erase(clients.begin());  // abrupt closes, some with unread data
        }
    }
    clients.clear();
    EXPECT_TRUE(until([&] { return exchange(get("/")) == kPage; }));

    auto queued = openStream(ignored);
    for (int i = 0; i < 8; ++i) {
        server->broadcast(big);
    }
    Client lingering(port);  // answered, not yet closed
    lingering.send(get("/"));
    ASSERT_TRUE(lingering.readAtLeast(buffer, buffer.size() + 12));
    Client waiting(port);
    waiting.send("GET / HTTP/1.1\r\nHo");
    PhoneTriggerServer second(queue, port);
    EXPECT_FALSE(listens(kToken, &second));  // the port is in use
    const auto destroying = std::chrono::steady_clock::now();
    server.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - destroying, 800ms);
    EXPECT_TRUE(waiting.dropped());
    queued->readAll();
    EXPECT_TRUE(queued->closedByPeer());
    EXPECT_TRUE(listens(kToken, &second));
    EXPECT_TRUE(second.url("a b")
                    .value_or("http://:" + std::to_string(port) + "/?t=a b")
                    .ends_with(":" + std::to_string(port) + "/?t=a b"));
}

// Another process opens 1,500 connections whose requests lack the token and never reads the
// answers; under the usual 1,024 soft limit the server keeps to its budget, the process can
// still open files, and a request with the token is served while the flood holds on.
TEST_F(PhoneServerIntegrationTest, AFloodWithoutTheTokenLeavesRoomForThePairedPhone) {
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low{std::min<rlim_t>(1024, saved.rlim_max), saved.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    ASSERT_TRUE(listens());
    const auto openFiles = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
    };
    const auto before = openFiles();
    sockaddr_in address{AF_INET, htons(server->boundPort()), {htonl(INADDR_LOOPBACK)}, {}};
    const std::string request = "GET / HTTP/1.1\r\n\r\n";
    int link[2];  // the flood says when it is in, then holds on until the link closes
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, link), 0);
    const pid_t flood = fork();
    if (flood == 0) {  // system calls only: the parent has threads
        setrlimit(RLIMIT_NOFILE, &saved);
        close(link[0]);
        for (int i = 0; i < 1500; ++i) {
            const int peer = socket(AF_INET, SOCK_STREAM, 0);
            if (connect(peer, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
                write(peer, request.data(), request.size()) < 0) {
                _exit(1);
            }
        }
        _exit(write(link[1], "!", 1) == 1 && read(link[1], link, 1) <= 0 ? 0 : 1);
    }
    close(link[1]);
    pollfd flooded{link[0], POLLIN, 0};
    ASSERT_EQ(poll(&flooded, 1, 20000), 1);
    EXPECT_TRUE(std::ifstream("/proc/self/status").is_open());
    EXPECT_TRUE(until([&] { return exchange(get("/")) == kPage; }));
    EXPECT_LE(openFiles(), before + 257);  // the flood has all been taken in by now
    close(link[0]);
    int status = -1;
    EXPECT_TRUE(waitpid(flood, &status, 0) == flood && status == 0);
    setrlimit(RLIMIT_NOFILE, &saved);
}

}  // namespace
}  // namespace vurin
