// LocalWhisperServer against the `whisper-server` stand-in, on real child processes and a port
// the test picks.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>

#include "local_services/local_whisper_server.h"
#include "providers/local_endpoints.h"
#include "providers/stt_clients.h"
#include "support/local_service_fixture.h"
#include "support/stand_in_http_server.h"

namespace vurin {
namespace {

using testing::eventually;
using namespace std::chrono_literals;

const std::string kStarting = "🧠 本地 whisper-server 启动中(加载模型约 1 秒)…";
const std::string kExited = "⚠️ whisper-server 已退出,维护定时器会自动重启";
const std::string kTimedOut =
    "⚠️ 本地 whisper-server 20 秒内未就绪;稍后会自动重试";
const std::string kRecovering = "⚠️ whisper-server 健康检查失败,准备重新启动";

class LocalWhisperServerTest
    : public testing::LocalServiceFixture<LocalWhisperServer, LocalWhisperServerOptions> {
  protected:
    LocalWhisperServerTest() : LocalServiceFixture("whisper-server") {}

    void SetUp() override {
        LocalServiceFixture::SetUp();
        model = folder / "ggml-large-v3-turbo.bin";
        std::ofstream(model) << "not really a model";
    }

    LocalWhisperServerOptions options() override {
        auto chosen = LocalServiceFixture::options();
        chosen.modelPath = [model = model] { return model; };
        return chosen;
    }

    std::string readyLine() const {
        return "✅ 本地 whisper-server 就绪(端口 " + std::to_string(port) + ")";
    }

    // Ready, and the `times`-th ready line logged (it follows the state change).
    bool becomesReady(std::size_t times = 1) {
        return eventually([&] { return server->isReady() && logs.count(readyLine()) >= times; });
    }

    std::filesystem::path model;
};

TEST_F(LocalWhisperServerTest, StartsTheServerWithTheModelAndPortAndReportsReadyOnce) {
    environment.set("VURIN_STAND_IN_DELAY_MS", "150");
    environment.set("VURIN_STAND_IN_TRANSCRIPT", "你好,世界");
    create();
    server->start(countReady());
    EXPECT_FALSE(server->isReady());
    ASSERT_TRUE(becomesReady());
    EXPECT_TRUE(readyCallsReach(1));
    EXPECT_EQ(logs.lines(), (std::vector<std::string>{kStarting, readyLine()}));
    const auto records = starts();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["arguments"],
              nlohmann::json({"-m", model.string(), "--port", std::to_string(port), "-l", "auto"}));

