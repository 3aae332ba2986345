#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>

#include "providers/cloud_response.h"
#include "providers/multipart_body.h"
#include "providers/polish_clients.h"
#include "providers/provider_catalogue.h"
#include "providers/provider_runtime_status.h"
#include "providers/request_parts.h"
#include "providers/stt_clients.h"
#include "support/language.h"
#include "support/testing.h"

namespace vurin {
namespace {

using namespace std::string_literals;
using Text = std::optional<std::string>;
using Strings = std::vector<std::string>;

// The text of a 200 else one log line; each extractor takes only its one field of the right type.
TEST(CloudReplyTest, TrimmedTextFromA200ElseOneLogLineAndOnlyTheExtractorsField) {
    const auto chat = [](std::string content) {
        return R"({"choices":[{"message":{"content":")" + content + "\"}}]}";
    };
    // clang-format off
    const std::vector<std::tuple<Text, int, Text, std::string>> cases = {  // body, status, text, log
        {chat("<think>plan</think>\\n  Hello  "), 200, "Hello", ""},
        {chat("x"), 500, {}, "❌ Groq润色 HTTP 500: " + chat("x")},  // nothing read from a failure
        {std::string(199, 'x') + "错错", 429, {}, "❌ Groq润色 HTTP 429: " + std::string(199, 'x') + "错"},
        {R"({"choices":[]})", 200, {}, R"(❌ Groq润色 HTTP 200: {"choices":[]})"},
        {{}, 0, {}, "❌ Groq润色 失败(HTTP 0)"}, {{}, -1, {}, "❌ Groq润色 失败(HTTP -1 超时)"},
        {{}, -2, {}, "❌ Groq润色 失败(HTTP -2)"}, {"\xff\xfe"s, 502, {}, "❌ Groq润色 失败(HTTP 502)"}};
    // clang-format on
    testing::LogCapture log;
    for (const auto& [body, status, text, logged] : cases) {
        log.clear();
        EXPECT_EQ(decodeCloudResponse(body, status, "Groq润色", extractOpenAIChatContent), text);
        EXPECT_EQ(log.lines(), logged.empty() ? Strings{} : Strings{logged});
    }

