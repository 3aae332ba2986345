#include "providers/cloud_response.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/log.h"

namespace vurin {
namespace {

using namespace std::string_literals;

class DecodeCloudResponseTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setLogObserver([this](const std::string& line) { logs.push_back(line); });
    }
    void TearDown() override { setLogObserver({}); }

    std::optional<std::string> decode(std::optional<std::string> body, int status,
                                      const ReplyExtractor& extract = extractOpenAIChatContent) {
        return decodeCloudResponse(body, status, "Groq润色", extract);
    }

    std::vector<std::string> logs;
};

const ReplyExtractor kTranscriptText = [](std::string_view body) {
    return jsonTopString(body, "text");
};

TEST_F(DecodeCloudResponseTest, A200WithContentGivesTheTrimmedTextAndLogsNothing) {
    EXPECT_EQ(
        decode(R"({"choices":[{"message":{"content":"<think>plan</think>\n  Hello  "}}]})", 200),
        "Hello");
    EXPECT_EQ(decodeCloudResponse(R"({"text":" 你好。\n"})", 200, "Groq STT", kTranscriptText),
              "你好。");
    // An empty transcript is still a transcript.
    EXPECT_EQ(decodeCloudResponse(R"({"text":"  "})", 200, "Groq STT", kTranscriptText), "");
    EXPECT_TRUE(logs.empty());
}

TEST_F(DecodeCloudResponseTest, AReplyWithAReadableBodyLogsTheStatusAndAtMost200Characters) {
    const std::string errorBody = R"({"error":{"message":")" + std::string(300, 'x') + "\"}}";
    EXPECT_EQ(decode(errorBody, 500), std::nullopt);
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs[0], "❌ Groq润色 HTTP 500: " + errorBody.substr(0, 200));

    // 200 characters, not bytes: a Chinese body is cut after 200 of its characters.
    std::string chinese;
    for (int i = 0; i < 250; ++i) {
        chinese += "错";
    }
    decode(chinese, 429);
    std::string first200;
    for (int i = 0; i < 200; ++i) {
        first200 += "错";
    }
    EXPECT_EQ(logs.at(1), "❌ Groq润色 HTTP 429: " + first200);
}

TEST_F(DecodeCloudResponseTest, A200WhoseContentCannotBeExtractedLogsTheStatusLine) {
    EXPECT_EQ(decode(R"({"choices":[]})", 200), std::nullopt);
    EXPECT_EQ(decode("", 200), std::nullopt);
    ASSERT_EQ(logs.size(), 2u);
    EXPECT_EQ(logs[0], R"(❌ Groq润色 HTTP 200: {"choices":[]})");
    EXPECT_EQ(logs[1], "❌ Groq润色 HTTP 200: ");
}

TEST_F(DecodeCloudResponseTest, NoBodyOrABodyThatIsNotUTF8LogsTheFailureLine) {
    decode(std::nullopt, 0);
    decode(std::nullopt, -1);
    decode(std::nullopt, -2);
    decode("\xff\xfe binary"s, 502);
    decode("\xff"s, 200);
    decodeCloudResponse(std::nullopt, -1, "Groq STT", kTranscriptText);
    EXPECT_EQ(logs, (std::vector<std::string>{
                        "❌ Groq润色 失败(HTTP 0)",
                        "❌ Groq润色 失败(HTTP -1 超时)",
                        "❌ Groq润色 失败(HTTP -2)",
                        "❌ Groq润色 失败(HTTP 502)",
                        "❌ Groq润色 失败(HTTP 200)",
                        "❌ Groq STT 失败(HTTP -1 超时)",
                    }));
}

TEST_F(DecodeCloudResponseTest, TheExtractorIsOnlyAskedAboutA200WithABody) {
    int calls = 0;
    const ReplyExtractor counting = [&](std::string_view) -> std::optional<std::string> {
        ++calls;
        return "text";
    };
    decode(R"({"text":"x"})", 201, counting);
    decode(std::nullopt, 200, counting);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(decode(R"({})", 200, counting), "text");
    EXPECT_EQ(calls, 1);
}

