// The whisper-server and ollama supervisors against their stand-ins, on real child processes and
// a port the test picks (ollama's child finds it through OLLAMA_HOST, as ollama does).
#include <gtest/gtest.h>
#include <httplib.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <numeric>

#include "local_services/local_ollama_server.h"
#include "local_services/local_whisper_server.h"
#include "providers/local_endpoints.h"
#include "support/local_service_stand_ins.h"
#include "support/stand_in_http_server.h"
#include "support/virtual_main_queue.h"

namespace vurin::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Json = nlohmann::json;
using Lines = std::vector<std::string>;

enum class Kind { whisper, ollama };

std::string joined(const Lines& lines) {
    return std::accumulate(
        lines.begin(), lines.end(), std::string(),
        [](const std::string& all, const std::string& line) { return all + line + "\n"; });
}

// What the user reads of each service, built from its program's name.
struct Texts {
    std::string program, starting, exited, timedOut, recovering, launchFailed, missing, ready;
};
Texts textsOf(Kind kind, int port) {
    const bool whisper = kind == Kind::whisper;
    const std::string program = whisper ? "whisper-server" : "ollama";
    const std::string serve = whisper ? program : "ollama serve";
    return {program,
            whisper ? "🧠 本地 whisper-server 启动中(加载模型约 1 秒)…"
                    : "🧠 本地 ollama serve 启动中…",
            "⚠️ " + serve + " 已退出,维护定时器会自动重启",
            "⚠️ 本地 " + program + " 20 秒内未就绪;稍后会自动重试",
            "⚠️ " + program + " 健康检查失败,准备重新启动",
            "❌ 启动 " + serve + " 失败:",
            "❌ 找不到 " + program + ",请先安装本地组件",
            whisper ? "✅ 本地 whisper-server 就绪(端口 " + std::to_string(port) + ")"
                    : "✅ 本地 ollama 就绪(模型 qwen2.5:7b,预热中…)\n✅ 本地润色已预热就绪"};
}

class ServiceTest : public ::testing::TestWithParam<Kind> {
  protected:
    explicit ServiceTest(Kind kind) : kind(kind), t(textsOf(kind, port)) {}
    ServiceTest() : ServiceTest(GetParam()) {}

    void SetUp() override {
        fs::create_directories(folder);
        std::ofstream(model) << "model";
        env.set("VURIN_STAND_IN_START_LOG", (folder / "starts.jsonl").string());
        env.set("VURIN_STAND_IN_REQUEST_LOG", (folder / "requests.jsonl").string());
        env.set("OLLAMA_HOST", "127.0.0.1:" + std::to_string(port));
        overrideLocalPortsForTesting(0, port);  // where the warm-up polishes
    }
    void TearDown() override {
        dispose();
        endForeign();
        overrideLocalPortsForTesting(0, 0);
        EXPECT_TRUE(standInsGone()) << "a stand-in still runs or was not reaped";
        fs::remove_all(folder);
    }

