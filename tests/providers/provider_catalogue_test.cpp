#include "providers/provider_catalogue.h"

#include <gtest/gtest.h>

namespace vurin {
namespace {

TEST(ProviderCatalogueTest, ListsTheThreeProvidersInOrderWithTheirAPIs) {
    const auto list = cloudProviderList();
    ASSERT_EQ(list.size(), 3u);

    EXPECT_EQ(list[0].id, "groq");
    EXPECT_EQ(list[0].name, "Groq");
    EXPECT_EQ(list[0].keyAccount, "GROQ_API_KEY");
    ASSERT_NE(list[0].api.openAICompat(), nullptr);
    EXPECT_EQ(*list[0].api.openAICompat(),
              (ProviderAPI::OpenAICompat{
                  "https://api.groq.com/openai/v1/audio/transcriptions", "whisper-large-v3",
                  "https://api.groq.com/openai/v1/chat/completions", "qwen/qwen3.6-27b", "none"}));

    EXPECT_EQ(list[1].id, "openai");
    EXPECT_EQ(list[1].name, "OpenAI");
    EXPECT_EQ(list[1].keyAccount, "OPENAI_API_KEY");
    ASSERT_NE(list[1].api.openAICompat(), nullptr);
    EXPECT_EQ(*list[1].api.openAICompat(),
              (ProviderAPI::OpenAICompat{
                  "https://api.openai.com/v1/audio/transcriptions", "gpt-4o-mini-transcribe",
                  "https://api.openai.com/v1/chat/completions", "gpt-4o-mini", std::nullopt}));

    EXPECT_EQ(list[2].id, "gemini");
    EXPECT_EQ(list[2].name, "Gemini");
    EXPECT_EQ(list[2].keyAccount, "GEMINI_API_KEY");
    EXPECT_EQ(list[2].api.openAICompat(), nullptr);
    ASSERT_NE(list[2].api.gemini(), nullptr);
    EXPECT_EQ(list[2].api.gemini()->model, "gemini-2.5-flash");
}

TEST(ProviderCatalogueTest, LookupIsExactAndFallsBackToGroq) {
    const auto list = cloudProviderList();
    EXPECT_EQ(cloudProviderInfo("groq"), list[0]);
    EXPECT_EQ(cloudProviderInfo("openai"), list[1]);
    EXPECT_EQ(cloudProviderInfo("gemini"), list[2]);
    for (const char* other : {"Groq", "", "OpenAI", "gemini ", "anthropic"}) {
        EXPECT_EQ(cloudProviderInfo(other), list[0]) << other;
    }
}

TEST(ProviderCatalogueTest, ModelIDsPerStage) {
    EXPECT_EQ(cloudSTTModelID("groq"), "whisper-large-v3");
    EXPECT_EQ(cloudPolishModelID("groq"), "qwen/qwen3.6-27b");
    EXPECT_EQ(cloudSTTModelID("openai"), "gpt-4o-mini-transcribe");
    EXPECT_EQ(cloudPolishModelID("openai"), "gpt-4o-mini");
    EXPECT_EQ(cloudSTTModelID("gemini"), "gemini-2.5-flash");
    EXPECT_EQ(cloudPolishModelID("gemini"), "gemini-2.5-flash");
    EXPECT_EQ(cloudSTTModelID("nope"), "whisper-large-v3");
    EXPECT_EQ(cloudPolishModelID(""), "qwen/qwen3.6-27b");
}

TEST(ProviderCatalogueTest, GeminiEndpointCarriesModelAndKeyVerbatim) {
    EXPECT_EQ(geminiGenerateContentURL("gemini-2.5-flash", "AIza+/ k"),
              "https://generativelanguage.googleapis.com/v1beta/models/"
              "gemini-2.5-flash:generateContent?key=AIza+/ k");
}

TEST(ProviderCatalogueTest, TestOverrideRedirectsOneProviderAndCanBeUndone) {
    overrideProviderBaseURLForTesting("openai", "http://127.0.0.1:4000");
    overrideProviderBaseURLForTesting("gemini", "http://127.0.0.1:4001");
    EXPECT_EQ(cloudProviderInfo("openai").api.openAICompat()->sttBase,
              "http://127.0.0.1:4000/v1/audio/transcriptions");
    EXPECT_EQ(cloudProviderInfo("openai").api.openAICompat()->chatBase,
              "http://127.0.0.1:4000/v1/chat/completions");
    EXPECT_EQ(geminiGenerateContentURL("m", "k"),
              "http://127.0.0.1:4001/v1beta/models/m:generateContent?key=k");
    EXPECT_EQ(cloudProviderInfo("groq").api.openAICompat()->sttBase,
              "https://api.groq.com/openai/v1/audio/transcriptions");

    overrideProviderBaseURLForTesting("openai", "");
    overrideProviderBaseURLForTesting("gemini", "");
    EXPECT_EQ(cloudProviderInfo("openai").api.openAICompat()->sttBase,
              "https://api.openai.com/v1/audio/transcriptions");
    EXPECT_EQ(geminiGenerateContentURL("m", "k"),
              "https://generativelanguage.googleapis.com/v1beta/models/m:generateContent?key=k");
}

}  // namespace
}  // namespace vurin
