// Starts the real executable inside the headless session: it must come up, log, and leave
// cleanly when the desktop asks it to (SIGTERM at log-out or `systemctl --user stop`).
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>

#include "support/desktop_program.h"
#include "support/local_service_stand_ins.h"

#ifndef VURIN_EXECUTABLE
#error "VURIN_EXECUTABLE must name the built vurin executable (set in cmake/Tests.cmake)"
#endif

namespace vurin {
namespace {

using namespace std::chrono_literals;

class StartupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vurin-startup-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        configHome_ = pattern;
        // The program never sees the real configuration.
        environment_.set("XDG_CONFIG_HOME", configHome_.string());
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(configHome_, ignored);
    }

    std::filesystem::path configHome_;
    testing::ScopedEnvironment environment_;
};

const std::regex kTimeStampedLine(R"(^\[\d{2}:\d{2}:\d{2}\.\d{3}\] )");

std::string describe(int exitCode) {
    return exitCode < 0 ? "ended by a signal" : "exit status " + std::to_string(exitCode);
}

TEST_F(StartupTest, LogsTimeStampedLinesAndExitsCleanlyOnSigterm) {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run inside scripts/test-session";
    testing::DesktopProgram vurin({VURIN_EXECUTABLE});
    ASSERT_TRUE(vurin.started()) << "could not start " << VURIN_EXECUTABLE;

    if (!vurin.waitForLine(kTimeStampedLine, 10s)) {
        const auto ended = vurin.waitForExit(1s);
        FAIL() << (ended ? "ended before logging a line (" + describe(*ended) + ")"
                         : std::string("no time-stamped line within 10 s"))
               << "; output:\n"
               << vurin.output();
    }
    ASSERT_FALSE(vurin.exitStatus()) << "ended on its own before SIGTERM; output:\n"
                                     << vurin.output();

    kill(vurin.pid(), SIGTERM);
    const auto status = vurin.waitForExit(5s);
    ASSERT_TRUE(status.has_value()) << "still running 5 s after SIGTERM; output:\n"
                                    << vurin.output();
    EXPECT_EQ(describe(*status), "exit status 0") << "output:\n" << vurin.output();
}

}  // namespace
}  // namespace vurin
