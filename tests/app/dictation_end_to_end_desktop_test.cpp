// The whole product on the headless desktop: the real executable with the local services'
// stand-ins as its whisper-server and ollama, a GTK text field as the application in front,
// the trigger key pressed through XTest and a spoken sentence played into the virtual
// microphone. What the recognizer received, what arrived in the field and what the history
// kept are checked against what was played and said.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "audio/audio_convert.h"
#include "injection/desktop_apps.h"
#include "platform/linux/focus_reader_x11.h"
#include "support/audio_matching.h"
#include "support/desktop_program.h"
#include "support/wav_files.h"

// Xlib last: its macros (Bool, Status) break headers included after it.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace vurin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::DesktopProgram;
using testing::ScratchFolder;

constexpr unsigned kKeycodeF13 = 191;  // evdev 183 + 8
constexpr auto kStepTimeout = 20s;
constexpr const char* kSpoken = "Please add a unit test for the parser.";
constexpr const char* kHeard = "um please add a unit test for the parser";
constexpr const char* kPolished = "Please add a unit test for the parser.";

bool portFree(int port) {
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool free = bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(probe);
    return free;
}

std::string contentOf(const fs::path& file) {
    return testing::readFile(file).value_or("");
}

bool waitForText(const fs::path& file, const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + kStepTimeout;
    while (contentOf(file).find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

// The environment the application and its children see, put back afterwards.
class ScopedEnvironment {
  public:
    void set(const char* name, const std::string& value) {
        const char* old = std::getenv(name);
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnvironment() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second) {
                setenv(it->first.c_str(), it->second->c_str(), 1);
            } else {
                unsetenv(it->first.c_str());
            }
        }
    }

  private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

class DictationEndToEndTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!portFree(8910) || !portFree(11434)) {
            GTEST_SKIP() << "ports 8910 and 11434 must be free for the local services";
        }
        const fs::path home = folder_ / "home";
        config_ = home / ".config" / "vurin";
        fs::create_directories(home / ".local/bin");
        fs::create_directories(config_ / "models");
        fs::create_directories(home /
                               ".ollama/models/manifests/registry.ollama.ai/library/qwen2.5");
        fs::create_directories(folder_ / "audio");
        fs::create_symlink(fs::path(VURIN_STAND_IN_DIR) / "whisper-server",
                           home / ".local/bin/whisper-server");
        fs::create_symlink(fs::path(VURIN_STAND_IN_DIR) / "ollama", home / ".local/bin/ollama");
        std::ofstream(config_ / "models/ggml-large-v3-turbo.bin") << std::string(4096, '\0');
        std::ofstream(home / ".ollama/models/manifests/registry.ollama.ai/library/qwen2.5/7b")
            << "{}";
        std::ofstream(config_ / "config.json")
            << R"({"sttProvider":"local","polishProvider":"local","sendOnClick":true})";
        fs::permissions(config_ / "config.json", fs::perms::owner_read | fs::perms::owner_write);
        environment_.set("HOME", home.string());
        environment_.set("XDG_CONFIG_HOME", (home / ".config").string());
        environment_.set("VURIN_STAND_IN_TRANSCRIPT", kHeard);
        environment_.set("VURIN_STAND_IN_AUDIO_DIR", (folder_ / "audio").string());
    }

    void TearDown() override {
        if (vurin_ && vurin_->started() && !vurin_->exitStatus()) {
            kill(vurin_->pid(), SIGTERM);
        }
        vurin_.reset();
    }

    // Holds F13 while the clip plays into the microphone, then lets go.
    static void holdTriggerWhilePlaying(const fs::path& clip) {
        Display* typist = XOpenDisplay(nullptr);
        ASSERT_NE(typist, nullptr);
        XTestFakeKeyEvent(typist, kKeycodeF13, True, CurrentTime);
        XFlush(typist);
        std::this_thread::sleep_for(500ms);  // past the long-press threshold: recording
        const std::string play = "timeout 20 paplay -d micfeed '" + clip.string() + "'";
        EXPECT_EQ(std::system(play.c_str()), 0);
        std::this_thread::sleep_for(300ms);  // the monitor delivers a little behind the sink
        XTestFakeKeyEvent(typist, kKeycodeF13, False, CurrentTime);
        XFlush(typist);
        XCloseDisplay(typist);
    }

    ScratchFolder folder_;
    fs::path config_;
    ScopedEnvironment environment_;
    std::unique_ptr<DesktopProgram> vurin_;
};

