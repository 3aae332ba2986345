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
#include <thread>
#include <vector>

#include "phone/phone_http.h"
#include "phone/phone_page.h"
#include "phone/phone_trigger_server.h"
#include "support/virtual_main_queue.h"

namespace vurin {
namespace {

using namespace std::chrono_literals;
constexpr std::string_view kToken = "00112233445566778899aabbccddeeff";

// A blocking loopback client; every read gives up after a few seconds so no test can hang.
class Client {
  public:
    explicit Client(std::uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        timeval timeout{.tv_sec = 5, .tv_usec = 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        sockaddr_in address{.sin_family = AF_INET, .sin_port = htons(port)};
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~Client() { ::close(fd_); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool connected() const { return connected_; }

    bool send(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (sent <= 0) {
                return false;
            }
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        }
        return true;
    }

    // Everything until the server closes (or resets, or the read times out).
    std::string readAll() {
        std::string out;
        while (readSome(out)) {
        }
        return out;
    }

    // Reads until `out` holds at least `count` bytes; false when the stream ended first.
    bool readAtLeast(std::string& out, std::size_t count) {
        while (out.size() < count) {
            if (!readSome(out)) {
                return false;
            }
        }
        return true;
    }

    bool closedByPeer() const { return closed_; }

  private:
    bool readSome(std::string& out) {
        char buffer[16384];
        const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
        if (got > 0) {
            out.append(buffer, static_cast<std::size_t>(got));
            return true;
        }
        closed_ = got == 0 || errno == ECONNRESET;
        return false;
    }

    int fd_;
    bool connected_ = false;
    bool closed_ = false;
};

std::string request(std::string_view method, std::string_view target) {
    return std::string(method) + " " + std::string(target) + " HTTP/1.1\r\nHost: phone\r\n\r\n";
}

std::string withToken(std::string_view path) {
    return std::string(path) + "?t=" + std::string(kToken);
}

class PhoneServerIntegrationTest : public ::testing::Test {
  protected:
    void TearDown() override { server.reset(); }

    // Runs the main queue until `done` holds, for at most `limit`.
    template <typename Predicate>
    bool pumpUntil(Predicate done, std::chrono::milliseconds limit = 3000ms) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            queue->runPending();
            if (done()) {
                return true;
            }
            std::this_thread::sleep_for(2ms);
        }
        return false;
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
        pumpUntil([&] { return outcome.has_value(); });
        return outcome;
    }

    std::string exchange(const std::string& bytes) {
        Client client(server->boundPort());
        EXPECT_TRUE(client.connected());
        client.send(bytes);
        return client.readAll();
    }

    // Opens an event stream and reads its head and first event.
    std::unique_ptr<Client> openStream(std::string& received) {
        auto client = std::make_unique<Client>(server->boundPort());
        client->send(request("GET", withToken("/events")));
        client->readAtLeast(received, kEventStreamHead.size() + 1);
        while (received.find("\n\n", kEventStreamHead.size()) == std::string::npos &&
               client->readAtLeast(received, received.size() + 1)) {
        }
        return client;
    }

