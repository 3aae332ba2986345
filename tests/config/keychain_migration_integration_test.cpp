#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "config/config.h"
#include "config/keychain.h"
#include "support/fake_secret_store.h"
#include "support/log.h"
#include "support/private_files.h"

namespace vurin {
namespace {

namespace fs = std::filesystem;
using testing::contentOf;
using testing::FakeSecretStore;
using testing::modeOf;

const std::string kMigratedGroq = "🔑 已把 GROQ_API_KEY 从 env 文件迁移进 Keychain";
const std::string kPruned = "🔐 已从旧 env 文件清除完成 Keychain 迁移的云端 Key";

// Each test starts with an empty configuration folder, an empty fake keychain and a
// permissive umask, so a rewritten file that is not private from the start shows it.
class EnvMigration : public testing::FreshConfigFolderTest {
  protected:
    void SetUp() override {
        FreshConfigFolderTest::SetUp();
        fs::create_directories(configDir());
        installSecretStore(store_);
        setLogObserver([this](const std::string& line) { logged_.push_back(line); });
    }
    void TearDown() override {
        setLogObserver({});
        installSecretStore(nullptr);
        FreshConfigFolderTest::TearDown();
    }

    void writeEnv(const std::string& content, fs::perms mode = fs::perms(0644)) {
        std::ofstream(envFileURL(), std::ios::binary) << content;
        fs::permissions(envFileURL(), mode);
    }
    // What the migration logged, without the keychain's own read notes.
    std::vector<std::string> migrationLines() const {
        std::vector<std::string> lines;
        for (const auto& line : logged_) {
            if (line.starts_with("🔑 已把") || line.starts_with("🔐")) {
                lines.push_back(line);
            }
        }
        return lines;
    }

