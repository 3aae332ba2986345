// The installation checks on real folders: executable search and the ollama manifest tree.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "local_services/child_process.h"
#include "local_services/local_executables.h"
#include "local_services/service_constants.h"

namespace vurin {
namespace {

namespace fs = std::filesystem;

class LocalModelChecksTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("checks-" + std::to_string(::getpid()));
        fs::remove_all(root);
        fs::create_directories(root);
    }
    void TearDown() override {
        std::error_code ignored;
        for (const auto& locked : lockedFolders) {
            fs::permissions(locked, fs::perms::owner_all, ignored);
        }
        fs::remove_all(root, ignored);
    }

    void touch(const fs::path& relative, fs::perms mode = fs::perms::owner_read) {
        const auto path = root / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path) << "{}";
        fs::permissions(path, mode);
    }

    void lock(const fs::path& relative) {
        lockedFolders.push_back(root / relative);
        fs::permissions(root / relative, fs::perms::none);
    }

    fs::path root;
    std::vector<fs::path> lockedFolders;
};

TEST_F(LocalModelChecksTest, TheFirstExecutableInSearchOrderWins) {
    touch("first/ollama", fs::perms::owner_read);    // not executable: passed over
    fs::create_directories(root / "second/ollama");  // a folder: passed over
    touch("third/ollama", fs::perms::owner_all);
    touch("fourth/ollama", fs::perms::owner_all);
    EXPECT_EQ(findExecutableIn({root / "first", root / "second", root / "third", root / "fourth"},
                               "ollama"),
              root / "third/ollama");
    EXPECT_EQ(findExecutableIn({root / "first", root / "missing"}, "ollama"), std::nullopt);
    const auto folders = localExecutableFolders();
    ASSERT_EQ(folders.size(), 3u);
    EXPECT_EQ(folders[0], "/usr/local/bin");
    EXPECT_EQ(folders[1], "/usr/bin");
    EXPECT_EQ(folders[2].filename(), "bin");
    EXPECT_EQ(folders[2].parent_path().filename(), ".local");
}

TEST_F(LocalModelChecksTest, AManifestAtAnyDepthInAnyCaseCountsButAnotherTagDoesNot) {
    const auto manifests = root / "manifests";
    touch("manifests/registry.ollama.ai/library/qwen2.5/14b");
    EXPECT_FALSE(localOllamaModelInstalled(ollamaModel, manifests));
    touch("manifests/registry.ollama.ai/library/qwen2.5/7b-instruct");
    EXPECT_FALSE(localOllamaModelInstalled(ollamaModel, manifests));
    touch("manifests/Mirror.Example/Deep/Library/QWEN2.5/7B");
    EXPECT_TRUE(localOllamaModelInstalled(ollamaModel, manifests));
    EXPECT_FALSE(localOllamaModelInstalled(ollamaModel, root / "no-such-folder"));
}

// Permissions do not bind root, so as root the check runs in a copy of this program that has
// become an ordinary user first.
bool installedAsOrdinaryUser(const fs::path& manifests) {
    if (::geteuid() != 0) {
        return localOllamaModelInstalled(ollamaModel, manifests);
    }
    char self[4096] = {};
    if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0) {
        return false;
    }
    auto copy =
        ChildProcess::create(self, {"--gtest_filter=LocalModelChecks.InstalledAsNobodyHelper"},
                             environmentWith({{"VURIN_MANIFESTS_TO_CHECK", manifests.string()}}));
    if (copy->launch()) {
        return false;
    }
    const int status = copy->waitUntilExit();
    return WIFEXITED(status) && WEXITSTATUS(status) == 42;
}

TEST(LocalModelChecks, InstalledAsNobodyHelper) {
    const char* manifests = std::getenv("VURIN_MANIFESTS_TO_CHECK");
    if (manifests == nullptr) {
        GTEST_SKIP() << "runs only inside the unreadable-folder test";
    }
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
        ::_exit(1);
    }
    ::_exit(localOllamaModelInstalled(ollamaModel, manifests) ? 42 : 0);
}

TEST_F(LocalModelChecksTest, UnreadableFoldersArePassedOverWithoutFailingTheWholeSearch) {
    // Outside the private temporary folder, so that an ordinary user can reach it.
    root = fs::path("/tmp") / ("vurin-manifest-check-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root);
    fs::permissions(root, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec |
                              fs::perms::group_read | fs::perms::others_read);
    const auto readable = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                          fs::perms::others_read | fs::perms::others_exec;
    const auto manifests = root / "manifests";
    touch("manifests/locked/library/qwen2.5/7b", fs::perms::owner_read | fs::perms::others_read);
    for (auto folder = (root / "manifests/locked/library/qwen2.5"); folder != root;
         folder = folder.parent_path()) {
        fs::permissions(folder, readable);
    }
    lock("manifests/locked");
    EXPECT_FALSE(installedAsOrdinaryUser(manifests)) << "the only manifest is out of sight";
    touch("manifests/registry.ollama.ai/library/qwen2.5/7b",
          fs::perms::owner_read | fs::perms::others_read);
    for (auto folder = (root / "manifests/registry.ollama.ai/library/qwen2.5"); folder != manifests;
         folder = folder.parent_path()) {
        fs::permissions(folder, readable);
    }
    EXPECT_TRUE(installedAsOrdinaryUser(manifests)) << "the locked folder is passed over";
    lock("manifests");
    EXPECT_FALSE(installedAsOrdinaryUser(manifests)) << "nothing can be listed";
}

}  // namespace
}  // namespace vurin
