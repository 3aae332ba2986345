#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

#include "config/config.h"
#include "config/keychain.h"
#include "config/private_file.h"
#include "support/fake_secret_store.h"
#include "support/private_files.h"
#include "support/testing.h"

namespace vurin::testing {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using ConfigFiles = FreshConfigFolderTest;

std::size_t entriesIn(const fs::path& folder) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), {}));
}

TEST_F(ConfigFiles, LoadingCreatesNothingAndSavingMakesFolderAndFilePrivate) {
    EXPECT_EQ(loadConfig(), Config());
    EXPECT_FALSE(fs::exists(configDir()));
    saveConfig(Config{.phoneToken = "secret-token"});
    EXPECT_EQ(loadConfig().phoneToken, "secret-token");
    fs::permissions(configDir(), fs::perms(0755));
    fs::permissions(configURL(), fs::perms(0644));
    saveConfig(Config{.keyCode = 7});  // an existing folder and file are tightened
    EXPECT_EQ(modeOf(configDir()), 0700u);
    EXPECT_EQ(modeOf(configURL()), 0600u);
    EXPECT_EQ(entriesIn(configDir()), 1u);  // no temporary file is left
    EXPECT_EQ(loadConfig().keyCode, 7);
    auto temp = createPrivateTempFile(configURL());
    ASSERT_TRUE(temp.has_value());
    EXPECT_EQ(modeOf(temp->path), 0600u);  // private from its creation on
    EXPECT_EQ(temp->path.parent_path(), configDir());
    fs::remove(temp->path);
}

TEST_F(ConfigFiles, AFailedReplaceLeavesNoTemporaryFileAndTheOldFile) {
    fs::create_directories(configDir() / "occupied" / "inside");
    EXPECT_FALSE(writeFilePrivateAtomically(configDir() / "occupied", "bytes"));
    EXPECT_EQ(entriesIn(configDir()), 1u);
    EXPECT_FALSE(writeFilePrivateAtomically(configDir() / "missing" / "file", "bytes"));
    fs::create_directories(configURL());  // a folder where the file should be
    EXPECT_EQ(loadConfig(), Config());
    fs::remove(configURL());
    const std::string bad = R"({"keyCode": 96, "sendOnClick": "yes"})";
    std::ofstream(configURL()) << bad;
    EXPECT_EQ(loadConfig(), Config());
    saveConfig(Config{.phoneToken = "\xff\xfe"});  // cannot be encoded: the file stays
    EXPECT_EQ(contentOf(configURL()), bad);
}

TEST_F(ConfigFiles, ReadersSeeEitherTheOldOrTheNewFileNeverAPart) {
    const Config small, large{.phoneToken = std::string(200000, 'k')};
    saveConfig(small);
    std::atomic<bool> writing{true};
    std::thread writer([&] {
        for (int i = 0; i < 100; ++i) {
            saveConfig(i % 2 == 0 ? large : small);
        }
        writing = false;
    });
    int broken = 0;
    do {
        const auto decoded = decodeConfig(contentOf(configURL()));
        broken += decoded == small || decoded == large ? 0 : 1;
    } while (writing);
    writer.join();
    EXPECT_EQ(broken, 0);
}

// The umask is 0, so a rewritten env file that is not private from the start shows it.
class EnvMigration : public FreshConfigFolderTest {
  protected:
    void SetUp() override {
        FreshConfigFolderTest::SetUp();
        fs::create_directories(configDir());
        installSecretStore(store);
    }
    void TearDown() override {
        installSecretStore(nullptr);
        FreshConfigFolderTest::TearDown();
    }
    void writeEnv(const std::string& content) {
        std::ofstream(envFileURL(), std::ios::binary) << content;
        fs::permissions(envFileURL(), fs::perms(0644));
    }
    std::optional<std::string> envLeft() const {
        return fs::exists(envFileURL()) ? std::optional(contentOf(envFileURL())) : std::nullopt;
    }
    // What the migration logged, without the keychain's own notes.
    Lines migrationLines() const {
        Lines lines = log.lines();
        std::erase_if(lines, [](const auto& line) {
            return !line.starts_with("🔑 已把") && !line.starts_with("🔐");
        });
        return lines;
    }

    std::shared_ptr<FakeSecretStore> store = std::make_shared<FakeSecretStore>();
    LogCapture log;
};

