#include "audio/recording_files.h"

#include <gtest/gtest.h>

#include <limits>
#include <regex>
#include <set>

#include "support/testing.h"
#include "support/wav_files.h"

namespace vurin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class RecordingFilesTest : public ::testing::Test {
  protected:
    void SetUp() override { environment_.set("TMPDIR", folder_.string()); }

    // Makes a file whose modification time lies `age` in the past.
    void makeFile(const std::string& name, std::chrono::seconds age) {
        test::writeBytes(folder_ / name, "x");
        fs::last_write_time(folder_ / name, fs::file_time_type::clock::now() - age);
    }
    bool exists(const std::string& name) const {
        return fs::symlink_status(folder_ / name).type() != fs::file_type::not_found;
    }

    fs::path folder_ = test::freshTestFolder("recording-files");
    testing::ScopedEnvironment environment_;
};

TEST_F(RecordingFilesTest, NewNamesAreUpperCaseUuidsInTheTemporaryFolderWithACaptureTwin) {
    const std::regex pattern(
        "vurin-[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\.wav");
    std::set<fs::path> seen;
    for (int i = 0; i < 100; ++i) {
        const fs::path name = makeFileURL();
        EXPECT_EQ(name.parent_path(), folder_);
        EXPECT_TRUE(std::regex_match(name.filename().string(), pattern)) << name;
        seen.insert(name);
    }
    EXPECT_EQ(seen.size(), 100u);
    EXPECT_EQ(captureFileURL("/tmp/x/vurin-0A1B2C3D-0000-4000-8000-00000000000F.wav"),
              fs::path("/tmp/x/vurin-0A1B2C3D-0000-4000-8000-00000000000F.raw.wav"));
}

TEST_F(RecordingFilesTest, TemporaryFolderFallsBackToTmp) {
    environment_.unset("TMPDIR");
    EXPECT_EQ(recordingDirectory(), fs::path("/tmp"));
    environment_.set("TMPDIR", "");
    EXPECT_EQ(recordingDirectory(), fs::path("/tmp"));
}

TEST_F(RecordingFilesTest, NameRule) {
    for (const char* owned : {"vurin-ABC.wav", "vurin-ABC.raw.wav", "vurin-.wav"}) {
        EXPECT_TRUE(isRecordingFileName(owned)) << owned;
    }
    for (const char* other : {"vurin-ABC.WAV", "vurin-ABC.wav.part", "vurin-ABC.txt", "vurin-wav",
                              "Vurin-ABC.wav", "other-ABC.wav", "xvurin-ABC.wav"}) {
        EXPECT_FALSE(isRecordingFileName(other)) << other;
    }
}

TEST_F(RecordingFilesTest, CleanupRemovesOnlyStaleRecordingFiles) {
    for (const char* name : {"vurin-OLD.wav", "vurin-OLD.raw.wav", "vurin-OLD.txt", "vurin-OLD.WAV",
                             "other-OLD.wav", "keep.wav"}) {
        makeFile(name, 2h);
    }
    makeFile("vurin-JUST-OVER.wav", 61min);
    makeFile("vurin-JUST-UNDER.wav", 59min);
    makeFile("vurin-NEW.raw.wav", 0s);
    fs::create_directory(folder_ / "sub");
    makeFile("sub/vurin-OLD.wav", 2h);
    fs::create_directory(folder_ / "vurin-DIR.wav");  // a folder is never emptied
    makeFile("vurin-DIR.wav/precious", 2h);
    fs::last_write_time(folder_ / "vurin-DIR.wav", fs::file_time_type::clock::now() - 2h);
    // An unreadable date counts as stale.
    fs::create_symlink(folder_ / "gone", folder_ / "vurin-DANGLING.wav");

    cleanupStaleRecordingFiles();

    for (const char* removed :
         {"vurin-OLD.wav", "vurin-OLD.raw.wav", "vurin-JUST-OVER.wav", "vurin-DANGLING.wav"}) {
        EXPECT_FALSE(exists(removed)) << removed;
    }
    for (const char* kept :
         {"vurin-JUST-UNDER.wav", "vurin-NEW.raw.wav", "vurin-OLD.txt", "vurin-OLD.WAV",
          "other-OLD.wav", "keep.wav", "sub/vurin-OLD.wav", "vurin-DIR.wav/precious"}) {
        EXPECT_TRUE(exists(kept)) << kept;
    }
}

TEST_F(RecordingFilesTest, AgeLimitIsAnArgumentAndStrangeLimitsOrFoldersAreHarmless) {
    makeFile("vurin-A.wav", 30s);
    makeFile("vurin-B.wav", 5s);
    cleanupStaleRecordingFiles(std::numeric_limits<double>::infinity());
    cleanupStaleRecordingFiles(std::numeric_limits<double>::quiet_NaN());
    EXPECT_TRUE(exists("vurin-A.wav"));
    cleanupStaleRecordingFiles(10);
    EXPECT_FALSE(exists("vurin-A.wav"));
    EXPECT_TRUE(exists("vurin-B.wav"));
    environment_.set("TMPDIR", (folder_ / "does-not-exist").string());
    cleanupStaleRecordingFiles();  // returns quietly
}

}  // namespace
}  // namespace vurin
