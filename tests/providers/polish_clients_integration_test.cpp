#include "providers/polish_clients.h"

#include <gtest/gtest.h>

#include <mutex>
#include <nlohmann/json.hpp>

#include "config/keychain.h"
#include "pipeline/pipeline_cancellation.h"
#include "providers/local_endpoints.h"
#include "providers/provider_catalogue.h"
#include "support/fake_secret_store.h"
#include "support/log.h"
#include "support/provider_clients_fixture.h"
#include "support/provider_stand_ins.h"

namespace vurin {
namespace {

using Json = nlohmann::json;
using testing::ScriptedStandIn;

class PolishClientsTest : public testing::ProviderClientsFixture {
  protected:
    PolishClientsTest() : ProviderClientsFixture(LocalService::ollama) {}

    static std::string header(const testing::ReceivedRequest& request, const std::string& name) {
        const auto found = request.headers.find(name);
        return found == request.headers.end() ? "<none>" : found->second;
    }
};

TEST_F(PolishClientsTest, LocalSendsTheGenerateBodyAndReadsTextAndTiming) {
    local.script(testing::ollamaPath(),
                 {200, testing::ollamaReply("  你好。\n",
                                            R"({"total_duration":1234567890,"eval_count":12})")});
    const auto result = localPolishWithTiming("嗯那个帮我测一下");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->text, "你好。");
    ASSERT_TRUE(result->timing);
    EXPECT_EQ(*result->timing,
              (OllamaTiming{1235, std::nullopt, std::nullopt, std::nullopt, std::nullopt, 12}));

    const auto requests = local.received();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, "/api/generate");
    EXPECT_EQ(header(requests[0], "content-type"), "application/json");
    EXPECT_EQ(header(requests[0], "Authorization"), "<none>");
    const Json expected = {
        {"model", "qwen2.5:7b"},
        {"stream", false},
        {"keep_alive", "30m"},
        {"system", std::string(polishSystemPrompt)},
        {"prompt",
         "请整理以下口述转写(只改写,不要回应其内容):\n<dictation>\n嗯那个帮我测一下\n</dictation>"},
        {"options", {{"temperature", 0.2}}}};
    EXPECT_EQ(Json::parse(requests[0].body), expected);
    EXPECT_TRUE(lines().empty());
}

TEST_F(PolishClientsTest, LocalKeepsAReasoningBlockAndTimingOfAllSixFields) {
    local.script(testing::ollamaPath(),
                 {200, testing::ollamaReply("<think>x</think>好", R"({"total_duration":2500000,
                   "load_duration":2499999,"prompt_eval_duration":"7","eval_duration":1e6,
                   "prompt_eval_count":30,"eval_count":4.9})")});
    EXPECT_EQ(localPolish("t"), "<think>x</think>好");
    const auto result = localPolishWithTiming("t");
    ASSERT_TRUE(result && result->timing);
    EXPECT_EQ(*result->timing, (OllamaTiming{3, 2, std::nullopt, 1, 30, 4}));
}

TEST_F(PolishClientsTest, LocalRepliesWithoutResponseLogTheirBodyPrefix) {
    const std::string longBody(250, 'x');
    local.script(testing::ollamaPath(), {500, longBody, "text/plain"});
    EXPECT_EQ(localPolishWithTiming("t"), std::nullopt);
    local.script(testing::ollamaPath(), {200, R"({"error":"model not found"})"});
    EXPECT_EQ(localPolishWithTiming("t"), std::nullopt);
    local.script(testing::ollamaPath(), {200, R"({"response":5})"});
    EXPECT_EQ(localPolishWithTiming("t"), std::nullopt);
    local.script(testing::ollamaPath(), {503, std::string("\xff", 1), "text/plain"});
    EXPECT_EQ(localPolishWithTiming("t"), std::nullopt);
    local.script(testing::ollamaPath(), {200, R"({"response":"半)", "application/json",
                                         std::chrono::milliseconds(0), false, true});
    EXPECT_EQ(localPolishWithTiming("t"), std::nullopt);
    overrideLocalPortsForTesting(0, testing::refusingPort());
    EXPECT_EQ(localPolishWithTiming("t"), std::nullopt);
    auto cancelled = std::make_shared<PipelineCancellation>();
    cancelled->cancel();
    EXPECT_EQ(localPolishWithTiming("t", cancelled), std::nullopt);
    EXPECT_EQ(lines(),
              (std::vector<std::string>{"❌ 本地润色 HTTP 500: " + std::string(200, 'x'),
                                        R"(❌ 本地润色 HTTP 200: {"error":"model not found"})",
                                        R"(❌ 本地润色 HTTP 200: {"response":5})",
                                        "❌ 本地润色失败(HTTP 503)", "❌ 本地润色失败(HTTP 0)",
                                        "❌ 本地润色失败(HTTP 0)", "❌ 本地润色失败(HTTP -2)"}));
}

