#include "pipeline/dictation_pipeline.h"

#include <gtest/gtest.h>

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
#include "support/provider_stand_ins.h"
#include "support/sound.h"
#include "support/testing.h"
#include "support/virtual_main_queue.h"
#include "support/wav_files.h"

namespace vurin {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;
using namespace testing;
using Lines = std::vector<std::string>;

const std::string kRule = "━━━━━━━━━━━━━━━━━━━━━━━━━━━━━━";
const std::string kPolished = "✨ 润色[本地qwen] (Nms) ┃ 松开→出字全程 Nms";
const std::string kHeard = "📝 STT[本地] (Nms): 嗯 那个 帮我测一下";

class DictationPipelineTest : public ::testing::Test {
  public:
    void SetUp() override {
        installSecretStore(std::make_shared<FakeSecretStore>());
        installSoundOutput(sound, queue);
        overrideLocalPortsForTesting(whisper.port(), ollama.port());
        for (const char* id : {"groq", "openai", "gemini"}) {
            overrideProviderBaseURLForTesting(id, cloud.server().origin());
        }
        ASSERT_FALSE(clearHistoryFile());
        audio = test::freshTestFolder("pipeline") / "job.wav";
        ASSERT_TRUE(test::writeTone(audio, {.sampleRate = 16000, .seconds = 0.2}));
        config.saveTextHistory = true;
        whisper.script(whisperPath(), {200, "嗯 那个\n帮我测一下", "text/plain"});
        ollama.script(
            ollamaPath(),
            {200, ollamaReply("帮我测一下。", R"({"total_duration":640000000,"eval_count":7})")});
    }
    void TearDown() override {
        overrideLocalPortsForTesting(0, 0);
        for (const char* id : {"groq", "openai", "gemini"}) {
            overrideProviderBaseURLForTesting(id, "");
        }
        installSoundOutput(nullptr, nullptr);
        installSecretStore(nullptr);
    }

    // Runs the job on a background thread, as the recorder's completion thread does; `between`
    // runs before the main queue runs what the job posted.
    void runJob(const std::function<void()>& between = [] {}) {
        const DictationJob job{audio, 2.46, 7, PipelineConfigSnapshot(config), cancellation};
        const DictationHooks hooks = fake->hooks();
        std::thread([&] { pipeline.run(job, hooks); }).join();
        between();
        queue->runPending();
    }

    // The log with measured milliseconds as N, without the keychain's reports of missing keys.
    Lines lines() const {
        Lines normalised;
        for (const auto& line : log.lines()) {
            if (!line.starts_with("🔑")) {
                normalised.push_back(std::regex_replace(line, std::regex("[0-9]+ms"), "Nms"));
            }
        }
        return normalised;
    }