    std::shared_ptr<testing::VirtualMainQueue> queue =
        std::make_shared<testing::VirtualMainQueue>();
    PhoneServerLimits limits;
    std::unique_ptr<PhoneTriggerServer> server;
    std::vector<std::string> events;
};

TEST_F(PhoneServerIntegrationTest, PageIsServedByteForByteWithTheRightToken) {
    ASSERT_EQ(startServer(), true);
    ASSERT_NE(server->boundPort(), 0);
    EXPECT_EQ(exchange(request("GET", withToken("/"))),
              httpResponse("200 OK", "text/html; charset=utf-8", phonePageDocument()));
}

TEST_F(PhoneServerIntegrationTest, WrongTokenIsForbiddenAndUnknownPathsAreNotFound) {
    ASSERT_EQ(startServer(), true);
    const std::string forbidden =
        httpResponse("403 Forbidden", "text/plain; charset=utf-8", "forbidden");
    const std::string notFound = httpResponse("404 Not Found", "text/plain", "not found");
    EXPECT_EQ(exchange(request("GET", "/?t=wrong")), forbidden);
    EXPECT_EQ(exchange(request("GET", "/")), forbidden);
    EXPECT_EQ(exchange(request("POST", "/e/down?t=wrong&t=" + std::string(kToken))), forbidden);
    EXPECT_EQ(exchange(request("GET", withToken("/e/down"))), notFound);
    EXPECT_EQ(exchange(request("HEAD", withToken("/"))), notFound);
    EXPECT_TRUE(events.empty());
}

TEST_F(PhoneServerIntegrationTest, PressAndReleaseReachTheOwnerInOrder) {
    ASSERT_EQ(startServer(), true);
    const std::string ok = httpResponse("200 OK", "text/plain", "ok");
    EXPECT_EQ(exchange(request("POST", withToken("/e/down"))), ok);
    EXPECT_EQ(exchange(request("POST", withToken("/e/down"))), ok);
    // A body is never read, and unread bytes must not reset the answer away.
    EXPECT_EQ(exchange("POST " + withToken("/e/up") +
                       " HTTP/1.1\r\nContent-Length: 11\r\n\r\nhello world"),
              ok);
    ASSERT_TRUE(pumpUntil([&] { return events.size() == 3; }));
    EXPECT_EQ(events, (std::vector<std::string>{"down", "down", "up"}));
}

TEST_F(PhoneServerIntegrationTest, EventStreamsStartWithTheLastStateAndReceiveBroadcasts) {
    ASSERT_EQ(startServer(), true);
    std::string first;
    auto stream = openStream(first);
    EXPECT_EQ(first, std::string(kEventStreamHead) + "data: idle\n\n");

    server->broadcast("recording");
    server->broadcast("recording");  // every call sends
    std::string more;
    ASSERT_TRUE(stream->readAtLeast(more, 34));
    EXPECT_EQ(more, "data: recording\n\ndata: recording\n\n");

    std::string second;
    auto later = openStream(second);
    EXPECT_EQ(second, std::string(kEventStreamHead) + "data: recording\n\n");
}

TEST_F(PhoneServerIntegrationTest, FifthStreamIsRefusedUntilOneOfTheFourLeaves) {
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
    streams.erase(streams.begin());
    // The server notices the departure asynchronously.
    const bool accepted = pumpUntil([&] {
        std::string received;
        auto stream = openStream(received);
        if (received.starts_with(kEventStreamHead)) {
            streams.push_back(std::move(stream));
            return true;
        }
        return false;
    });
    EXPECT_TRUE(accepted);
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
    EXPECT_TRUE(stalled->closedByPeer());
}

TEST_F(PhoneServerIntegrationTest, SilentClientIsDroppedAfterTheHeadTimeout) {
    limits.headerTimeout = 0.2;
    ASSERT_EQ(startServer(), true);
    Client client(server->boundPort());
    client.send("GET / HTTP/1.1\r\nHo");
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(client.readAll(), "");
    EXPECT_TRUE(client.closedByPeer());
    const auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_GE(waited, 150ms);
    EXPECT_LT(waited, 3s);
}

TEST_F(PhoneServerIntegrationTest, HeadAbove64KiBWithoutTerminatorIsDroppedSilently) {
    ASSERT_EQ(startServer(), true);
    Client client(server->boundPort());
    client.send("GET /" + std::string(65536 - 5 + 1, 'a'));  // 65537 bytes, no terminator
    EXPECT_EQ(client.readAll(), "");
    EXPECT_TRUE(client.closedByPeer());
    // A long but complete head is still answered.
    const std::string head =
        "GET " + withToken("/") + " HTTP/1.1\r\nX-Long: " + std::string(60000, 'b') + "\r\n\r\n";
    EXPECT_TRUE(exchange(head).starts_with("HTTP/1.1 200 OK\r\n"));
}

TEST_F(PhoneServerIntegrationTest, BadHeadsAreDroppedWithoutAnswer) {
    ASSERT_EQ(startServer(), true);
    EXPECT_EQ(exchange("GET\r\n\r\n"), "");
    EXPECT_EQ(exchange("\xff\xfe / HTTP/1.1\r\n\r\n"), "");
    EXPECT_EQ(exchange(" \r\n\r\n"), "");
}

TEST_F(PhoneServerIntegrationTest, SeventeenthWaitingConnectionIsBusy) {
    ASSERT_EQ(startServer(), true);
    std::vector<std::unique_ptr<Client>> waiting;
    for (int i = 0; i < 16; ++i) {
        waiting.push_back(std::make_unique<Client>(server->boundPort()));
        ASSERT_TRUE(waiting.back()->connected());
    }
    EXPECT_EQ(exchange(request("GET", withToken("/"))),
              httpResponse("503 Service Unavailable", "text/plain; charset=utf-8", "busy"));
    waiting.clear();
    EXPECT_TRUE(pumpUntil([&] {
        return exchange(request("GET", withToken("/"))).starts_with("HTTP/1.1 200 OK\r\n");
    }));
}

TEST_F(PhoneServerIntegrationTest, GarbageFloodDoesNotBreakALaterGoodRequest) {
    limits.headerTimeout = 0.5;
    ASSERT_EQ(startServer(), true);
    std::vector<std::unique_ptr<Client>> flood;
    for (int i = 0; i < 200; ++i) {
        auto client = std::make_unique<Client>(server->boundPort());
        switch (i % 5) {
            case 0:
                client->send(std::string(1000, static_cast<char>(i)) + "\r\n\r\n");
                break;
            case 1:
                client->send("GET\r\n\r\n");
                break;
            case 2:
                client->send("GET /?t=x HTT");  // never finished
                break;
            case 3:
                client->send(std::string(70000, 'z'));
                break;
            default:
                break;  // connects and says nothing
        }
        flood.push_back(std::move(client));
        if (flood.size() > 40) {
            flood.erase(flood.begin());  // abrupt closes, some with unread data
        }
    }
    flood.clear();
    EXPECT_TRUE(pumpUntil([&] {
        return exchange(request("GET", withToken("/"))) ==
               httpResponse("200 OK", "text/html; charset=utf-8", phonePageDocument());
    }));
}

TEST_F(PhoneServerIntegrationTest, StartWhileRunningReplacesTheToken) {
    ASSERT_EQ(startServer(), true);
    ASSERT_EQ(startServer("ffffffffffffffffffffffffffffffff"), true);
    EXPECT_TRUE(exchange(request("GET", withToken("/"))).starts_with("HTTP/1.1 403 Forbidden"));
    EXPECT_TRUE(exchange(request("GET", "/?t=ffffffffffffffffffffffffffffffff"))
                    .starts_with("HTTP/1.1 200 OK"));
}

TEST_F(PhoneServerIntegrationTest, StopClosesStreamsAndAStartAfterwardsWorks) {
    ASSERT_EQ(startServer(), true);
    std::string received;
    auto stream = openStream(received);
    const std::uint16_t firstPort = server->boundPort();
    server->stop();
    std::string rest;
    EXPECT_FALSE(stream->readAtLeast(rest, 1));
    EXPECT_TRUE(stream->closedByPeer());
    EXPECT_TRUE(pumpUntil([&] { return !Client(firstPort).connected(); }));

    ASSERT_EQ(startServer("abcdefabcdefabcdefabcdefabcdefab"), true);
    EXPECT_TRUE(exchange(request("GET", "/?t=abcdefabcdefabcdefabcdefabcdefab"))
                    .starts_with("HTTP/1.1 200 OK"));
    EXPECT_TRUE(exchange(request("GET", withToken("/"))).starts_with("HTTP/1.1 403 Forbidden"));
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
    EXPECT_EQ(waiting.readAll(), "");
    EXPECT_TRUE(waiting.closedByPeer());
    stalled->readAll();
    EXPECT_TRUE(stalled->closedByPeer());
}

TEST_F(PhoneServerIntegrationTest, PortInUseReportsFailureAndTheServerCanTryAgain) {
    ASSERT_EQ(startServer(), true);
    PhoneTriggerServer second(queue, server->boundPort());
    std::optional<bool> outcome;
    second.start(std::string(kToken), [&](bool listening) { outcome = listening; });
    ASSERT_TRUE(pumpUntil([&] { return outcome.has_value(); }));
    EXPECT_FALSE(*outcome);
    const std::uint16_t port = server->boundPort();
    server.reset();
    outcome.reset();
    second.start(std::string(kToken), [&](bool listening) { outcome = listening; });
    ASSERT_TRUE(pumpUntil([&] { return outcome.has_value(); }));
    EXPECT_TRUE(*outcome);
    EXPECT_EQ(second.port(), port);
}

TEST_F(PhoneServerIntegrationTest, UrlCarriesTheAddressPortAndTokenUnchanged) {
    ASSERT_EQ(startServer(), true);
    const auto url = server->url("a b");
    if (url) {
        EXPECT_TRUE(url->starts_with("http://"));
        EXPECT_TRUE(url->ends_with(":" + std::to_string(server->boundPort()) + "/?t=a b"));
    }
}

}  // namespace
}  // namespace vurin
