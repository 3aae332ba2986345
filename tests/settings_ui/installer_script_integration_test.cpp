#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "settings_ui/desktop_launch.h"
#include "settings_ui/local_models_installer.h"
#include "support/private_files.h"

namespace vurin::testing {
namespace {

namespace fs = std::filesystem;

// Runs the built-in installer script against stand-in programs: every program it could use to
// install or download something is a stub that records its calls, so nothing is fetched.
class InstallerScriptIntegration : public ::testing::Test {
  protected:
    void SetUp() override {
        if (findExecutable("whisper-server", "/usr/local/bin:/usr/bin:/bin") ||
            findExecutable("ollama", "/usr/local/bin:/usr/bin:/bin")) {
            GTEST_SKIP() << "real local components are installed on this machine";
        }
        fs::remove_all(root);
        fs::create_directories(root / "bin");
        fs::create_directories(root / "state");
        std::ofstream(root / "install.sh") << localModelsInstallerScript();
        stub("sleep", "");
        stub("whisper-server", "");
        stub("curl", R"SH(echo "$*" >> STATE/curl
case "$*" in *api/tags*) [ -f STATE/ollama-up ]; exit $? ;; esac
for a in "$@"; do
  [ "$prev" = "-o" ] && truncate -s "$(cat STATE/model-size)" "$a"
  prev="$a"
done)SH");
        stub("ollama", R"SH(echo "$*" >> STATE/ollama
case "$1" in
  list) [ -f STATE/ollama-up ] || exit 1
        echo "NAME ID SIZE MODIFIED"
        [ -f STATE/qwen ] && echo "qwen2.5:7b 845dbda0ea48 4.7GB now"
        echo "qwen2.5:7b-instruct 1 1 now" ;;
  serve) echo "FA=$OLLAMA_FLASH_ATTENTION KV=$OLLAMA_KV_CACHE_TYPE" >> STATE/ollama ;;
esac)SH");
        set("model-size", "1000");
    }
    void TearDown() override { fs::remove_all(root); }

    void stub(const std::string& name, std::string body) {
        for (auto at = body.find("STATE"); at != std::string::npos; at = body.find("STATE")) {
            body.replace(at, 5, (root / "state").string());
        }
        std::ofstream(root / "bin" / name) << "#!/bin/sh\n" << body << "\nexit 0\n";
        ::chmod((root / "bin" / name).c_str(), 0755);
    }
    void set(const std::string& flag, const std::string& value = "") {
        std::ofstream(root / "state" / flag) << value;
    }
    std::string state(const std::string& name) { return contentOf(root / "state" / name); }
    // Puts a speech model in place ("model") or sets a flag of the stand-ins.
    void given(std::initializer_list<std::string> flags) {
        for (const auto& flag : flags) {
            if (flag == "model") {
                fs::create_directories(model.parent_path());
                std::ofstream(model) << "model";
            } else {
                set(flag);
            }
        }
    }
    // The script's exit status; what it printed goes to `output`.
    int run() {
        const std::string command =
            "env -i HOME=" + shellQuote((root / "home").string()) +
            " PATH=" + shellQuote((root / "bin").string() + ":/usr/bin:/bin") + " bash " +
            shellQuote((root / "install.sh").string()) + " > " +
            shellQuote((root / "out").string()) + " 2>&1";
        const int status = std::system(command.c_str());
        output = contentOf(root / "out");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    const fs::path root = fs::temp_directory_path() / "installer-test";
    const fs::path model = root / "home/.config/vurin/models/ggml-large-v3-turbo.bin";
    std::string output;
};

TEST_F(InstallerScriptIntegration, PassesShellcheck) {
    ASSERT_TRUE(findExecutable("shellcheck", "/usr/bin:/usr/local/bin"));  // scripts/install-deps
    EXPECT_EQ(std::system(("shellcheck " + shellQuote((root / "install.sh").string())).c_str()), 0);
}

