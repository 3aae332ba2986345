// The installation checks on real folders: executable search and the ollama manifest tree.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "local_services/local_executables.h"
#include "local_services/service_constants.h"

namespace vurin {
namespace {

namespace fs = std::filesystem;
using fs::perms;

// World-readable, below /tmp, so that an ordinary user can reach it.
class LocalModelChecks : public ::testing::Test {
  protected:
    void SetUp() override { fs::create_directories(root); }
    void TearDown() override {
        std::error_code ignored;
        for (const auto& locked : {manifests / "locked", manifests}) {
            fs::permissions(locked, perms::owner_all, ignored);
        }
        fs::remove_all(root, ignored);
    }
    // Creates `relative` with `mode` and opens every folder on the way to everybody.
    fs::path touch(const fs::path& relative, perms mode = perms::owner_read | perms::others_read) {
        const auto path = root / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path) << "{}";
        fs::permissions(path, mode);
        for (auto folder = path.parent_path(); folder != root.parent_path();
             folder = folder.parent_path()) {
            fs::permissions(folder, perms::owner_all | perms::others_read | perms::others_exec);
        }
        return path;
    }
    // Permissions do not bind root, so the check runs in a child that has become nobody.
    bool installedAsNobody() const {
        const pid_t child = ::fork();
        if (child == 0) {
            const bool nobody = ::geteuid() != 0 || (::setgid(65534) == 0 && ::setuid(65534) == 0);
            std::_Exit(nobody && localOllamaModelInstalled(ollamaModel, manifests) ? 42 : 0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 42;
    }

    const fs::path root = fs::path("/tmp") / ("vurin-model-checks-" + std::to_string(::getpid()));
    const fs::path manifests = root / "manifests";
};

TEST_F(LocalModelChecks, TheFirstExecutableInSearchOrderWins) {
    touch("first/ollama");                           // not executable: passed over
    fs::create_directories(root / "second/ollama");  // a folder: passed over
    const auto third = touch("third/ollama", perms::owner_all);
    touch("fourth/ollama", perms::owner_all);
    EXPECT_EQ(findExecutableIn({root / "first", root / "second", root / "third", root / "fourth"},
                               "ollama"),
              third);
    EXPECT_EQ(findExecutableIn({root / "first", root / "missing"}, "ollama"), std::nullopt);
    const auto folders = localExecutableFolders();
    EXPECT_EQ(folders, (std::vector<fs::path>{"/usr/local/bin", "/usr/bin", folders.at(2)}));
    EXPECT_TRUE(folders[2].string().ends_with("/.local/bin")) << folders[2];
}

TEST_F(LocalModelChecks, AManifestAtAnyDepthInAnyCaseCountsAndUnreadableFoldersArePassedOver) {
    EXPECT_FALSE(localOllamaModelInstalled(ollamaModel, manifests)) << "no folder";
    touch(manifests / "registry.ollama.ai/library/qwen2.5/7b-instruct");
    EXPECT_FALSE(localOllamaModelInstalled(ollamaModel, manifests)) << "another tag";
    touch("manifests/locked/library/qwen2.5/7b");
    fs::permissions(manifests / "locked", perms::none);
    EXPECT_FALSE(installedAsNobody()) << "the only manifest is out of sight";
    touch("manifests/Mirror.Example/Deep/Library/QWEN2.5/7B");
    fs::permissions(manifests / "locked", perms::none);
    EXPECT_TRUE(installedAsNobody()) << "the locked folder is passed over";
    fs::permissions(manifests, perms::none);
    EXPECT_FALSE(installedAsNobody()) << "nothing can be listed";
}

}  // namespace
}  // namespace vurin
