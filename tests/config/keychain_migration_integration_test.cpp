#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/config.h"
#include "config/keychain.h"
#include "support/fake_secret_store.h"
#include "support/private_files.h"
#include "support/testing.h"

namespace vurin::testing {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

const std::string kMigratedGroq = "🔑 已把 GROQ_API_KEY 从 env 文件迁移进 Keychain";
const std::string kPruned = "🔐 已从旧 env 文件清除完成 Keychain 迁移的云端 Key";

// The umask is 0, so a rewritten file that is not private from the start shows it.
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
    std::string keys() const {
        std::string keys;
        for (const auto& [item, value] : store->items) {
            keys += item.second + "=" + value + ";";
        }
        return keys;
    }
    std::optional<std::string> envLeft() const {
        return fs::exists(envFileURL()) ? std::optional(contentOf(envFileURL())) : std::nullopt;
    }
    // What the migration logged, without the keychain's own notes.
    Lines migrationLines() const {
        Lines lines;
        for (const auto& line : log.lines()) {
            if (line.starts_with("🔑 已把") || line.starts_with("🔐")) {
                lines.push_back(line);
            }
        }
        return lines;
    }

    std::shared_ptr<FakeSecretStore> store = std::make_shared<FakeSecretStore>();
    LogCapture log;
};

TEST_F(EnvMigration, CatalogueKeysMoveAndTheirLinesGo) {
    const std::string both = "🔑 已把 GROQ_API_KEY、OPENAI_API_KEY 从 env 文件迁移进 Keychain";
    const std::string other =
        " GROQ_API_KEY=gsk_1\n# OPENAI_API_KEY=sk-1\nexport GEMINI_API_KEY=AIza1\n";
    const struct {
        std::optional<std::string> env;
        std::string before, after;  // the keychain: ACCOUNT=value;...
        std::optional<std::string> left;
        Lines logs;
    } cases[] = {
        {"GROQ_API_KEY=gsk_1\nHTTP_PROXY=http://proxy\n",
         "",
         "GROQ_API_KEY=gsk_1;",
         "HTTP_PROXY=http://proxy\n",
         {kMigratedGroq, kPruned}},
        {"GEMINI_API_KEY=AIza1\nOPENAI_API_KEY=sk-1\nGROQ_API_KEY=gsk_1",
         "",
         "GEMINI_API_KEY=AIza1;GROQ_API_KEY=gsk_1;OPENAI_API_KEY=sk-1;",
         std::nullopt,
         {"🔑 已把 GROQ_API_KEY、OPENAI_API_KEY、GEMINI_API_KEY 从 env 文件迁移进 Keychain",
          kPruned}},
        {"GROQ_API_KEY=gsk_file\n",
         "gsk_keychain",
         "GROQ_API_KEY=gsk_keychain;",
         std::nullopt,
         {kPruned}},
        {"GROQ_API_KEY=\nOPENAI_API_KEY=sk-1\n",
         "",
         "OPENAI_API_KEY=sk-1;",
         "GROQ_API_KEY=\n",
         {"🔑 已把 OPENAI_API_KEY 从 env 文件迁移进 Keychain", kPruned}},
        {other, "", "", other, {}},
        {"GROQ_API_KEY=\"gsk_1\"\nOPENAI_API_KEY=sk-1 \n",
         "",
         "GROQ_API_KEY=\"gsk_1\";OPENAI_API_KEY=sk-1 ;",
         std::nullopt,
         {both, kPruned}},
        {"GROQ_API_KEY=gsk_1\r\nFOO=bar\r\n",
         "",
         "GROQ_API_KEY=gsk_1;",
         "\nFOO=bar\n\n",
         {kMigratedGroq, kPruned}},
        {"\n  \nGROQ_API_KEY=gsk_1\n\t\n",
         "",
         "GROQ_API_KEY=gsk_1;",
         std::nullopt,
         {kMigratedGroq, kPruned}},
        {"GROQ_API_KEY=gsk_\xff\n", "", "", "GROQ_API_KEY=gsk_\xff\n", {}},
        {std::nullopt, "", "", std::nullopt, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.env.value_or("no file"));
        fs::remove(envFileURL());
        *store = FakeSecretStore();
        if (!c.before.empty()) {
            store->put("GROQ_API_KEY", c.before);
        }
        if (c.env) {
            writeEnv(*c.env);
        }
        log.clear();
        migrateEnvKeysToKeychain();
        EXPECT_EQ(keys(), c.after);
        EXPECT_EQ(envLeft(), c.left);
        if (c.left) {  // rewritten privately, or not touched when nothing was finished
            EXPECT_EQ(modeOf(envFileURL()), c.logs.empty() ? 0644u : 0600u);
        }
        EXPECT_EQ(migrationLines(), c.logs);
        // The next launch finds nothing to do.
        log.clear();
        store->calls.clear();
        migrateEnvKeysToKeychain();
        EXPECT_EQ(log.lines(), Lines{});
        EXPECT_EQ(store->calls, Lines{});
    }
    fs::create_directory(envFileURL());
    EXPECT_TRUE(loadEnv().empty());
}

TEST_F(EnvMigration, AKeyThatCannotBeStoredStaysForTheNextLaunch) {
    writeEnv("GROQ_API_KEY=gsk_secret\nOPENAI_API_KEY=sk-secret\n");
    store->addFailure = SecretStatus::locked;
    migrateEnvKeysToKeychain();
    EXPECT_EQ(envLeft(), "GROQ_API_KEY=gsk_secret\nOPENAI_API_KEY=sk-secret\n");
    store->addFailure.reset();
    store->put("OPENAI_API_KEY", "sk-keychain");
    migrateEnvKeysToKeychain();
    EXPECT_EQ(keys(), "GROQ_API_KEY=gsk_secret;OPENAI_API_KEY=sk-keychain;");
    EXPECT_EQ(envLeft(), std::nullopt);
    // Every line, the keychain's included, names accounts and never a key.
    EXPECT_EQ(log.lines(), (Lines{"🔑 Keychain 中没有 GROQ_API_KEY 的 Key (item not found)",
                                  "❌ 保存 GROQ_API_KEY 的 Key 失败:钥匙环已锁定 (locked)",
                                  "🔑 Keychain 中没有 OPENAI_API_KEY 的 Key (item not found)",
                                  "❌ 保存 OPENAI_API_KEY 的 Key 失败:钥匙环已锁定 (locked)",
                                  kMigratedGroq, kPruned}));
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
