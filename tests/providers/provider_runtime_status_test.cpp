#include "providers/provider_runtime_status.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "support/language.h"

namespace vurin {
namespace {

class ProviderRuntimeStatusTest : public ::testing::Test {
  protected:
    void SetUp() override { wasEnglish_ = uiIsEnglish(); }
    void TearDown() override {
        applyUILang(wasEnglish_ ? "en" : "zh");
        setCloudKeyPresenceLookup({});
    }

    CloudKeyPresence keys(std::set<std::string> accounts) {
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

  private:
    bool wasEnglish_ = false;
};

struct StageCase {
    std::string provider;
    bool ready;
    bool fallback;
    bool keyPresent;
    std::string sttZh, sttEn, polishZh, polishEn;
};

TEST_F(ProviderRuntimeStatusTest, StageTextsForEveryCombinationInBothLanguages) {
    const std::vector<StageCase> cases = {
        {"local", true, false, false, "本地(就绪)", "Local ready", "本地qwen(就绪)",
         "Local qwen ready"},
        {"local", true, true, true, "本地(就绪)", "Local ready", "本地qwen(就绪)",
         "Local qwen ready"},
        {"local", false, true, true, "本地→Gemini", "Local→Gemini", "本地qwen→Gemini",
         "Local qwen→Gemini"},
        {"local", false, true, false, "本地(未就绪)", "Local not ready", "本地qwen(未就绪)",
         "Local qwen not ready"},
        {"local", false, false, true, "本地(未就绪)", "Local not ready", "本地qwen(未就绪)",
         "Local qwen not ready"},
        {"cloud", false, false, true, "Gemini", "Gemini", "Gemini", "Gemini"},
        {"cloud", true, true, false, "Gemini(缺 Key)", "Gemini (missing key)", "Gemini(缺 Key)",
         "Gemini (missing key)"},
        {"", true, false, true, "Gemini", "Gemini", "Gemini", "Gemini"},
    };
    for (const auto& c : cases) {
        const Config settings = config(c.provider, c.provider, c.fallback, "gemini", "gemini");
        const auto hasKey =
            keys(c.keyPresent ? std::set<std::string>{"GEMINI_API_KEY"} : std::set<std::string>{});
        applyUILang("zh");
        const auto zh = providerRuntimeStatus(settings, c.ready, c.ready, hasKey);
        EXPECT_EQ(zh.stt, c.sttZh);
        EXPECT_EQ(zh.polish, c.polishZh);
        EXPECT_EQ(zh.menuLine(), "识别: " + c.sttZh + "   ·   润色: " + c.polishZh);
        applyUILang("en");
        const auto en = providerRuntimeStatus(settings, c.ready, c.ready, hasKey);
        EXPECT_EQ(en.stt, c.sttEn);
        EXPECT_EQ(en.polish, c.polishEn);
        EXPECT_EQ(en.menuLine(), "STT: " + c.sttEn + "   ·   Polish: " + c.polishEn);
    }
}

TEST_F(ProviderRuntimeStatusTest, EachStageUsesItsOwnReadinessAndProvider) {
    applyUILang("en");
    const auto status = providerRuntimeStatus(config("local", "cloud", true, "groq", "openai"),
                                              /*localSTTReady=*/false, /*localPolishReady=*/true,
                                              keys({"GROQ_API_KEY"}));
    EXPECT_EQ(status.menuLine(), "STT: Local→Groq   ·   Polish: OpenAI (missing key)");
    EXPECT_EQ(status.cloudProviderName, "OpenAI");
    EXPECT_TRUE(status.needsCloudKey);

    const auto ready = providerRuntimeStatus(config("local", "local", false), true, true, {});
    EXPECT_EQ(ready.menuLine(), "STT: Local ready   ·   Polish: Local qwen ready");
}

TEST_F(ProviderRuntimeStatusTest, MissingKeysAreNamedOnceSortedAndJoined) {
    // Both stages in the cloud with the same provider and no key: one name.
    auto status = providerRuntimeStatus(config("cloud", "cloud", false), true, true, keys({}));
    EXPECT_EQ(status.cloudProviderName, "Groq");
    EXPECT_TRUE(status.needsCloudKey);

    // Speech in the cloud on OpenAI, polish local with fallback on Gemini, no keys.
    status = providerRuntimeStatus(config("cloud", "local", true, "openai", "gemini"), true, true,
                                   keys({}));
    EXPECT_EQ(status.cloudProviderName, "Gemini / OpenAI");
    EXPECT_TRUE(status.needsCloudKey);

    // Nothing missing: the speech provider's name.
    status = providerRuntimeStatus(config("cloud", "cloud", true, "openai", "gemini"), true, true,
                                   keys({"OPENAI_API_KEY", "GEMINI_API_KEY"}));
    EXPECT_EQ(status.cloudProviderName, "OpenAI");
    EXPECT_FALSE(status.needsCloudKey);

    // Local without fallback never needs a key.
    status =
        providerRuntimeStatus(config("local", "local", false, "gemini"), false, false, keys({}));
    EXPECT_EQ(status.cloudProviderName, "Gemini");
    EXPECT_FALSE(status.needsCloudKey);

    // A stage setting that is neither value needs a key only through the fallback.
    status = providerRuntimeStatus(config("remote", "local", false), true, true, keys({}));
    EXPECT_FALSE(status.needsCloudKey);
    status = providerRuntimeStatus(config("remote", "local", true), true, true, keys({}));
    EXPECT_TRUE(status.needsCloudKey);
}

TEST_F(ProviderRuntimeStatusTest, KeysAreLookedUpByTheResolvedEntrysAccount) {
    applyUILang("zh");
    std::vector<std::string> asked;
    const CloudKeyPresence recording = [&](const std::string& account) {
        asked.push_back(account);
        return account == "GROQ_API_KEY";
    };
    // An unknown provider id falls back to the Groq entry and so to its account.
    const auto status = providerRuntimeStatus(config("cloud", "cloud", false, "Groq", "openai"),
                                              true, true, recording);
    EXPECT_EQ(asked, (std::vector<std::string>{"GROQ_API_KEY", "OPENAI_API_KEY"}));
    EXPECT_EQ(status.stt, "Groq");
    EXPECT_EQ(status.polish, "OpenAI(缺 Key)");
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
}

TEST_F(ProviderRuntimeStatusTest, MenuLineFollowsTheLanguageAtTheMomentItIsBuilt) {
    applyUILang("zh");
    const auto status = providerRuntimeStatus(config("local", "local", false), true, false, {});
    applyUILang("en");
    // The stage texts were chosen when the status was computed; the labels now.
    EXPECT_EQ(status.menuLine(), "STT: 本地(就绪)   ·   Polish: 本地qwen(未就绪)");
}

}  // namespace
}  // namespace vurin
