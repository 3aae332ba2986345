#include "providers/http_transport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <optional>
#include <string>
#include <thread>

#include "pipeline/pipeline_cancellation.h"
#include "providers/curl_transfer.h"
#include "support/stand_in_http_server.h"

namespace vurin {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using Clock = std::chrono::steady_clock;
using testing::SilentListener;
using testing::StandInHttpServer;

}  // namespace

void PrintTo(const HttpResult& result, std::ostream* out) {
    *out << "(" << (result.body ? "\"" + result.body->substr(0, 80) + "\"" : "absent") << ", "
         << result.status << ")";
}

namespace {

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

HttpRequest post(std::string url, std::string body = "{}") {
    HttpRequest request;
    request.url = std::move(url);
    request.headers = {{"Content-Type", "application/json"}};
    request.body = std::move(body);
    return request;
}

// Holds every request until the server shuts down.
void holdRequests(StandInHttpServer& server) {
    server.route("/hold", [&server](const httplib::Request&, httplib::Response& response) {
        server.shutdownGate().waitOpen(60s);
        response.set_content("late", "text/plain");
    });
}

TEST(HttpTransportIntegrationTest, SendsTheRequestAsGivenAndReturnsTheReply) {
    StandInHttpServer server;
    server.route("/v1/chat", [](const httplib::Request&, httplib::Response& response) {
        response.status = 200;
        response.set_content(R"({"text":"你好"})", "application/json");
    });
    HttpRequest request = post(server.url("/v1/chat"), "bin\0ary\r\n"s);
    request.headers = {{"Authorization", "Bearer sk-1"}, {"content-type", "audio/wav"}};

    const HttpResult result = httpPost(request, 10);

    EXPECT_EQ(result, (HttpResult{R"({"text":"你好"})", 200}));
    const auto received = server.received();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].method, "POST");
    EXPECT_EQ(received[0].body, "bin\0ary\r\n"s);
    EXPECT_EQ(httplib::detail::get_header_value(received[0].headers, "Authorization", 0, ""),
              std::string("Bearer sk-1"));
    EXPECT_EQ(httplib::detail::get_header_value(received[0].headers, "Content-Type", 0, ""),
              std::string("audio/wav"));
    EXPECT_EQ(received[0].headers.count("Expect"), 0u);
}

TEST(HttpTransportIntegrationTest, ErrorStatusesAndEmptyBodiesComeBackAsReceived) {
    StandInHttpServer server;
    const std::string large(10 * 1000 * 1000, 'e');
    server.route("/big-error", [&](const httplib::Request&, httplib::Response& response) {
        response.status = 500;
        response.set_content(large, "text/plain");
    });
    server.route("/empty", [](const httplib::Request&, httplib::Response& response) {
        response.status = 204;
    });

    HttpRequest request = post(server.url("/big-error"));
    request.headers.emplace_back("Accept-Encoding", "identity");
    const HttpResult error = httpPost(request, 20);
    EXPECT_EQ(error.status, 500);
    ASSERT_TRUE(error.body);
    EXPECT_EQ(error.body->size(), large.size());

    EXPECT_EQ(httpPost(post(server.url("/empty")), 10), (HttpResult{""s, 204}));
}

// The stand-in compresses this reply to a few kilobytes: the cap counts decoded bytes, so a
// small compressed reply cannot unpack into unbounded memory.
TEST(HttpTransportIntegrationTest, AReplyPastTheSizeCapKeepsItsStatusButNoBody) {
    StandInHttpServer server;
    server.route("/huge", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(std::string(kMaxResponseBodyBytes + 1, 'h'), "text/plain");
    });
    EXPECT_EQ(httpPost(post(server.url("/huge")), 30), (HttpResult{std::nullopt, 200}));
}

