#include "providers/http_transport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "pipeline/pipeline_cancellation.h"
#include "providers/curl_transfer.h"
#include "support/stand_in_http_server.h"
#include "support/testing.h"

namespace vurin {

void PrintTo(const HttpResult& result, std::ostream* out) {
    *out << "(" << (result.body ? "\"" + result.body->substr(0, 80) + "\"" : "absent") << ", "
         << result.status << ")";
}

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using Clock = std::chrono::steady_clock;
using Headers = std::vector<std::pair<std::string, std::string>>;
const Headers kIdentity = {{"Accept-Encoding", "identity"}};  // else the stand-in compresses

HttpRequest post(std::string url, Headers headers = {}, double interval = 60) {
    headers.insert(headers.begin(), {"Content-Type", "application/json"});
    return HttpRequest{
        .url = std::move(url), .headers = headers, .body = "{}", .timeoutInterval = interval};
}

class HttpTransportIntegrationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto reply = [this](const char* path, int status, std::string body) {
            server.route(path, [=](const httplib::Request&, httplib::Response& response) {
                response.status = status;
                response.set_content(body, "text/plain");
            });
        };
        reply("/x", 200, "ok");
        reply("/big-error", 500, std::string(10'000'000, 'e'));
        reply("/empty", 204, "");
        // Compressed to a few kilobytes: the cap counts decoded bytes.
        reply("/huge", 200, std::string(kMaxResponseBodyBytes + 1, 'h'));
        server.route("/elsewhere", [](const httplib::Request&, httplib::Response& response) {
            response.set_redirect("file:///etc/hostname");
        });
        // Never pausing for as long as the interval, though longer than it in all; the gaps
        // leave a wide margin, so a busy machine cannot stretch one past the interval.
        server.route("/trickle", [](const httplib::Request&, httplib::Response& response) {
            response.set_chunked_content_provider("text/plain", [](size_t offset, auto& sink) {
                if (offset >= 20) {
                    sink.done();
                    return true;
                }
                std::this_thread::sleep_for(250ms);
                return sink.write("ab", 2);
            });
        });
        server.route("/hold", [this](const httplib::Request&, httplib::Response& response) {
            server.shutdownGate().waitOpen(60s);
            response.set_content("late", "text/plain");
        });
    }

    testing::StandInHttpServer server;
};

TEST_F(HttpTransportIntegrationTest, SendsTheRequestAsGivenAndReturnsTheReply) {
    HttpRequest request = post(server.url("/x"));
    request.body = "bin\0ary\r\n"s;
    request.headers = {{"Authorization", "Bearer sk-1"}, {"content-type", "audio/wav"}};
    EXPECT_EQ(httpPost(request, 10), (HttpResult{"ok"s, 200}));
    const auto received = server.received();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].method, "POST");
    EXPECT_EQ(received[0].body, "bin\0ary\r\n"s);
    EXPECT_EQ(received[0].headers.find("Authorization")->second, "Bearer sk-1");
    EXPECT_EQ(received[0].headers.find("Content-Type")->second, "audio/wav");
    EXPECT_EQ(received[0].headers.count("Expect"), 0u);
}

