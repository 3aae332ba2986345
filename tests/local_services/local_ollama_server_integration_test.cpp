// LocalOllamaServer against the `ollama` stand-in, on real child processes and a port the test
// picks (the child finds it through OLLAMA_HOST, as ollama does).
#include <gtest/gtest.h>
#include <httplib.h>

#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "local_services/local_ollama_server.h"
#include "providers/local_endpoints.h"
#include "support/local_service_fixture.h"

namespace vurin {
namespace {

using testing::eventually;
using namespace std::chrono_literals;

const std::string kStarting = "🧠 本地 ollama serve 启动中…";
const std::string kReady = "✅ 本地 ollama 就绪(模型 qwen2.5:7b,预热中…)";
const std::string kWarm = "✅ 本地润色已预热就绪";
const std::string kExited = "⚠️ ollama serve 已退出,维护定时器会自动重启";
const std::string kTimedOut = "⚠️ 本地 ollama 20 秒内未就绪;稍后会自动重试";
const std::string kNoModel = "⚠️ 未找到模型 qwen2.5:7b,请安装本地组件";
const std::string kLost = "⚠️ ollama 服务已失联,正在自动恢复";

class LocalOllamaServerTest
    : public testing::LocalServiceFixture<LocalOllamaServer, LocalOllamaServerOptions> {
  protected:
    LocalOllamaServerTest() : LocalServiceFixture("ollama") {}

    void SetUp() override {
        LocalServiceFixture::SetUp();
        requestLog = folder / "requests.jsonl";
        environment.set("VURIN_STAND_IN_REQUEST_LOG", requestLog.string());
        environment.set("OLLAMA_HOST", "127.0.0.1:" + std::to_string(port));
        overrideLocalPortsForTesting(0, port);
    }

    void TearDown() override {
        dispose();
        overrideLocalPortsForTesting(0, 0);
        foreign.reset();
        LocalServiceFixture::TearDown();
    }

    std::vector<nlohmann::json> generateRequests() const {
        std::vector<nlohmann::json> found;
        for (auto& record : records(requestLog)) {
            if (record["path"] == "/api/generate") {
                found.push_back(record);
            }
        }
        return found;
    }

    bool becomesWarm() { return logs.waitFor(kWarm); }

    std::filesystem::path requestLog;
    std::unique_ptr<testing::ForeignStandIn> foreign;
};

TEST_F(LocalOllamaServerTest, LaunchesServeWithTunedEnvironmentWarmsUpAndReportsReadyOnce) {
    environment.set("OLLAMA_FLASH_ATTENTION", "0");
    environment.set("OLLAMA_KV_CACHE_TYPE", "f16");
    environment.set("VURIN_PASSED_THROUGH", "kept as is");
    environment.set("VURIN_STAND_IN_DELAY_MS", "150");
    create();
    server->start(countReady());
    ASSERT_TRUE(becomesWarm());
    EXPECT_TRUE(server->isReady());
    EXPECT_EQ(logs.lines(), (std::vector<std::string>{kStarting, kReady, kWarm}));
    EXPECT_TRUE(readyCallsReach(1));
    std::this_thread::sleep_for(100ms);
    mainQueue->runPending();
    EXPECT_EQ(readyCalls, 1);

    const auto launches = starts();
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0]["arguments"], nlohmann::json({"serve"}));
    const auto& childEnvironment = launches[0]["environment"];
    EXPECT_EQ(childEnvironment["OLLAMA_FLASH_ATTENTION"], "1");
    EXPECT_EQ(childEnvironment["OLLAMA_KV_CACHE_TYPE"], "q8_0");
    EXPECT_EQ(childEnvironment["VURIN_PASSED_THROUGH"], "kept as is");
    EXPECT_EQ(childEnvironment["OLLAMA_HOST"], "127.0.0.1:" + std::to_string(port));

    // The warm-up is one ordinary local polish request of "测试" that keeps the model loaded.
    const auto warmUps = generateRequests();
    ASSERT_EQ(warmUps.size(), 1u);
    EXPECT_EQ(warmUps[0]["received"], "测试");
    EXPECT_EQ(warmUps[0]["model"], "qwen2.5:7b");
    EXPECT_EQ(warmUps[0]["keep_alive"], "30m");
}

