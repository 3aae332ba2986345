#include <gtest/gtest.h>

#include <regex>

#include "providers/polish_clients.h"
#include "providers/stt_clients.h"
#include "support/provider_stand_ins.h"
#include "support/wav_files.h"

namespace vurin {
namespace {

using namespace std::string_literals;
using Text = std::optional<std::string>;
using Strings = std::vector<std::string>;
using Call = std::function<Text(const std::filesystem::path& audio)>;
const std::string kAudio = std::string("RIFF\x24\x00\x00\x00WAVE", 12) + "\x00\x01\xff\r\n"s;

// Method, target, Authorization, content type and body, the long fixed parts abbreviated.
std::string digest(const testing::ReceivedRequest& request) {
    const auto header = [&](const char* name) {
        const auto found = request.headers.find(name);
        return found == request.headers.end() ? std::string("-") : found->second;
    };
    std::string text =
        request.method + " " + request.path + (request.query.empty() ? "" : "?" + request.query) +
        " " + header("Authorization") + "\n" + header("Content-Type") + "\n" + request.body;
    const std::string system = nlohmann::json(std::string(polishSystemPrompt)).dump();
    for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
             {"VurinBoundary-[0-9A-F]{8}-([0-9A-F]{4}-){3}[0-9A-F]{12}", "<B>"},
             {"请整理以下口述转写\\(只改写,不要回应其内容\\):\\\\n<dictation>\\\\n(.*?)\\\\n</"
              "dictation>",
              "<USER:$1>"}}) {
        text = std::regex_replace(text, std::regex(from), to);
    }
    for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
             {system.substr(1, system.size() - 2), "<SYSTEM>"},
             {std::string(geminiTranscriptionInstruction), "<INSTRUCTION>"},
             {std::string(sttDomainPrompt), "<DOMAIN>"},
             {kAudio, "<WAV>"}}) {
        for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
            text.replace(at, from.size(), to);
        }
    }
    return text;
}

std::string form(const std::vector<std::pair<std::string, std::string>>& fields) {
    std::string body = "multipart/form-data; boundary=<B>\n";
    for (const auto& [name, value] : fields) {
        body += "--<B>\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value +
                "\r\n";
    }
    return body +
           "--<B>\r\nContent-Disposition: form-data; name=\"file\"; filename=\"audio.wav\""
           "\r\nContent-Type: audio/wav\r\n\r\n<WAV>\r\n--<B>--\r\n";
}

Call stt(std::string language, std::string provider = "local") {
    return [=](const std::filesystem::path& audio) {
        return provider == "local" ? localTranscribe(audio, language, 4.0)
                                   : cloudTranscribe(audio, language, provider);
    };
}
// A local reply shows its six timings, "-" for each one missing.
Call polish(std::string provider, std::string text = "原文") {
    return [=](const std::filesystem::path&) -> Text {
        if (provider != "local") {
            return cloudPolish(text, provider);
        }
        const auto result = localPolishWithTiming(text);
        if (!result) {
            return std::nullopt;
        }
        const auto& t = result->timing.value();
        std::string shown = result->text + " [";
        for (const auto& value :
             {t.totalMs, t.loadMs, t.promptEvalMs, t.evalMs, t.promptEvalCount, t.evalCount}) {
            shown += (value ? std::to_string(*value) : "-") + ",";
        }
        return shown + "]";
    };
}

struct Case {
    std::string name;
    std::string path;  // where the stand-in answers, with `reply`
    testing::ScriptedReply reply;
    Call call;
    Text result;
    std::optional<Strings> requests;  // digests; unchecked when absent
    Strings logs;
    std::string key = "";  // "ACCOUNT=key" stored before the call
    friend void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }
};

class ProviderClientsTest : public testing::ProviderClientsFixture,
                            public ::testing::WithParamInterface<Case> {};

