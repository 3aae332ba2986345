#include "providers/http_transport.h"

#include <gtest/gtest.h>

#include <thread>

#include "pipeline/pipeline_cancellation.h"
#include "providers/curl_transfer.h"
#include "support/stand_in_http_server.h"
#include "support/testing.h"

namespace vurin {

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using Clock = std::chrono::steady_clock;
using Headers = std::vector<std::pair<std::string, std::string>>;

HttpRequest post(std::string url, Headers headers = {}, double interval = 60) {
    headers.insert(headers.begin(), {"Content-Type", "application/json"});
    return HttpRequest{
        .url = std::move(url), .headers = headers, .body = "{}", .timeoutInterval = interval};
}

class HttpTransportIntegrationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // The huge body goes compressed to a few kilobytes: the cap counts decoded bytes.
        for (const auto& [path, status, body] :
             std::vector<std::tuple<const char*, int, std::string>>{
                 {"/x", 200, "ok"}, {"/huge", 200, std::string(kMaxResponseBodyBytes + 1, 'h')}}) {
            server.route(path, [=](const httplib::Request&, httplib::Response& response) {
                response.status = status;
                response.set_content(body, "text/plain");
            });
        }
        // A reply that promises 100 bytes, sends 2, then drops the connection or stalls.
        for (const bool stall : {false, true}) {
            server.route(stall ? "/stall" : "/drop", [this, stall](const httplib::Request&,
                                                                   httplib::Response& response) {
                response.set_content_provider(100, "text/plain", [=, this](auto, auto, auto& sink) {
                    return sink.write("ab", 2) && stall && server.shutdownGate().waitOpen(60s);
                });
            });
        }
        server.route("/elsewhere", [](const httplib::Request&, httplib::Response& response) {
            response.set_redirect("file:///etc/hostname");
        });
        // A slow server: a byte every 250 ms, two seconds in all.
        server.route("/trickle", [](const httplib::Request&, httplib::Response& response) {
            response.set_chunked_content_provider(
                "text/plain", [n = 0](std::size_t, httplib::DataSink& sink) mutable {
                    if (n == 8) {
                        sink.done();
                        return true;
                    }
                    std::this_thread::sleep_for(250ms);
                    return sink.write("abcdefgh" + n++, 1);
                });
        });
    }

    testing::StandInHttpServer server;
};

// Loopback requests never go through a proxy the environment names.
TEST_F(HttpTransportIntegrationTest, EachKindOfReplyAndFailure) {
    testing::ScopedEnvironment environment;
    environment.set("http_proxy", "http://127.0.0.2:" + std::to_string(testing::refusingPort()));
    environment.unset("no_proxy");
    environment.unset("NO_PROXY");
    testing::SilentListener silent;
    // Uncompressed, or the stand-in would hold every piece back to the end.
    auto trickle = post(server.url("/trickle"), {{"Accept-Encoding", "identity"}}, 1);
    // clang-format off
    const std::vector<std::tuple<const char*, HttpRequest, HttpResult, double, double>> cases = {
        {"plain", post(server.url("/x")), {"ok"s, 200}, 10, 0},  // the wait, and its least length
        {"past the size cap", post(server.url("/huge")), {std::nullopt, 200}, 30, 0},
        {"dropped mid-reply", post(server.url("/drop")), {std::nullopt, 200}, 10, 0},
        {"idle mid-reply", post(server.url("/stall"), {}, 0.4), {std::nullopt, 200}, 30, 0.39},
        {"redirect outside HTTP", post(server.url("/elsewhere")), {std::nullopt, 302}, 10, 0},
        {"header split", post(server.url("/x"), {{"Authorization", "k\r\nX-Injected: 1"}}), {std::nullopt, 0}, 10, 0},
        {"not a URL", post(server.url("/x?key=a b\nc")), {std::nullopt, 0}, 10, 0},  // a key put in verbatim
        {"not HTTP", post("ftp://127.0.0.1/x"), {std::nullopt, 0}, 10, 0},
        {"never answers", post(silent.url("/inference")), {std::nullopt, -1}, 0.4, 0.39},
        {"idle past the interval", post(silent.url("/inference"), {}, 0.4), {std::nullopt, 0}, 30, 0.39},
        {"slower than the interval, never idle as long", trickle, {"abcdefgh"s, 200}, 10, 1.9}};
    // clang-format on
    for (const auto& [name, request, result, wait, atLeast] : cases) {
        SCOPED_TRACE(name);
        const auto start = Clock::now();
        EXPECT_EQ(httpPost(request, wait), result);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        EXPECT_TRUE(atLeast == 0 || (seconds >= atLeast && seconds < 5)) << seconds;
    }
    std::vector<std::string> paths;
    for (const auto& request : server.received()) {
        paths.push_back(request.path);
    }
    // Malformed requests fail without being sent; none waits for "100 Continue".
    EXPECT_EQ(paths, (std::vector<std::string>{"/x", "/huge", "/drop", "/stall", "/elsewhere",
                                               "/trickle"}));
    EXPECT_EQ(server.received().at(0).headers.count("Expect"), 0u);
}

// A cancelled job's later requests are not sent; a cancel after the end touches nothing.
TEST_F(HttpTransportIntegrationTest, ACancellationStopsTheRequestsAfterIt) {
    auto cancellation = std::make_shared<PipelineCancellation>();
    EXPECT_EQ(httpPost(post(server.url("/x")), 10, cancellation), (HttpResult{"ok"s, 200}));
    cancellation->cancel();
    EXPECT_EQ(httpPost(post(server.url("/x")), 10, cancellation), (HttpResult{std::nullopt, -2}));
    EXPECT_EQ(server.received().size(), 1u);
    const HttpRequest request = post(server.url("/x"));  // sent without a copy: kept alive
    auto transfer = std::make_shared<CurlTransfer>(request);
    EXPECT_EQ(transfer->run(Clock::now() + 10s).outcome, CurlTransfer::Outcome::replied);
    transfer->cancel();
}

}  // namespace
}  // namespace vurin
