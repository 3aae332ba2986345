#include "pipeline/dictation_pipeline.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "support/app_fakes.h"
#include "support/fake_dictation_hooks.h"
#include "support/history.h"
#include "support/provider_stand_ins.h"
#include "support/sound.h"
#include "support/virtual_main_queue.h"
#include "support/wav_files.h"

namespace vurin {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;
using namespace testing;
using Lines = std::vector<std::string>;

const std::string kRule = "━━━━━━━━━━━━━━━━━━━━━━━━━━━━━━";
const std::string kRaw = "嗯 那个 帮我测一下";
const std::string kHeard = "📝 STT[本地] (Nms): " + kRaw;
const std::string kText = "帮我测一下。";
const std::string kFailed = "⚠️ 润色失败,使用 STT 原文";

// The log of a job that pastes `text` polished by `source`, after `before`.
Lines pasted(Lines before, const std::string& source, const std::string& text) {
    before.insert(before.end(),
                  {"✨ 润色[" + source + "] (Nms) ┃ 松开→出字全程 Nms", kRule, "💬 " + text, kRule});
    return before;
}

// Both local services answer on `local`, the cloud providers on `cloud`.
class DictationPipelineTest : public ProviderClientsFixture {
  public:
    void SetUp() override {
        ProviderClientsFixture::SetUp();
        installSoundOutput(sound, queue);
        ASSERT_FALSE(clearHistoryFile());
        ASSERT_TRUE(test::writeSignal(audio, 16000, 1, 0, 3200, test::sine(440, 16000)));
        config.saveTextHistory = true;
        local.script(whisperPath(), {200, "嗯 那个\n帮我测一下", "text/plain"});
        local.script(
            ollamaPath(),
            {200, ollamaReply("帮我测一下。", R"({"total_duration":640000000,"eval_count":7})")});
    }
    void TearDown() override {
        installSoundOutput(nullptr, nullptr);
        ProviderClientsFixture::TearDown();
    }

    // On a background thread, as the recorder's completion; `between` runs before the main queue.
    void runJob(const std::function<void()>& between = [] {}) {
        const DictationJob job{audio, 2.46, 7, PipelineConfigSnapshot(config), cancellation};
        const DictationHooks hooks = fake->hooks();
        std::thread([&] { pipeline.run(job, hooks); }).join();
        between();
        queue->runPending();
    }
    // Allows the cloud fallback to `provider`, gives it a key and scripts its reply.
    void fallBackTo(const std::string& provider, const char* keyName, const std::string& path,
                    const std::string& reply) {
        config.allowCloudFallback = true;
        config.sttCloudProvider = config.polishCloudProvider = provider;
        Keychain::set("key-1", keyName);
        cloud.script(path, {200, reply});
    }
    // The log with measured milliseconds as N.
    Lines said() const {
        Lines normalised;
        for (const auto& line : lines()) {
            normalised.push_back(std::regex_replace(line, std::regex("[0-9]+ms"), "Nms"));
        }
        return normalised;
    }

