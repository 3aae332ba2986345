// The installation checks on real folders: executable search and the ollama manifest tree.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>

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

TEST_F(LocalModelChecksTest, UnreadableFoldersArePassedOverWithoutFailingTheWholeSearch) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permissions do not bind root";
    }
    const auto manifests = root / "manifests";
    touch("manifests/locked/library/qwen2.5/7b");
    lock("manifests/locked");
    EXPECT_FALSE(localOllamaModelInstalled(ollamaModel, manifests));
    touch("manifests/registry.ollama.ai/library/qwen2.5/7b");
    EXPECT_TRUE(localOllamaModelInstalled(ollamaModel, manifests));
    lock("manifests");
    EXPECT_FALSE(localOllamaModelInstalled(ollamaModel, manifests));
}

}  // namespace
}  // namespace vurin
