#include "pipeline/dictation_pipeline.h"

#include <gtest/gtest.h>

#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "config/config.h"
#include "config/keychain.h"
#include "providers/local_endpoints.h"
#include "providers/provider_catalogue.h"
#include "support/app_fakes.h"
#include "support/fake_dictation_hooks.h"
#include "support/fake_secret_store.h"
#include "support/history.h"
#include "support/log.h"
#include "support/provider_stand_ins.h"
#include "support/sound.h"
#include "support/virtual_main_queue.h"
#include "support/wav_files.h"

namespace vurin {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;
using testing::FakeDictationHooks;
using testing::ScriptedReply;
using testing::ScriptedStandIn;
using Lines = std::vector<std::string>;

const std::string kRule = "━━━━━━━━━━━━━━━━━━━━━━━━━━━━━━";

class DictationPipelineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        installSecretStore(std::make_shared<testing::FakeSecretStore>());
        installSoundOutput(sound, queue);
        overrideLocalPortsForTesting(whisper.port(), ollama.port());
        for (const char* id : {"groq", "openai", "gemini"}) {
            overrideProviderBaseURLForTesting(id, cloud.server().origin());
        }
        setLogObserver([this](const std::string& line) {
            std::lock_guard guard(logLock);
            logLines.push_back(line);
        });
        ASSERT_FALSE(clearHistoryFile());
        audio = test::freshTestFolder("pipeline") / "job.wav";
        ASSERT_TRUE(test::writeTone(audio, {.sampleRate = 16000, .seconds = 0.2}));
        config.saveTextHistory = true;
        whisper.script(testing::whisperPath(), {200, "嗯 那个\n帮我测一下", "text/plain"});
        ollama.script(testing::ollamaPath(),
                      {200, testing::ollamaReply(
                                "帮我测一下。", R"({"total_duration":640000000,"eval_count":7})")});
    }
    void TearDown() override {
        setLogObserver(nullptr);
        overrideLocalPortsForTesting(0, 0);
        for (const char* id : {"groq", "openai", "gemini"}) {
            overrideProviderBaseURLForTesting(id, "");
        }
        installSoundOutput(nullptr, nullptr);
        installSecretStore(nullptr);
    }

    DictationJob job() { return {audio, 2.46, 7, PipelineConfigSnapshot(config), cancellation}; }

    // Runs the job on a background thread, as the recorder's completion thread does, then lets
    // the main queue run what the job posted.
    void runJob() {
        DictationJob made = job();
        const DictationHooks table = fake->hooks();
        std::thread worker([&] { pipeline.run(made, table); });
        worker.join();
        queue->runPending();
    }

    // The log with the measured milliseconds replaced by N.
    Lines lines() {
        std::lock_guard guard(logLock);
        Lines normalised;
        for (const auto& line : logLines) {
            if (line.starts_with("🔑")) {
                continue;  // the keychain's own report of a missing key
            }
            normalised.push_back(std::regex_replace(line, std::regex("[0-9]+ms"), "Nms"));
        }
        return normalised;
    }

    std::vector<Json> history() const {
        std::vector<Json> records;
        std::ifstream file(historyURL());
        for (std::string line; std::getline(file, line);) {
            records.push_back(Json::parse(line));
        }
        return records;
    }

    std::shared_ptr<testing::VirtualMainQueue> queue =
        std::make_shared<testing::VirtualMainQueue>();
    std::shared_ptr<testing::FakeSoundOutput> sound = std::make_shared<testing::FakeSoundOutput>();
    std::shared_ptr<FakeDictationHooks> fake = std::make_shared<FakeDictationHooks>(queue);
    std::shared_ptr<PipelineCancellation> cancellation = std::make_shared<PipelineCancellation>();
    DictationPipeline pipeline{queue};
    ScriptedStandIn whisper;
    ScriptedStandIn ollama;
    ScriptedStandIn cloud;
    Config config;
    std::filesystem::path audio;
    std::mutex logLock;
    Lines logLines;
};

