#include "providers/provider_runtime_status.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "providers/provider_catalogue.h"
#include "support/language.h"

namespace vurin {
namespace {

using Compat = ProviderAPI::OpenAICompat;

// The endpoints and models the providers are spoken to with, under their settings ids.
TEST(ProviderCatalogueTest, ThreeProvidersInOrderAndGroqForAnyOtherId) {
    const CloudProviderInfo groq{
        "groq",
        "Groq",
        "GROQ_API_KEY",
        {Compat{"https://api.groq.com/openai/v1/audio/transcriptions", "whisper-large-v3",
                "https://api.groq.com/openai/v1/chat/completions", "qwen/qwen3.6-27b", "none"}}};
    const CloudProviderInfo openAI{
        "openai",
        "OpenAI",
        "OPENAI_API_KEY",
        {Compat{"https://api.openai.com/v1/audio/transcriptions", "gpt-4o-mini-transcribe",
                "https://api.openai.com/v1/chat/completions", "gpt-4o-mini", std::nullopt}}};
    const CloudProviderInfo gemini{
        "gemini", "Gemini", "GEMINI_API_KEY", {ProviderAPI::Gemini{"gemini-2.5-flash"}}};
    EXPECT_EQ(cloudProviderList(), (std::vector<CloudProviderInfo>{groq, openAI, gemini}));
    for (const auto& [id, entry] :
         std::vector<std::pair<std::string, CloudProviderInfo>>{{"groq", groq},
                                                                {"openai", openAI},
                                                                {"gemini", gemini},
                                                                {"Groq", groq},
                                                                {"", groq},
                                                                {"OpenAI", groq},
                                                                {"gemini ", groq},
                                                                {"anthropic", groq}}) {
        EXPECT_EQ(cloudProviderInfo(id), entry) << id;
        const auto* compat = entry.api.openAICompat();
        EXPECT_EQ(cloudSTTModelID(id), compat ? compat->sttModel : "gemini-2.5-flash") << id;
        EXPECT_EQ(cloudPolishModelID(id), compat ? compat->chatModel : "gemini-2.5-flash") << id;
    }
    // The key goes in verbatim: the clients refuse keys that cannot stand in a URL.
    EXPECT_EQ(geminiGenerateContentURL("gemini-2.5-flash", "AIza+/ k"),
              "https://generativelanguage.googleapis.com/v1beta/models/"
              "gemini-2.5-flash:generateContent?key=AIza+/ k");

    overrideProviderBaseURLForTesting("openai", "http://127.0.0.1:4000");
    overrideProviderBaseURLForTesting("gemini", "http://127.0.0.1:4001");
    EXPECT_EQ(cloudProviderInfo("openai").api.openAICompat()->sttBase,
              "http://127.0.0.1:4000/v1/audio/transcriptions");
    EXPECT_EQ(cloudProviderInfo("openai").api.openAICompat()->chatBase,
              "http://127.0.0.1:4000/v1/chat/completions");
    EXPECT_EQ(geminiGenerateContentURL("m", "k"),
              "http://127.0.0.1:4001/v1beta/models/m:generateContent?key=k");
    EXPECT_EQ(cloudProviderInfo("groq"), groq);
    overrideProviderBaseURLForTesting("openai", "");
    overrideProviderBaseURLForTesting("gemini", "");
    EXPECT_EQ(cloudProviderInfo("openai"), openAI);
    EXPECT_EQ(geminiGenerateContentURL("m", "k"),
              "https://generativelanguage.googleapis.com/v1beta/models/m:generateContent?key=k");
}

class ProviderRuntimeStatusTest : public ::testing::Test {
  protected:
    void TearDown() override {
        applyUILang("auto");
        setCloudKeyPresenceLookup({});
    }
    static CloudKeyPresence keys(std::set<std::string> accounts) {
        return [accounts](const std::string& account) { return accounts.count(account) > 0; };
    }
    static Config config(std::string stt, std::string polish, bool fallback,
                         std::string sttCloud = "groq", std::string polishCloud = "groq") {
        Config c;
        c.sttProvider = std::move(stt);
        c.polishProvider = std::move(polish);
        c.allowCloudFallback = fallback;
        c.sttCloudProvider = std::move(sttCloud);
        c.polishCloudProvider = std::move(polishCloud);
        return c;
    }
};

TEST_F(ProviderRuntimeStatusTest, EachStagesTextAndTheMissingKeysInBothLanguages) {
    struct Case {
        Config settings;
        bool sttReady, polishReady;
        std::set<std::string> keys;
        std::string zh, en, keyName;  // the menu line; the providers whose key is missing
        bool needsKey;
    };
    const std::string g = "GEMINI_API_KEY";
    const auto gemini = [](std::string stage, bool fallback) {
        return config(stage, stage, fallback, "gemini", "gemini");
    };
    // clang-format off
    const std::vector<Case> cases = {
        {gemini("local", false), true, true, {}, "本地(就绪)   ·   润色: 本地qwen(就绪)",
         "Local ready   ·   Polish: Local qwen ready", "Gemini", false},
        {gemini("local", true), true, true, {g}, "本地(就绪)   ·   润色: 本地qwen(就绪)",
         "Local ready   ·   Polish: Local qwen ready", "Gemini", false},
        {gemini("local", true), false, false, {g}, "本地→Gemini   ·   润色: 本地qwen→Gemini",
         "Local→Gemini   ·   Polish: Local qwen→Gemini", "Gemini", false},
        {gemini("local", true), false, false, {}, "本地(未就绪)   ·   润色: 本地qwen(未就绪)",
         "Local not ready   ·   Polish: Local qwen not ready", "Gemini", true},
        {gemini("local", false), false, false, {g}, "本地(未就绪)   ·   润色: 本地qwen(未就绪)",
         "Local not ready   ·   Polish: Local qwen not ready", "Gemini", false},
        {gemini("cloud", false), false, false, {g}, "Gemini   ·   润色: Gemini",
         "Gemini   ·   Polish: Gemini", "Gemini", false},
        {gemini("cloud", true), true, true, {}, "Gemini(缺 Key)   ·   润色: Gemini(缺 Key)",
         "Gemini (missing key)   ·   Polish: Gemini (missing key)", "Gemini", true},
        {gemini("", false), true, true, {g}, "Gemini   ·   润色: Gemini", "Gemini   ·   Polish: Gemini",
         "Gemini", false},
        // Each stage has its own readiness and provider; missing keys are named once, sorted.
        {config("local", "cloud", true, "groq", "openai"), false, true, {"GROQ_API_KEY"},
         "本地→Groq   ·   润色: OpenAI(缺 Key)", "Local→Groq   ·   Polish: OpenAI (missing key)",
         "OpenAI", true},
        {config("cloud", "cloud", false), true, true, {}, "Groq(缺 Key)   ·   润色: Groq(缺 Key)",
         "Groq (missing key)   ·   Polish: Groq (missing key)", "Groq", true},
        {config("cloud", "local", true, "openai", "gemini"), true, true, {},
         "OpenAI(缺 Key)   ·   润色: 本地qwen(就绪)",
         "OpenAI (missing key)   ·   Polish: Local qwen ready", "Gemini / OpenAI", true},
        {config("cloud", "cloud", true, "openai", "gemini"), true, true, {"OPENAI_API_KEY", g},
         "OpenAI   ·   润色: Gemini", "OpenAI   ·   Polish: Gemini", "OpenAI", false},
        // A setting that is neither value needs a key only through the fallback.
        {config("remote", "local", false), true, true, {}, "Groq(缺 Key)   ·   润色: 本地qwen(就绪)",
         "Groq (missing key)   ·   Polish: Local qwen ready", "Groq", false},
        {config("remote", "local", true), true, true, {}, "Groq(缺 Key)   ·   润色: 本地qwen(就绪)",
         "Groq (missing key)   ·   Polish: Local qwen ready", "Groq", true},
        // An unknown provider id is the Groq entry, with its key account.
        {config("cloud", "cloud", false, "Groq", "openai"), true, true, {"GROQ_API_KEY"},
         "Groq   ·   润色: OpenAI(缺 Key)", "Groq   ·   Polish: OpenAI (missing key)", "OpenAI", true}};
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.en);
        for (const auto& [lang, line] :
             {std::pair{"zh", "识别: " + c.zh}, {"en", "STT: " + c.en}}) {
            applyUILang(lang);
            const auto status =
                providerRuntimeStatus(c.settings, c.sttReady, c.polishReady, keys(c.keys));
            EXPECT_EQ(status.menuLine(), line);
            EXPECT_EQ(status.cloudProviderName, c.keyName);
            EXPECT_EQ(status.needsCloudKey, c.needsKey);
        }
    }
}