    const std::map<char, ReplyExtractor> extractors = {
        {'t', [](std::string_view body) { return jsonTopString(body, "text"); }},
        {'c', extractOpenAIChatContent},
        {'g', extractGeminiText}};
    // The first choice, cut after the first reasoning block's end; the first candidate's part.
    // clang-format off
    const std::vector<std::tuple<char, std::string, Text>> shapes = {
        {'t', R"({"text":"a\u4f60\n"})", "a你\n"}, {'t', R"({"text":1})", {}}, {'t', R"({"x":"y"})", {}},
        {'t', R"(["text"])", {}}, {'t', R"("text")", {}},
        {'c', R"({"choices":[{"message":{"content":"A"}},{"message":{"content":"B"}}]})", "A"},
        {'c', R"({"choices":[{"message":{"content":"x</think>y</think>z"}}]})", "y</think>z"},
        {'c', R"({"choices":[{"message":{"content":null}}]})", {}}, {'c', R"({"choices":[]})", {}},
        {'c', R"({"choices":{}})", {}}, {'c', R"({"choices":["x"]})", {}}, {'c', "not json", {}},
        {'c', R"({"choices":[{"message":"hi"}]})", {}}, {'c', R"([{"message":{"content":"hi"}}])", {}},
        {'g', R"({"candidates":[{"content":{"parts":[{"text":"一"},{"text":"二"}]}},)"
              R"({"content":{"parts":[{"text":"三"}]}}]})", "一"},
        {'g', R"({"candidates":[]})", {}}, {'g', R"({"candidates":[{"content":{"parts":[]}}]})", {}},
        {'g', R"({"candidates":[{"finishReason":"SAFETY"}]})", {}},
        {'g', R"({"candidates":[{"content":{"parts":[{"text":7}]}}]})", {}}};
    // clang-format on
    for (const auto& [extractor, body, result] : shapes) {
        EXPECT_EQ(extractors.at(extractor)(body), result) << body;
    }
}

TEST(ProviderTextsTest, WaitsDurationsEncodingsAndMultipartFraming) {
    // clang-format off
    const auto speech = localTranscriptionTimeout;  // 2 s per second of audio and 20 s, clamped
    EXPECT_EQ((std::vector{speech(5), speech(20), speech(50), speech(-3), speech(NAN), speech(INFINITY)}),
              (std::vector{30.0, 60.0, 120.0, 30.0, 30.0, 120.0}));
    EXPECT_EQ((std::vector{localPolishTimeout(100), localPolishTimeout(200), localPolishTimeout(600)}),
              (std::vector{45.0, 60.0, 120.0}));
    // Halves round away from zero; only what an int64 holds (the clients read the other cases).
    const auto reply = nlohmann::json::parse(R"({"d": -2500000, "h": 1e300})");
    EXPECT_EQ(ollamaDurationMs(reply, "d"), -3);
    EXPECT_FALSE(ollamaDurationMs(reply, "h") || ollamaDurationMs(nlohmann::json::array(), "d"));
    // A result is its text and every figure: one missing count makes another result.
    const LocalPolishResult polished{"好", OllamaTiming{.totalMs = 5, .evalCount = 3}};
    EXPECT_TRUE(polished == polished && polished != (LocalPolishResult{"好", OllamaTiming{.totalMs = 5}}));
    // clang-format on
    EXPECT_EQ(base64Encode("f") + base64Encode("fo"), "Zg==Zm8=");
    const std::string encoded = base64Encode(std::string(3 * (1u << 20) + 2, 'a'));  // two blocks
    EXPECT_EQ(encoded.size(), 4 * (1u << 20) + 4);
    EXPECT_TRUE(encoded.ends_with("YWFhYWE=") && encoded.find('\n') == std::string::npos);
    // The exact framing: the clients' stand-ins see the parts only as a lenient parser reads them.
    EXPECT_EQ(multipartBody("B-1", "RIFF\0\r\n--B-1\xff"s, "a \"b\".wav", "audio/wav",
                            {{"model", "m"}, {"prompt", "以下\"词\"\r\n"}}),
              "--B-1\r\nContent-Disposition: form-data; name=\"model\"\r\n\r\nm\r\n"
              "--B-1\r\nContent-Disposition: form-data; name=\"prompt\"\r\n\r\n以下\"词\"\r\n\r\n"
              "--B-1\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a \"b\".wav\"\r\n"
              "Content-Type: audio/wav\r\n\r\nRIFF\0\r\n--B-1\xff\r\n--B-1--\r\n"s);
}

// The public addresses the providers answer at, a Gemini key put in verbatim (the clients test
// the paths, models and keys, and refuse keys that cannot stand in a URL).
TEST(ProviderCatalogueTest, ThreeProvidersInOrderAndGroqForAnyOtherId) {
    Strings shown;
    for (const auto& id : {"groq", "openai", "gemini", "Groq", "anthropic"}) {
        const CloudProviderInfo info = cloudProviderInfo(id);
        const auto* compat = info.api.openAICompat();
        shown.push_back(info.name + " " +
                        (compat ? compat->sttBase + " " + compat->chatBase
                                : geminiGenerateContentURL(cloudSTTModelID(id), "A+/ k")));
    }
    EXPECT_EQ(shown, (Strings{"Groq https://api.groq.com/openai/v1/audio/transcriptions "
                              "https://api.groq.com/openai/v1/chat/completions",
                              "OpenAI https://api.openai.com/v1/audio/transcriptions "
                              "https://api.openai.com/v1/chat/completions",
                              "Gemini https://generativelanguage.googleapis.com/v1beta/models/"
                              "gemini-2.5-flash:generateContent?key=A+/ k",
                              shown[0], shown[0]}));
    EXPECT_EQ(cloudProviderList().back().id + cloudPolishModelID("openai"), "geminigpt-4o-mini");
    const auto list = cloudProviderList();
    EXPECT_EQ(cloudProviderInfo("anthropic"), list[0]);
    EXPECT_TRUE(list[0] != list[1] && list[1] != list[2] && list[0] != list[2]);
}

TEST(ProviderRuntimeStatusTest, EachStagesTextAndTheMissingKeys) {
    // Both settings and cloud providers, then "fallback", "ready" and each stored key account.
    const auto parse = [](const std::string& setup) {
        Config config;
        std::istringstream words(setup);
        words >> config.sttProvider >> config.polishProvider >> config.sttCloudProvider >>
            config.polishCloudProvider;
        config.allowCloudFallback = setup.find(" fallback") != std::string::npos;
        return config;
    };
    // clang-format off
    const std::vector<Strings> cases = {  // setup, missing keys, speech|polish in zh, and in en
        {"local local gemini gemini fallback ready +GEMINI_API_KEY", "", "本地(就绪)|本地qwen(就绪)",
         "Local ready|Local qwen ready"},
        {"local local gemini gemini fallback +GEMINI_API_KEY", "", "本地→Gemini|本地qwen→Gemini",
         "Local→Gemini|Local qwen→Gemini"},
        {"local local gemini gemini fallback", "Gemini", "本地(未就绪)|本地qwen(未就绪)",
         "Local not ready|Local qwen not ready"},
        // Each stage has its own provider; missing keys are named once, sorted.
        {"local cloud groq openai fallback +GROQ_API_KEY", "OpenAI", "本地→Groq|OpenAI(缺 Key)"},
        {"cloud cloud groq groq ready", "Groq", "Groq(缺 Key)|Groq(缺 Key)",
         "Groq (missing key)|Groq (missing key)"},
        {"cloud local openai gemini fallback ready", "Gemini / OpenAI", "OpenAI(缺 Key)|本地qwen(就绪)"},
        // A setting that is neither value needs a key only through the fallback.
        {"remote local groq groq ready", "", "Groq(缺 Key)|本地qwen(就绪)"},
        {"remote local groq groq fallback ready", "Groq", "Groq(缺 Key)|本地qwen(就绪)"},
        // An unknown provider id is the Groq entry, with its key account.
        {"cloud cloud Groq openai +GROQ_API_KEY", "OpenAI", "Groq|OpenAI(缺 Key)"}};
    // clang-format on
    for (const auto& c : cases) {
        const bool ready = c[0].find(" ready") != std::string::npos;
        const auto hasKey = [&](const std::string& key) {
            return c[0].find("+" + key) != c[0].npos;
        };
        for (std::size_t i = 2; i < c.size(); ++i) {
            applyUILang(i == 2 ? "zh" : "en");
            const auto status = providerRuntimeStatus(parse(c[0]), ready, ready, hasKey);
            const auto bar = c[i].find('|');
            EXPECT_EQ(status.menuLine(), (i == 2 ? "识别: " : "STT: ") + c[i].substr(0, bar) +
                                             (i == 2 ? "   ·   润色: " : "   ·   Polish: ") +
                                             c[i].substr(bar + 1));
            EXPECT_EQ(status.needsCloudKey ? status.cloudProviderName : "", c[1]) << c[0];
        }
    }
    applyUILang("auto");
}

}  // namespace
}  // namespace vurin