    std::shared_ptr<FakeSecretStore> store_ = std::make_shared<FakeSecretStore>();
    std::vector<std::string> logged_;
};

TEST_F(EnvMigration, LoadEnvIsEmptyForAMissingUnreadableOrNonUTF8File) {
    EXPECT_TRUE(loadEnv().empty());
    fs::create_directory(envFileURL());
    EXPECT_TRUE(loadEnv().empty());
    fs::remove(envFileURL());
    writeEnv("GROQ_API_KEY=gsk_\xff\n");
    EXPECT_TRUE(loadEnv().empty());
    writeEnv("GROQ_API_KEY=gsk_1\n");
    EXPECT_EQ(loadEnv(), (std::map<std::string, std::string>{{"GROQ_API_KEY", "gsk_1"}}));
}

TEST_F(EnvMigration, KeyMovesIntoTheKeychainAndOnlyTheOtherLineStaysPrivately) {
    writeEnv("GROQ_API_KEY=gsk_1\nHTTP_PROXY=http://proxy\n");
    migrateEnvKeysToKeychain();
    EXPECT_EQ(store_->value("GROQ_API_KEY"), "gsk_1");
    EXPECT_EQ(contentOf(envFileURL()), "HTTP_PROXY=http://proxy\n");
    EXPECT_EQ(modeOf(envFileURL()), 0600u);
    EXPECT_EQ(migrationLines(), (std::vector<std::string>{kMigratedGroq, kPruned}));
}

TEST_F(EnvMigration, SeveralKeysAreNamedInCatalogueOrder) {
    writeEnv("GEMINI_API_KEY=AIza1\nOPENAI_API_KEY=sk-1\nGROQ_API_KEY=gsk_1");
    migrateEnvKeysToKeychain();
    EXPECT_EQ(migrationLines(),
              (std::vector<std::string>{
                  "🔑 已把 GROQ_API_KEY、OPENAI_API_KEY、GEMINI_API_KEY 从 env 文件迁移进 Keychain",
                  kPruned}));
    EXPECT_FALSE(fs::exists(envFileURL()));
    EXPECT_EQ(store_->value("GEMINI_API_KEY"), "AIza1");
    EXPECT_EQ(store_->value("OPENAI_API_KEY"), "sk-1");
}

TEST_F(EnvMigration, KeychainKeyWinsAndTheFileGoes) {
    store_->put("GROQ_API_KEY", "gsk_keychain");
    writeEnv("GROQ_API_KEY=gsk_file\n");
    migrateEnvKeysToKeychain();
    EXPECT_EQ(store_->value("GROQ_API_KEY"), "gsk_keychain");
    EXPECT_FALSE(fs::exists(envFileURL()));
    EXPECT_EQ(migrationLines(), (std::vector<std::string>{kPruned}));
}

TEST_F(EnvMigration, EmptyValueIsIgnoredAndItsLineStays) {
    writeEnv("GROQ_API_KEY=\nOPENAI_API_KEY=sk-1\n");
    migrateEnvKeysToKeychain();
    EXPECT_EQ(store_->value("GROQ_API_KEY"), std::nullopt);
    EXPECT_EQ(contentOf(envFileURL()), "GROQ_API_KEY=\n");
}

TEST_F(EnvMigration, UnknownNamesCommentsExportAndLeadingBlanksAreNotMigrated) {
    const std::string content =
        " GROQ_API_KEY=gsk_1\n# OPENAI_API_KEY=sk-1\nexport GEMINI_API_KEY=AIza1\nFOO=bar\n";
    writeEnv(content);
    migrateEnvKeysToKeychain();
    EXPECT_TRUE(store_->items.empty());
    EXPECT_EQ(contentOf(envFileURL()), content);
    EXPECT_EQ(modeOf(envFileURL()), 0644u);  // nothing finished: the file is not touched
    EXPECT_TRUE(migrationLines().empty());
}

TEST_F(EnvMigration, QuotesAndTrailingBlanksAreStoredAsWritten) {
    writeEnv("GROQ_API_KEY=\"gsk_1\"\nOPENAI_API_KEY=sk-1 \n");
    migrateEnvKeysToKeychain();
    EXPECT_EQ(store_->value("GROQ_API_KEY"), "\"gsk_1\"");
    EXPECT_EQ(store_->value("OPENAI_API_KEY"), "sk-1 ");
}

TEST_F(EnvMigration, CRLFFileStoresKeysWithoutTheCarriageReturn) {
    writeEnv("GROQ_API_KEY=gsk_1\r\nFOO=bar\r\n");
    migrateEnvKeysToKeychain();
    EXPECT_EQ(store_->value("GROQ_API_KEY"), "gsk_1");
    EXPECT_EQ(contentOf(envFileURL()), "\nFOO=bar\n\n");  // each CR LF is two line breaks
    EXPECT_EQ(modeOf(envFileURL()), 0600u);
}

TEST_F(EnvMigration, AKeyThatCannotBeStoredStaysForTheNextLaunch) {
    writeEnv("GROQ_API_KEY=gsk_1\nOPENAI_API_KEY=sk-1\n");
    store_->addFailure = SecretStatus::locked;
    migrateEnvKeysToKeychain();
    EXPECT_EQ(contentOf(envFileURL()), "GROQ_API_KEY=gsk_1\nOPENAI_API_KEY=sk-1\n");
    EXPECT_TRUE(migrationLines().empty());

    store_->addFailure.reset();
    store_->put("OPENAI_API_KEY", "sk-keychain");
    migrateEnvKeysToKeychain();
    EXPECT_EQ(store_->value("GROQ_API_KEY"), "gsk_1");
    EXPECT_EQ(store_->value("OPENAI_API_KEY"), "sk-keychain");
    EXPECT_FALSE(fs::exists(envFileURL()));
}

TEST_F(EnvMigration, SecondRunDoesNothingAndLogsNothing) {
    writeEnv("GROQ_API_KEY=gsk_1\nFOO=bar\n");
    migrateEnvKeysToKeychain();
    logged_.clear();
    store_->calls.clear();
    migrateEnvKeysToKeychain();
    EXPECT_TRUE(logged_.empty());
    EXPECT_TRUE(store_->calls.empty());
    EXPECT_EQ(contentOf(envFileURL()), "FOO=bar\n");
}

TEST_F(EnvMigration, OnlyBlankLinesLeftDeletesTheFile) {
    writeEnv("\n  \nGROQ_API_KEY=gsk_1\n\t\n");
    migrateEnvKeysToKeychain();
    EXPECT_FALSE(fs::exists(envFileURL()));
}

TEST_F(EnvMigration, MissingFileMigratesNothingAndLogsNothing) {
    migrateEnvKeysToKeychain();
    EXPECT_TRUE(logged_.empty());
    EXPECT_TRUE(store_->calls.empty());
}

TEST_F(EnvMigration, FailedRewriteIsIgnoredAndTheSecondLineIsStillWritten) {
    writeEnv("GROQ_API_KEY=gsk_1\nFOO=bar\n");
    // A file size limit makes the rewrite fail even for root, who ignores folder permissions.
    rlimit previous{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit tiny = previous;
    tiny.rlim_cur = 4;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tiny), 0);
    migrateEnvKeysToKeychain();
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(store_->value("GROQ_API_KEY"), "gsk_1");
    EXPECT_EQ(contentOf(envFileURL()), "GROQ_API_KEY=gsk_1\nFOO=bar\n");
    EXPECT_EQ(migrationLines(), (std::vector<std::string>{kMigratedGroq, kPruned}));

    // The next launch finds the key in the keychain and finishes the clean-up.
    logged_.clear();
    migrateEnvKeysToKeychain();
    EXPECT_EQ(contentOf(envFileURL()), "FOO=bar\n");
    EXPECT_EQ(migrationLines(), (std::vector<std::string>{kPruned}));
}

TEST_F(EnvMigration, NoKeyValueReachesTheLog) {
    writeEnv("GROQ_API_KEY=gsk_secret_value\nOPENAI_API_KEY=sk-secret-value\n");
    store_->addFailure = SecretStatus::failure;
    migrateEnvKeysToKeychain();
    store_->addFailure.reset();
    migrateEnvKeysToKeychain();
    ASSERT_FALSE(logged_.empty());
    for (const auto& line : logged_) {
        EXPECT_EQ(line.find("secret"), std::string::npos) << line;
    }
}

}  // namespace
}  // namespace vurin