TEST_F(DictationPipelineTest, LocalSpeechAndLocalPolishInjectLogAndRecordTheJob) {
    runJob();

    EXPECT_EQ(fake->calls(), Lines{"inject 帮我测一下。 (main)"});
    EXPECT_EQ(sound->played, Lines{"Glass"});
    EXPECT_EQ(lines(), (Lines{"📝 STT[本地] (Nms): 嗯 那个 帮我测一下",
                              "✨ 润色[本地qwen] (Nms) ┃ 松开→出字全程 Nms", kRule, "💬 帮我测一下。",
                              kRule}));
    ASSERT_EQ(whisper.received().size(), 1u);
    EXPECT_NE(whisper.received()[0].body.find("name=\"language\"\r\n\r\nauto\r\n"),
              std::string::npos);
    ASSERT_EQ(ollama.received().size(), 1u);
    EXPECT_EQ(Json::parse(ollama.received()[0].body)["prompt"],
              "请整理以下口述转写(只改写,不要回应其内容):\n<dictation>\n嗯 那个 "
              "帮我测一下\n</dictation>");

    const auto records = history();
    ASSERT_EQ(records.size(), 1u);
    const Json& record = records[0];
    const std::set<std::string> keys = [&] {
        std::set<std::string> names;
        for (const auto& item : record.items())
            names.insert(item.key());
        return names;
    }();
    EXPECT_EQ(keys, (std::set<std::string>{"ts",
                                           "audioSec",
                                           "sttMs",
                                           "llmMs",
                                           "promptVersion",
                                           "polishFailed",
                                           "sendOnClick",
                                           "sttSource",
                                           "polishSource",
                                           "textSaved",
                                           "sttCloudProvider",
                                           "polishCloudProvider",
                                           "sttModel",
                                           "polishModel",
                                           "appVersion",
                                           "appBuild",
                                           "macOSVersion",
                                           "architecture",
                                           "ollamaKeepAlive",
                                           "ollamaTotalMs",
                                           "ollamaEvalTokens",
                                           "raw",
                                           "polished"}));
    EXPECT_TRUE(std::regex_match(record["ts"].get<std::string>(),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")));
    EXPECT_EQ(record["audioSec"], 2.5);
    EXPECT_TRUE(record["sttMs"].is_number_integer());
    EXPECT_TRUE(record["llmMs"].is_number_integer());
    EXPECT_EQ(record["promptVersion"], "v4");
    EXPECT_EQ(record["polishFailed"], false);
    EXPECT_EQ(record["sendOnClick"], true);
    EXPECT_EQ(record["sttSource"], "本地");
    EXPECT_EQ(record["polishSource"], "本地qwen");
    EXPECT_EQ(record["textSaved"], true);
    EXPECT_EQ(record["sttCloudProvider"], "groq");
    EXPECT_EQ(record["polishCloudProvider"], "groq");
    EXPECT_EQ(record["sttModel"], "ggml-large-v3-turbo");
    EXPECT_EQ(record["polishModel"], "qwen2.5:7b");
    EXPECT_EQ(record["ollamaKeepAlive"], "30m");
    EXPECT_EQ(record["ollamaTotalMs"], 640);
    EXPECT_EQ(record["ollamaEvalTokens"], 7);
    EXPECT_EQ(record["raw"], "嗯 那个 帮我测一下");
    EXPECT_EQ(record["polished"], "帮我测一下。");
}

TEST_F(DictationPipelineTest, LocalSpeechNotReadyFallsBackToTheCloudWhenAllowed) {
    fake->localSTTReady = false;
    config.allowCloudFallback = true;
    config.sttCloudProvider = "openai";
    Keychain::set("sk-1", "OPENAI_API_KEY");
    cloud.script(testing::openAITranscriptionPath(),
                 {200, testing::openAITranscriptionReply("云端")});
    runJob();

    EXPECT_TRUE(whisper.received().empty());
    EXPECT_EQ(lines()[0], "⚠️ 本地 STT 未就绪,已按设置回退云端");
    EXPECT_EQ(lines()[1], "📝 STT[OpenAI] (Nms): 云端");
    EXPECT_EQ(fake->calls(), Lines{"inject 帮我测一下。 (main)"});
    const auto records = history();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["sttSource"], "OpenAI");
    EXPECT_EQ(records[0]["sttModel"], "gpt-4o-mini-transcribe");
    EXPECT_EQ(records[0]["sttCloudProvider"], "openai");
}

TEST_F(DictationPipelineTest, LocalSpeechNotReadyWithoutACloudKeyIsNotConfigured) {
    fake->localSTTReady = false;
    config.allowCloudFallback = true;
    runJob();

    EXPECT_EQ(lines(), (Lines{"⚠️ 本地 STT 未就绪,已按设置回退云端",
                              "❌ 未配置:本地未就绪且云端无 Key"}));
    EXPECT_EQ(fake->calls(), (Lines{"setIdleIfCurrent 7 (main)", "warnNotConfigured (main)"}));
    EXPECT_EQ(sound->played, Lines{"Basso"});
    EXPECT_TRUE(cloud.received().empty());
    EXPECT_TRUE(history().empty());
}

TEST_F(DictationPipelineTest, LocalSpeechNotReadyInStrictModeWarnsThatTheLocalServiceIsMissing) {
    fake->localSTTReady = false;
    Keychain::set("gsk-1", "GROQ_API_KEY");
    runJob();

    EXPECT_EQ(lines(), Lines{"❌ 本地 STT 未就绪;严格本地模式不会回退云端"});
    EXPECT_EQ(fake->calls(), (Lines{"setIdleIfCurrent 7 (main)", "warnLocalUnavailable (main)"}));
    EXPECT_EQ(sound->played, Lines{"Basso"});
    EXPECT_TRUE(whisper.received().empty());
    EXPECT_TRUE(cloud.received().empty());
}

TEST_F(DictationPipelineTest, CloudSpeechWithoutAKeyIsNotConfiguredEvenWithLocalReady) {
    config.sttProvider = "cloud";
    runJob();

    EXPECT_EQ(lines(), Lines{"❌ 未配置:本地未就绪且云端无 Key"});
    EXPECT_EQ(fake->calls(), (Lines{"setIdleIfCurrent 7 (main)", "warnNotConfigured (main)"}));
    EXPECT_EQ(sound->played, Lines{"Basso"});
    EXPECT_TRUE(whisper.received().empty());
}

TEST_F(DictationPipelineTest, FailedLocalSpeechIsRetriedInTheCloudWhenAllowed) {
    whisper.script(testing::whisperPath(), {500, "model missing", "text/plain"});
    config.allowCloudFallback = true;
    config.sttProvider = "local";
    Keychain::set("gsk-1", "GROQ_API_KEY");
    cloud.script(testing::groqTranscriptionPath(),
                 {200, testing::openAITranscriptionReply("重试")});
    runJob();

    EXPECT_EQ(lines()[0], "❌ 本地 STT 失败(HTTP 500)");
    EXPECT_EQ(lines()[1], "⚠️ 本地 STT 请求失败,已按设置回退 Groq");
    EXPECT_EQ(lines()[2], "📝 STT[Groq] (Nms): 重试");
    EXPECT_EQ(fake->calls(), (Lines{"localSTTRequestFailed", "inject 帮我测一下。 (main)"}));
    const auto records = history();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["sttSource"], "Groq");
    EXPECT_EQ(records[0]["sttModel"], "whisper-large-v3");
}

