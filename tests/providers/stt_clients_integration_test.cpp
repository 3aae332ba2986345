#include "providers/stt_clients.h"

#include <gtest/gtest.h>

#include <mutex>
#include <nlohmann/json.hpp>
#include <regex>

#include "config/keychain.h"
#include "pipeline/pipeline_cancellation.h"
#include "providers/local_endpoints.h"
#include "providers/provider_catalogue.h"
#include "support/fake_secret_store.h"
#include "support/log.h"
#include "support/provider_clients_fixture.h"
#include "support/provider_stand_ins.h"
#include "support/wav_files.h"

namespace vurin {
namespace {

using testing::ScriptedReply;
using testing::ScriptedStandIn;

class SttClientsTest : public testing::ProviderClientsFixture {
  protected:
    SttClientsTest() : ProviderClientsFixture(LocalService::whisper) {}

    void SetUp() override {
        ProviderClientsFixture::SetUp();
        audio = test::freshTestFolder("stt") / "clip.wav";
        audioBytes =
            std::string("RIFF\x24\x00\x00\x00WAVE", 12) + std::string("\x00\x01\xff\r\n", 5);
        test::writeBytes(audio, audioBytes);
    }
    std::string filePart(const std::string& boundary) const {
        return "--" + boundary +
               "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"audio.wav\"\r\n"
               "Content-Type: audio/wav\r\n\r\n" +
               audioBytes + "\r\n--" + boundary + "--\r\n";
    }

