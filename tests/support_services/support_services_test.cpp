#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <cmath>
#include <map>
#include <thread>

#include "support/app_fakes.h"
#include "support/language.h"
#include "support/runtime_metadata.h"
#include "support/sound.h"
#include "support/testing.h"
#include "support/text.h"
#include "support/virtual_main_queue.h"

namespace vurin {
namespace {

using namespace std::string_literals;
using Strings = std::vector<std::string>;

TEST(LanguageTest, PreferredLanguagesFromTheEnvironmentAndOnlyAChineseFirstOneGivesChinese) {
    using Environment = std::map<std::string, std::string>;
    // clang-format off
    const std::tuple<Environment, Strings, bool> cases[] = {
        {{{"LANGUAGE", "ZH_tw:en::fr"}, {"LANG", "de_DE.UTF-8"}}, {"ZH-tw", "en", "fr", "de-DE"}, false},
        {{{"LC_ALL", "ja_JP.UTF-8"}, {"LANG", "zh_CN.UTF-8"}}, {"ja-JP"}, true},
        {{{"LC_ALL", ""}, {"LC_MESSAGES", "zh_CN"}, {"LANG", "de_DE"}}, {"zh-CN"}, false},
        {{{"LANGUAGE", "sr_RS@latin:zh"}}, {"sr-RS", "zh"}, true}, {{}, {}, true},
        {{{"LC_ALL", "C.UTF-8"}}, {"en"}, true}, {{{"LC_MESSAGES", "POSIX"}}, {"en"}, true}};
    // clang-format on
    for (const auto& [environment, expected, english] : cases) {
        const auto languages = preferredLanguagesFrom([&](const char* name) {
            return environment.contains(name) ? environment.at(name) : "";
        });
        EXPECT_EQ(languages, expected) << ::testing::PrintToString(environment);
        EXPECT_EQ(prefersEnglish(languages), english) << ::testing::PrintToString(languages);
    }
}

TEST(LanguageTest, AutoFollowsTheSystemWhenAppliedAndAnExplicitChoiceOverridesIt) {
    testing::ScopedEnvironment environment;
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"}) {
        environment.unset(name);
    }
    // The system's language, what is applied (nothing: the language stays), English or not.
    // clang-format off
    const std::tuple<const char*, const char*, bool> steps[] = {{"en_US.UTF-8", "zh", false}, {"zh_CN.UTF-8", "en", true},
        {"zh_CN.UTF-8", "auto", false}, {"en_GB.UTF-8", nullptr, false}, {"en_GB.UTF-8", "klingon", true}};
    // clang-format on
    for (const auto& [lang, apply, english] : steps) {
        environment.set("LANG", lang);
        if (apply != nullptr) {
            applyUILang(apply);
        }
        EXPECT_EQ(L("设置", "Settings"), english ? "Settings" : "设置") << lang;
    }
    EXPECT_EQ(soundVolumeLabelText(0.0), "Muted");
    applyUILang("zh");
    const std::pair<double, const char*> labels[] = {{0.0, "静音"}, {-0.1, "静音"}, {NAN, "静音"},
                                                     {0.005, "1%"}, {0.004, "0%"},  {1.0, "100%"}};
    for (const auto& [volume, label] : labels) {
        EXPECT_EQ(soundVolumeLabelText(volume), label) << volume;
    }
    applyUILang("auto");
    setSoundVolume(NAN);
    EXPECT_EQ(soundVolume(), 0.0f);
    setSoundVolume(1.5f);
    EXPECT_EQ(soundVolume(), 1.0f);
    setSoundVolume(0.3f);
}

TEST(RuntimeMetadata, KernelReleaseBecomesANumericTripleAndMissingVersionsDev) {
    // clang-format off
    const std::pair<const char*, const char*> cases[] = {{"6.1.0-18-amd64", "6.1.0"}, {"6.12.9+bpo-amd64", "6.12.9"},
        {"5.15-rc1", "5.15.0"}, {"4", "4.0.0"}, {"4.19.0.7", "4.19.0"}, {"linux", "0.0.0"}};
    // clang-format on
    for (const auto& [release, triple] : cases) {
        EXPECT_EQ(versionTriple(release), triple) << release;
    }
    EXPECT_EQ(makeRuntimeMetadata("", "", "6.1", "x86_64"),
              (RuntimeMetadata{"dev", "dev", "6.1.0", "x86_64"}));
    EXPECT_EQ(makeRuntimeMetadata("1.4.2", "", "6.1", "arm").appBuild, "1.4.2");
    EXPECT_EQ(makeRuntimeMetadata("1.4.2", "77", "6.1", "arm").appBuild, "77");
    utsname names{};
    ASSERT_EQ(::uname(&names), 0);
    EXPECT_EQ(runtimeMetadata().architecture, names.machine);
    EXPECT_EQ(runtimeMetadata().macOSVersion, versionTriple(names.release));
}

// Posted at the request's volume; the output is looked up when played; the queue is held weakly.
TEST(PlaySound, BackgroundCuesArePostedAndNeedAnOutputAndAQueue) {
    auto output = std::make_shared<testing::FakeSoundOutput>();
    auto queue = std::make_shared<testing::VirtualMainQueue>();
    const auto fromBackground = [](const char* name) {
        std::thread([name] { playSound(name); }).join();
    };
    installSoundOutput(output, queue);
    setSoundVolume(0.5f);
    fromBackground("Glass");
    setSoundVolume(0.9f);
    EXPECT_TRUE(output->played.empty());
    queue->runPending();
    EXPECT_EQ(output->volumes, std::vector{0.5f});
    fromBackground("Basso");
    installSoundOutput(nullptr, queue);  // removed before the posted cue plays
    queue->runPending();
    fromBackground("Pop");
    installSoundOutput(output, queue);
    queue->runPending();
    queue.reset();
    fromBackground("Pop");
    EXPECT_EQ(output->played, Strings{"Glass"});
    installSoundOutput(nullptr, nullptr);
    setSoundVolume(0.3f);
}

TEST(TextTest, CollapseTrimValidateAndPrefixUtf8) {
    // clang-format off
    const std::pair<std::string, std::string> cases[] = {
        {"  Hello\r\n\r\n  world \n", "Hello world"}, {"a\rb", "a b"}, {"\t第一行\t\n\t第二行", "第一行 第二行"},
        // Inner runs of spaces stay; other line breaks are trimmed at the edges only.
        {"a \t b\n c  d ", "a \t b c  d"}, {" \t\r\n\u3000\n\u00A0 ", ""}, {"a\u2028b", "a\u2028b"},
        {"\u2029a\nb\u0085", "a b"}, {"\va\vb\v", "a\vb"},
        // Zero-width space and BOM are no spaces, nor is an overlong space; non-UTF-8 passes.
        {"\u200Bx\uFEFF", "\u200Bx\uFEFF"}, {" 👍🏽 ok ", "👍🏽 ok"}, {"\xc0\xa0x", "\xc0\xa0x"},
        {" \xff a \xe3\x80 \n", "\xff a \xe3\x80"}};
    // clang-format on
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(collapseToSingleLine(in), out) << in;
    }
    for (const char* space :
         {" ", "\t", "\u00A0", "\u1680", "\u2000", "\u200A", "\u202F", "\u205F", "\u3000"}) {
        const std::string text = std::string(space) + "你好" + space + "\n" + space + "b" + space;
        EXPECT_EQ(collapseToSingleLine(text), "你好 b") << text;
    }
    EXPECT_EQ(trimWhitespaceAndNewlines("\t\r\n\v\f Hello  world \u3000\u00a0\u2028\u0085"),
              "Hello  world");
    for (const std::string& valid : {""s, "plain ascii\0"s, "你好 🎤 é"s, "\xf4\x8f\xbf\xbf"s}) {
        EXPECT_TRUE(isValidUTF8(valid)) << valid;
    }
    // Stray bytes, overlong forms, a surrogate, above U+10FFFF, cut off, a lone continuation.
    for (const char* invalid : {"\xff", "\xc0\xaf", "\xe0\x80\xaf", "\xed\xa0\x80",
                                "\xf4\x90\x80\x80", "ok \xe4\xbd", "\x80"}) {
        EXPECT_FALSE(isValidUTF8(invalid)) << invalid;
    }
    EXPECT_EQ(utf8Prefix("ab🎤cd", 3), "ab🎤");
    EXPECT_EQ(utf8Prefix("你好", 200), "你好");
    // Another program's names in a log line: one line, readable, bounded.
    for (const auto& [foreign, shown] : std::vector<std::pair<std::string, std::string>>{
             {"text/plain;charset=utf-8", "text/plain;charset=utf-8"},
             {"a\nb\x1b[31m\x7f", "a\\u{000A}b\\u{001B}[31m\\u{007F}"},
             {"x\xff\xe4\xbd\u2028é", "x\\xFF\\xE4\\xBD\\u{2028}é"},
             {std::string(81, 'a'), std::string(80, 'a') + "…(共 81 字节)"}}) {
        EXPECT_EQ(printableForLog(foreign), shown);
    }
}

}  // namespace
}  // namespace vurin
