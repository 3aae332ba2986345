// The real executable with the local services' stand-ins, a GTK field in front, the trigger
// pressed through XTest and a spoken sentence played into the virtual microphone.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "injection/desktop_apps.h"
#include "support/private_files.h"
#include "support/vurin_under_test.h"
#include "support/xtest_typist.h"  // last: Xlib's macros clash with the headers above

namespace vurin::testing {
namespace {

bool portFree(int port) {
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{.sin_family = AF_INET, .sin_port = htons(static_cast<uint16_t>(port))};
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool free = bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(probe);
    return free;
}

// A compositor's binding runs it on each key-down and key-up; with nothing to deliver to, it
// says why in its status and one line.
TEST(TriggerCommandTest, ExitsWithWhyNothingWasDelivered) {
    ScratchFolder folder;
    ScopedEnvironment environment;
    const VurinUnderTest vurin(folder / "", environment);
    const std::string nobody = "vurin: no running Vurin on this session bus\n";
    const std::string usage = "usage: vurin --trigger press|release|toggle|send|cancel\n";
    const std::vector<std::tuple<std::string, int, std::string>> cases = {
        {"--trigger press", 1, nobody},
        {"--trigger release", 1, nobody},
        {"--trigger hold", 2, usage},
        {"--trigger press release", 2, usage},
        {"--trigger", 2, usage}};
    for (const auto& [arguments, status, output] : cases) {
        SCOPED_TRACE(arguments);
        EXPECT_EQ(vurin.run(arguments), std::pair(status, output));
    }
}

TEST(DictationEndToEndTest, ASpokenSentenceIsPastedIntoTheFieldInFrontAndOnlyMetricsAreKept) {
    ScratchFolder folder;
    ScopedEnvironment environment;
    VurinUnderTest vurin(folder / "", environment);
    auto field = startGtkEntries(folder, {""});
    ASSERT_TRUE(field);
    ASSERT_TRUE(vurin.launch());
    ASSERT_TRUE(vurin.waitFor("✅ 本地 whisper-server 就绪")) << vurin.log();
    ASSERT_TRUE(vurin.waitFor("✅ 本地润色已预热就绪")) << vurin.log();
    EXPECT_TRUE(vurin.waitFor("🖥️ 会话:X11(DISPLAY=")) << vurin.log();

    XTestTypist typist;
    typist.key(kKeycodeF13, true);
    ASSERT_TRUE(vurin.waitFor("🔴 录音中")) << vurin.log();
    EXPECT_TRUE(vurin.speak());
    typist.key(kKeycodeF13, false);
    // The field in front got the text and the history keeps none; a SIGTERM (log-out) ends
    // Vurin cleanly with its services.
    ASSERT_TRUE(vurin.waitFor("📋 已粘贴到「python3」,目标确认成功")) << vurin.log();
    const auto history = vurin.config() / "history.jsonl";
    ASSERT_TRUE(eventually([&] { return contentOf(history).find("\"ts\"") != std::string::npos; }));
    EXPECT_EQ(contentOf(history).find(VurinUnderTest::polished), std::string::npos);
    // The same long press from a compositor's binding, over the session bus.
    EXPECT_EQ(vurin.run("--trigger press").first, 0);
    ASSERT_TRUE(vurin.waitFor("🔴 录音中", 2)) << vurin.log();
    EXPECT_TRUE(vurin.speak());
    EXPECT_EQ(vurin.run("--trigger release").first, 0);
    ASSERT_TRUE(vurin.waitFor("⏹ 录音结束", 2)) << vurin.log();
    ASSERT_TRUE(vurin.waitFor("📋 已粘贴到「python3」", 2)) << vurin.log();

    EXPECT_EQ(vurin.terminate(), 0) << vurin.log();
    EXPECT_TRUE(eventually([] { return portFree(8910) && portFree(11434); }))
        << "a local service outlived Vurin";
}

// The local model answers the request instead of tidying it: what the user said is pasted,
// the log says why without their words, and the history line says the polish was set aside.
TEST(DictationEndToEndTest, APolishThatAnswersIsPastedAsTheTranscript) {
    ScratchFolder folder;
    ScopedEnvironment environment;
    VurinUnderTest vurin(folder / "", environment);
    environment.set("VURIN_STAND_IN_ANSWER",
                    "Sure! Create parser_test.cpp, include the parser's header and add a TEST "
                    "for each grammar rule; then register it in CMakeLists.txt.");
    auto field = startGtkEntries(folder, {""});
    ASSERT_TRUE(field);
    ASSERT_TRUE(vurin.launch());
    ASSERT_TRUE(vurin.waitFor("✅ 本地润色已预热就绪")) << vurin.log();
    XTestTypist typist;
    typist.key(kKeycodeF13, true);
    ASSERT_TRUE(vurin.waitFor("🔴 录音中")) << vurin.log();
    EXPECT_TRUE(vurin.speak());
    typist.key(kKeycodeF13, false);
    ASSERT_TRUE(vurin.waitFor("📋 已粘贴到「python3」,目标确认成功")) << vurin.log();
    EXPECT_TRUE(vurin.waitFor(",像是回答而非整理,改用 STT 原文")) << vurin.log();
    EXPECT_EQ(vurin.log().find("parser_test"), std::string::npos);
    const auto history = vurin.config() / "history.jsonl";
    ASSERT_TRUE(eventually([&] { return contentOf(history).find("\"ts\"") != std::string::npos; }));
    EXPECT_NE(contentOf(history).find(R"("polishRejected":"newContent")"), std::string::npos)
        << contentOf(history);
    EXPECT_EQ(vurin.terminate(), 0) << vurin.log();
}

}  // namespace
}  // namespace vurin::testing