    std::shared_ptr<VirtualMainQueue> queue = std::make_shared<VirtualMainQueue>();
    std::shared_ptr<FakeSoundOutput> sound = std::make_shared<FakeSoundOutput>();
    std::shared_ptr<FakeDictationHooks> fake = std::make_shared<FakeDictationHooks>(queue);
    std::shared_ptr<PipelineCancellation> cancellation = std::make_shared<PipelineCancellation>();
    DictationPipeline pipeline{queue};
    Config config;
    std::filesystem::path audio = test::freshTestFolder("pipeline") / "job.wav";
};

struct Route {
    const char* name;
    std::function<void(DictationPipelineTest&)> arrange;
    Lines log = {};
    Lines calls = {};
    std::string sound = "";   // the cue played, if any
    std::string record = "";  // fields of the one history line (null: absent); "" for no line
    friend void PrintTo(const Route& route, std::ostream* out) { *out << route.name; }
};

class PipelineRoutes : public DictationPipelineTest, public ::testing::WithParamInterface<Route> {};

TEST_P(PipelineRoutes, LogHooksCueAndHistory) {
    const Route& route = GetParam();
    route.arrange(*this);
    runJob();
    EXPECT_EQ(said(), route.log);
    EXPECT_EQ(fake->calls(), route.calls);
    EXPECT_EQ(sound->played, route.sound.empty() ? Lines{} : Lines{route.sound});
    const Lines history = readLines(historyURL());
    ASSERT_EQ(history.size(), route.record.empty() ? 0u : 1u);
    const Json expected = Json::parse(route.record.empty() ? "{}" : route.record);
    for (const auto& [key, value] : expected.items()) {
        const Json record = Json::parse(history[0]);
        EXPECT_EQ(record.contains(key) ? record[key] : Json(), value) << key;
    }
}

using T = DictationPipelineTest;
const std::string kIdle = "setIdleIfCurrent 7 (main)";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Routes, PipelineRoutes, ::testing::Values(
    Route{"LocalSpeechAndLocalPolish", [](T&) {}, pasted({kHeard}, "本地qwen", kText), {"inject 帮我测一下。 (main)"}, "Glass",
          R"({"sttSource":"本地","sttModel":"ggml-large-v3-turbo","polishSource":"本地qwen","polishModel":"qwen2.5:7b",
              "polishFailed":false,"ollamaTotalMs":640,"ollamaEvalTokens":7,"raw":"嗯 那个 帮我测一下","polished":"帮我测一下。"})"},
    Route{"LocalSpeechNotReadyFallsBackToTheCloud", [](T& t) { t.fake->localSTTReady = false; t.fallBackTo("openai", "OPENAI_API_KEY", openAITranscriptionPath(), openAITranscriptionReply("那个帮我测一下")); },
          pasted({"⚠️ 本地 STT 未就绪,已按设置回退云端", "📝 STT[OpenAI] (Nms): 那个帮我测一下"}, "本地qwen", kText), {"inject 帮我测一下。 (main)"},
          "Glass", R"({"sttSource":"OpenAI","sttModel":"gpt-4o-mini-transcribe","sttCloudProvider":"openai"})"},
    Route{"LocalSpeechNotReadyWithoutACloudKey", [](T& t) { t.fake->localSTTReady = false; t.config.allowCloudFallback = true; },
          {"⚠️ 本地 STT 未就绪,已按设置回退云端", "❌ 未配置:本地未就绪且云端无 Key"}, {kIdle, "warnNotConfigured (main)"}, "Basso"},
    Route{"LocalSpeechNotReadyInStrictMode", [](T& t) { t.fake->localSTTReady = false; Keychain::set("gsk-1", "GROQ_API_KEY"); },
          {"❌ 本地 STT 未就绪;严格本地模式不会回退云端"}, {kIdle, "warnLocalUnavailable (main)"}, "Basso"},
    Route{"FailedLocalSpeechRetriedInTheCloud", [](T& t) { t.local.script(whisperPath(), {500, "model missing", "text/plain"}); t.fallBackTo("groq", "GROQ_API_KEY", groqTranscriptionPath(), openAITranscriptionReply("嗯帮我测一下")); },
          pasted({"❌ 本地 STT 失败(HTTP 500)", "⚠️ 本地 STT 请求失败,已按设置回退 Groq", "📝 STT[Groq] (Nms): 嗯帮我测一下"}, "本地qwen", kText),
          {"localSTTRequestFailed", "inject 帮我测一下。 (main)"}, "Glass", R"({"sttSource":"Groq","sttModel":"whisper-large-v3"})"},
    Route{"FailedLocalSpeechInStrictMode", [](T& t) { t.local.script(whisperPath(), {503, "", "text/plain"}); Keychain::set("gsk-1", "GROQ_API_KEY"); },
          {"❌ 本地 STT 失败(HTTP 503)"}, {"localSTTRequestFailed", kIdle}, "Basso"},
    Route{"FailedLocalSpeechWithoutACloudKey", [](T& t) { t.local.script(whisperPath(), {500, "", "text/plain"}); t.config.allowCloudFallback = true; },
          {"❌ 本地 STT 失败(HTTP 500)"}, {"localSTTRequestFailed", kIdle}, "Basso"},
    Route{"FailedCloudSpeech", [](T& t) { t.config.sttProvider = "cloud"; t.fallBackTo("groq", "GROQ_API_KEY", groqTranscriptionPath(), "{}"); },
          {"❌ Groq STT HTTP 200: {}"}, {kIdle}, "Basso"},
    Route{"EmptyTranscriptGoesIdleSilently", [](T& t) { t.local.script(whisperPath(), {200, " \n \n", "text/plain"}); },
          {"📝 STT 结果为空,忽略"}, {kIdle}},
    Route{"LocalPolishNotReadyFallsBackToTheCloud", [](T& t) { t.fake->localPolishReady = false; t.fallBackTo("openai", "OPENAI_API_KEY", openAIChatPath(), openAIChatReply("帮我测一下!")); },
          pasted({kHeard, "⚠️ 本地润色未就绪,已按设置回退云端"}, "OpenAI", "帮我测一下!"), {"inject 帮我测一下! (main)"}, "Glass",
          R"({"polishSource":"OpenAI","polishModel":"gpt-4o-mini","ollamaKeepAlive":null})"},
    Route{"LocalPolishNotReadyInStrictModeUsesTheTranscript", [](T& t) { t.fake->localPolishReady = false; },
          pasted({kHeard, "⚠️ 本地润色未就绪;严格本地模式不回退云端,使用 STT 原文", kFailed}, "未润色", kRaw), {"inject 嗯 那个 帮我测一下 (main)"},
          "Glass", R"({"polishFailed":true,"polishModel":"none","polishSource":"未润色"})"},
    Route{"CloudPolishWithoutAKeyPastesTheCollapsedTranscript", [](T& t) {
              t.config.polishProvider = "cloud"; t.config.polishCloudProvider = "openai"; t.local.script(whisperPath(), {200, "  第一行 ", "text/plain"}); },
          pasted({"📝 STT[本地] (Nms): 第一行", "⚠️ 云端润色需要 OpenAI Key,使用 STT 原文", kFailed}, "未润色", "第一行"),
          {"inject 第一行 (main)"}, "Glass", R"({"polishFailed":true,"polishModel":"none"})"},
    Route{"FailedLocalPolishRetriedWithGemini", [](T& t) { t.local.script(ollamaPath(), {500, R"({"error":"busy"})"}); t.fallBackTo("gemini", "GEMINI_API_KEY", geminiPath(), geminiReply("帮我\n\n  测一下 ")); },
          pasted({kHeard, R"(❌ 本地润色 HTTP 500: {"error":"busy"})", "⚠️ 本地润色请求失败,已按设置回退 Gemini"}, "Gemini", "帮我 测一下"),
          {"localPolishRequestFailed", "inject 帮我 测一下 (main)"}, "Glass", R"({"polishSource":"Gemini","polishModel":"gemini-2.5-flash","ollamaTotalMs":null})"},
    Route{"FailedLocalPolishWithoutFallbackKeepsTheLocalModelName", [](T& t) { t.local.script(ollamaPath(), {200, "not json", "text/plain"}); },
          pasted({kHeard, "❌ 本地润色 HTTP 200: not json", kFailed}, "未润色", kRaw), {"localPolishRequestFailed", "inject 嗯 那个 帮我测一下 (main)"},
          "Glass", R"({"polishSource":"未润色","polishModel":"qwen2.5:7b","polishFailed":true})"},
    Route{"AnEmptyPolishedReplyFallsBackToTheTranscriptWithoutFailing", [](T& t) { t.local.script(ollamaPath(), {200, ollamaReply(" \n ")}); },
          pasted({kHeard, "⚠️ 润色结果为空,改用 STT 原文"}, "本地qwen", kRaw), {"inject 嗯 那个 帮我测一下 (main)"}, "Glass",
          R"({"polishFailed":false,"polishRejected":"empty","polished":"嗯 那个 帮我测一下"})"},
    Route{"APrefaceAndQuotesAroundAGoodPolishAreTakenOff", [](T& t) { t.local.script(ollamaPath(), {200, ollamaReply("好的,以下是整理后的文本:\n“帮我测一下。”")}); },
          pasted({kHeard, "⚠️ 润色结果外面带了前言、引号,已去掉"}, "本地qwen", kText), {"inject 帮我测一下。 (main)"}, "Glass",
          R"({"polishFailed":false,"polishRejected":null,"polished":"帮我测一下。"})"},
    Route{"APolishThatAnswersIsPastedAsTheTranscriptWithoutItsWords", [](T& t) {
              t.config.saveTextHistory = false; t.local.script(ollamaPath(), {200, ollamaReply("好的,我这就帮你测试。测试已经全部通过,没有发现任何问题。")}); },
          {"📝 STT[本地] (Nms): 10 字(全文日志关闭)", "⚠️ 润色结果只有 4% 出自原话,像是回答而非整理,改用 STT 原文",
           "✨ 润色[本地qwen] (Nms) ┃ 松开→出字全程 Nms", kRule, "💬 已生成 10 字(全文日志关闭)", kRule},
          {"inject 嗯 那个 帮我测一下 (main)"}, "Glass", R"({"polishFailed":false,"polishRejected":"newContent","polishSource":"本地qwen","polished":null})"},
    Route{"WithoutTextHistoryNoWordReachesTheLogOrTheHistory", [](T& t) {
              t.config.saveTextHistory = false; t.local.script(whisperPath(), {200, "秘密计划 👨‍👩‍👧‍👦🇨🇳e\xCC\x81", "text/plain"});
              t.local.script(ollamaPath(), {200, ollamaReply("秘密计划 👍🏽。")}); },
          {"📝 STT[本地] (Nms): 8 字(全文日志关闭)", "✨ 润色[本地qwen] (Nms) ┃ 松开→出字全程 Nms", kRule, "💬 已生成 7 字(全文日志关闭)", kRule},
          {"inject 秘密计划 👍🏽。 (main)"}, "Glass", R"({"textSaved":false,"raw":null,"polished":null})"},
    Route{"CancelledBeforeTheStart", [](T& t) { t.cancellation->cancel(); }},
    Route{"CancellingDuringSpeechAbortsTheRequest", [](T& t) { t.local.script(whisperPath(), {.hang = true, .onRequest = [&t] { t.cancellation->cancel(); }}); },
          {"❌ 本地 STT 失败(HTTP -2)", "(已取消,停止转写请求)"}},
    Route{"CancellingDuringLocalPolishDiscardsTheJob", [](T& t) { t.local.script(ollamaPath(), {.hang = true, .onRequest = [&t] { t.cancellation->cancel(); }}); },
          {kHeard, "❌ 本地润色失败(HTTP -2)", "(已取消,丢弃润色结果)"}},
    Route{"GenerationInvalidatedDuringSpeech", [](T& t) { t.local.script(whisperPath(), {200, "旧的", "text/plain", 0ms, false, false, [&t] { t.fake->current = false; }}); },
          {"(已取消,丢弃转写结果)"}},
    Route{"GenerationInvalidatedDuringPolish", [](T& t) { t.local.script(ollamaPath(), {.body = ollamaReply("太晚了。"), .onRequest = [&t] { t.fake->current = false; }}); },
          {kHeard, "(已取消,丢弃润色结果)"}}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(DictationPipelineTest, TheLanguageReachesTheRecognizerAndInjectionIsCheckedOnTheMainThread) {
    config.sttLanguage = "zh";
    runJob([this] { cancellation->cancel(); });  // after the history write, before the block ran
    EXPECT_EQ(said().back(), "(已取消,不注入)");
    EXPECT_TRUE(fake->calls().empty());
    ASSERT_EQ(readLines(historyURL()).size(), 1u);
    const Json record = Json::parse(readLines(historyURL())[0]);
    EXPECT_GE(record.value("totalMs", -1), record["sttMs"].get<int>() + record["llmMs"].get<int>());
    EXPECT_NE(local.received().at(0).body.find("name=\"language\"\r\n\r\nzh\r\n"),
              std::string::npos);
}

}  // namespace
}  // namespace vurin
