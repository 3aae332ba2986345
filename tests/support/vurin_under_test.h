#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <fstream>

#include "support/desktop_program.h"
#include "support/private_files.h"
#include "support/testing.h"

namespace vurin::testing {

// The real executable in a home of its own: the local services' stand-ins on its PATH, a
// configuration that uses them, a spoken sentence ready to play into the virtual microphone,
// and its log in a file. For the tests that start the executable (VURIN_EXECUTABLE). Stopped with
// SIGTERM (as a log-out does) when the object goes.
class VurinUnderTest {
  public:
    static constexpr const char* polished = "Please add a unit test for the parser.";

    // `folder` holds everything; `environment` gets the home's variables. `launch` starts it.
    VurinUnderTest(const std::filesystem::path& folder, ScopedEnvironment& environment);
    ~VurinUnderTest();

    // `wrapper` runs it (a launcher's app scope: DesktopSession::inAppScope).
    bool launch(const std::vector<std::string>& arguments = {},
                const std::vector<std::string>& wrapper = {});
    // Waits until `text` is in the log `times` times.
    bool waitFor(const std::string& text, int times = 1) const;
    // Plays the sentence into the virtual microphone and waits for it to end.
    bool speak() const;
    // SIGTERM and the wait for the exit; its status then.
    std::optional<int> terminate();
    // `vurin <arguments>` run to its end: its exit status and what it wrote.
    std::pair<int, std::string> run(const std::string& arguments) const;

    std::string log() const;
    const std::filesystem::path& config() const { return config_; }
    pid_t pid() const { return program_ ? program_->pid() : -1; }

  private:
    std::filesystem::path folder_, config_, log_, clip_;
    std::unique_ptr<DesktopProgram> program_;
};

inline VurinUnderTest::VurinUnderTest(const std::filesystem::path& folder,
                                      ScopedEnvironment& environment)
    : folder_(folder), config_(folder / "home/.config/vurin"), log_(folder / "vurin.log") {
    const std::filesystem::path home = folder / "home", recordings = folder / "recordings";
    const std::filesystem::path manifests =
        home / ".ollama/models/manifests/registry.ollama.ai/library";
    for (const std::filesystem::path& made :
         {home / ".local/bin", config_ / "models", manifests / "qwen2.5", recordings}) {
        std::filesystem::create_directories(made);
    }
    for (const char* program : {"whisper-server", "ollama"}) {
        std::filesystem::create_symlink(std::filesystem::path(VURIN_STAND_IN_DIR) / program,
                                        home / ".local/bin" / program);
    }
    std::ofstream(config_ / "models/ggml-large-v3-turbo.bin") << std::string(4096, '\0');
    std::ofstream(manifests / "qwen2.5/7b") << "{}";
    std::ofstream(config_ / "config.json") << R"({"sttProvider":"local","polishProvider":"local"})";
    std::filesystem::permissions(config_ / "config.json", std::filesystem::perms::owner_read |
                                                              std::filesystem::perms::owner_write);
    environment.set("HOME", home.string());
    environment.set("XDG_CONFIG_HOME", (home / ".config").string());
    environment.set("TMPDIR", recordings.string());
    environment.set("VURIN_STAND_IN_TRANSCRIPT", "um please add a unit test for the parser");
    clip_ = folder / "spoken.wav";
    const std::string speak = "espeak-ng -w '" + clip_.string() + "' '" + polished + "'";
    EXPECT_EQ(std::system(speak.c_str()), 0) << "espeak-ng (scripts/install-deps installs it)";
}

inline VurinUnderTest::~VurinUnderTest() {
    terminate();
}

inline bool VurinUnderTest::launch(const std::vector<std::string>& arguments,
                                   const std::vector<std::string>& wrapper) {
    std::vector<std::string> argv = wrapper;
    argv.insert(argv.end(),
                {"/bin/sh", "-c", "exec \"$0\" \"$@\" >\"$LOG\" 2>&1", VURIN_EXECUTABLE});
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    setenv("LOG", log_.c_str(), 1);
    program_ = std::make_unique<DesktopProgram>(argv);
    return program_->started();
}

inline bool VurinUnderTest::waitFor(const std::string& text, int times) const {
    return eventually(
        [&] {
            const std::string content = contentOf(log_);
            int seen = 0;
            for (auto at = content.find(text); at != std::string::npos && seen < times;
                 at = content.find(text, at + 1)) {
                ++seen;
            }
            return seen == times;
        },
        std::chrono::seconds(20));
}

inline bool VurinUnderTest::speak() const {
    const std::string play = "timeout 20 paplay -d micfeed '" + clip_.string() + "'";
    return std::system(play.c_str()) == 0;
}

inline std::optional<int> VurinUnderTest::terminate() {
    if (!program_) {
        return std::nullopt;
    }
    if (!program_->exitStatus()) {
        kill(program_->pid(), SIGTERM);
    }
    eventually([&] { return program_->exitStatus().has_value(); }, std::chrono::seconds(10));
    return program_->exitStatus();
}

inline std::pair<int, std::string> VurinUnderTest::run(const std::string& arguments) const {
    const std::filesystem::path output = folder_ / "output";
    const std::string command =
        std::string(VURIN_EXECUTABLE) + " " + arguments + " >'" + output.string() + "' 2>&1";
    return {WEXITSTATUS(std::system(command.c_str())), contentOf(output)};
}

inline std::string VurinUnderTest::log() const {
    return contentOf(log_);
}

}  // namespace vurin::testing