    // The service on the test's port with a short poll, finding its program with `find`.
    void create(std::function<std::optional<fs::path>()> find = {}, int polls = 100) {
        dispose();
        const auto chosen = [&](auto options) {
            options.port = port;
            options.poll = {0.05, polls};
            options.findExecutable =
                find ? find : [this] { return std::optional(standInProgram(t.program)); };
            return options;
        };
        if (kind == Kind::ollama) {
            created = server = LocalOllamaServer::create(queue, chosen(LocalOllamaServerOptions{}));
            return;
        }
        LocalWhisperServerOptions options;
        options.modelPath = [model = model] { return model; };
        server = LocalWhisperServer::create(queue, chosen(options));
        created = server;
    }
    // Stops and drops the service; its destruction waits for its background steps.
    void dispose() {
        if (server) {
            server->stop();
            std::weak_ptr<LocalService> last = server;
            server.reset();
            EXPECT_TRUE(eventually([&] { return last.expired(); }, 10s));
        }
    }
    // Someone else's server as far as the service can tell.
    void startForeign(const Lines& arguments) {
        foreign = ChildProcess::create(standInProgram(t.program), arguments);
        foreign->launch();
    }
    void endForeign() {
        if (foreign) {
            foreign->terminate();
            foreign->waitUntilExit();
        }
    }
    // Ready, and the last ready line logged `times` times.
    bool becomesReady(std::size_t times = 1) {
        const std::string last = t.ready.substr(t.ready.rfind('\n') + 1);
        return eventually([&] { return server->isReady() && logs.count(last) >= times; });
    }
    static bool standInsGone() {
        return eventually([] { return runningStandIns().empty() && zombieChildren().empty(); });
    }
    bool runsUntil(const std::function<bool()>& done) {
        return eventually([&] {
            queue->runPending();
            return done();
        });
    }
    // The stand-ins' records of starts or of requests (of `path`).
    std::vector<Json> records(const std::string& file, const std::string& path = "") const {
        std::vector<Json> found;
        for (const auto& line : readLines(folder / file)) {
            if (auto record = Json::parse(line); path.empty() || record["path"] == path) {
                found.push_back(record);
            }
        }
        return found;
    }
    std::vector<Json> starts() const { return records("starts.jsonl"); }
    // Waits until the service has asked its server and decided: its check holds it meanwhile.
    bool decided(std::size_t requestsBefore) {
        return eventually([&] {
            return records("requests.jsonl").size() > requestsBefore && server.use_count() == 1;
        });
    }

    const Kind kind;
    const int port = refusingPort();
    const Texts t;
    ScopedEnvironment env;
    LogCapture logs;
    const fs::path folder = fs::temp_directory_path() / ("services-" + std::to_string(port));
    const fs::path model = folder / "ggml-large-v3-turbo.bin";
    std::weak_ptr<LocalService> created;
    std::shared_ptr<VirtualMainQueue> queue = std::make_shared<VirtualMainQueue>();
    std::shared_ptr<LocalService> server;
    std::shared_ptr<ChildProcess> foreign;
    int readyCalls = 0;
    const LocalService::Callback onReady = [this] { ++readyCalls; };
};

TEST_P(ServiceTest, AStopWhileTheProgramIsSoughtEndsItSilentlyAndAStartRunsOnceWithItsCommandLine) {
    // The user switches the engine away while the start looks for the program.
    create([this] {
        created.lock()->stop();
        return std::optional(standInProgram(t.program));
    });
    server->start(onReady);
    dispose();
    EXPECT_TRUE(standInsGone());
    EXPECT_TRUE(logs.lines().empty());

    const auto stoppedStarts = starts().size();  // the stopped stand-in may have logged its start
    create();

    env.set("OLLAMA_FLASH_ATTENTION", "0");
    env.unset("OLLAMA_KV_CACHE_TYPE");
    env.set("VURIN_PASSED_THROUGH", "kept as is");
    server->start(onReady);
    server->start(onReady);
    server->maintain(onReady);
    EXPECT_FALSE(server->isReady());
    ASSERT_TRUE(becomesReady());
    server->start(onReady);
    server->maintain(onReady);
    EXPECT_TRUE(runsUntil([&] { return readyCalls == 1; }));
    dispose();
    queue->runPending();
    EXPECT_EQ(readyCalls, 1);
    EXPECT_EQ(joined(logs.lines()), joined({t.starting, t.ready}));
    const auto launches = starts();
    ASSERT_EQ(launches.size(), stoppedStarts + 1);
    if (kind == Kind::whisper) {
        EXPECT_EQ(launches.back()["arguments"],
                  Json({"-m", model.string(), "--port", std::to_string(port), "-l", "auto"}));
        return;
    }
    EXPECT_EQ(launches.back()["arguments"], Json({"serve"}));
    auto& environment = launches.back()["environment"];
    EXPECT_EQ(Json({environment["OLLAMA_FLASH_ATTENTION"], environment["OLLAMA_KV_CACHE_TYPE"],
                    environment["VURIN_PASSED_THROUGH"], environment["OLLAMA_HOST"]}),
              Json({"1", "q8_0", "kept as is", "127.0.0.1:" + std::to_string(port)}));
    // The warm-up is one polish request of "测试" that keeps the model loaded.
    auto warmUps = records("requests.jsonl", "/api/generate");
    ASSERT_EQ(warmUps.size(), 1u);
    EXPECT_EQ(Json({warmUps[0]["received"], warmUps[0]["model"], warmUps[0]["keep_alive"]}),
              Json({"测试", "qwen2.5:7b", "30m"}));
}