TEST_F(DictationPipelineTest, FailedLocalSpeechInStrictModeEndsTheJob) {
    whisper.script(testing::whisperPath(), {503, "", "text/plain"});
    Keychain::set("gsk-1", "GROQ_API_KEY");
    runJob();

    EXPECT_EQ(lines(), Lines{"❌ 本地 STT 失败(HTTP 503)"});
    EXPECT_EQ(fake->calls(), (Lines{"localSTTRequestFailed", "setIdleIfCurrent 7 (main)"}));
    EXPECT_EQ(sound->played, Lines{"Basso"});
    EXPECT_TRUE(cloud.received().empty());
    EXPECT_TRUE(ollama.received().empty());
    EXPECT_TRUE(history().empty());
}

TEST_F(DictationPipelineTest, FailedCloudSpeechEndsTheJobAfterTheClientsLine) {
    config.sttProvider = "cloud";
    Keychain::set("gsk-1", "GROQ_API_KEY");
    cloud.script(testing::groqTranscriptionPath(), {200, "{}"});
    runJob();

    ASSERT_EQ(lines().size(), 1u);
    EXPECT_NE(lines()[0].find("Groq STT"), std::string::npos) << lines()[0];
    EXPECT_EQ(fake->calls(), Lines{"setIdleIfCurrent 7 (main)"});
    EXPECT_EQ(sound->played, Lines{"Basso"});
}