TEST(JsonTopStringTest, TakesOnlyATopLevelString) {
    EXPECT_EQ(jsonTopString(R"({"text":"hi","n":1})", "text"), "hi");
    EXPECT_EQ(jsonTopString(R"({"text":"a\u4f60\n"})", "text"), "a你\n");
    EXPECT_EQ(jsonTopString(R"({"text":1})", "text"), std::nullopt);
    EXPECT_EQ(jsonTopString(R"({"text":null})", "text"), std::nullopt);
    EXPECT_EQ(jsonTopString(R"({"other":"x"})", "text"), std::nullopt);
    EXPECT_EQ(jsonTopString(R"({"nested":{"text":"x"}})", "text"), std::nullopt);
    EXPECT_EQ(jsonTopString(R"(["text"])", "text"), std::nullopt);
    EXPECT_EQ(jsonTopString(R"("text")", "text"), std::nullopt);  // a bare fragment
    EXPECT_EQ(jsonTopString("plain transcript", "text"), std::nullopt);
    EXPECT_EQ(jsonTopString(R"({"text":"x"} trailing)", "text"), std::nullopt);
    EXPECT_EQ(jsonTopString("", "text"), std::nullopt);
}

TEST(ExtractOpenAIChatContentTest, ReadsTheFirstChoiceAndDropsThinking) {
    EXPECT_EQ(extractOpenAIChatContent(
                  R"({"choices":[{"message":{"content":"A"}},{"message":{"content":"B"}}]})"),
              "A");
    EXPECT_EQ(
        extractOpenAIChatContent(R"({"choices":[{"message":{"content":"x</think>y</think>z"}}]})"),
        "y</think>z");
    EXPECT_EQ(extractOpenAIChatContent(R"({"choices":[{"message":{"content":"</think>"}}]})"), "");
    EXPECT_EQ(extractOpenAIChatContent(R"({"choices":[{"message":{"content":"<think>open"}}]})"),
              "<think>open");
}

TEST(ExtractOpenAIChatContentTest, AnyMissingStepOrWrongTypeGivesNothing) {
    for (const char* body : {
             R"({"choices":[]})",
             R"({"choices":{}})",
             R"({"choices":["text"]})",
             R"({"choices":[{}]})",
             R"({"choices":[{"message":"hi"}]})",
             R"({"choices":[{"message":{}}]})",
             R"({"choices":[{"message":{"content":null}}]})",
             R"({"choices":[{"message":{"content":["hi"]}}]})",
             R"([{"message":{"content":"hi"}}])",
             R"({"error":"x"})",
             "not json",
         }) {
        EXPECT_EQ(extractOpenAIChatContent(body), std::nullopt) << body;
    }
}

TEST(ExtractGeminiTextTest, ReadsTheFirstPartOfTheFirstCandidateOnly) {
    EXPECT_EQ(
        extractGeminiText(R"({"candidates":[{"content":{"parts":[{"text":"一"},{"text":"二"}]}},)"
                          R"({"content":{"parts":[{"text":"三"}]}}]})"),
        "一");
    for (const char* body : {
             R"({"candidates":[]})",
             R"({"candidates":[{"content":{"parts":[]}}]})",
             R"({"candidates":[{"content":{}}]})",
             R"({"candidates":[{"content":{"parts":[{"inline_data":{}}]}}]})",
             R"({"candidates":[{"content":{"parts":[{"text":7}]}}]})",
             R"({"candidates":[{"finishReason":"SAFETY"}]})",
             R"({"promptFeedback":{"blockReason":"OTHER"}})",
             "",
         }) {
        EXPECT_EQ(extractGeminiText(body), std::nullopt) << body;
    }
}

}  // namespace
}  // namespace vurin