TEST_F(InstallerScriptIntegration, InstallsOnlyWhatIsMissing) {
    const std::string done = "\n✅ 完成!Vurin 会自动发现并启动本地组件,无需重启。\n";
    const std::string download = "▸ 下载语音模型(约 1.5GB,支持断点续传)…\n";
    const struct {
        const char* name;
        std::function<void()> setUp;
        int status;
        std::string output;
        std::function<void()> check;
    } cases[] = {
        {"all ready",
         [&] {
             given({"model", "ollama-up", "qwen"});
         },
         0, "✅ 本地组件已就绪,无需安装\n",
         [&] { EXPECT_EQ(state("curl") + state("ollama"), "list\n"); }},
        {"whisper from the distribution",
         [&] {
             given({"model", "ollama-up", "qwen"});
             fs::remove(root / "bin" / "whisper-server");
             stub("apt-cache", R"SH(if [ "$2" = whisper.cpp ]; then echo "  Candidate: 1.7.4-1"
else echo "  Candidate: (none)"; fi)SH");
             stub("sudo", R"SH(exec "$@")SH");
             const auto server = shellQuote((root / "bin" / "whisper-server").string());
             stub("apt-get", "echo \"$*\" >> STATE/apt\necho '#!/bin/sh' > " + server +
                                 "\nchmod 755 " + server);
         },
         0, "▸ 安装 whisper-cpp…\n✓ 语音模型已存在\n✓ qwen2.5:7b 已就绪\n" + done,
         [&] { EXPECT_EQ(state("apt"), "install -y whisper.cpp\n"); }},
        {"a model too small is not installed",
         [&] {
             given({"ollama-up", "qwen"});
         },
         1, download + "❌ 模型文件大小异常,不会安装\n",
         [&] {
             EXPECT_FALSE(fs::exists(model));
             EXPECT_NE(state("curl").find("-fL --retry 3 -C - -o " + model.string() +
                                          ".part https://huggingface.co/ggerganov/whisper.cpp/"
                                          "resolve/main/ggml-large-v3-turbo.bin"),
                       std::string::npos);
         }},
        {"a whole model is moved into place",
         [&] {
             given({"ollama-up", "qwen"});
             set("model-size", "1000000000");
         },
         0, download + "✓ qwen2.5:7b 已就绪\n" + done,
         [&] {
             EXPECT_EQ(fs::file_size(model), 1000000000U);
             EXPECT_FALSE(fs::exists(model.string() + ".part"));
         }},
        {"ollama never answers", [&] { given({"model"}); }, 1,
         "✓ whisper 已就绪\n▸ 启动 ollama serve…\n❌ ollama 服务启动失败\n",
         [&] {
             EXPECT_NE(state("ollama").find("serve\nFA=1 KV=q8_0\n"), std::string::npos);
             const std::string poll = "--max-time 2 http://127.0.0.1:11434/api/tags\n";
             int polls = 0;  // the first check and then thirty
             for (auto at = state("curl").find(poll); at != std::string::npos;
                  at = state("curl").find(poll, at + 1)) {
                 ++polls;
             }
             EXPECT_EQ(polls, 31);
             EXPECT_TRUE(fs::exists(root / "home/.config/vurin/ollama-install.log"));
         }},
        {"a running ollama pulls the model",
         [&] {
             given({"model", "ollama-up"});
         },
         0, "✓ whisper 已就绪\n▸ 拉取润色模型 qwen2.5:7b…\n" + done,
         [&] { EXPECT_EQ(state("ollama"), "list\npull qwen2.5:7b\n"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        c.setUp();
        EXPECT_EQ(run(), c.status);
        EXPECT_EQ(output, "=== Vurin 本地组件安装(按缺失项安装,请保持联网)===\n" + c.output);
        c.check();
    }
}

}  // namespace
}  // namespace vurin::testing
