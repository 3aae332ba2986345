#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

// Every test binary runs with its own configuration and temporary folders, so no test ever
// touches the real home directory.
class IsolatedFoldersEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vurin-tests-XXXXXX").string();
        if (char* made = mkdtemp(pattern.data())) {
            root_ = made;
            std::filesystem::create_directories(root_ / "config");
            std::filesystem::create_directories(root_ / "tmp");
            setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
            setenv("TMPDIR", (root_ / "tmp").c_str(), 1);
        }
    }
    void TearDown() override {
        std::error_code ignored;
        if (!root_.empty()) {
            std::filesystem::remove_all(root_, ignored);
        }
    }

  private:
    std::filesystem::path root_;
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new IsolatedFoldersEnvironment);

}  // namespace