TEST_P(ServiceTest, EachFailureIsReportedOnceAndALaterStartOrRecoveryTriesAgain) {
    const auto notProgram = folder / t.program;
    std::ofstream(notProgram) << "plain text";
    fs::permissions(notProgram, fs::perms::owner_read);
    const std::string cannotRun = t.launchFailed + std::strerror(EACCES);
    create([] { return std::optional<fs::path>(); });
    server->start(onReady);
    ASSERT_TRUE(logs.waitFor(t.missing));
    create([&] { return std::optional(notProgram); });
    server->start(onReady);
    ASSERT_TRUE(logs.waitFor(cannotRun));
    create({}, 20);
    env.set("VURIN_STAND_IN_MODE", "exit");  // a child that ends at once; the next start works
    server->start(onReady);
    ASSERT_TRUE(logs.waitFor(t.exited));
    EXPECT_TRUE(standInsGone());
    // A whisper-server that never listens; an ollama whose model list fails (only 200 counts).
    env.set("VURIN_STAND_IN_MODE", kind == Kind::whisper ? "hang" : "serve");
    env.set("VURIN_STAND_IN_TAGS_STATUS", "500");
    server->maintain(onReady);
    ASSERT_TRUE(logs.waitFor(t.timedOut));
    EXPECT_FALSE(server->isReady());
    EXPECT_TRUE(standInsGone());
    env.unset("VURIN_STAND_IN_MODE");
    env.unset("VURIN_STAND_IN_TAGS_STATUS");
    server->maintain(onReady);
    ASSERT_TRUE(becomesReady());
    httplib::Client("127.0.0.1", port).Get("/stand-in/crash");
    ASSERT_TRUE(eventually([&] { return logs.count(t.exited) == 2; }));
    EXPECT_FALSE(server->isReady());
    EXPECT_TRUE(standInsGone());
    int recovered = 0;
    server->recoverIfUnhealthy([&] { ++recovered; });
    ASSERT_TRUE(logs.waitFor(t.recovering));
    EXPECT_TRUE(runsUntil([&] { return recovered == 1; }));
    server->maintain(onReady);
    ASSERT_TRUE(becomesReady(2));
    const auto requests = records("requests.jsonl").size();
    server->recoverIfUnhealthy([&] { ++recovered; });  // it answers: nothing happens
    ASSERT_TRUE(decided(requests));
    dispose();
    queue->runPending();
    EXPECT_EQ(recovered, 1);
    EXPECT_EQ(joined(logs.lines()),
              joined({t.missing, cannotRun, t.starting, t.exited, t.starting, t.timedOut,
                      t.starting, t.ready, t.exited, t.recovering, t.starting, t.ready}));
    EXPECT_EQ(starts().size(), 4u);
}

INSTANTIATE_TEST_SUITE_P(BothServices, ServiceTest, ::testing::Values(Kind::whisper, Kind::ollama),
                         [](const auto& info) {
                             return info.param == Kind::whisper ? "whisper" : "ollama";
                         });