    std::filesystem::path audio;
    std::string audioBytes;
};

TEST_F(SttClientsTest, LocalSendsTheFormInOrderAndCollapsesThePlainTextReply) {
    local.script(testing::whisperPath(), {200, "hello\n\n  world ", "text/plain"});
    EXPECT_EQ(localTranscribe(audio, "auto", 4.0), "hello world");

    const auto requests = local.received();
    ASSERT_EQ(requests.size(), 1u);
    const auto& request = requests[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/inference");
    const std::string boundary = testing::boundaryOf(request);
    EXPECT_TRUE(std::regex_match(boundary, std::regex("VurinBoundary-[0-9A-F]{8}-[0-9A-F]{4}-"
                                                      "[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}")))
        << boundary;
    EXPECT_EQ(request.body,
              testing::formField(boundary, "response_format", "text") +
                  testing::formField(boundary, "temperature", "0") +
                  testing::formField(boundary, "language", "auto") +
                  testing::formField(boundary, "prompt", std::string(sttDomainPrompt)) +
                  filePart(boundary));
    EXPECT_FALSE(request.headers.count("Authorization"));
    EXPECT_TRUE(lines().empty());
}

TEST_F(SttClientsTest, EveryRequestGetsAFreshBoundary) {
    local.script(testing::whisperPath(), {200, "ok", "text/plain"});
    ASSERT_TRUE(localTranscribe(audio, "zh"));
    ASSERT_TRUE(localTranscribe(audio, "zh"));
    const auto requests = local.received();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(testing::boundaryOf(requests[0]), testing::boundaryOf(requests[1]));
}

TEST_F(SttClientsTest, LocalFailuresLogTheStatusAndGiveNothing) {
    local.script(testing::whisperPath(), {500, "boom", "text/plain"});
    EXPECT_EQ(localTranscribe(audio, "en"), std::nullopt);
    local.script(testing::whisperPath(), {200, std::string("\xff\xfe", 2), "text/plain"});
    EXPECT_EQ(localTranscribe(audio, "en"), std::nullopt);
    overrideLocalPortsForTesting(testing::refusingPort(), 0);
    EXPECT_EQ(localTranscribe(audio, "en"), std::nullopt);
    auto cancelled = std::make_shared<PipelineCancellation>();
    cancelled->cancel();
    EXPECT_EQ(localTranscribe(audio, "en", 1.0, cancelled), std::nullopt);
    EXPECT_EQ(lines(),
              (std::vector<std::string>{"❌ 本地 STT 失败(HTTP 500)", "❌ 本地 STT 失败(HTTP 200)",
                                        "❌ 本地 STT 失败(HTTP 0)", "❌ 本地 STT 失败(HTTP -2)"}));
}

TEST_F(SttClientsTest, UnreadableAudioGivesNothingWithoutARequestOrALogLine) {
    local.script(testing::whisperPath(), {200, "x", "text/plain"});
    EXPECT_EQ(localTranscribe(audio.parent_path() / "missing.wav", "auto"), std::nullopt);
    Keychain::set("gsk-1", "GROQ_API_KEY");
    EXPECT_EQ(cloudTranscribe(audio.parent_path(), "auto", "groq"), std::nullopt);
    EXPECT_TRUE(local.received().empty());
    EXPECT_TRUE(cloud.received().empty());
    EXPECT_TRUE(lines().empty());
}

TEST_F(SttClientsTest, GroqOmitsLanguageForAutoAndTrimsTheTranscript) {
    Keychain::set("gsk-secret", "GROQ_API_KEY");
    cloud.script(testing::groqTranscriptionPath(),
                 {200, testing::openAITranscriptionReply(" 你好。\n")});
    EXPECT_EQ(cloudTranscribe(audio, "auto", "groq"), "你好。");
    EXPECT_EQ(cloudTranscribe(audio, "zh", "groq"), "你好。");

    const auto requests = cloud.received();
    ASSERT_EQ(requests.size(), 2u);
    const std::string first = testing::boundaryOf(requests[0]);
    EXPECT_EQ(requests[0].body,
              testing::formField(first, "model", "whisper-large-v3") +
                  testing::formField(first, "prompt", std::string(sttDomainPrompt)) +
                  filePart(first));
    const std::string second = testing::boundaryOf(requests[1]);
    EXPECT_EQ(requests[1].body,
              testing::formField(second, "model", "whisper-large-v3") +
                  testing::formField(second, "prompt", std::string(sttDomainPrompt)) +
                  testing::formField(second, "language", "zh") + filePart(second));
    EXPECT_EQ(requests[0].headers.find("Authorization")->second, "Bearer gsk-secret");
}

TEST_F(SttClientsTest, OpenAIUsesItsOwnModelAndLabelsItsFailures) {
    Keychain::set("sk-1", "OPENAI_API_KEY");
    cloud.script(testing::openAITranscriptionPath(), {401, R"({"error":"bad key"})"});
    EXPECT_EQ(cloudTranscribe(audio, "en", "openai"), std::nullopt);
    const auto requests = cloud.receivedAt(testing::openAITranscriptionPath());
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_NE(requests[0].body.find("gpt-4o-mini-transcribe"), std::string::npos);
    ASSERT_EQ(lines().size(), 1u);
    EXPECT_NE(lines()[0].find("OpenAI STT"), std::string::npos) << lines()[0];
    EXPECT_EQ(lines()[0].find("sk-1"), std::string::npos);
}

TEST_F(SttClientsTest, MissingKeyIsLoggedWithTheProviderName) {
    EXPECT_EQ(cloudTranscribe(audio, "auto", "groq"), std::nullopt);
    EXPECT_EQ(lines(), std::vector<std::string>{
                           "❌ 未设置 Groq API Key(设置 → 语音识别 → 云端),无法用云端 STT"});
    EXPECT_TRUE(cloud.received().empty());
}

TEST_F(SttClientsTest, GeminiSendsTheAudioInlineWithTheKeyInTheQuery) {
    Keychain::set("AIza-key_1.x~", "GEMINI_API_KEY");
    cloud.script(testing::geminiPath(), {200, testing::geminiReply("  转写  ")});
    EXPECT_EQ(cloudTranscribe(audio, "zh", "gemini"), "转写");

    const auto requests = cloud.received();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, testing::geminiPath());
    EXPECT_EQ(requests[0].query, "key=AIza-key_1.x~");
    EXPECT_EQ(requests[0].headers.find("Content-Type")->second, "application/json");
    EXPECT_FALSE(requests[0].headers.count("Authorization"));
    const auto body = nlohmann::json::parse(requests[0].body);
    const nlohmann::json expected = {
        {"contents",
         nlohmann::json::array(
             {{{"parts",
                nlohmann::json::array(
                    {{{"text",
                       std::string(geminiTranscriptionInstruction) + std::string(sttDomainPrompt)}},
                     {{"inline_data",
                       {{"mime_type", "audio/wav"}, {"data", "UklGRiQAAABXQVZFAAH/DQo="}}}}})}}})}};
    EXPECT_EQ(body, expected) << body.dump();
}

TEST_F(SttClientsTest, GeminiKeyThatCannotStandInAURLIsRefusedCleanly) {
    Keychain::set("AIza key&x=1#frag", "GEMINI_API_KEY");
    cloud.script(testing::geminiPath(), {200, testing::geminiReply("x")});
    EXPECT_EQ(cloudTranscribe(audio, "auto", "gemini"), std::nullopt);
    EXPECT_TRUE(cloud.received().empty());
    ASSERT_EQ(lines().size(), 1u);
    EXPECT_EQ(lines()[0].find("AIza"), std::string::npos) << lines()[0];
    EXPECT_NE(lines()[0].find("Gemini STT"), std::string::npos);
}

}  // namespace
}  // namespace vurin
