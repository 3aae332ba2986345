// How long a dictation job waits for its HTTP request to give up after the user cancels:
// from PipelineCancellation::cancel() to httpPost returning -2, with a loopback server holding
// the request. Prints the figures; never fails.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <vector>

#include "pipeline/pipeline_cancellation.h"
#include "providers/http_transport.h"
#include "support/stand_in_http_server.h"

namespace {

using Clock = std::chrono::steady_clock;
using vurin::testing::StandInHttpServer;

constexpr int kRuns = 50;

// One cancelled request; the latency in milliseconds, or a negative value when the run did not
// go as planned (the request never reached the server, or did not end as cancelled).
double oneRun() {
    StandInHttpServer server;
    server.route("/hold", [&server](const httplib::Request&, httplib::Response& response) {
        server.shutdownGate().waitOpen(std::chrono::seconds(30));
        response.set_content("late", "text/plain");
    });
    vurin::HttpRequest request;
    request.url = server.url("/hold");
    request.body = R"({"model":"qwen2.5:7b"})";
    auto cancellation = std::make_shared<vurin::PipelineCancellation>();

    auto pending = std::async(std::launch::async, [&] {
        const vurin::HttpResult result = vurin::httpPost(request, 30, cancellation);
        return std::make_pair(result.status, Clock::now());
    });
    if (!server.waitForRequests(1, std::chrono::seconds(10))) {
        cancellation->cancel();
        pending.wait();
        return -1;
    }
    const auto cancelledAt = Clock::now();
    cancellation->cancel();
    const auto [status, returnedAt] = pending.get();
    if (status != vurin::kHttpCancelled) {
        return -1;
    }
    return std::chrono::duration<double, std::milli>(returnedAt - cancelledAt).count();
}

double percentile(const std::vector<double>& sorted, double fraction) {
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(sorted.size() - 1));
    return sorted[index];
}

}  // namespace

int main() {
    std::vector<double> latencies;
    int failed = 0;
    for (int run = 0; run < kRuns; ++run) {
        const double latency = oneRun();
        if (latency < 0) {
            ++failed;
        } else {
            latencies.push_back(latency);
        }
    }
    if (latencies.empty()) {
        std::printf("cancel_latency: no run completed (%d failed)\n", failed);
        return 0;
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf(
        "cancel_latency: cancel() -> httpPost returns -2, server holding the request, %zu runs"
        " (%d failed)\n",
        latencies.size(), failed);
    std::printf("  median %.3f ms   p90 %.3f ms   min %.3f ms   max %.3f ms\n",
                percentile(latencies, 0.5), percentile(latencies, 0.9), latencies.front(),
                latencies.back());
    return 0;
}
