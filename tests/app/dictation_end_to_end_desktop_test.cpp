// The real executable with the local services' stand-ins, a GTK field in front, the trigger
// pressed through XTest and a spoken sentence played into the virtual microphone.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "injection/desktop_apps.h"
#include "support/desktop_program.h"
#include "support/private_files.h"
#include "support/vurin_under_test.h"
#include "support/xtest_typist.h"  // last: Xlib's macros clash with the headers above

#include <X11/Xatom.h>

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

// Started, with both local services ready for a dictation.
bool launchedAndReady(VurinUnderTest& vurin) {
    return vurin.launch() && vurin.waitFor("✅ 本地 whisper-server 就绪") &&
           vurin.waitFor("✅ 本地润色已预热就绪");
}

// A long press of F13 while the sentence plays, until the `nth` paste into the GTK field.
bool dictate(VurinUnderTest& vurin, XTestTypist& typist, int nth = 1) {
    typist.key(kKeycodeF13, true);
    const bool spoken = vurin.waitFor("🔴 录音中", nth) && vurin.speak();
    typist.key(kKeycodeF13, false);
    return spoken && vurin.waitFor("📋 已粘贴到「python3」,目标确认成功", nth);
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

// A newer `vurin --trigger` reaches a Vurin from before the interface's version: a press and a
// release in the first version's form, and what that one lacks refused with what to do.
TEST(TriggerCommandTest, AnOlderRunningVurinGetsTheSignatureItHas) {
    ScratchFolder folder;
    ScopedEnvironment environment;
    const VurinUnderTest vurin(folder / "", environment);
    DesktopProgram older({VURIN_SCRIPTS_DIR "/../tests/support/programs/vurin_bus_version_1"});
    ASSERT_TRUE(older.waitForLine("ready"));
    EXPECT_EQ(vurin.run("--trigger press"), std::pair(0, std::string()));
    EXPECT_TRUE(older.waitForLine("Press"));
    EXPECT_EQ(vurin.run("--trigger release"), std::pair(0, std::string()));
    EXPECT_TRUE(older.waitForLine("Release"));
    EXPECT_EQ(vurin.run("--trigger toggle"),
              std::pair(1, std::string("vurin: the running Vurin is older and has no Toggle; "
                                       "start the new one\n")));
}

// Vurin in a home of its own with a GTK field in front, started with both local services ready;
// F13 comes through XTest.
class DictationEndToEndTest : public ::testing::Test {
  protected:
    bool start() {
        field = startGtkEntries(folder, {""});
        return field && launchedAndReady(vurin);
    }

    ScratchFolder folder;
    ScopedEnvironment environment;
    VurinUnderTest vurin{folder / "", environment};
    std::unique_ptr<DesktopProgram> field;
    XTestTypist typist;
};

TEST_F(DictationEndToEndTest, ASpokenSentenceIsPastedIntoTheFieldInFrontAndOnlyMetricsAreKept) {
    ASSERT_TRUE(start()) << vurin.log();
    EXPECT_TRUE(vurin.waitFor("🖥️ 会话:X11(DISPLAY=")) << vurin.log();

    // The field in front got the text and the history keeps none; a SIGTERM (log-out) ends
    // Vurin cleanly with its services.
    ASSERT_TRUE(dictate(vurin, typist)) << vurin.log();
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
    // A binding that still runs an older `vurin --trigger` calls the first version's Press() and
    // Release(), without the moment: they still press and release. The version is readable.
    const std::string bus =
        "dbus-send --session --print-reply --dest=com.vurin.app /com/vurin/app ";
    const auto answer = folder / "version";
    EXPECT_EQ(std::system((bus +
                           "org.freedesktop.DBus.Properties.Get string:com.vurin.app.Trigger "
                           "string:Version >'" +
                           answer.string() + "'")
                              .c_str()),
              0);
    EXPECT_NE(contentOf(answer).find("uint32 2"), std::string::npos) << contentOf(answer);
    EXPECT_EQ(std::system((bus + "com.vurin.app.Trigger.Press >/dev/null").c_str()), 0);
    ASSERT_TRUE(vurin.waitFor("🔴 录音中", 3)) << vurin.log();
    EXPECT_TRUE(vurin.speak());
    EXPECT_EQ(std::system((bus + "com.vurin.app.Trigger.Release >/dev/null").c_str()), 0);
    ASSERT_TRUE(vurin.waitFor("📋 已粘贴到「python3」", 3)) << vurin.log();

    EXPECT_EQ(vurin.terminate(), 0) << vurin.log();
    EXPECT_TRUE(eventually([] { return portFree(8910) && portFree(11434); }))
        << "a local service outlived Vurin";
}

// A start that loses the race for the session bus name to a Vurin that does not answer (still
// starting, or hung) never becomes a second full Vurin: it ends with one line.
TEST(TriggerCommandTest, AStartBehindAVurinThatDoesNotAnswerEnds) {
    ScratchFolder folder;
    ScopedEnvironment environment;
    VurinUnderTest vurin(folder / "", environment);
    // Owns the name and refuses every call at once, as a Vurin that is not ready yet would.
    DesktopProgram squatter({"/usr/bin/python3", "-c", R"(
from gi.repository import Gio, GLib
def acquired(*_): print("ready", flush=True)
Gio.bus_own_name(Gio.BusType.SESSION, "com.vurin.app", Gio.BusNameOwnerFlags.NONE, None,
                 acquired, None)
GLib.MainLoop().run()
)"});
    ASSERT_TRUE(squatter.waitForLine("ready"));
    const std::string application =
        (std::filesystem::path(VURIN_EXECUTABLE).parent_path() / "vurin-app").string();
    DesktopProgram second({application});
    std::optional<int> status;
    EXPECT_TRUE(eventually([&] { return (status = second.exitStatus()).has_value(); },
                           std::chrono::seconds(30)));
    EXPECT_EQ(status, 1);
    EXPECT_NE(second.remainingOutput().find("但它没有回应("), std::string::npos);
}

// The resident set in KiB, as the kernel counts it.
long residentKiB(pid_t pid) {
    for (const std::string& line : readLines("/proc/" + std::to_string(pid) + "/status")) {
        if (line.starts_with("VmRSS:")) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

// A busy desktop changes the root window's properties all day (focus, stacking, panels), and
// none of it may pile up in Vurin: 60,000 changes and two dictations grow it by at most 3 MiB.
TEST_F(DictationEndToEndTest, RootWindowChangesDoNotPileUp) {
    ASSERT_TRUE(start()) << vurin.log();
    ASSERT_TRUE(dictate(vurin, typist))
        << vurin.log();  // what the first dictation sets up once is not growth
    const long before = residentKiB(vurin.pid());
    Display* display = typist.display();
    const Atom soak = XInternAtom(display, "_VURIN_SOAK", False);
    for (long change = 0; change < 60000; ++change) {
        XChangeProperty(display, DefaultRootWindow(display), soak, XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&change), 1);
        if (change % 1000 == 999) {
            XSync(display, False);
        }
    }
    ASSERT_TRUE(dictate(vurin, typist, 2) && dictate(vurin, typist, 3)) << vurin.log();
    const long after = residentKiB(vurin.pid());
    std::printf(
        "resident set: %ld KiB before, %ld KiB after 60,000 root changes and 2 dictations "
        "(+%ld KiB)\n",
        before, after, after - before);
    EXPECT_LE(after - before, 3 * 1024);
    EXPECT_EQ(vurin.terminate(), 0) << vurin.log();
}

// The local model answers the request instead of tidying it: what the user said is pasted,
// the log says why without their words, and the history line says the polish was set aside.
TEST_F(DictationEndToEndTest, APolishThatAnswersIsPastedAsTheTranscript) {
    environment.set("VURIN_STAND_IN_ANSWER",
                    "Sure! Create parser_test.cpp, include the parser's header and add a TEST "
                    "for each grammar rule; then register it in CMakeLists.txt.");
    ASSERT_TRUE(start()) << vurin.log();
    ASSERT_TRUE(dictate(vurin, typist)) << vurin.log();
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