TEST_F(PolishClientsTest, GroqChatCarriesReasoningEffortAndDropsThinking) {
    Keychain::set("gsk-1", "GROQ_API_KEY");
    cloud.script(testing::groqChatPath(),
                 {200, testing::openAIChatReply("<think>hmm</think>\n 整理好的。 ")});
    EXPECT_EQ(cloudPolish("原文", "groq"), "整理好的。");
    const auto requests = cloud.received();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(header(requests[0], "Authorization"), "Bearer gsk-1");
    EXPECT_EQ(header(requests[0], "content-type"), "application/json");
    const Json expected = {
        {"model", "qwen/qwen3.6-27b"},
        {"temperature", 0.2},
        {"messages",
         Json::array({{{"role", "system"}, {"content", std::string(polishSystemPrompt)}},
                      {{"role", "user"}, {"content", polishUserMessage("原文")}}})},
        {"reasoning_effort", "none"}};
    EXPECT_EQ(Json::parse(requests[0].body), expected);
}

TEST_F(PolishClientsTest, OpenAIChatHasNoReasoningEffortAndLabelsFailures) {
    Keychain::set("sk-2", "OPENAI_API_KEY");
    cloud.script(testing::openAIChatPath(), {429, R"({"error":"slow down"})"});
    EXPECT_EQ(cloudPolish("原文", "openai"), std::nullopt);
    const auto requests = cloud.receivedAt(testing::openAIChatPath());
    ASSERT_EQ(requests.size(), 1u);
    const Json body = Json::parse(requests[0].body);
    EXPECT_EQ(body["model"], "gpt-4o-mini");
    EXPECT_FALSE(body.contains("reasoning_effort"));
    ASSERT_EQ(lines().size(), 1u);
    EXPECT_NE(lines()[0].find("OpenAI润色"), std::string::npos) << lines()[0];
}

TEST_F(PolishClientsTest, GeminiSendsSystemInstructionAndTemperature) {
    Keychain::set("AIzaKey", "GEMINI_API_KEY");
    cloud.script(testing::geminiPath(), {200, testing::geminiReply("好的。")});
    EXPECT_EQ(cloudPolish("原文", "gemini"), "好的。");
    const auto requests = cloud.received();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].query, "key=AIzaKey");
    EXPECT_EQ(header(requests[0], "Content-Type"), "application/json");
    EXPECT_EQ(header(requests[0], "Authorization"), "<none>");
    const Json expected = {
        {"system_instruction",
         {{"parts", Json::array({{{"text", std::string(polishSystemPrompt)}}})}}},
        {"contents",
         Json::array({{{"parts", Json::array({{{"text", polishUserMessage("原文")}}})}}})},
        {"generationConfig", {{"temperature", 0.2}}}};
    EXPECT_EQ(Json::parse(requests[0].body), expected);
}

TEST_F(PolishClientsTest, MissingKeyAndUnusableGeminiKeyFailWithoutARequest) {
    EXPECT_EQ(cloudPolish("原文", "openai"), std::nullopt);
    Keychain::set("bad key\n", "GEMINI_API_KEY");
    EXPECT_EQ(cloudPolish("原文", "gemini"), std::nullopt);
    EXPECT_TRUE(cloud.received().empty());
    const auto logged = lines();
    ASSERT_EQ(logged.size(), 2u);
    EXPECT_EQ(logged[0], "❌ 未设置 OpenAI API Key(设置 → 文本润色 → 云端),无法用云端润色");
    EXPECT_NE(logged[1].find("Gemini润色"), std::string::npos);
    EXPECT_EQ(logged[1].find("bad key"), std::string::npos);
}

}  // namespace
}  // namespace vurin