TEST_F(DictationEndToEndTest,
       ASpokenSentenceArrivesPolishedInTheFocusedFieldAndOnlyMetricsAreKept) {
    const fs::path clip = folder_ / "spoken.wav";
    const fs::path reference16k = folder_ / "spoken-16k.wav";
    const std::string speak = "espeak-ng -w '" + clip.string() + "' '" + kSpoken + "'";
    ASSERT_EQ(std::system(speak.c_str()), 0) << "espeak-ng (scripts/install-deps installs it)";
    ASSERT_GT(downsampleTo16k(clip, reference16k), 1.0);

    auto field = testing::startGtkEntries(folder_, {""});
    ASSERT_TRUE(field);
    const fs::path log = folder_ / "vurin.log";
    vurin_ = std::make_unique<DesktopProgram>(std::vector<std::string>{
        "/bin/sh", "-c", "exec \"$0\" >\"$1\" 2>&1", VURIN_EXECUTABLE, log.string()});
    ASSERT_TRUE(vurin_->started());
    ASSERT_TRUE(waitForText(log, "✅ 本地 whisper-server 就绪")) << contentOf(log);
    ASSERT_TRUE(waitForText(log, "✅ 本地润色已预热就绪")) << contentOf(log);

    holdTriggerWhilePlaying(clip);
    ASSERT_TRUE(waitForText(log, "📋 已粘贴到")) << contentOf(log);

    // The recognizer got the recording as 16 kHz mono 16-bit audio that follows the clip.
    const auto upload = test::readWav(folder_ / "audio" / "upload-1.wav");
    ASSERT_TRUE(upload) << "the stand-in whisper-server kept no upload";
    EXPECT_EQ(upload->sampleRate, 16000);
    EXPECT_EQ(upload->channels, 1);
    EXPECT_EQ(upload->format & SF_FORMAT_SUBMASK, SF_FORMAT_PCM_16);
    const auto heard = test::monoSamples(folder_ / "audio" / "upload-1.wav");
    const auto played = test::monoSamples(reference16k);
    ASSERT_FALSE(heard.empty());
    EXPECT_GT(test::loudnessAlignment(played, heard).correlation, 0.5)
        << "what the recognizer received does not follow the played clip";

    // The polished text is in the field that had the focus.
    X11FocusReader focus;
    const auto element = focus.focusedElement();
    ASSERT_TRUE(element) << "no focused field on the accessibility bus";
    EXPECT_EQ(focus.textOf(*element).value_or("<unreadable>"), kPolished);

    // One history line with the metrics and no text.
    ASSERT_TRUE(waitForText(config_ / "history.jsonl", "\"ts\""));
    std::ifstream historyFile(config_ / "history.jsonl");
    std::string line;
    std::getline(historyFile, line);
    const auto record = nlohmann::json::parse(line, nullptr, false);
    ASSERT_TRUE(record.is_object()) << line;
    for (const char* key :
         {"ts", "audioSec", "sttMs", "llmMs", "promptVersion", "polishFailed", "sendOnClick",
          "sttSource", "polishSource", "textSaved", "sttCloudProvider", "polishCloudProvider",
          "sttModel", "polishModel", "appVersion", "appBuild", "macOSVersion", "architecture"}) {
        EXPECT_TRUE(record.contains(key)) << key << " missing from " << line;
    }
    EXPECT_FALSE(record.contains("raw"));
    EXPECT_FALSE(record.contains("polished"));
    EXPECT_EQ(record.value("textSaved", true), false);
    EXPECT_EQ(record.value("sttSource", ""), "本地");
    EXPECT_NEAR(record.value("audioSec", 0.0), 2.7, 1.5);
    EXPECT_EQ(contentOf(config_ / "history.jsonl").find(kPolished), std::string::npos);

    // A clean stop takes the local services down with it.
    kill(vurin_->pid(), SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!vurin_->exitStatus() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(vurin_->exitStatus().value_or(-2), 0) << contentOf(log);
    const auto portsDeadline = std::chrono::steady_clock::now() + 5s;
    while ((!portFree(8910) || !portFree(11434)) &&
           std::chrono::steady_clock::now() < portsDeadline) {
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_TRUE(portFree(8910) && portFree(11434)) << "a local service outlived Vurin";
}

}  // namespace
}  // namespace vurin