    LogCapture log;
    std::shared_ptr<VirtualMainQueue> queue = std::make_shared<VirtualMainQueue>();
    std::shared_ptr<FakeSoundOutput> sound = std::make_shared<FakeSoundOutput>();
    std::shared_ptr<FakeDictationHooks> fake = std::make_shared<FakeDictationHooks>(queue);
    std::shared_ptr<PipelineCancellation> cancellation = std::make_shared<PipelineCancellation>();
    DictationPipeline pipeline{queue};
    ScriptedStandIn whisper, ollama, cloud;
    Config config;
    std::filesystem::path audio;
};

struct Route {
    const char* name;
    std::function<void(DictationPipelineTest&)> arrange;
    Lines log;
    Lines calls;
    Lines sounds;
    // Fields of the one history line (null: absent), or "" for no line at all.
    std::string record;
};

void PrintTo(const Route& route, std::ostream* out) {
    *out << route.name;
}

class PipelineRoutes : public DictationPipelineTest, public ::testing::WithParamInterface<Route> {};

TEST_P(PipelineRoutes, LogHooksCueAndHistory) {
    GetParam().arrange(*this);
    runJob();
    EXPECT_EQ(lines(), GetParam().log);
    EXPECT_EQ(fake->calls(), GetParam().calls);
    EXPECT_EQ(sound->played, GetParam().sounds);
    const Lines history = readLines(historyURL());
    if (GetParam().record.empty()) {
        EXPECT_TRUE(history.empty());
        return;
    }
    ASSERT_EQ(history.size(), 1u);
    const Json record = Json::parse(history[0]);
    const Json expected = Json::parse(GetParam().record);
    for (const auto& [key, value] : expected.items()) {
        EXPECT_EQ(record.contains(key) ? record[key] : Json(), value) << key;
    }
}

using T = DictationPipelineTest;
const Lines kInjected = {"inject 帮我测一下。 (main)"};
const Lines kIdle = {"setIdleIfCurrent 7 (main)"};
const Lines kGlass = {"Glass"}, kBasso = {"Basso"}, kNone = {};

// clang-format off
INSTANTIATE_TEST_SUITE_P(Routes, PipelineRoutes, ::testing::Values(
    Route{"LocalSpeechAndLocalPolish", [](T&) {},
          {kHeard, kPolished, kRule, "💬 帮我测一下。", kRule}, kInjected, kGlass,
          R"({"sttSource":"本地","sttModel":"ggml-large-v3-turbo","polishSource":"本地qwen",
              "polishModel":"qwen2.5:7b","polishFailed":false,"ollamaTotalMs":640,
              "ollamaEvalTokens":7,"raw":"嗯 那个 帮我测一下","polished":"帮我测一下。"})"},
    Route{"LocalSpeechNotReadyFallsBackToTheCloud", [](T& t) {
              t.fake->localSTTReady = false;
              t.config.allowCloudFallback = true;
              t.config.sttCloudProvider = "openai";
              Keychain::set("sk-1", "OPENAI_API_KEY");
              t.cloud.script(openAITranscriptionPath(), {200, openAITranscriptionReply("云端")});
          },
          {"⚠️ 本地 STT 未就绪,已按设置回退云端", "📝 STT[OpenAI] (Nms): 云端", kPolished, kRule,
           "💬 帮我测一下。", kRule}, kInjected, kGlass,
          R"({"sttSource":"OpenAI","sttModel":"gpt-4o-mini-transcribe","sttCloudProvider":"openai"})"},
    Route{"LocalSpeechNotReadyWithoutACloudKey", [](T& t) {
              t.fake->localSTTReady = false;
              t.config.allowCloudFallback = true;
          },
          {"⚠️ 本地 STT 未就绪,已按设置回退云端", "❌ 未配置:本地未就绪且云端无 Key"},
          {kIdle[0], "warnNotConfigured (main)"}, kBasso, ""},
    Route{"LocalSpeechNotReadyInStrictMode", [](T& t) {
              t.fake->localSTTReady = false;
              Keychain::set("gsk-1", "GROQ_API_KEY");
          },
          {"❌ 本地 STT 未就绪;严格本地模式不会回退云端"}, {kIdle[0], "warnLocalUnavailable (main)"},
          kBasso, ""},
    Route{"CloudSpeechWithoutAKeyEvenWithLocalReady", [](T& t) { t.config.sttProvider = "cloud"; },
          {"❌ 未配置:本地未就绪且云端无 Key"}, {kIdle[0], "warnNotConfigured (main)"}, kBasso, ""},
    Route{"FailedLocalSpeechRetriedInTheCloud", [](T& t) {
              t.whisper.script(whisperPath(), {500, "model missing", "text/plain"});
              t.config.allowCloudFallback = true;
              Keychain::set("gsk-1", "GROQ_API_KEY");
              t.cloud.script(groqTranscriptionPath(), {200, openAITranscriptionReply("重试")});
          },
          {"❌ 本地 STT 失败(HTTP 500)", "⚠️ 本地 STT 请求失败,已按设置回退 Groq",
           "📝 STT[Groq] (Nms): 重试", kPolished, kRule, "💬 帮我测一下。", kRule},
          {"localSTTRequestFailed", kInjected[0]}, kGlass,
          R"({"sttSource":"Groq","sttModel":"whisper-large-v3"})"},
    Route{"FailedLocalSpeechInStrictMode", [](T& t) {
              t.whisper.script(whisperPath(), {503, "", "text/plain"});
              Keychain::set("gsk-1", "GROQ_API_KEY");
          },
          {"❌ 本地 STT 失败(HTTP 503)"}, {"localSTTRequestFailed", kIdle[0]}, kBasso, ""},
    Route{"FailedLocalSpeechWithoutACloudKey", [](T& t) {
              t.whisper.script(whisperPath(), {500, "", "text/plain"});
              t.config.allowCloudFallback = true;
          },
          {"❌ 本地 STT 失败(HTTP 500)"}, {"localSTTRequestFailed", kIdle[0]}, kBasso, ""},
    Route{"FailedCloudSpeech", [](T& t) {
              t.config.sttProvider = "cloud";
              Keychain::set("gsk-1", "GROQ_API_KEY");
              t.cloud.script(groqTranscriptionPath(), {200, "{}"});
          },
          {"❌ Groq STT HTTP 200: {}"}, kIdle, kBasso, ""},
    Route{"EmptyTranscriptGoesIdleSilently", [](T& t) {
              t.whisper.script(whisperPath(), {200, " \n \n", "text/plain"});
          },
          {"📝 STT 结果为空,忽略"}, kIdle, kNone, ""},
    Route{"LocalPolishNotReadyFallsBackToTheCloud", [](T& t) {
              t.fake->localPolishReady = false;
              t.config.allowCloudFallback = true;
              t.config.polishCloudProvider = "openai";
              Keychain::set("sk-1", "OPENAI_API_KEY");
              t.cloud.script(openAIChatPath(), {200, openAIChatReply("云端润色。")});
          },
          {kHeard, "⚠️ 本地润色未就绪,已按设置回退云端", "✨ 润色[OpenAI] (Nms) ┃ 松开→出字全程 Nms",
           kRule, "💬 云端润色。", kRule}, {"inject 云端润色。 (main)"}, kGlass,
          R"({"polishSource":"OpenAI","polishModel":"gpt-4o-mini","ollamaKeepAlive":null})"},
    Route{"LocalPolishNotReadyInStrictModeUsesTheTranscript", [](T& t) {
              t.fake->localPolishReady = false;
          },
          {kHeard, "⚠️ 本地润色未就绪;严格本地模式不回退云端,使用 STT 原文",
           "⚠️ 润色失败,使用 STT 原文", "✨ 润色[未润色] (Nms) ┃ 松开→出字全程 Nms", kRule,
           "💬 嗯 那个 帮我测一下", kRule}, {"inject 嗯 那个 帮我测一下 (main)"}, kGlass,
          R"({"polishFailed":true,"polishModel":"none","polishSource":"未润色"})"},
    Route{"CloudPolishWithoutAKeyInjectsTheCollapsedTranscript", [](T& t) {
              t.config.polishProvider = "cloud";
              t.config.polishCloudProvider = "openai";
              t.whisper.script(whisperPath(), {200, "  第一行 ", "text/plain"});
          },
          {"📝 STT[本地] (Nms): 第一行", "⚠️ 云端润色需要 OpenAI Key,使用 STT 原文",
           "⚠️ 润色失败,使用 STT 原文", "✨ 润色[未润色] (Nms) ┃ 松开→出字全程 Nms", kRule,
           "💬 第一行", kRule}, {"inject 第一行 (main)"}, kGlass,
          R"({"polishFailed":true,"polishModel":"none"})"},
    Route{"FailedLocalPolishRetriedWithGemini", [](T& t) {
              t.ollama.script(ollamaPath(), {500, R"({"error":"busy"})"});
              t.config.allowCloudFallback = true;
              t.config.polishCloudProvider = "gemini";
              Keychain::set("AIzaGem", "GEMINI_API_KEY");
              t.cloud.script(geminiPath(), {200, geminiReply("第一行\n\n  第二行 "),
                                            "application/json", 0ms, false, false, [&t] {
                  EXPECT_EQ(t.cloud.received().back().query, "key=AIzaGem");
              }});
          },
          {kHeard, R"(❌ 本地润色 HTTP 500: {"error":"busy"})", "⚠️ 本地润色请求失败,已按设置回退 Gemini",
           "✨ 润色[Gemini] (Nms) ┃ 松开→出字全程 Nms", kRule, "💬 第一行 第二行", kRule},
          {"localPolishRequestFailed", "inject 第一行 第二行 (main)"}, kGlass,
          R"({"polishSource":"Gemini","polishModel":"gemini-2.5-flash","ollamaTotalMs":null})"},
    Route{"FailedLocalPolishWithoutFallbackKeepsTheLocalModelName", [](T& t) {
              t.ollama.script(ollamaPath(), {200, "not json", "text/plain"});
          },
          {kHeard, "❌ 本地润色 HTTP 200: not json", "⚠️ 润色失败,使用 STT 原文",
           "✨ 润色[未润色] (Nms) ┃ 松开→出字全程 Nms", kRule, "💬 嗯 那个 帮我测一下", kRule},
          {"localPolishRequestFailed", "inject 嗯 那个 帮我测一下 (main)"}, kGlass,
          R"({"polishSource":"未润色","polishModel":"qwen2.5:7b","polishFailed":true})"},
    Route{"AnEmptyPolishedReplyFallsBackToTheTranscriptWithoutFailing", [](T& t) {
              t.ollama.script(ollamaPath(), {200, ollamaReply(" \n ")});
          },
          {kHeard, kPolished, kRule, "💬 嗯 那个 帮我测一下", kRule},
          {"inject 嗯 那个 帮我测一下 (main)"}, kGlass,
          R"({"polishFailed":false,"polished":"嗯 那个 帮我测一下"})"},
    Route{"WithoutTextHistoryNoWordReachesTheLogOrTheHistory", [](T& t) {
              t.config.saveTextHistory = false;
              t.whisper.script(whisperPath(), {200, "秘密计划 👨‍👩‍👧‍👦🇨🇳e\xCC\x81", "text/plain"});
              t.ollama.script(ollamaPath(), {200, ollamaReply("秘密计划 👍🏽。")});
          },
          {"📝 STT[本地] (Nms): 8 字(全文日志关闭)", kPolished, kRule, "💬 已生成 7 字(全文日志关闭)",
           kRule}, {"inject 秘密计划 👍🏽。 (main)"}, kGlass,
          R"({"textSaved":false,"raw":null,"polished":null})"},
    Route{"CancelledBeforeTheStart", [](T& t) { t.cancellation->cancel(); }, {}, {}, kNone, ""},
    Route{"CancellingDuringSpeechAbortsTheRequest", [](T& t) {
              t.whisper.script(whisperPath(), {.hang = true, .onRequest = [&t] { t.cancellation->cancel(); }});
          },
          {"❌ 本地 STT 失败(HTTP -2)", "(已取消,停止转写请求)"}, {}, kNone, ""},
    Route{"CancellingDuringLocalPolishDiscardsTheJob", [](T& t) {
              t.ollama.script(ollamaPath(), {.hang = true, .onRequest = [&t] { t.cancellation->cancel(); }});
          },
          {kHeard, "❌ 本地润色失败(HTTP -2)", "(已取消,丢弃润色结果)"}, {}, kNone, ""},
    Route{"GenerationInvalidatedDuringSpeech", [](T& t) {
              t.whisper.script(whisperPath(), {200, "旧的", "text/plain", 0ms, false, false,
                                               [&t] { t.fake->current = false; }});
          },
          {"(已取消,丢弃转写结果)"}, {}, kNone, ""},
    Route{"GenerationInvalidatedDuringPolish", [](T& t) {
              t.ollama.script(ollamaPath(), {200, ollamaReply("太晚了。"), "application/json", 0ms,
                                             false, false, [&t] { t.fake->current = false; }});
          },
          {kHeard, "(已取消,丢弃润色结果)"}, {}, kNone, ""}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(DictationPipelineTest, InjectionIsCheckedWhenTheMainThreadRunsIt) {
    config.sttLanguage = "zh";
    runJob([this] { cancellation->cancel(); });  // after the history write, before the block ran
    EXPECT_EQ(lines().back(), "(已取消,不注入)");
    EXPECT_TRUE(fake->calls().empty());
    EXPECT_EQ(readLines(historyURL()).size(), 1u);
    ASSERT_EQ(whisper.received().size(), 1u);
    EXPECT_NE(whisper.received()[0].body.find("name=\"language\"\r\n\r\nzh\r\n"),
              std::string::npos);
}

}  // namespace
}  // namespace vurin