TEST(HttpTransportIntegrationTest, NoHTTPAnswerIsStatusZero) {
    StandInHttpServer server;
    server.route("/cut", [](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(1000, "text/plain",
                                      [](size_t offset, size_t, httplib::DataSink& sink) {
                                          if (offset > 0) {
                                              return false;  // hang up 900 bytes short
                                          }
                                          sink.write(std::string(100, 'x').data(), 100);
                                          return true;
                                      });
    });
    server.route("/elsewhere", [](const httplib::Request&, httplib::Response& response) {
        response.set_redirect("file:///etc/hostname");
    });

    EXPECT_EQ(httpPost(post(server.url("/cut")), 10), (HttpResult{std::nullopt, 0}));
    const std::string refused = "http://127.0.0.1:" + std::to_string(testing::refusingPort());
    EXPECT_EQ(httpPost(post(refused + "/inference"), 10), (HttpResult{std::nullopt, 0}));
    // Redirects only ever lead to HTTP(S).
    EXPECT_EQ(httpPost(post(server.url("/elsewhere")), 10), (HttpResult{std::nullopt, 0}));
}

TEST(HttpTransportIntegrationTest, MalformedRequestsFailWithoutBeingSent) {
    StandInHttpServer server;
    server.route("/x", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("ok", "text/plain");
    });
    HttpRequest splitHeader = post(server.url("/x"));
    splitHeader.headers = {{"Authorization", "Bearer k\r\nX-Injected: 1"}};
    EXPECT_EQ(httpPost(splitHeader, 5), (HttpResult{std::nullopt, 0}));

    // A key that cannot be part of a URL, put in verbatim as the Gemini endpoint does.
    EXPECT_EQ(httpPost(post(server.url("/x?key=a b\nc")), 5), (HttpResult{std::nullopt, 0}));
    EXPECT_EQ(httpPost(post("not a url"), 5), (HttpResult{std::nullopt, 0}));
    EXPECT_EQ(httpPost(post("ftp://127.0.0.1/x"), 5), (HttpResult{std::nullopt, 0}));
    EXPECT_TRUE(server.received().empty());
}

// Sets (or, given nullptr, removes) an environment variable for one scope.
class ScopedVariable {
  public:
    ScopedVariable(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedVariable() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(HttpTransportIntegrationTest, LoopbackRequestsIgnoreProxiesFromTheEnvironment) {
    StandInHttpServer server;
    server.route("/inference", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("text", "text/plain");
    });
    const std::string deadProxy = "http://127.0.0.2:" + std::to_string(testing::refusingPort());
    const ScopedVariable proxy("http_proxy", deadProxy.c_str());
    const ScopedVariable noProxy("no_proxy", nullptr);
    const ScopedVariable noProxyUpper("NO_PROXY", nullptr);

    EXPECT_EQ(httpPost(post(server.url("/inference")), 10), (HttpResult{"text"s, 200}));
}

TEST(HttpTransportIntegrationTest, AServerThatNeverAnswersRunsOutTheWait) {
    SilentListener silent;
    const auto start = Clock::now();
    EXPECT_EQ(httpPost(post(silent.url("/inference")), 0.4), (HttpResult{std::nullopt, -1}));
    const double elapsed = secondsSince(start);
    EXPECT_GE(elapsed, 0.39);
    EXPECT_LT(elapsed, 5.0);
}

TEST(HttpTransportIntegrationTest, TheRequestsOwnIntervalLimitsIdlenessNotDuration) {
    SilentListener silent;
    HttpRequest idle = post(silent.url("/inference"));
    idle.timeoutInterval = 0.4;
    auto start = Clock::now();
    EXPECT_EQ(httpPost(idle, 30), (HttpResult{std::nullopt, 0}));
    EXPECT_GE(secondsSince(start), 0.39);
    EXPECT_LT(secondsSince(start), 5.0);

    // A reply that trickles in, never pausing for as long as the interval, is not cut off
    // even though it takes longer than the interval in all. The gaps leave a wide margin, so a
    // busy machine cannot stretch one of them past the interval.
    StandInHttpServer server;
    server.route("/trickle", [](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider("text/plain",
                                              [](size_t offset, httplib::DataSink& sink) {
                                                  if (offset >= 20) {
                                                      sink.done();
                                                      return true;
                                                  }
                                                  std::this_thread::sleep_for(250ms);
                                                  sink.write("ab", 2);
                                                  return true;
                                              });
    });
    HttpRequest trickle = post(server.url("/trickle"));
    // The stand-in would otherwise compress the stream and hold every piece back to the end.
    trickle.headers.emplace_back("Accept-Encoding", "identity");
    trickle.timeoutInterval = 1.5;
    EXPECT_EQ(httpPost(trickle, 30), (HttpResult{"abababababababababab"s, 200}));
}

TEST(HttpTransportIntegrationTest, CancellingWhileTheServerHoldsTheRequestReturnsAtOnce) {
    StandInHttpServer server;
    holdRequests(server);
    auto cancellation = std::make_shared<PipelineCancellation>();

    auto pending = std::async(std::launch::async, [&] {
        HttpResult result = httpPost(post(server.url("/hold")), 20, cancellation);
        return std::make_pair(result, Clock::now());
    });
    ASSERT_TRUE(server.waitForRequests(1, 10s));
    const auto cancelledAt = Clock::now();
    cancellation->cancel();
    const auto [result, returnedAt] = pending.get();

    EXPECT_EQ(result, (HttpResult{std::nullopt, -2}));
    // Far below the 20 s wait; in practice a few milliseconds (see bench/).
    EXPECT_LT(std::chrono::duration<double>(returnedAt - cancelledAt).count(), 2.0);
}

TEST(HttpTransportIntegrationTest, ACancelledJobSendsNothing) {
    StandInHttpServer server;
    server.route("/x", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("ok", "text/plain");
    });
    auto cancellation = std::make_shared<PipelineCancellation>();
    cancellation->cancel();