TEST_F(ProviderRuntimeStatusTest, TheProcessWideLookupDefaultsToNoKey) {
    applyUILang("en");
    const Config cloud = config("cloud", "cloud", false);
    EXPECT_EQ(providerRuntimeStatus(cloud, true, true).stt, "Groq (missing key)");
    setCloudKeyPresenceLookup(keys({"GROQ_API_KEY"}));
    EXPECT_EQ(providerRuntimeStatus(cloud, true, true).stt, "Groq");
    EXPECT_FALSE(providerRuntimeStatus(cloud, true, true).needsCloudKey);
    setCloudKeyPresenceLookup({});
    EXPECT_TRUE(providerRuntimeStatus(cloud, true, true).needsCloudKey);
    EXPECT_EQ(providerRuntimeStatus(config("local", "local", false), true, true, {}).stt,
              "Local ready");
}

TEST_F(ProviderRuntimeStatusTest, MenuLineLabelsFollowTheLanguageAtTheMomentItIsBuilt) {
    applyUILang("zh");
    const auto status = providerRuntimeStatus(config("local", "local", false), true, false, {});
    applyUILang("en");
    EXPECT_EQ(status.menuLine(), "STT: 本地(就绪)   ·   Polish: 本地qwen(未就绪)");
}

}  // namespace
}  // namespace vurin
