// The whole product on the headless desktop: the real executable with the local services'
// stand-ins as its whisper-server and ollama, a GTK text field as the application in front,
// the trigger key pressed through XTest and a spoken sentence played into the virtual
// microphone. What the recognizer received, what arrived in the field and what the history
// kept are checked against what was played and said; a SIGTERM ends it cleanly.
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
#include <nlohmann/json.hpp>
#include <regex>
#include <string>

#include "audio/audio_convert.h"
#include "injection/desktop_apps.h"
#include "platform/linux/focus_reader_x11.h"
#include "support/audio_matching.h"
#include "support/testing.h"
#include "support/wav_files.h"
#include "support/xtest_typist.h"  // last: Xlib's macros clash with the headers above

namespace vurin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::eventually;

constexpr const char* kSpoken = "Please add a unit test for the parser.";
constexpr const char* kHeard = "um please add a unit test for the parser";
constexpr const char* kPolished = "Please add a unit test for the parser.";

bool portFree(int port) {
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{.sin_family = AF_INET, .sin_port = htons(static_cast<uint16_t>(port))};
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool free = bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(probe);
    return free;
}

std::string contentOf(const fs::path& file) {
    return testing::readFile(file).value_or("");
}

bool waitForText(const fs::path& file, const std::string& text) {
    return eventually([&] { return contentOf(file).find(text) != std::string::npos; }, 20s);
}

// Seconds of audio in the recorder's capture file so far: float samples after the fmt chunk
// that libsndfile writes first.
double capturedSeconds(const fs::path& folder) {
    for (const auto& entry : fs::directory_iterator(folder)) {
        unsigned char header[28] = {};
        if (std::ifstream(entry.path(), std::ios::binary)
                .read(reinterpret_cast<char*>(header), sizeof header)) {
            const unsigned channels = header[22] | header[23] << 8;
            const unsigned rate = header[24] | header[25] << 8 | header[26] << 16;
            return static_cast<double>(entry.file_size()) / (rate * channels * 4.0);
        }
    }
    return 0.0;
}

class DictationEndToEndTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!portFree(8910) || !portFree(11434)) {
            GTEST_SKIP() << "ports 8910 and 11434 must be free for the local services";
        }
        const fs::path home = folder_ / "home";
        const fs::path manifests = home / ".ollama/models/manifests/registry.ollama.ai/library";
        fs::create_directories(home / ".local/bin");
        fs::create_directories(config_ / "models");
        fs::create_directories(manifests / "qwen2.5");
        fs::create_directories(folder_ / "audio");
        fs::create_directories(recordings_);
        for (const char* program : {"whisper-server", "ollama"}) {
            fs::create_symlink(fs::path(VURIN_STAND_IN_DIR) / program,
                               home / ".local/bin" / program);
        }
        std::ofstream(config_ / "models/ggml-large-v3-turbo.bin") << std::string(4096, '\0');
        std::ofstream(manifests / "qwen2.5/7b") << "{}";
        std::ofstream(config_ / "config.json")
            << R"({"sttProvider":"local","polishProvider":"local","sendOnClick":true})";
        fs::permissions(config_ / "config.json", fs::perms::owner_read | fs::perms::owner_write);
        environment_.set("HOME", home.string());
        environment_.set("XDG_CONFIG_HOME", (home / ".config").string());
        environment_.set("TMPDIR", recordings_.string());
        environment_.set("VURIN_STAND_IN_TRANSCRIPT", kHeard);
        environment_.set("VURIN_STAND_IN_AUDIO_DIR", (folder_ / "audio").string());
    }

    void TearDown() override {
        if (vurin_ && !vurin_->exitStatus()) {
            kill(vurin_->pid(), SIGTERM);  // lets it stop its local services
            vurin_->waitForExit(10s);
        }
    }

    testing::ScratchFolder folder_;
    const fs::path config_ = folder_ / "home/.config/vurin";
    const fs::path recordings_ = folder_ / "recordings";
    testing::ScopedEnvironment environment_;
    std::unique_ptr<testing::DesktopProgram> vurin_;
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
    vurin_ = std::make_unique<testing::DesktopProgram>(std::vector<std::string>{
        "/bin/sh", "-c", "exec \"$0\" >\"$1\" 2>&1", VURIN_EXECUTABLE, log.string()});
    ASSERT_TRUE(vurin_->started());
    ASSERT_TRUE(waitForText(log, "✅ 本地 whisper-server 就绪")) << contentOf(log);
    ASSERT_TRUE(waitForText(log, "✅ 本地润色已预热就绪")) << contentOf(log);

    // Held while the clip plays; let go once the recorder has captured a little past its end.
    testing::XTestTypist typist;
    typist.key(testing::kKeycodeF13, true);
    ASSERT_TRUE(waitForText(log, "🔴 录音中")) << contentOf(log);
    const std::string play = "timeout 20 paplay -d micfeed '" + clip.string() + "'";
    EXPECT_EQ(std::system(play.c_str()), 0);
    const double playedUntil = capturedSeconds(recordings_);
    EXPECT_TRUE(eventually([&] { return capturedSeconds(recordings_) > playedUntil + 0.3; }));
    typist.key(testing::kKeycodeF13, false);
    ASSERT_TRUE(waitForText(log, "📋 已粘贴到")) << contentOf(log);

    // The recognizer got the recording as 16 kHz mono 16-bit audio that follows the clip.
    const auto upload = test::readWav(folder_ / "audio" / "upload-1.wav");
    ASSERT_TRUE(upload) << "the stand-in whisper-server kept no upload";
    EXPECT_EQ(upload->sampleRate, 16000);
    EXPECT_EQ(upload->channels, 1);
    EXPECT_EQ(upload->format & SF_FORMAT_SUBMASK, SF_FORMAT_PCM_16);
    const auto heard = test::monoSamples(folder_ / "audio" / "upload-1.wav");
    ASSERT_FALSE(heard.empty());
    EXPECT_GT(test::loudnessAlignment(test::monoSamples(reference16k), heard).correlation, 0.5)
        << "what the recognizer received does not follow the played clip";

    // The polished text is in the field that had the focus.
    X11FocusReader focus;
    const auto element = focus.focusedElement();
    ASSERT_TRUE(element) << "no focused field on the accessibility bus";
    EXPECT_EQ(focus.textOf(*element).value_or("<unreadable>"), kPolished);

    // One history line with the metrics and no text.
    ASSERT_TRUE(waitForText(config_ / "history.jsonl", "\"ts\""));
    const auto record = nlohmann::json::parse(testing::readLines(config_ / "history.jsonl").at(0));
    EXPECT_FALSE(record.contains("raw") || record.contains("polished"));
    EXPECT_EQ(record.value("textSaved", true), false);
    EXPECT_EQ(record.value("sttSource", ""), "本地");
    EXPECT_NEAR(record.value("audioSec", 0.0), 2.7, 1.5);
    EXPECT_EQ(contentOf(config_ / "history.jsonl").find(kPolished), std::string::npos);

    // Its log lines are time-stamped; a SIGTERM (log-out) ends it cleanly with its services.
    const std::regex stamped(R"(^\[\d{2}:\d{2}:\d{2}\.\d{3}\] ✅ 本地 whisper-server 就绪)");
    int stampedLines = 0;
    for (const std::string& line : testing::readLines(log)) {
        stampedLines += std::regex_search(line, stamped);
    }
    EXPECT_EQ(stampedLines, 1) << contentOf(log);
    ASSERT_FALSE(vurin_->exitStatus()) << "ended on its own; output:\n" << contentOf(log);
    kill(vurin_->pid(), SIGTERM);
    EXPECT_EQ(vurin_->waitForExit(10s).value_or(-2), 0) << contentOf(log);
    EXPECT_TRUE(eventually([] { return portFree(8910) && portFree(11434); }))
        << "a local service outlived Vurin";
}

}  // namespace
}  // namespace vurin