    // The started server is the one the speech client talks to.
    overrideLocalPortsForTesting(port, 0);
    const auto wav = folder / "speech.wav";
    std::ofstream(wav) << "RIFF....WAVE";
    EXPECT_EQ(localTranscribe(wav, "auto", 0.5), "你好,世界");
    overrideLocalPortsForTesting(0, 0);
}

TEST_F(LocalWhisperServerTest, StartWhileStartingOrReadyLaunchesNothing) {
    environment.set("VURIN_STAND_IN_DELAY_MS", "300");
    create();
    server->start(countReady());
    server->start(countReady());
    server->maintain(countReady());
    ASSERT_TRUE(becomesReady());
    server->start(countReady());
    server->maintain(countReady());
    EXPECT_TRUE(readyCallsReach(1));
    std::this_thread::sleep_for(200ms);
    mainQueue->runPending();
    EXPECT_EQ(starts().size(), 1u);
    EXPECT_EQ(readyCalls, 1);
    EXPECT_EQ(logs.count(kStarting), 1u);
}

TEST_F(LocalWhisperServerTest, StopDuringThePollDropsTheLateResultAndEndsTheChild) {
    environment.set("VURIN_STAND_IN_DELAY_MS", "400");
    create();
    server->start(countReady());
    ASSERT_TRUE(logs.waitFor(kStarting));
    ASSERT_EQ(testing::runningStandIns().size(), 1u);
    server->stop();
    EXPECT_TRUE(standInsEnd());
    std::this_thread::sleep_for(700ms);  // past the moment the server would have answered
    mainQueue->runPending();
    EXPECT_FALSE(server->isReady());
    EXPECT_EQ(readyCalls, 0);
    EXPECT_EQ(logs.lines(), (std::vector<std::string>{kStarting}));
}

TEST_F(LocalWhisperServerTest, StopBeforeTheChildIsRegisteredEndsItThroughTheLaunchTask) {
    // pkill stands in for a slow orphan sweep: the stop arrives while the launch task waits.
    const auto marker = folder / "sweeping";
    const auto sweep = folder / "slow-pkill";
    std::ofstream(sweep) << "#!/bin/sh\ntouch '" << marker.string() << "'\nsleep 0.3\nexit 1\n";
    std::filesystem::permissions(sweep, std::filesystem::perms::owner_all);
    auto chosen = options();
    chosen.pkill = sweep;
    create(chosen);
    server->start(countReady());
    ASSERT_TRUE(eventually([&] { return std::filesystem::exists(marker); }));
    server->stop();
    EXPECT_TRUE(standInsEnd());
    std::this_thread::sleep_for(200ms);
    mainQueue->runPending();
    EXPECT_FALSE(server->isReady());
    EXPECT_EQ(readyCalls, 0);
    EXPECT_TRUE(logs.lines().empty());
}

TEST_F(LocalWhisperServerTest, AServerThatNeverAnswersTimesOutAndIsEndedWithoutASecondMessage) {
    environment.set("VURIN_STAND_IN_MODE", "hang");
    auto chosen = options();
    chosen.poll = {0.05, 8};
    create(chosen);
    server->start(countReady());
    ASSERT_TRUE(logs.waitFor(kTimedOut));
    EXPECT_FALSE(server->isReady());
    EXPECT_TRUE(standInsEnd());
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(logs.lines(), (std::vector<std::string>{kStarting, kTimedOut}));
    // The ended child no longer blocks a new start.
    environment.set("VURIN_STAND_IN_MODE", "serve");
    server->maintain(countReady());
    EXPECT_TRUE(becomesReady());
}

TEST_F(LocalWhisperServerTest, ACrashWhileReadyIsLoggedOnceAndTheNextMaintenanceRestarts) {
    create();
    server->start(countReady());
    ASSERT_TRUE(becomesReady());
    const pid_t first = starts().at(0)["pid"].get<pid_t>();
    httplib::Client(("http://127.0.0.1:" + std::to_string(port)).c_str()).Get("/stand-in/crash");
    ASSERT_TRUE(logs.waitFor(kExited));
    EXPECT_FALSE(server->isReady());
    EXPECT_TRUE(childrenReaped());
    server->maintain(countReady());
    ASSERT_TRUE(becomesReady(2));
    EXPECT_EQ(logs.count(kExited), 1u);
    EXPECT_EQ(logs.count(kStarting), 2u);
    const auto records = starts();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_NE(records[1]["pid"].get<pid_t>(), first);
    EXPECT_TRUE(testing::processAlive(records[1]["pid"].get<pid_t>()));
}

TEST_F(LocalWhisperServerTest, AStaleServerOnThePortIsKilledBeforeTheLaunch) {
    testing::ForeignStandIn stale("whisper-server",
                                  {"-m", model.string(), "--port", std::to_string(port)});
    ASSERT_TRUE(eventually([&] { return starts().size() == 1; }));
    create();
    server->start(countReady());
    ASSERT_TRUE(becomesReady());
    EXPECT_FALSE(stale.isRunning());
    const auto records = starts();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_NE(records[1]["pid"], records[0]["pid"]);
    EXPECT_EQ(logs.lines(), (std::vector<std::string>{kStarting, readyLine()}));
}

TEST_F(LocalWhisperServerTest, MissingExecutableOrModelStopsAtOnceWithItsMessage) {
    auto chosen = options();
    chosen.findExecutable = [] { return std::nullopt; };
    create(chosen);
    server->start(countReady());
    EXPECT_EQ(logs.lines(), (std::vector<std::string>{"❌ 找不到 whisper-server,请先安装本地组件"}));
    std::filesystem::remove(model);
    create();
    server->start(countReady());
    EXPECT_EQ(logs.lines().back(), "❌ 找不到模型 " + model.string());
    EXPECT_FALSE(server->isReady());
    // Not stuck in "starting": a later start tries again.
    std::ofstream(model) << "model";
    server->start(countReady());
    EXPECT_TRUE(becomesReady());
}

TEST_F(LocalWhisperServerTest, AnExecutableThatCannotRunReportsTheLaunchError) {
    const auto notProgram = folder / "whisper-server";
    std::ofstream(notProgram) << "plain text";
    std::filesystem::permissions(
        notProgram, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    auto chosen = options();
    chosen.findExecutable = [=] { return notProgram; };
    create(chosen);
    server->start(countReady());
    ASSERT_TRUE(logs.waitFor("❌ 启动 whisper-server 失败:" + std::string(std::strerror(EACCES))));
    EXPECT_FALSE(server->isReady());
}

TEST_F(LocalWhisperServerTest, AnExecutableThatExitsAtOnceIsReportedOnceAndReaped) {
    environment.set("VURIN_STAND_IN_MODE", "exit");
    create();
    server->start(countReady());
    ASSERT_TRUE(logs.waitFor(kExited));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(logs.lines(), (std::vector<std::string>{kStarting, kExited}));
    EXPECT_FALSE(server->isReady());
    EXPECT_TRUE(testing::zombieChildren().empty());
}

TEST_F(LocalWhisperServerTest, APortHeldByAnotherProgramEndsTheStartWithTheExitMessage) {
    // Listening without ever answering: the child cannot bind and gives up.
    const int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(holder, 4), 0);
    create();
    server->start(countReady());
    EXPECT_TRUE(logs.waitFor(kExited));
    EXPECT_FALSE(server->isReady());
    ::close(holder);
}

TEST_F(LocalWhisperServerTest, RecoveryTreatsAnyHttpAnswerAsHealthyAndRestartsOnNoAnswer) {
    testing::StandInHttpServer notFound;
    notFound.route(
        "/", [](const httplib::Request&, httplib::Response& response) { response.status = 404; });
    auto chosen = options();
    chosen.port = notFound.port();
    create(chosen);
    int recovered = 0;
    server->recoverIfUnhealthy([&] { ++recovered; });
    ASSERT_TRUE(notFound.waitForRequests(1, 5000ms));
    std::this_thread::sleep_for(200ms);
    mainQueue->runPending();
    EXPECT_EQ(recovered, 0);
    EXPECT_TRUE(logs.lines().empty());

    chosen.port = testing::refusingPort();
    create(chosen);
    server->recoverIfUnhealthy([&] { ++recovered; });
    ASSERT_TRUE(logs.waitFor(kRecovering));
    EXPECT_TRUE(eventually([&] {
        mainQueue->runPending();
        return recovered == 1;
    }));
}

}  // namespace
}  // namespace vurin
