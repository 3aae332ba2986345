#include "audio/recording_files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <optional>
#include <regex>
#include <set>
#include <string>

#include "support/wav_files.h"

namespace vurin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Points $TMPDIR somewhere else for one test and puts the old value back.
class ScopedTmpdir {
  public:
    explicit ScopedTmpdir(const std::optional<std::string>& value) {
        if (const char* old = std::getenv("TMPDIR")) {
            previous_ = old;
        }
        set(value);
    }
    ~ScopedTmpdir() { set(previous_); }
    ScopedTmpdir(const ScopedTmpdir&) = delete;
    ScopedTmpdir& operator=(const ScopedTmpdir&) = delete;

  private:
    static void set(const std::optional<std::string>& value) {
        if (value) {
            setenv("TMPDIR", value->c_str(), 1);
        } else {
            unsetenv("TMPDIR");
        }
    }
    std::optional<std::string> previous_;
};

TEST(RecordingFilesTest, NewNamesAreUpperCaseUuidsInTheTemporaryFolder) {
    const fs::path folder = test::freshTestFolder("names");
    ScopedTmpdir tmpdir(folder.string());
    const std::regex pattern(
        "vurin-[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\.wav");
    std::set<fs::path> seen;
    for (int i = 0; i < 100; ++i) {
        const fs::path name = makeFileURL();
        EXPECT_EQ(name.parent_path(), folder);
        EXPECT_TRUE(std::regex_match(name.filename().string(), pattern)) << name;
        seen.insert(name);
    }
    EXPECT_EQ(seen.size(), 100u);
}

TEST(RecordingFilesTest, CaptureFileSharesTheUuid) {
    EXPECT_EQ(captureFileURL("/tmp/x/vurin-0A1B2C3D-0000-4000-8000-00000000000F.wav"),
              fs::path("/tmp/x/vurin-0A1B2C3D-0000-4000-8000-00000000000F.raw.wav"));
    const fs::path converted = makeFileURL();
    EXPECT_TRUE(isRecordingFileName(captureFileURL(converted).filename().string()));
}

TEST(RecordingFilesTest, TemporaryFolderFallsBackToTmp) {
    {
        ScopedTmpdir tmpdir(std::nullopt);
        EXPECT_EQ(recordingDirectory(), fs::path("/tmp"));
    }
    {
        ScopedTmpdir tmpdir{std::string()};
        EXPECT_EQ(recordingDirectory(), fs::path("/tmp"));
    }
    ScopedTmpdir tmpdir(std::string("/var/tmp/elsewhere"));
    EXPECT_EQ(recordingDirectory(), fs::path("/var/tmp/elsewhere"));
}

TEST(RecordingFilesTest, NameRule) {
    EXPECT_TRUE(isRecordingFileName("vurin-ABC.wav"));
    EXPECT_TRUE(isRecordingFileName("vurin-ABC.raw.wav"));
    EXPECT_TRUE(isRecordingFileName("vurin-.wav"));
    EXPECT_FALSE(isRecordingFileName("vurin-ABC.WAV"));
    EXPECT_FALSE(isRecordingFileName("vurin-ABC.wav.part"));
    EXPECT_FALSE(isRecordingFileName("vurin-ABC.txt"));
    EXPECT_FALSE(isRecordingFileName("vurin-wav"));
    EXPECT_FALSE(isRecordingFileName("Vurin-ABC.wav"));
    EXPECT_FALSE(isRecordingFileName("other-ABC.wav"));
    EXPECT_FALSE(isRecordingFileName("xvurin-ABC.wav"));
}

class CleanupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = test::freshTestFolder("cleanup");
        tmpdir_.emplace(folder_.string());
    }

    // Makes a file whose modification time lies `age` in the past.
    void makeFile(const std::string& name, std::chrono::seconds age) {
        test::writeBytes(folder_ / name, "x");
        fs::last_write_time(folder_ / name, fs::file_time_type::clock::now() - age);
    }
    bool exists(const std::string& name) const {
        return fs::symlink_status(folder_ / name).type() != fs::file_type::not_found;
    }

    fs::path folder_;
    std::optional<ScopedTmpdir> tmpdir_;
};

TEST_F(CleanupTest, RemovesOnlyOldRecordingFiles) {
    makeFile("vurin-OLD.wav", 2h);
    makeFile("vurin-OLD.raw.wav", 2h);
    makeFile("vurin-JUST-OVER.wav", 61min);
    makeFile("vurin-JUST-UNDER.wav", 59min);
    makeFile("vurin-NEW.raw.wav", 0s);
    makeFile("vurin-OLD.txt", 2h);
    makeFile("vurin-OLD.WAV", 2h);
    makeFile("other-OLD.wav", 2h);
    makeFile("keep.wav", 2h);
    fs::create_directory(folder_ / "sub");
    makeFile("sub/vurin-OLD.wav", 2h);

    cleanupStaleRecordingFiles();

    EXPECT_FALSE(exists("vurin-OLD.wav"));
    EXPECT_FALSE(exists("vurin-OLD.raw.wav"));
    EXPECT_FALSE(exists("vurin-JUST-OVER.wav"));
    for (const char* kept : {"vurin-JUST-UNDER.wav", "vurin-NEW.raw.wav", "vurin-OLD.txt",
                             "vurin-OLD.WAV", "other-OLD.wav", "keep.wav", "sub/vurin-OLD.wav"}) {
        EXPECT_TRUE(exists(kept)) << kept;
    }
}

TEST_F(CleanupTest, AgeLimitIsAnArgument) {
    makeFile("vurin-A.wav", 30s);
    makeFile("vurin-B.wav", 5s);
    cleanupStaleRecordingFiles(10);
    EXPECT_FALSE(exists("vurin-A.wav"));
    EXPECT_TRUE(exists("vurin-B.wav"));
}

TEST_F(CleanupTest, UnreadableDateCountsAsStale) {
    fs::create_symlink(folder_ / "gone", folder_ / "vurin-DANGLING.wav");
    cleanupStaleRecordingFiles();
    EXPECT_FALSE(exists("vurin-DANGLING.wav"));
}

TEST_F(CleanupTest, FolderWithAMatchingNameIsNotEmptied) {
    fs::create_directory(folder_ / "vurin-DIR.wav");
    makeFile("vurin-DIR.wav/precious", 2h);
    fs::last_write_time(folder_ / "vurin-DIR.wav", fs::file_time_type::clock::now() - 2h);
    cleanupStaleRecordingFiles();
    EXPECT_TRUE(exists("vurin-DIR.wav/precious"));
}

TEST_F(CleanupTest, MissingFolderOrStrangeLimitsAreHarmless) {
    makeFile("vurin-A.wav", 2h);
    cleanupStaleRecordingFiles(std::numeric_limits<double>::infinity());
    cleanupStaleRecordingFiles(std::numeric_limits<double>::quiet_NaN());
    EXPECT_TRUE(exists("vurin-A.wav"));

    ScopedTmpdir missing((folder_ / "does-not-exist").string());
    cleanupStaleRecordingFiles();  // returns quietly
}

}  // namespace
}  // namespace vurin