// A child that ends inside its launch is told after its start, and the next start is admitted.
TEST(SupervisedServiceTest, AChildThatEndsDuringItsLaunchIsToldAfterItsStart) {
    struct EndedInLaunch : ChildProcess {
        EndedInLaunch() : ChildProcess("/bin/true", {}, std::nullopt) {}
        void setTerminationHandler(std::function<void()> handler) override { ended = handler; }
        std::optional<std::string> launch() override { return ended(), std::nullopt; }
        std::function<void()> ended;
    };
    struct Service : SupervisedService {
        Service() : SupervisedService(nullptr, {.exited = "exited", .starting = "starting"}, {}) {}
        bool healthCheck() override { return false; }
        void maintain(Callback) override {}
        void start(Callback) override {
            launchAndPoll(shared_from_this(), admitStart(true).value_or(-1),
                          std::make_shared<EndedInLaunch>());
        }
    };
    LogCapture logs;
    const auto service = std::make_shared<Service>();
    service->start({});
    service->start({});
    EXPECT_EQ(logs.lines(), (Lines{"starting", "exited", "starting", "exited"}));
}

struct WhisperTest : ServiceTest {
    WhisperTest() : ServiceTest(Kind::whisper) {}
};

TEST_F(WhisperTest, ALaunchNeedsTheModelAndFirstKillsAStaleServerOnThePort) {
    const std::string noModel = "❌ 找不到模型 " + model.string();
    fs::remove(model);
    create();
    server->start(onReady);
    EXPECT_EQ(logs.lines(), Lines{noModel});
    std::ofstream(model) << "model";
    startForeign({"-m", model.string(), "--port", std::to_string(port)});
    ASSERT_TRUE(eventually([&] { return starts().size() == 1; }));
    server->start(onReady);
    ASSERT_TRUE(becomesReady());
    EXPECT_TRUE(eventually([&] { return !foreign->isRunning(); }));
    EXPECT_EQ(starts().size(), 2u);
    EXPECT_EQ(joined(logs.lines()), joined({noModel, t.starting, t.ready}));
}

struct OllamaTest : ServiceTest {
    OllamaTest() : ServiceTest(Kind::ollama) {}
    bool answers() const { return httplib::Client("127.0.0.1", port).Get("/api/tags") != nullptr; }
};

TEST_F(OllamaTest, AnAnsweringOllamaIsAdoptedNeverStoppedAndReplacedOnceItIsLost) {
    startForeign({"serve"});
    ASSERT_TRUE(eventually([&] { return answers(); }));
    create();
    server->maintain(onReady);
    ASSERT_TRUE(becomesReady());
    EXPECT_EQ(starts().size(), 1u) << "nothing but the user's server was started";
    const auto requests = records("requests.jsonl").size();
    server->maintain(onReady);  // it answers: nothing happens
    ASSERT_TRUE(decided(requests));
    EXPECT_EQ(joined(logs.lines()), joined({t.ready}));
    server->stop();
    EXPECT_TRUE(answers()) << "a server we did not start is never stopped";

    server->maintain(onReady);
    ASSERT_TRUE(becomesReady(2));
    endForeign();  // the user's server went away: ours takes over
    server->maintain(onReady);
    ASSERT_TRUE(becomesReady(3));
    EXPECT_EQ(joined(logs.lines()),
              joined({t.ready, t.ready, "⚠️ ollama 服务已失联,正在自动恢复",
                      t.starting, t.ready}));
}

TEST_F(OllamaTest, AModelListWithoutTheExactNameLeavesTheServerUpForThePull) {
    const std::string noModel = "⚠️ 未找到模型 qwen2.5:7b,请安装本地组件";
    env.set("VURIN_STAND_IN_MODELS", "qwen2.5:7b-instruct,Qwen2.5:7B");
    create();
    server->start(onReady);
    ASSERT_TRUE(logs.waitFor(noModel));
    EXPECT_EQ(joined(logs.lines()), joined({t.starting, noModel}));
    EXPECT_EQ(runningStandIns().size(), 1u) << "the server stays up so the model can be pulled";
    EXPECT_TRUE(records("requests.jsonl", "/api/generate").empty());
}

}  // namespace
}  // namespace vurin::testing