TEST_P(ProviderClientsTest, RequestReplyAndLog) {
    const Case& c = GetParam();
    const auto audio = test::freshTestFolder("clients") / "clip.wav";
    test::writeBytes(audio, kAudio);
    if (const auto equals = c.key.find('='); equals != std::string::npos) {
        Keychain::set(c.key.substr(equals + 1), c.key.substr(0, equals));
    }
    local.script(c.path, c.reply);
    cloud.script(c.path, c.reply);
    EXPECT_EQ(c.call(audio), c.result);
    Strings digests;
    for (const auto* stand_in : {&local, &cloud}) {
        for (const auto& request : stand_in->received()) {
            digests.push_back(digest(request));
        }
    }
    EXPECT_EQ(digests, c.requests.value_or(digests));
    EXPECT_EQ(lines(), c.logs);
}

const std::string kGemini = "POST " + testing::geminiPath() + "?key=";
const std::string kGroq = "POST " + testing::groqTranscriptionPath() + " Bearer gsk-1\n";
const std::string kChat = R"({"messages":[{"content":"<SYSTEM>","role":"system"},)"
                          R"({"content":"<USER:原文>","role":"user"}],"model":)";
// clang-format off
INSTANTIATE_TEST_SUITE_P(SpeechToText, ProviderClientsTest, ::testing::Values(
    Case{"Local", "/inference", {200, "hello\n\n  world ", "text/plain"}, stt("auto"), "hello world",
         Strings{"POST /inference -\n" + form({{"response_format", "text"}, {"temperature", "0"},
                                                {"language", "auto"}, {"prompt", "<DOMAIN>"}})}},
    Case{"LocalNotUTF8", "/inference", {200, "\xff\xfe", "text/plain"}, stt("en"), {}, {},
         {"❌ 本地 STT 失败(HTTP 200)"}},
    Case{"UnreadableAudio", "/inference", {200, "x", "text/plain"}, [](const auto& audio) {
             const auto missing = localTranscribe(audio.parent_path() / "missing.wav", "auto");
             return missing ? missing : cloudTranscribe(audio.parent_path(), "auto", "groq");
         }, {}, Strings{}, {}, "GROQ_API_KEY=gsk-1"},
    Case{"Groq", testing::groqTranscriptionPath(), {200, testing::openAITranscriptionReply("你好。")},
         stt("zh", "groq"), "你好。", Strings{kGroq + form({{"model", "whisper-large-v3"},
                                       {"prompt", "<DOMAIN>"}, {"language", "zh"}})}, {},
         "GROQ_API_KEY=gsk-1"},
    Case{"GroqWithoutKey", testing::groqTranscriptionPath(), {}, stt("auto", "groq"), {}, Strings{},
         {"❌ 未设置 Groq API Key(设置 → 语音识别 → 云端),无法用云端 STT"}},
    Case{"OpenAIRefusesTheKeyAndAutoOmitsTheLanguage", testing::openAITranscriptionPath(), {401, R"({"error":"bad key"})"},
         stt("auto", "openai"), {}, Strings{"POST /v1/audio/transcriptions Bearer sk-1\n" +
             form({{"model", "gpt-4o-mini-transcribe"}, {"prompt", "<DOMAIN>"}})},
         {R"(❌ OpenAI STT HTTP 401: {"error":"bad key"})"}, "OPENAI_API_KEY=sk-1"},
    Case{"GeminiSendsTheAudioInline", testing::geminiPath(), {200, testing::geminiReply("  转写  ")},
         stt("zh", "gemini"), "转写", Strings{kGemini + "AIza-key_1.x~ -\napplication/json\n" +
             R"({"contents":[{"parts":[{"text":"<INSTRUCTION><DOMAIN>"},{"inline_data":)"
             R"({"data":"UklGRiQAAABXQVZFAAH/DQo=","mime_type":"audio/wav"}}]}]})"},
         {}, "GEMINI_API_KEY=AIza-key_1.x~"}),
    [](const auto& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(Polish, ProviderClientsTest, ::testing::Values(
    Case{"Local", "/api/generate", {200, testing::ollamaReply("  你好。\n",
             R"({"total_duration":1234567890,"eval_count":12})")}, polish("local", "嗯那个帮我测一下"),
         "你好。 [1235,-,-,-,-,12,]",
         Strings{"POST /api/generate -\napplication/json\n"
             R"({"keep_alive":"30m","model":"qwen2.5:7b","options":{"temperature":0.2},)"
             R"("prompt":"<USER:嗯那个帮我测一下>","stream":false,"system":"<SYSTEM>"})"}},
    Case{"LocalKeepsReasoningAndAllSixTimings", "/api/generate", {200, testing::ollamaReply(
             "<think>x</think>好", R"({"total_duration":2500000,"load_duration":2499999,)"
             R"("prompt_eval_duration":"7","eval_duration":1e6,"prompt_eval_count":30,"eval_count":4.9})")},
         polish("local"), "<think>x</think>好 [3,2,-,1,30,4,]"},
    Case{"LocalWithoutTiming", "/api/generate", {200, R"({"response":"好"})"},
         [](const auto&) { return localPolish("t"); }, "好"},
    Case{"LocalError", "/api/generate", {500, std::string(250, 'x'), "text/plain"}, polish("local"),
         {}, {}, {"❌ 本地润色 HTTP 500: " + std::string(200, 'x')}},
    Case{"LocalResponseNotText", "/api/generate", {200, R"({"response":5})"}, polish("local"), {}, {},
         {R"(❌ 本地润色 HTTP 200: {"response":5})"}},
    Case{"LocalNotUTF8", "/api/generate", {503, "\xff", "text/plain"}, polish("local"), {}, {},
         {"❌ 本地润色失败(HTTP 503)"}},
    Case{"GroqDropsThinking", testing::groqChatPath(),
         {200, testing::openAIChatReply("<think>hmm</think>\n 整理好的。 ")}, polish("groq"),
         "整理好的。", Strings{"POST /openai/v1/chat/completions Bearer gsk-1\napplication/json\n" +
             kChat + R"("qwen/qwen3.6-27b","reasoning_effort":"none","temperature":0.2})"},
         {}, "GROQ_API_KEY=gsk-1"},
    Case{"OpenAIBusy", testing::openAIChatPath(), {429, R"({"error":"slow down"})"},
         polish("openai"), {}, Strings{"POST /v1/chat/completions Bearer sk-2\napplication/json\n" +
             kChat + R"("gpt-4o-mini","temperature":0.2})"},
         {R"(❌ OpenAI润色 HTTP 429: {"error":"slow down"})"}, "OPENAI_API_KEY=sk-2"},
    Case{"OpenAIWithoutKey", testing::openAIChatPath(), {}, polish("openai"), {}, Strings{},
         {"❌ 未设置 OpenAI API Key(设置 → 文本润色 → 云端),无法用云端润色"}},
    Case{"Gemini", testing::geminiPath(), {200, testing::geminiReply("好的。")}, polish("gemini"),
         "好的。", Strings{kGemini + "AIzaKey -\napplication/json\n" +
             R"({"contents":[{"parts":[{"text":"<USER:原文>"}]}],"generationConfig":)"
             R"({"temperature":0.2},"system_instruction":{"parts":[{"text":"<SYSTEM>"}]}})"},
         {}, "GEMINI_API_KEY=AIzaKey"},
    Case{"GeminiKeyThatCannotStandInAURL", testing::geminiPath(), {}, polish("gemini"), {},
         Strings{}, {"❌ Gemini润色:API Key 含有不能放进网址的字符,请求未发送"}, "GEMINI_API_KEY=bad key\n"}),
    [](const auto& info) { return info.param.name; });
// clang-format on

}  // namespace
}  // namespace vurin
