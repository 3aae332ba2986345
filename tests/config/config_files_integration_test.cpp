#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <fstream>

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

// Saved privately through a temporary file; what cannot be read or written changes nothing.
TEST_F(ConfigFiles, SavingMakesFolderAndFilePrivateAndAFailureChangesNothing) {
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
    fs::create_directories(configDir() / "occupied" / "inside");
    EXPECT_FALSE(writeFilePrivateAtomically(configDir() / "occupied", "bytes"));
    EXPECT_EQ(entriesIn(configDir()), 2u);
    EXPECT_FALSE(writeFilePrivateAtomically(configDir() / "missing" / "file", "bytes"));
    fs::remove(configURL());
    fs::create_directories(configURL());  // a folder where the file should be
    EXPECT_EQ(loadConfig(), Config());
    fs::remove(configURL());
    const std::string bad = R"({"keyCode": 96, "sendOnClick": "yes"})";
    std::ofstream(configURL()) << bad;
    EXPECT_EQ(loadConfig(), Config());
    saveConfig(Config{.phoneToken = "\xff\xfe"});  // cannot be encoded: the file stays
    EXPECT_EQ(contentOf(configURL()), bad);
}

// Keys move into the keychain once (a refused one at the next launch); the rest stays private.
TEST_F(ConfigFiles, EnvKeysMoveIntoTheKeychainOnce) {
    using Keys = std::map<std::string, std::string>;
    const std::string groq = "🔑 已把 GROQ_API_KEY 从 env 文件迁移进 Keychain";
    const std::string pruned = "🔐 已从旧 env 文件清除完成 Keychain 迁移的云端 Key";
    // clang-format off
    const struct {
        std::optional<std::string> env;
        bool storeRefuses;  // or, with a key already there, the rewrite fails (disk full)
        Keys before, after;
        std::optional<std::string> left;
        Lines logs, nextLaunch;
    } cases[] = {
        {"GROQ_API_KEY=\nOPENAI_API_KEY=sk-1\nHTTP_PROXY=http://proxy\n", false, {},
         {{"OPENAI_API_KEY", "sk-1"}}, "GROQ_API_KEY=\nHTTP_PROXY=http://proxy\n",
         {"🔑 已把 OPENAI_API_KEY 从 env 文件迁移进 Keychain", pruned}, {}},
        {"GEMINI_API_KEY=AIza1\nOPENAI_API_KEY=sk-1\nGROQ_API_KEY=gsk_1\n\t\n", false, {},
         {{"GEMINI_API_KEY", "AIza1"}, {"GROQ_API_KEY", "gsk_1"}, {"OPENAI_API_KEY", "sk-1"}},
         std::nullopt,
         {"🔑 已把 GROQ_API_KEY、OPENAI_API_KEY、GEMINI_API_KEY 从 env 文件迁移进 Keychain",
          pruned}, {}},
        {"GROQ_API_KEY=gsk_file\n", false, {{"GROQ_API_KEY", "gsk_keychain"}},
         {{"GROQ_API_KEY", "gsk_keychain"}}, std::nullopt, {pruned}, {}},
        {"GROQ_API_KEY=gsk_1\n", true, {}, {}, "GROQ_API_KEY=gsk_1\n", {}, {groq, pruned}},
        {"GROQ_API_KEY=gsk_\xff\n", false, {}, {}, "GROQ_API_KEY=gsk_\xff\n", {}, {}},
        {"GROQ_API_KEY=gsk_1\nFOO=bar\n", true, {{"GROQ_API_KEY", "gsk_1"}},
         {{"GROQ_API_KEY", "gsk_1"}}, "GROQ_API_KEY=gsk_1\nFOO=bar\n", {pruned}, {pruned}},
    };
    // clang-format on
    auto store = std::make_shared<FakeSecretStore>();
    installSecretStore(store);
    LogCapture log;
    const auto migrate = [&] {  // what the migration logged, without the keychain's own notes
        log.clear();
        migrateEnvKeysToKeychain();
        Lines lines = log.lines();
        std::erase_if(lines, [](const auto& line) {
            return !line.starts_with("🔑 已把") && !line.starts_with("🔐");
        });
        return lines;
    };
    fs::create_directories(configDir());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.env.value_or("no file"));
        fs::remove(envFileURL());
        if (c.env) {
            std::ofstream(envFileURL(), std::ios::binary) << *c.env;
            fs::permissions(envFileURL(), fs::perms(0644));
        }
        store->items = c.before;
        // A file size limit makes the rewrite fail even for root, who ignores folder modes.
        const bool diskFull = c.storeRefuses && !c.before.empty();
        rlimit previous{};
        ::getrlimit(RLIMIT_FSIZE, &previous);
        const auto handler = std::signal(SIGXFSZ, SIG_IGN);
        if (diskFull) {
            rlimit tiny = previous;
            tiny.rlim_cur = 4;
            ::setrlimit(RLIMIT_FSIZE, &tiny);
        } else if (c.storeRefuses) {
            store->failures["add"] = SecretStatus::locked;
        }
        EXPECT_EQ(migrate(), c.logs);
        ::setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, handler);
        EXPECT_EQ(store->items, c.after);
        EXPECT_EQ(fs::exists(envFileURL()) ? std::optional(contentOf(envFileURL())) : std::nullopt,
                  c.left);
        if (c.left && !diskFull) {  // rewritten privately, or untouched when nothing was finished
            EXPECT_EQ(modeOf(envFileURL()), c.logs.empty() ? 0644u : 0600u);
        }
        store->failures.clear();
        EXPECT_EQ(migrate(), c.nextLaunch);
        if (diskFull) {  // the next launch finishes the clean-up
            EXPECT_EQ(contentOf(envFileURL()), "FOO=bar\n");
        }
    }
    installSecretStore(nullptr);
}

}  // namespace
}  // namespace vurin::testing
