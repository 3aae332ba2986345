#include "settings_ui/update_checker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <thread>

#include "support/stand_in_http_server.h"
#include "support/virtual_main_queue.h"

namespace vurin::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class UpdateCheckerIntegration : public ::testing::Test {
  protected:
    // Serves `body` with `status` at /version.json.
    void serve(int status, std::string body) {
        server.route("/version.json",
                     [status, body](const httplib::Request&, httplib::Response& response) {
                         response.status = status;
                         response.set_content(body, "application/json");
                     });
    }

    // Runs one check against `feed` and waits for its completion on the main queue.
    std::optional<UpdateCheckResult> check(const std::string& feed, double timeout = 8.0) {
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
        const auto limit = Clock::now() + 10s;
        while (!result && Clock::now() < limit) {
            std::this_thread::sleep_for(5ms);
            queue->runPending();
        }
        EXPECT_EQ(calls, 1);
        return result;
    }

    UpdateCheckResult checkServed(int status, std::string body) {
        serve(status, std::move(body));
        auto result = check(server.url("/version.json"));
        EXPECT_TRUE(result);
        return result.value_or(UpdateCheckError::network);
    }

    std::shared_ptr<VirtualMainQueue> queue = std::make_shared<VirtualMainQueue>();
    StandInHttpServer server;
};

TEST_F(UpdateCheckerIntegration, NewerVersionFromTheManifest) {
    const auto result =
        checkServed(200, R"({"version":" 1.10\n","url":"https://vurin.app/dl","notes":"x"})");
    EXPECT_EQ(
        std::get<UpdateInfo>(result),
        (UpdateInfo{
            .latest = "1.10", .current = "1.2", .url = "https://vurin.app/dl", .isNewer = true}));
    const auto received = server.received();
    ASSERT_EQ(received.size(), 1U);
    EXPECT_EQ(received[0].method, "GET");
    EXPECT_EQ(received[0].path, "/version.json");
    EXPECT_TRUE(received[0].body.empty());
}

TEST_F(UpdateCheckerIntegration, SameVersionWithoutUrlOffersTheHomePage) {
    const auto result = checkServed(200, R"({"version":"1.2.0"})");
    EXPECT_EQ(std::get<UpdateInfo>(result),
              (UpdateInfo{.latest = "1.2.0", .current = "1.2", .url = "https://vurin.app/"}));
}

TEST_F(UpdateCheckerIntegration, HttpErrorsAreNetworkFailuresEvenWithAManifestBody) {
    EXPECT_EQ(std::get<UpdateCheckError>(checkServed(404, R"({"version":"9"})")),
              UpdateCheckError::network);
}

TEST_F(UpdateCheckerIntegration, ServerErrorIsANetworkFailure) {
    EXPECT_EQ(std::get<UpdateCheckError>(checkServed(500, "oops")), UpdateCheckError::network);
}

TEST_F(UpdateCheckerIntegration, BadManifestIsAParseFailure) {
    EXPECT_EQ(std::get<UpdateCheckError>(checkServed(200, R"({"version":2})")),
              UpdateCheckError::parse);
}

TEST_F(UpdateCheckerIntegration, UnreachableOrInvalidFeedIsANetworkFailure) {
    const auto refused =
        check("http://127.0.0.1:" + std::to_string(refusingPort()) + "/version.json");
    EXPECT_EQ(std::get<UpdateCheckError>(refused.value()), UpdateCheckError::network);
    const auto invalid = check("not a url");
    EXPECT_EQ(std::get<UpdateCheckError>(invalid.value()), UpdateCheckError::network);
}

TEST_F(UpdateCheckerIntegration, SilentServerTimesOut) {
    SilentListener silent;
    const auto start = Clock::now();
    const auto result = check(silent.url("/version.json"), 0.3);
    EXPECT_EQ(std::get<UpdateCheckError>(result.value()), UpdateCheckError::network);
    EXPECT_LT(Clock::now() - start, 5s);
}

TEST_F(UpdateCheckerIntegration, DestroyingTheCheckerAbortsARunningCheck) {
    SilentListener silent;
    const auto start = Clock::now();
    {
        UpdateChecker checker(queue, silent.url("/version.json"), "1.0");
        checker.check([](const UpdateCheckResult&) {});
        checker.check([](const UpdateCheckResult&) {});
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_LT(Clock::now() - start, 2s);
}

}  // namespace
}  // namespace vurin::testing