TEST_F(LocalOllamaServerTest, AnOllamaAlreadyAnsweringIsAdoptedAndNeverStopped) {
    foreign =
        std::make_unique<testing::ForeignStandIn>("ollama", std::vector<std::string>{"serve"});
    ASSERT_TRUE(
        eventually([&] { return httplib::Client("127.0.0.1", port).Get("/api/tags") != nullptr; }));
    create();
    server->start(countReady());
    ASSERT_TRUE(becomesWarm());
    EXPECT_EQ(logs.lines(), (std::vector<std::string>{kReady, kWarm}));
    EXPECT_EQ(starts().size(), 1u) << "nothing but the user's server was started";
    dispose();
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(foreign->isRunning());
}

TEST_F(LocalOllamaServerTest, StartWhileStartingOrReadyLaunchesNothing) {
    environment.set("VURIN_STAND_IN_DELAY_MS", "300");
    create();
    server->start(countReady());
    server->start(countReady());
    ASSERT_TRUE(becomesWarm());
    server->start(countReady());
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(starts().size(), 1u);
    EXPECT_EQ(logs.count(kStarting), 1u);
    EXPECT_EQ(generateRequests().size(), 1u);
}

TEST_F(LocalOllamaServerTest, AStopBeforeTheChildIsRegisteredEndsTheChildSilently) {
    auto chosen = options();
    std::weak_ptr<LocalOllamaServer> weak;
    chosen.findExecutable = [&weak] {
        if (auto live = weak.lock()) {
            live->stop();  // the user switched polishing away while the start task ran
        }
        return testing::standInProgram("ollama");
    };
    create(chosen);
    weak = server;
    server->start(countReady());
    EXPECT_TRUE(standInsEnd());
    std::this_thread::sleep_for(300ms);
    mainQueue->runPending();
    EXPECT_FALSE(server->isReady());
    EXPECT_EQ(readyCalls, 0);
    EXPECT_TRUE(logs.lines().empty());
}

TEST_F(LocalOllamaServerTest, StopDuringThePollDropsTheLateResult) {
    environment.set("VURIN_STAND_IN_DELAY_MS", "400");
    create();
    server->start(countReady());
    ASSERT_TRUE(logs.waitFor(kStarting));
    server->stop();
    EXPECT_TRUE(standInsEnd());
    std::this_thread::sleep_for(700ms);
    mainQueue->runPending();
    EXPECT_FALSE(server->isReady());
    EXPECT_EQ(readyCalls, 0);
    EXPECT_EQ(logs.lines(), (std::vector<std::string>{kStarting}));
}

TEST_F(LocalOllamaServerTest, AModelListWithoutTheExactNameLeavesTheServerRunning) {
    environment.set("VURIN_STAND_IN_MODELS", "qwen2.5:7b-instruct,Qwen2.5:7B,llama3:8b");
    create();
    server->start(countReady());
    ASSERT_TRUE(logs.waitFor(kNoModel));
    EXPECT_FALSE(server->isReady());
    EXPECT_EQ(logs.lines(), (std::vector<std::string>{kStarting, kNoModel}));
    EXPECT_EQ(testing::runningStandIns().size(), 1u)
        << "the server stays up so the model can be pulled";
    EXPECT_TRUE(generateRequests().empty());
}

TEST_F(LocalOllamaServerTest, AModelListThatIsNotJsonCountsAsNoModel) {
    environment.set("VURIN_STAND_IN_TAGS_BODY", "<html>definitely not json");
    create();
    server->start(countReady());
    ASSERT_TRUE(logs.waitFor(kNoModel));
    EXPECT_FALSE(server->isReady());
}

TEST_F(LocalOllamaServerTest, AServerAnsweringTagsWithAnotherStatusIsNotHealthyAndTimesOut) {
    environment.set("VURIN_STAND_IN_TAGS_STATUS", "500");
    auto chosen = options();
    chosen.poll = {0.05, 6};
    create(chosen);
    server->start(countReady());
    ASSERT_TRUE(logs.waitFor(kTimedOut));
    EXPECT_FALSE(server->isReady());
    EXPECT_TRUE(standInsEnd()) << "the child is ended";
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(logs.lines(), (std::vector<std::string>{kStarting, kTimedOut}));
}