TEST_F(HttpTransportIntegrationTest, EachKindOfReplyAndFailure) {
    testing::SilentListener silent;
    struct Case {
        const char* name;
        HttpRequest request;
        HttpResult result;
        double wait = 10;
        double atLeast = 0;  // seconds the outcome takes
    };
    const std::vector<Case> cases = {
        {"error with a large body",
         post(server.url("/big-error"), kIdentity),
         {std::string(10'000'000, 'e'), 500}},
        {"empty", post(server.url("/empty")), {""s, 204}},
        {"past the size cap", post(server.url("/huge")), {std::nullopt, 200}, 30},
        {"redirect outside HTTP", post(server.url("/elsewhere")), {std::nullopt, 0}},
        {"header split",
         post(server.url("/x"), {{"Authorization", "Bearer k\r\nX-Injected: 1"}}),
         {std::nullopt, 0}},
        // A key put in verbatim as the Gemini endpoint does.
        {"not a URL", post(server.url("/x?key=a b\nc")), {std::nullopt, 0}},
        {"not a URL at all", post("not a url"), {std::nullopt, 0}},
        {"not HTTP", post("ftp://127.0.0.1/x"), {std::nullopt, 0}},
        {"never answers", post(silent.url("/inference")), {std::nullopt, -1}, 0.4, 0.39},
        {"idle past the interval",
         post(silent.url("/inference"), {}, 0.4),
         {std::nullopt, 0},
         30,
         0.39},
        {"trickling within the interval",
         post(server.url("/trickle"), kIdentity, 1.5),
         {"abababababababababab"s, 200},
         30},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto start = Clock::now();
        EXPECT_EQ(httpPost(c.request, c.wait), c.result);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (c.atLeast > 0) {
            EXPECT_GE(seconds, c.atLeast);
            EXPECT_LT(seconds, 5.0);
        }
    }
    std::vector<std::string> paths;
    for (const auto& request : server.received()) {
        paths.push_back(request.path);
    }
    // Malformed requests fail without being sent.
    EXPECT_EQ(paths, (std::vector<std::string>{"/big-error", "/empty", "/huge", "/elsewhere",
                                               "/trickle"}));
}

TEST_F(HttpTransportIntegrationTest, LoopbackRequestsIgnoreProxiesFromTheEnvironment) {
    testing::ScopedEnvironment environment;
    environment.set("http_proxy", "http://127.0.0.2:" + std::to_string(testing::refusingPort()));
    environment.unset("no_proxy");
    environment.unset("NO_PROXY");
    EXPECT_EQ(httpPost(post(server.url("/x")), 10), (HttpResult{"ok"s, 200}));
}

TEST_F(HttpTransportIntegrationTest, CancellingWhileTheServerHoldsTheRequestReturnsAtOnce) {
    auto cancellation = std::make_shared<PipelineCancellation>();
    auto pending = std::async(std::launch::async, [&] {
        return std::make_pair(httpPost(post(server.url("/hold")), 20, cancellation), Clock::now());
    });
    ASSERT_TRUE(server.waitForRequests(1, 10s));
    const auto cancelledAt = Clock::now();
    cancellation->cancel();
    const auto [result, returnedAt] = pending.get();
    EXPECT_EQ(result, (HttpResult{std::nullopt, -2}));
    // Far below the 20 s wait; in practice a few milliseconds (see bench/).
    EXPECT_LT(returnedAt - cancelledAt, 2s);
}

TEST_F(HttpTransportIntegrationTest, ACancellationStopsOnlyTheRequestsAfterIt) {
    auto cancellation = std::make_shared<PipelineCancellation>();
    EXPECT_EQ(httpPost(post(server.url("/x")), 10, cancellation), (HttpResult{"ok"s, 200}));
    EXPECT_EQ(httpPost(post(server.url("/x")), 10, cancellation), (HttpResult{"ok"s, 200}));
    // Cancelling afterwards touches no finished request and stops the next one unsent.
    cancellation->cancel();
    EXPECT_EQ(httpPost(post(server.url("/x")), 10, cancellation), (HttpResult{std::nullopt, -2}));
    EXPECT_EQ(server.received().size(), 2u);

    const HttpRequest request = post(server.url("/x"));
    auto transfer = std::make_shared<CurlTransfer>(request);
    EXPECT_EQ(transfer->run(Clock::now() + 10s).outcome, CurlTransfer::Outcome::replied);
    transfer->cancel();  // after it finished, twice
    transfer->cancel();
}

TEST_F(HttpTransportIntegrationTest, CancelsRacingTheStartOfTheRequestAlwaysEndItAsCancelled) {
    for (int round = 0; round < 20; ++round) {
        auto cancellation = std::make_shared<PipelineCancellation>();
        auto pending = std::async(std::launch::async, [&] {
            return httpPost(post(server.url("/hold")), 20, cancellation);
        });
        // Staggered so the cancel lands at a different moment of the start each round.
        std::this_thread::sleep_for(std::chrono::microseconds(round * 150));
        cancellation->cancel();
        ASSERT_EQ(pending.wait_for(5s), std::future_status::ready) << "round " << round;
        EXPECT_EQ(pending.get(), (HttpResult{std::nullopt, -2})) << "round " << round;
    }
}

}  // namespace
}  // namespace vurin
