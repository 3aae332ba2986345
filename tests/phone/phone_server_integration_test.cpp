#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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
using Strings = std::vector<std::string>;

// A blocking loopback client whose reads give up after a few seconds, so no test can hang.
class Client {
  public:
    explicit Client(std::uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        timeval timeout{.tv_sec = 5, .tv_usec = 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        sockaddr_in address{.sin_family = AF_INET, .sin_port = htons(port)};
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~Client() { ::close(fd_); }
    void send(std::string_view bytes) {
        for (ssize_t sent = 1; !bytes.empty() && sent > 0;
             bytes.remove_prefix(std::max(sent, 0L))) {
            sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        }
    }
    // Reads until `out` holds `count` bytes; false when the stream ended (or timed out) first.
    bool readAtLeast(std::string& out, std::size_t count) {
        char buffer[16384];
        while (out.size() < count) {
            const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
            if (got <= 0) {
                closedByPeer = got == 0 || errno == ECONNRESET;
                return false;
            }
            out.append(buffer, static_cast<std::size_t>(got));
        }
        return true;
    }
    std::string readAll() {
        std::string out;
        readAtLeast(out, std::string::npos);
        return out;
    }
    // Closed by the server without an answer.
    bool dropped() { return readAll().empty() && closedByPeer; }

    bool connected = false;
    bool closedByPeer = false;

  private:
    int fd_;
};

std::string request(std::string_view method, std::string_view target) {
    return std::string(method) + " " + std::string(target) + " HTTP/1.1\r\nHost: phone\r\n\r\n";
}
std::string withToken(std::string_view path, std::string_view token = kToken) {
    return std::string(path) + "?t=" + std::string(token);
}
const std::string kPage = httpResponse("200 OK", "text/html; charset=utf-8", phonePageDocument());

class PhoneServerIntegrationTest : public ::testing::Test {
  protected:
    // Runs the main queue until `done` holds.
    bool until(const std::function<bool()>& done, std::chrono::milliseconds limit = 3000ms) {
        return testing::eventually(
            [&] {
                queue->runPending();
                return done();
            },
            limit);
    }
    std::optional<bool> startServer(std::string_view token = kToken) {
        if (!server) {
            server = std::make_unique<PhoneTriggerServer>(queue, 0, limits);
            server->setOnEvent([this](PhoneServer::Event event) {
                events.push_back(event == PhoneServer::Event::down ? "down" : "up");
            });
        }
        std::optional<bool> outcome;
        server->start(std::string(token), [&outcome](bool listening) { outcome = listening; });
        until([&] { return outcome.has_value(); });
        return outcome;
    }
    std::string exchange(const std::string& bytes) {
        Client client(server->boundPort());
        EXPECT_TRUE(client.connected);
        client.send(bytes);
        return client.readAll();
    }
    // An event stream, read up to the end of its first event.
    std::unique_ptr<Client> openStream(std::string& received) {
        auto client = std::make_unique<Client>(server->boundPort());
        client->send(request("GET", withToken("/events")));
        while (received.find("\n\n", kEventStreamHead.size()) == std::string::npos &&
               client->readAtLeast(received, received.size() + 1)) {
        }
        return client;
    }

    std::shared_ptr<testing::VirtualMainQueue> queue =
        std::make_shared<testing::VirtualMainQueue>();
    PhoneServerLimits limits;
    std::unique_ptr<PhoneTriggerServer> server;
    Strings events;
};

TEST_F(PhoneServerIntegrationTest, AnswersByTokenMethodAndPathAndDropsBadHeadsUnanswered) {
    ASSERT_EQ(startServer(), true);
    ASSERT_NE(server->boundPort(), 0);
    const std::string no = httpResponse("403 Forbidden", "text/plain; charset=utf-8", "forbidden");
    const std::string notFound = httpResponse("404 Not Found", "text/plain", "not found");
    const std::string ok = httpResponse("200 OK", "text/plain", "ok");
    const std::string down = request("POST", withToken("/e/down"));
    // clang-format off
    const std::vector<std::pair<std::string, std::string>> cases = {
        {request("GET", withToken("/")), kPage}, {request("GET", "/?t=wrong"), no},
        {request("GET", "/"), no}, {request("POST", "/e/down?t=wrong&t=" + std::string(kToken)), no},
        {request("GET", withToken("/e/down")), notFound}, {request("HEAD", withToken("/")), notFound},
        {"GET\r\n\r\n", ""}, {"\xff\xfe / HTTP/1.1\r\n\r\n", ""}, {" \r\n\r\n", ""},
        {down, ok}, {down, ok},
        // A body is never read, and unread bytes must not reset the answer away.
        {"POST " + withToken("/e/up") + " HTTP/1.1\r\nContent-Length: 11\r\n\r\nhello world", ok}};
    // clang-format on
    for (const auto& [sent, answer] : cases) {
        EXPECT_EQ(exchange(sent), answer) << sent;
    }
    ASSERT_TRUE(until([&] { return events.size() == 3; }));
    EXPECT_EQ(events, (Strings{"down", "down", "up"}));
}

TEST_F(PhoneServerIntegrationTest, StreamsStartWithTheLastStateAndAFifthWaitsForAFreeSlot) {
    ASSERT_EQ(startServer(), true);
    std::vector<std::unique_ptr<Client>> streams;
    for (int i = 0; i < 4; ++i) {
        std::string received;
        streams.push_back(openStream(received));
        ASSERT_EQ(received, std::string(kEventStreamHead) + "data: idle\n\n");
    }
    EXPECT_EQ(
        exchange(request("GET", withToken("/events"))),
        httpResponse("503 Service Unavailable", "text/plain; charset=utf-8", "too many clients"));
    server->broadcast("recording");
    server->broadcast("recording");  // every call sends
    std::string more;
    ASSERT_TRUE(streams[0]->readAtLeast(more, 34));
    EXPECT_EQ(more, "data: recording\n\ndata: recording\n\n");
    streams.erase(streams.begin());
    // The server notices the departure asynchronously.
    EXPECT_TRUE(until([&] {
        std::string received;
        streams.push_back(openStream(received));
        return received == std::string(kEventStreamHead) + "data: recording\n\n";
    }));
}

TEST_F(PhoneServerIntegrationTest, StreamThatStopsReadingIsDroppedAndOthersKeepGoing) {
    ASSERT_EQ(startServer(), true);
    std::string ignored;
    auto stalled = openStream(ignored);  // never read again
    std::string buffer;
    auto reader = openStream(buffer);
    buffer.clear();
    // Far more than the socket buffers hold, so the stalled stream's queue fills up.
    const std::string big(256 * 1024, 'x');
    const std::size_t eventSize = big.size() + 8;  // "data: " + state + "\n\n"
    for (int i = 0; i < 200; ++i) {
        server->broadcast(big);
        ASSERT_TRUE(reader->readAtLeast(buffer, eventSize));
        buffer.erase(0, eventSize);
    }
    server->broadcast("idle");
    EXPECT_TRUE(reader->readAtLeast(buffer, 12));
    EXPECT_EQ(buffer, "data: idle\n\n");
    // The stalled one was closed: draining it ends instead of waiting for more.
    EXPECT_EQ(stalled->readAll().find("data: idle"), std::string::npos);
    EXPECT_TRUE(stalled->closedByPeer);
}

TEST_F(PhoneServerIntegrationTest, SilentClientIsDroppedAfterTheHeadTimeout) {
    limits.headerTimeout = 0.2;
    ASSERT_EQ(startServer(), true);
    Client client(server->boundPort());
    client.send("GET / HTTP/1.1\r\nHo");
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(client.dropped());
    const auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_GE(waited, 150ms);
    EXPECT_LT(waited, 3s);
}

TEST_F(PhoneServerIntegrationTest, HeadAbove64KiBWithoutTerminatorIsDroppedSilently) {
    ASSERT_EQ(startServer(), true);
    Client client(server->boundPort());
    client.send("GET /" + std::string(65536 - 5 + 1, 'a'));  // 65537 bytes, no terminator
    EXPECT_TRUE(client.dropped());
    // A long but complete head is still answered.
    EXPECT_EQ(exchange("GET " + withToken("/") + " HTTP/1.1\r\nX-Long: " + std::string(60000, 'b') +
                       "\r\n\r\n"),
              kPage);
}

TEST_F(PhoneServerIntegrationTest, SeventeenthWaitingConnectionIsBusyAndAFloodBreaksNothing) {
    ASSERT_EQ(startServer(), true);
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 16; ++i) {
        clients.push_back(std::make_unique<Client>(server->boundPort()));
        ASSERT_TRUE(clients.back()->connected);
    }
    EXPECT_EQ(exchange(request("GET", withToken("/"))),
              httpResponse("503 Service Unavailable", "text/plain; charset=utf-8", "busy"));
    clients.clear();
    EXPECT_TRUE(until([&] { return exchange(request("GET", withToken("/"))) == kPage; }));
    const Strings garbage = {"GET\r\n\r\n", "GET /?t=x HTT", std::string(70000, 'z'), ""};
    for (int i = 0; i < 200; ++i) {
        clients.push_back(std::make_unique<Client>(server->boundPort()));
        clients.back()->send(i % 5 == 0 ? std::string(1000, static_cast<char>(i)) + "\r\n\r\n"
                                        : garbage[i % 5 - 1]);
        if (clients.size() > 40) {
            clients.erase(clients.begin());  // abrupt closes, some with unread data
        }
    }
    clients.clear();
    EXPECT_TRUE(until([&] { return exchange(request("GET", withToken("/"))) == kPage; }));
}

TEST_F(PhoneServerIntegrationTest, ANewTokenReplacesTheOldAndStopClosesStreams) {
    ASSERT_EQ(startServer(), true);
    ASSERT_EQ(startServer(kOtherToken), true);  // while running
    EXPECT_TRUE(exchange(request("GET", withToken("/"))).starts_with("HTTP/1.1 403 Forbidden"));
    EXPECT_EQ(exchange(request("GET", withToken("/", kOtherToken))), kPage);

    std::string received;
    auto stream = openStream(received);
    const std::uint16_t firstPort = server->boundPort();
    server->stop();
    std::string rest;
    EXPECT_FALSE(stream->readAtLeast(rest, 1));
    EXPECT_TRUE(stream->closedByPeer);
    EXPECT_TRUE(until([&] { return !Client(firstPort).connected; }));
    ASSERT_EQ(startServer(), true);
    EXPECT_EQ(exchange(request("GET", withToken("/"))), kPage);
    EXPECT_TRUE(exchange(request("GET", withToken("/", kOtherToken))).starts_with("HTTP/1.1 403"));
}

// Destruction must not wait for peers: a stream with writes queued behind a full socket, an
// answered request still lingering and a head still arriving are all closed at once.
TEST_F(PhoneServerIntegrationTest, DestroyingTheServerClosesEveryConnectionAtOnce) {
    ASSERT_EQ(startServer(), true);
    std::string ignored;
    auto stalled = openStream(ignored);
    for (int i = 0; i < 8; ++i) {
        server->broadcast(std::string(256 * 1024, 'x'));
    }
    Client lingering(server->boundPort());
    lingering.send(request("GET", withToken("/")));
    std::string answer;
    ASSERT_TRUE(lingering.readAtLeast(answer, 12));
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 200"));
    Client waiting(server->boundPort());
    waiting.send("GET / HTTP/1.1\r\nHo");

    const auto started = std::chrono::steady_clock::now();
    server.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 800ms);
    EXPECT_TRUE(waiting.dropped());
    stalled->readAll();
    EXPECT_TRUE(stalled->closedByPeer);
}

TEST_F(PhoneServerIntegrationTest, PortInUseReportsFailureAndTheServerCanTryAgain) {
    ASSERT_EQ(startServer(), true);
    const std::uint16_t port = server->boundPort();
    PhoneTriggerServer second(queue, port);
    std::vector<bool> outcomes;
    const auto start = [&] {
        second.start(std::string(kToken), [&](bool listening) { outcomes.push_back(listening); });
        return until([&, expected = outcomes.size() + 1] { return outcomes.size() == expected; });
    };
    ASSERT_TRUE(start());
    server.reset();
    ASSERT_TRUE(start());
    EXPECT_EQ(outcomes, (std::vector<bool>{false, true}));
    EXPECT_EQ(second.port(), port);
    // The URL carries address, port and token unchanged (when the machine has an address).
    if (const auto url = second.url("a b")) {
        EXPECT_TRUE(url->starts_with("http://"));
        EXPECT_TRUE(url->ends_with(":" + std::to_string(port) + "/?t=a b"));
    }
}

}  // namespace
}  // namespace vurin