TEST_F(LocalOllamaServerTest, APortHeldByAProgramThatNeverAnswersIsNotAdopted) {
    // Something listens on the port but never answers: not an ollama to adopt, and our own
    // server cannot bind there and gives up.
    testing::ScopedEnvironment silent;
    silent.set("VURIN_STAND_IN_MODE", "silent");
    foreign =
        std::make_unique<testing::ForeignStandIn>("ollama", std::vector<std::string>{"serve"});
    ASSERT_TRUE(eventually([&] { return starts().size() == 1; }));
    std::this_thread::sleep_for(100ms);  // listening
    silent.set("VURIN_STAND_IN_MODE", "serve");
    create();
    server->start(countReady());
    ASSERT_TRUE(logs.waitFor(kExited, 10000ms));
    EXPECT_FALSE(server->isReady());
    EXPECT_EQ(logs.lines(), (std::vector<std::string>{kStarting, kExited}));
    EXPECT_TRUE(foreign->isRunning());
}

TEST_F(LocalOllamaServerTest, MaintenanceProbesAReadyServerAndRecoversOnceWhenItIsLost) {
    foreign =
        std::make_unique<testing::ForeignStandIn>("ollama", std::vector<std::string>{"serve"});
    ASSERT_TRUE(
        eventually([&] { return httplib::Client("127.0.0.1", port).Get("/api/tags") != nullptr; }));
    create();
    server->maintain(countReady());
    ASSERT_TRUE(becomesWarm());
    const auto linesWhenReady = logs.lines();

    server->maintain(countReady());  // answers: nothing happens
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(logs.lines(), linesWhenReady);
    EXPECT_TRUE(server->isReady());

    foreign.reset();  // the user's server went away: ours takes over
    server->maintain(countReady());
    ASSERT_TRUE(logs.waitFor(kLost));
    EXPECT_TRUE(eventually([&] { return logs.count(kWarm) == 2; }));
    EXPECT_EQ(logs.count(kLost), 1u);
    EXPECT_EQ(logs.count(kStarting), 1u);
    EXPECT_TRUE(server->isReady());
}

TEST_F(LocalOllamaServerTest, OurChildCrashingWhileReadyIsLoggedOnce) {
    create();
    server->start(countReady());
    ASSERT_TRUE(becomesWarm());
    httplib::Client("127.0.0.1", port).Get("/stand-in/crash");
    ASSERT_TRUE(logs.waitFor(kExited));
    EXPECT_FALSE(server->isReady());
    server->maintain(countReady());
    EXPECT_TRUE(eventually([&] { return logs.count(kWarm) == 2; }));
    EXPECT_EQ(logs.count(kExited), 1u);
}

TEST_F(LocalOllamaServerTest, NoExecutableOrOneThatExitsAtOnce) {
    auto chosen = options();
    chosen.findExecutable = [] { return std::nullopt; };
    create(chosen);
    server->start(countReady());
    ASSERT_TRUE(logs.waitFor("❌ 找不到 ollama,请先安装本地组件"));
    EXPECT_FALSE(server->isReady());

    environment.set("VURIN_STAND_IN_MODE", "exit");
    create();
    server->start(countReady());
    ASSERT_TRUE(logs.waitFor(kExited));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(logs.count(kExited), 1u);
    EXPECT_EQ(logs.count(kTimedOut), 0u);
    EXPECT_TRUE(testing::zombieChildren().empty());
}

TEST_F(LocalOllamaServerTest, RecoveryStopsOurChildAndAsksForARestart) {
    create();
    server->start(countReady());
    ASSERT_TRUE(becomesWarm());
    int recovered = 0;
    server->recoverIfUnhealthy([&] { ++recovered; });  // healthy: nothing
    std::this_thread::sleep_for(300ms);
    mainQueue->runPending();
    EXPECT_EQ(recovered, 0);

    httplib::Client("127.0.0.1", port).Get("/stand-in/crash");
    ASSERT_TRUE(logs.waitFor(kExited));
    server->recoverIfUnhealthy([&] { ++recovered; });
    ASSERT_TRUE(logs.waitFor("⚠️ ollama 健康检查失败,准备重新启动"));
    EXPECT_TRUE(eventually([&] {
        mainQueue->runPending();
        return recovered == 1;
    }));
}

}  // namespace
}  // namespace vurin