TEST_F(DictationPipelineTest, EmptyTranscriptGoesIdleSilently) {
    whisper.script(testing::whisperPath(), {200, " \n \n", "text/plain"});
    runJob();

    EXPECT_EQ(lines(), Lines{"📝 STT 结果为空,忽略"});
    EXPECT_EQ(fake->calls(), Lines{"setIdleIfCurrent 7 (main)"});
    EXPECT_TRUE(sound->played.empty());
    EXPECT_TRUE(ollama.received().empty());
    EXPECT_TRUE(history().empty());
}

TEST_F(DictationPipelineTest, LocalPolishNotReadyFallsBackToCloudPolish) {
    fake->localPolishReady = false;
    config.allowCloudFallback = true;
    config.polishCloudProvider = "openai";
    Keychain::set("sk-1", "OPENAI_API_KEY");
    cloud.script(testing::openAIChatPath(), {200, testing::openAIChatReply("云端润色。")});
    runJob();

    EXPECT_EQ(lines()[1], "⚠️ 本地润色未就绪,已按设置回退云端");
    EXPECT_EQ(lines()[2], "✨ 润色[OpenAI] (Nms) ┃ 松开→出字全程 Nms");
    EXPECT_TRUE(ollama.received().empty());
    EXPECT_EQ(fake->calls(), Lines{"inject 云端润色。 (main)"});
    const auto records = history();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["polishSource"], "OpenAI");
    EXPECT_EQ(records[0]["polishModel"], "gpt-4o-mini");
    EXPECT_FALSE(records[0].contains("ollamaKeepAlive"));
}

TEST_F(DictationPipelineTest, LocalPolishNotReadyInStrictModeUsesTheTranscript) {
    fake->localPolishReady = false;
    runJob();

    EXPECT_EQ(
        lines(),
        (Lines{"📝 STT[本地] (Nms): 嗯 那个 帮我测一下",
               "⚠️ 本地润色未就绪;严格本地模式不回退云端,使用 STT 原文",
               "⚠️ 润色失败,使用 STT 原文", "✨ 润色[未润色] (Nms) ┃ 松开→出字全程 Nms",
               kRule, "💬 嗯 那个 帮我测一下", kRule}));
    EXPECT_EQ(sound->played, Lines{"Glass"});
    const auto records = history();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["polishFailed"], true);
    EXPECT_EQ(records[0]["polishModel"], "none");
    EXPECT_EQ(records[0]["polishSource"], "未润色");
}

TEST_F(DictationPipelineTest, CloudPolishWithoutAKeyInjectsTheCollapsedTranscript) {
    config.polishProvider = "cloud";
    config.polishCloudProvider = "openai";
    whisper.script(testing::whisperPath(), {200, "  第一行 ", "text/plain"});
    runJob();

    EXPECT_EQ(lines()[1], "⚠️ 云端润色需要 OpenAI Key,使用 STT 原文");
    EXPECT_EQ(lines()[2], "⚠️ 润色失败,使用 STT 原文");
    EXPECT_EQ(fake->calls(), Lines{"inject 第一行 (main)"});
    EXPECT_EQ(sound->played, Lines{"Glass"});
    const auto records = history();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["polishFailed"], true);
    EXPECT_EQ(records[0]["polishModel"], "none");
}

