#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>

#include "settings_ui/update_checker.h"
#include "support/stand_in_http_server.h"
#include "support/testing.h"
#include "support/virtual_main_queue.h"

namespace vurin::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class UpdateCheckerIntegration : public ::testing::Test {
  protected:
    // One check of `feed`, completed on the main queue.
    UpdateCheckResult check(const std::string& feed, double timeout = 8.0) {
        UpdateChecker checker(queue, feed, "1.2");
        std::optional<UpdateCheckResult> result;
        int calls = 0;
        checker.check(
            [&](const UpdateCheckResult& value) {
                EXPECT_TRUE(queue->isMainThread());
                result = value;
                ++calls;
            },
            timeout);
        EXPECT_TRUE(eventually([&] {
            queue->runPending();
            return result.has_value();
        }));
        EXPECT_EQ(calls, 1);
        return result.value_or(UpdateCheckError::parse);
    }

    std::shared_ptr<VirtualMainQueue> queue = std::make_shared<VirtualMainQueue>();
    StandInHttpServer server;
};

TEST_F(UpdateCheckerIntegration, TheManifestIsFetchedAndOnlyA2xxBodyIsRead) {
    const struct Served {
        int status;
        std::string body;
        UpdateCheckResult result;
    } cases[] = {
        {200, R"({"version":" 1.10\n","url":"https://vurin.app/dl","notes":"x"})",
         UpdateInfo{
             .latest = "1.10", .current = "1.2", .url = "https://vurin.app/dl", .isNewer = true}},
        {200, R"({"version":"1.2.0"})",
         UpdateInfo{.latest = "1.2.0", .current = "1.2", .url = "https://vurin.app/"}},
        {200, R"({"version":2})", UpdateCheckError::parse},
        {404, R"({"version":"9"})", UpdateCheckError::network},
        {500, "oops", UpdateCheckError::network},
    };
    std::atomic<const Served*> served{nullptr};
    server.route("/version.json", [&](const httplib::Request&, httplib::Response& response) {
        response.status = served.load()->status;
        response.set_content(served.load()->body, "application/json");
    });
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        served = &c;
        EXPECT_EQ(check(server.url("/version.json")), c.result);
        const auto request = server.received().back();
        EXPECT_EQ(request.method + " " + request.path + request.body, "GET /version.json");
    }
}

TEST_F(UpdateCheckerIntegration, NoAnswerIsANetworkFailure) {
    SilentListener silent;
    const auto start = Clock::now();
    EXPECT_EQ(check(silent.url("/version.json"), 0.3),
              UpdateCheckResult(UpdateCheckError::network));
    EXPECT_LT(Clock::now() - start, 5s);
    for (const std::string& feed :
         {"http://127.0.0.1:" + std::to_string(refusingPort()) + "/v", std::string("not a url")}) {
        EXPECT_EQ(check(feed), UpdateCheckResult(UpdateCheckError::network)) << feed;
    }
    // Destroying the checker aborts the checks still running.
    {
        UpdateChecker checker(queue, silent.url("/version.json"), "1.0");
        checker.check([](const UpdateCheckResult&) {});
        checker.check([](const UpdateCheckResult&) {});
    }
    EXPECT_LT(Clock::now() - start, 5s);
}

}  // namespace
}  // namespace vurin::testing