    EXPECT_EQ(httpPost(post(server.url("/x")), 10, cancellation), (HttpResult{std::nullopt, -2}));
    EXPECT_TRUE(server.received().empty());
}

TEST(HttpTransportIntegrationTest, ACancellationIsFreeAgainAfterEachRequest) {
    StandInHttpServer server;
    server.route("/x", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("ok", "text/plain");
    });
    auto cancellation = std::make_shared<PipelineCancellation>();
    EXPECT_EQ(httpPost(post(server.url("/x")), 10, cancellation), (HttpResult{"ok"s, 200}));
    EXPECT_EQ(httpPost(post(server.url("/x")), 10, cancellation), (HttpResult{"ok"s, 200}));
    // Cancelling afterwards touches no finished request and stops the next one.
    cancellation->cancel();
    EXPECT_EQ(httpPost(post(server.url("/x")), 10, cancellation), (HttpResult{std::nullopt, -2}));
    EXPECT_EQ(server.received().size(), 2u);
}

TEST(HttpTransportIntegrationTest, CancelsRacingTheStartOfTheRequestAlwaysEndItAsCancelled) {
    StandInHttpServer server;
    holdRequests(server);
    for (int round = 0; round < 20; ++round) {
        auto cancellation = std::make_shared<PipelineCancellation>();
        auto pending = std::async(std::launch::async, [&] {
            return httpPost(post(server.url("/hold")), 20, cancellation);
        });
        std::this_thread::sleep_for(std::chrono::microseconds(round * 150));
        cancellation->cancel();
        ASSERT_EQ(pending.wait_for(5s), std::future_status::ready) << "round " << round;
        EXPECT_EQ(pending.get(), (HttpResult{std::nullopt, -2})) << "round " << round;
    }
}

TEST(HttpTransportIntegrationTest, ATransferCanBeCancelledAfterItFinished) {
    StandInHttpServer server;
    server.route("/x", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("ok", "text/plain");
    });
    const HttpRequest request = post(server.url("/x"));
    auto transfer = std::make_shared<CurlTransfer>(request);
    const auto result = transfer->run(Clock::now() + 10s);
    EXPECT_EQ(result.outcome, CurlTransfer::Outcome::replied);
    transfer->cancel();
    transfer->cancel();
}

}  // namespace
}  // namespace vurin