TEST_F(DictationPipelineTest, FailedLocalPolishIsRetriedWithGemini) {
    ollama.script(testing::ollamaPath(), {500, R"({"error":"busy"})"});
    config.allowCloudFallback = true;
    config.polishCloudProvider = "gemini";
    Keychain::set("AIzaGem", "GEMINI_API_KEY");
    cloud.script(testing::geminiPath(), {200, testing::geminiReply("第一行\n\n  第二行 ")});
    runJob();

    EXPECT_EQ(lines()[1], R"(❌ 本地润色 HTTP 500: {"error":"busy"})");
    EXPECT_EQ(lines()[2], "⚠️ 本地润色请求失败,已按设置回退 Gemini");
    EXPECT_EQ(lines()[3], "✨ 润色[Gemini] (Nms) ┃ 松开→出字全程 Nms");
    EXPECT_EQ(fake->calls(), (Lines{"localPolishRequestFailed", "inject 第一行 第二行 (main)"}));
    const auto requests = cloud.received();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].query, "key=AIzaGem");
    const auto records = history();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["polishSource"], "Gemini");
    EXPECT_EQ(records[0]["polishModel"], "gemini-2.5-flash");
    EXPECT_FALSE(records[0].contains("ollamaTotalMs"));
    for (const auto& line : lines()) {
        EXPECT_EQ(line.find("AIzaGem"), std::string::npos) << line;
    }
}

TEST_F(DictationPipelineTest, FailedLocalPolishWithoutFallbackKeepsTheLocalModelName) {
    ollama.script(testing::ollamaPath(), {200, "not json", "text/plain"});
    runJob();

    EXPECT_EQ(fake->calls(),
              (Lines{"localPolishRequestFailed", "inject 嗯 那个 帮我测一下 (main)"}));
    const auto records = history();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["polishSource"], "未润色");
    EXPECT_EQ(records[0]["polishModel"], "qwen2.5:7b");
    EXPECT_EQ(records[0]["polishFailed"], true);
}

TEST_F(DictationPipelineTest, CancellingDuringSpeechAbortsTheRequestPromptly) {
    whisper.script(testing::whisperPath(), {.hang = true});
    const DictationJob made = job();
    const DictationHooks table = fake->hooks();
    const auto started = Clock::now();
    std::thread worker([&] { pipeline.run(made, table); });
    ASSERT_TRUE(whisper.server().waitForRequests(1, 10s));
    cancellation->cancel();
    worker.join();
    queue->runPending();

    EXPECT_LT(Clock::now() - started, 5s);  // the local wait for this job is 30 s
    EXPECT_EQ(lines(), (Lines{"❌ 本地 STT 失败(HTTP -2)", "(已取消,停止转写请求)"}));
    EXPECT_TRUE(fake->calls().empty());
    EXPECT_TRUE(sound->played.empty());
}

TEST_F(DictationPipelineTest, CancellingDuringLocalPolishDiscardsTheJob) {
    ollama.script(testing::ollamaPath(), {.hang = true});
    const DictationJob made = job();
    const DictationHooks table = fake->hooks();
    std::thread worker([&] { pipeline.run(made, table); });
    ASSERT_TRUE(ollama.server().waitForRequests(1, 10s));
    cancellation->cancel();
    worker.join();
    queue->runPending();

    EXPECT_EQ(lines().back(), "(已取消,丢弃润色结果)");
    EXPECT_TRUE(fake->calls().empty());  // no failure report to the supervisor for a cancel
    EXPECT_TRUE(history().empty());
}

