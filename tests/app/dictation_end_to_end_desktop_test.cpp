// The real executable with the local services' stand-ins, a GTK field in front, the trigger
// pressed through XTest and a spoken sentence played into the virtual microphone.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "injection/desktop_apps.h"
#include "support/private_files.h"
#include "support/xtest_typist.h"  // last: Xlib's macros clash with the headers above

namespace vurin::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kPolished = "Please add a unit test for the parser.";

bool portFree(int port) {
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{.sin_family = AF_INET, .sin_port = htons(static_cast<uint16_t>(port))};
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool free = bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(probe);
    return free;
}

// Waits until `text` is in the file `times` times.
bool waitForText(const fs::path& file, const std::string& text, int times = 1) {
    return eventually(
        [&] {
            const std::string content = contentOf(file);
            int seen = 0;
            for (auto at = content.find(text); at != std::string::npos && seen < times;
                 at = content.find(text, at + 1)) {
                ++seen;
            }
            return seen == times;
        },
        20s);
}

// `vurin <arguments>` run to its end: its exit status and what it wrote.
std::pair<int, std::string> runVurin(const std::string& arguments, const fs::path& output) {
    const std::string command =
        std::string(VURIN_EXECUTABLE) + " " + arguments + " >'" + output.string() + "' 2>&1";
    return {WEXITSTATUS(std::system(command.c_str())), contentOf(output)};
}

// A compositor's binding runs it on each key-down and key-up; with nothing to deliver to, it
// says why in its status and one line.
TEST(TriggerCommandTest, ExitsWithWhyNothingWasDelivered) {
    ScratchFolder folder;
    const std::string nobody = "vurin: no running Vurin on this session bus\n";
    const std::string usage = "usage: vurin --trigger press|release\n";
    const std::vector<std::tuple<std::string, int, std::string>> cases = {
        {"--trigger press", 1, nobody},
        {"--trigger release", 1, nobody},
        {"--trigger hold", 2, usage},
        {"--trigger press release", 2, usage},
        {"--trigger", 2, usage}};
    for (const auto& [arguments, status, output] : cases) {
        SCOPED_TRACE(arguments);
        EXPECT_EQ(runVurin(arguments, folder / "output"), std::pair(status, output));
    }
}

TEST(DictationEndToEndTest, ASpokenSentenceIsPastedIntoTheFieldInFrontAndOnlyMetricsAreKept) {
    ScratchFolder folder;
    const fs::path home = folder / "home", config = home / ".config/vurin";
    const fs::path recordings = folder / "recordings", clip = folder / "spoken.wav";
    const fs::path manifests = home / ".ollama/models/manifests/registry.ollama.ai/library";
    for (const fs::path& made :
         {home / ".local/bin", config / "models", manifests / "qwen2.5", recordings}) {
        fs::create_directories(made);
    }
    for (const char* program : {"whisper-server", "ollama"}) {
        fs::create_symlink(fs::path(VURIN_STAND_IN_DIR) / program, home / ".local/bin" / program);
    }
    std::ofstream(config / "models/ggml-large-v3-turbo.bin") << std::string(4096, '\0');
    std::ofstream(manifests / "qwen2.5/7b") << "{}";
    std::ofstream(config / "config.json") << R"({"sttProvider":"local","polishProvider":"local"})";
    fs::permissions(config / "config.json", fs::perms::owner_read | fs::perms::owner_write);
    ScopedEnvironment environment;
    environment.set("HOME", home.string());
    environment.set("XDG_CONFIG_HOME", (home / ".config").string());
    environment.set("TMPDIR", recordings.string());
    environment.set("VURIN_STAND_IN_TRANSCRIPT", "um please add a unit test for the parser");
    const std::string speak = "espeak-ng -w '" + clip.string() + "' '" + kPolished + "'";
    ASSERT_EQ(std::system(speak.c_str()), 0) << "espeak-ng (scripts/install-deps installs it)";
    auto field = startGtkEntries(folder, {""});
    ASSERT_TRUE(field);
    const fs::path log = folder / "vurin.log";
    DesktopProgram vurin(
        {"/bin/sh", "-c", "exec \"$0\" >\"$1\" 2>&1", VURIN_EXECUTABLE, log.string()});
    struct Terminate {  // on failure too: lets it stop its local services
        DesktopProgram& program;
        bool operator()() const {
            if (!program.exitStatus()) {
                kill(program.pid(), SIGTERM);
            }
            return eventually([&] { return program.exitStatus().has_value(); }, 10s);
        }
        ~Terminate() { (*this)(); }
    } terminate{vurin};
    ASSERT_TRUE(waitForText(log, "✅ 本地 whisper-server 就绪")) << contentOf(log);
    ASSERT_TRUE(waitForText(log, "✅ 本地润色已预热就绪")) << contentOf(log);

    XTestTypist typist;
    typist.key(kKeycodeF13, true);
    ASSERT_TRUE(waitForText(log, "🔴 录音中")) << contentOf(log);
    const std::string play = "timeout 20 paplay -d micfeed '" + clip.string() + "'";
    EXPECT_EQ(std::system(play.c_str()), 0);
    typist.key(kKeycodeF13, false);
    // The field in front got the text and the history keeps none; a SIGTERM (log-out) ends
    // Vurin cleanly with its services.
    ASSERT_TRUE(waitForText(log, "📋 已粘贴到「python3」,目标确认成功")) << contentOf(log);
    ASSERT_TRUE(waitForText(config / "history.jsonl", "\"ts\""));
    EXPECT_EQ(contentOf(config / "history.jsonl").find(kPolished), std::string::npos);
    // The same long press from a compositor's binding, over the session bus.
    EXPECT_EQ(runVurin("--trigger press", folder / "output").first, 0);
    ASSERT_TRUE(waitForText(log, "🔴 录音中", 2)) << contentOf(log);
    EXPECT_EQ(std::system(play.c_str()), 0);
    EXPECT_EQ(runVurin("--trigger release", folder / "output").first, 0);
    ASSERT_TRUE(waitForText(log, "⏹ 录音结束", 2)) << contentOf(log);
    ASSERT_TRUE(waitForText(log, "📋 已粘贴到「python3」", 2)) << contentOf(log);

    EXPECT_TRUE(terminate());
    EXPECT_EQ(vurin.exitStatus(), 0) << contentOf(log);
    EXPECT_TRUE(eventually([] { return portFree(8910) && portFree(11434); }))
        << "a local service outlived Vurin";
}

}  // namespace
}  // namespace vurin::testing