const std::string kMigratedGroq = "🔑 已把 GROQ_API_KEY 从 env 文件迁移进 Keychain";
const std::string kPruned = "🔐 已从旧 env 文件清除完成 Keychain 迁移的云端 Key";

TEST_F(EnvMigration, CatalogueKeysMoveAndTheirLinesGo) {
    using Keys = std::map<std::string, std::string>;
    const struct {
        std::optional<std::string> env;
        Keys before, after;
        std::optional<std::string> left;
        Lines logs;
    } cases[] = {
        {"GROQ_API_KEY=\nOPENAI_API_KEY=sk-1\nHTTP_PROXY=http://proxy\n",
         {},
         {{"OPENAI_API_KEY", "sk-1"}},
         "GROQ_API_KEY=\nHTTP_PROXY=http://proxy\n",
         {"🔑 已把 OPENAI_API_KEY 从 env 文件迁移进 Keychain", kPruned}},
        {"GEMINI_API_KEY=AIza1\nOPENAI_API_KEY=sk-1\nGROQ_API_KEY=gsk_1\n\t\n",
         {},
         {{"GEMINI_API_KEY", "AIza1"}, {"GROQ_API_KEY", "gsk_1"}, {"OPENAI_API_KEY", "sk-1"}},
         std::nullopt,
         {"🔑 已把 GROQ_API_KEY、OPENAI_API_KEY、GEMINI_API_KEY 从 env 文件迁移进 Keychain",
          kPruned}},
        {"GROQ_API_KEY=gsk_file\n",  // the keychain's key wins
         {{"GROQ_API_KEY", "gsk_keychain"}},
         {{"GROQ_API_KEY", "gsk_keychain"}},
         std::nullopt,
         {kPruned}},
        {"GROQ_API_KEY=gsk_\xff\n", {}, {}, "GROQ_API_KEY=gsk_\xff\n", {}},
        {std::nullopt, {}, {}, std::nullopt, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.env.value_or("no file"));
        fs::remove(envFileURL());
        *store = FakeSecretStore();
        store->items = c.before;
        if (c.env) {
            writeEnv(*c.env);
        }
        log.clear();
        migrateEnvKeysToKeychain();
        EXPECT_EQ(store->items, c.after);
        EXPECT_EQ(envLeft(), c.left);
        if (c.left) {  // rewritten privately, or not touched when nothing was finished
            EXPECT_EQ(modeOf(envFileURL()), c.logs.empty() ? 0644u : 0600u);
        }
        EXPECT_EQ(migrationLines(), c.logs);
        log.clear();
        store->calls.clear();
        migrateEnvKeysToKeychain();  // the next launch finds nothing to do
        EXPECT_EQ(log.lines(), Lines{});
        EXPECT_EQ(store->calls, Lines{});
    }
}

TEST_F(EnvMigration, AKeyThatCannotBeStoredStaysForTheNextLaunch) {
    writeEnv("GROQ_API_KEY=gsk_secret\nOPENAI_API_KEY=sk-secret\n");
    store->failures["add"] = SecretStatus::locked;
    migrateEnvKeysToKeychain();
    EXPECT_EQ(envLeft(), "GROQ_API_KEY=gsk_secret\nOPENAI_API_KEY=sk-secret\n");
    EXPECT_EQ(migrationLines(), Lines{});
    store->failures.clear();
    store->items["OPENAI_API_KEY"] = "sk-keychain";
    migrateEnvKeysToKeychain();
    EXPECT_EQ(store->value("GROQ_API_KEY"), "gsk_secret");
    EXPECT_EQ(store->value("OPENAI_API_KEY"), "sk-keychain");
    EXPECT_EQ(envLeft(), std::nullopt);
    EXPECT_EQ(migrationLines(), (Lines{kMigratedGroq, kPruned}));
}

TEST_F(EnvMigration, AFailedRewriteIsFinishedByTheNextLaunch) {
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
    EXPECT_EQ(store->value("GROQ_API_KEY"), "gsk_1");
    EXPECT_EQ(envLeft(), "GROQ_API_KEY=gsk_1\nFOO=bar\n");
    EXPECT_EQ(migrationLines(), (Lines{kMigratedGroq, kPruned}));
    log.clear();
    migrateEnvKeysToKeychain();
    EXPECT_EQ(envLeft(), "FOO=bar\n");
    EXPECT_EQ(migrationLines(), Lines{kPruned});
}

}  // namespace
}  // namespace vurin::testing