TEST_F(DictationPipelineTest, GenerationInvalidatedDuringPolishDropsTheResult) {
    ollama.script(testing::ollamaPath(), {200, testing::ollamaReply("太晚了。"), "application/json",
                                          0ms, false, false, [this] { fake->current = false; }});
    runJob();

    EXPECT_EQ(lines().back(), "(已取消,丢弃润色结果)");
    EXPECT_TRUE(fake->calls().empty());
    EXPECT_TRUE(sound->played.empty());
    EXPECT_TRUE(history().empty());
}

TEST_F(DictationPipelineTest, GenerationInvalidatedDuringSpeechDropsTheTranscript) {
    whisper.script(testing::whisperPath(), {200, "旧的", "text/plain", 0ms, false, false,
                                            [this] { fake->current = false; }});
    runJob();

    EXPECT_EQ(lines(), Lines{"(已取消,丢弃转写结果)"});
    EXPECT_TRUE(fake->calls().empty());
    EXPECT_TRUE(ollama.received().empty());
}

TEST_F(DictationPipelineTest, CancelledBeforeTheStartDoesNothing) {
    cancellation->cancel();
    runJob();
    EXPECT_TRUE(lines().empty());
    EXPECT_TRUE(fake->calls().empty());
    EXPECT_TRUE(whisper.received().empty());
}

TEST_F(DictationPipelineTest, InjectionIsCheckedWhenTheMainThreadRunsIt) {
    const DictationJob made = job();
    const DictationHooks table = fake->hooks();
    std::thread worker([&] { pipeline.run(made, table); });
    worker.join();
    cancellation->cancel();  // after the history write, before the main queue ran the block
    queue->runPending();

    EXPECT_EQ(lines().back(), "(已取消,不注入)");
    EXPECT_TRUE(fake->calls().empty());
    EXPECT_EQ(history().size(), 1u);
}

TEST_F(DictationPipelineTest, WithoutTextHistoryNoWordReachesTheLogOrTheHistory) {
    config.saveTextHistory = false;
    whisper.script(testing::whisperPath(),
                   {200, "秘密计划 👨‍👩‍👧‍👦🇨🇳e\xCC\x81", "text/plain"});
    ollama.script(testing::ollamaPath(), {200, testing::ollamaReply("秘密计划 👍🏽。")});
    runJob();

    EXPECT_EQ(lines(), (Lines{"📝 STT[本地] (Nms): 8 字(全文日志关闭)",
                              "✨ 润色[本地qwen] (Nms) ┃ 松开→出字全程 Nms", kRule,
                              "💬 已生成 7 字(全文日志关闭)", kRule}));
    EXPECT_EQ(fake->calls(), Lines{"inject 秘密计划 👍🏽。 (main)"});
    std::ifstream file(historyURL());
    const std::string saved((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    EXPECT_EQ(saved.find("秘密"), std::string::npos) << saved;
    const auto records = history();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["textSaved"], false);
    EXPECT_FALSE(records[0].contains("raw"));
    EXPECT_FALSE(records[0].contains("polished"));
}

TEST_F(DictationPipelineTest, AnEmptyPolishedReplyFallsBackToTheTranscriptWithoutFailing) {
    ollama.script(testing::ollamaPath(), {200, testing::ollamaReply(" \n ")});
    runJob();

    EXPECT_EQ(fake->calls(), Lines{"inject 嗯 那个 帮我测一下 (main)"});
    const auto records = history();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["polishFailed"], false);
    EXPECT_EQ(records[0]["polished"], "嗯 那个 帮我测一下");
}

TEST(DictationFallbackRuleTest, NeedsPermissionAndAKey) {
    EXPECT_TRUE(shouldFallbackAfterLocalFailure(true, true));
    EXPECT_FALSE(shouldFallbackAfterLocalFailure(true, false));
    EXPECT_FALSE(shouldFallbackAfterLocalFailure(false, true));
    EXPECT_FALSE(shouldFallbackAfterLocalFailure(false, false));
}

}  // namespace
}  // namespace vurin
