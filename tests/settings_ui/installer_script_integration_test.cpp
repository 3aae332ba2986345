#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "settings_ui/desktop_launch.h"
#include "settings_ui/local_models_installer.h"
#include "support/private_files.h"

namespace vurin::testing {
namespace {

constexpr const char* kModel = "ggml-large-v3-turbo.bin";

// Runs the built-in installer script against stand-in programs: every program it could use
// to install or download something is a stub that records its calls, so nothing is fetched.
class InstallerScriptIntegration : public ::testing::Test {
  protected:
    void SetUp() override {
        if (findExecutable("whisper-server", "/usr/local/bin:/usr/bin:/bin") ||
            findExecutable("ollama", "/usr/local/bin:/usr/bin:/bin")) {
            GTEST_SKIP() << "real local components are installed on this machine";
        }
        root = std::filesystem::temp_directory_path() / "installer-test";
        std::filesystem::remove_all(root);
        for (const char* dir : {"bin", "home", "state"}) {
            std::filesystem::create_directories(root / dir);
        }
        script = root / "install-local-models.sh";
        std::ofstream(script) << localModelsInstallerScript();
        stub("sleep", "exit 0");
        stub("curl", R"SH(echo "$*" >> STATE/curl
out=""; prev=""
for a in "$@"; do
  if [ "$prev" = "-o" ]; then out="$a"; fi
  prev="$a"
done
case "$*" in
  *api/tags*) [ -f STATE/ollama-up ] && exit 0; exit 7 ;;
esac
if [ -n "$out" ]; then truncate -s "$(cat STATE/model-size)" "$out"; fi)SH");
        stub("ollama", R"SH(echo "$*" >> STATE/ollama
case "$1" in
  list) [ -f STATE/ollama-up ] || exit 1
        echo "NAME ID SIZE MODIFIED"
        [ -f STATE/qwen ] && echo "qwen2.5:7b 845dbda0ea48 4.7GB now"
        [ -f STATE/qwen ] || echo "qwen2.5:7b-instruct 1 1 now" ;;
  serve) echo "FA=$OLLAMA_FLASH_ATTENTION KV=$OLLAMA_KV_CACHE_TYPE" >> STATE/ollama ;;
esac
exit 0)SH");
        stub("whisper-server", "exit 0");
        set("model-size", "1000");
    }
    void TearDown() override { std::filesystem::remove_all(root); }

    void stub(const std::string& name, std::string body) {
        const std::string state = (root / "state").string();
        for (auto at = body.find("STATE"); at != std::string::npos; at = body.find("STATE")) {
            body.replace(at, 5, state);
        }
        const auto path = root / "bin" / name;
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        ::chmod(path.c_str(), 0755);
    }
    void set(const std::string& flag, const std::string& value = "") {
        std::ofstream(root / "state" / flag) << value;
    }
    std::string state(const std::string& name) { return contentOf(root / "state" / name); }
    std::filesystem::path modelDir() const { return root / "home/.config/vurin/models"; }
    void putModel() {
        std::filesystem::create_directories(modelDir());
        std::ofstream(modelDir() / kModel) << "model";
    }
    void allReady() {
        putModel();
        set("ollama-up");
        set("qwen");
    }

    // Runs the script; its exit status, with its output in `output`.
    int run() {
        const std::string command =
            "env -i HOME=" + shellQuote((root / "home").string()) +
            " PATH=" + shellQuote((root / "bin").string() + ":/usr/bin:/bin") + " bash " +
            shellQuote(script.string()) + " > " + shellQuote((root / "out").string()) + " 2>&1";
        const int status = std::system(command.c_str());
        output = contentOf(root / "out");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::filesystem::path root;
    std::filesystem::path script;
    std::string output;
};

const std::string kHeading = "=== Vurin 本地组件安装(按缺失项安装,请保持联网)===\n";
const std::string kDone = "\n✅ 完成!Vurin 会自动发现并启动本地组件,无需重启。\n";

TEST_F(InstallerScriptIntegration, PassesShellcheck) {
    if (!findExecutable("shellcheck", "/usr/bin:/usr/local/bin")) {
        GTEST_SKIP() << "shellcheck is not installed";
    }
    EXPECT_EQ(std::system(("shellcheck " + shellQuote(script.string())).c_str()), 0);
}

TEST_F(InstallerScriptIntegration, EverythingReadyInstallsNothing) {
    allReady();
    EXPECT_EQ(run(), 0) << output;
    EXPECT_EQ(output, kHeading + "✅ 本地组件已就绪,无需安装\n");
    EXPECT_EQ(state("curl"), "");
    EXPECT_EQ(state("ollama"), "list\n");
}

TEST_F(InstallerScriptIntegration, MissingWhisperComesFromTheDistribution) {
    allReady();
    std::filesystem::remove(root / "bin" / "whisper-server");
    stub("apt-cache", R"SH(case "$2" in
  whisper.cpp) printf 'whisper.cpp:\n  Installed: (none)\n  Candidate: 1.7.4-1\n' ;;
  *) printf '%s:\n  Installed: (none)\n  Candidate: (none)\n' "$2" ;;
esac)SH");
    stub("sudo", R"SH(exec "$@")SH");
    stub("apt-get", "echo \"$*\" >> STATE/apt\nprintf '#!/bin/sh\\n' > " +
                        shellQuote((root / "bin" / "whisper-server").string()) + "\nchmod 755 " +
                        shellQuote((root / "bin" / "whisper-server").string()));
    EXPECT_EQ(run(), 0) << output;
    EXPECT_EQ(output,
              kHeading + "▸ 安装 whisper-cpp…\n✓ 语音模型已存在\n✓ qwen2.5:7b 已就绪\n" + kDone);
    EXPECT_EQ(state("apt"), "install -y whisper.cpp\n");
}

TEST_F(InstallerScriptIntegration, TooSmallModelIsNotInstalled) {
    set("ollama-up");
    set("qwen");
    EXPECT_EQ(run(), 1) << output;
    EXPECT_EQ(output,
              kHeading + "▸ 下载语音模型(约 1.5GB,支持断点续传)…\n❌ 模型文件大小异常,不会安装\n");
    EXPECT_FALSE(std::filesystem::exists(modelDir() / kModel));
    EXPECT_TRUE(std::filesystem::exists(modelDir() / (std::string(kModel) + ".part")));
    const auto curl = state("curl");
    EXPECT_NE(curl.find("-fL --retry 3 -C - -o " + (modelDir() / kModel).string() +
                        ".part "
                        "https://huggingface.co/ggerganov/whisper.cpp/resolve/main/" +
                        kModel),
              std::string::npos)
        << curl;
}

TEST_F(InstallerScriptIntegration, FullSizeModelIsMovedIntoPlace) {
    set("ollama-up");
    set("qwen");
    set("model-size", "1000000000");
    EXPECT_EQ(run(), 0) << output;
    EXPECT_EQ(output,
              kHeading + "▸ 下载语音模型(约 1.5GB,支持断点续传)…\n✓ qwen2.5:7b 已就绪\n" + kDone);
    EXPECT_EQ(std::filesystem::file_size(modelDir() / kModel), 1000000000U);
    EXPECT_FALSE(std::filesystem::exists(modelDir() / (std::string(kModel) + ".part")));
}

TEST_F(InstallerScriptIntegration, OllamaThatNeverAnswersFailsAfterStartingIt) {
    putModel();
    EXPECT_EQ(run(), 1) << output;
    EXPECT_EQ(output, kHeading + "✓ whisper 已就绪\n▸ 启动 ollama serve…\n❌ ollama 服务启动失败\n");
    EXPECT_NE(state("ollama").find("serve\nFA=1 KV=q8_0\n"), std::string::npos) << state("ollama");
    // The first check and then thirty polls.
    std::istringstream calls(state("curl"));
    int polls = 0;
    for (std::string line; std::getline(calls, line);) {
        polls += line.find("--max-time 2 http://127.0.0.1:11434/api/tags") != std::string::npos;
    }
    EXPECT_EQ(polls, 31);
    EXPECT_TRUE(std::filesystem::exists(root / "home/.config/vurin/ollama-install.log"));
}

TEST_F(InstallerScriptIntegration, RunningOllamaWithoutTheModelPullsIt) {
    putModel();
    set("ollama-up");
    EXPECT_EQ(run(), 0) << output;
    EXPECT_EQ(output, kHeading + "✓ whisper 已就绪\n▸ 拉取润色模型 qwen2.5:7b…\n" + kDone);
    EXPECT_EQ(state("ollama"), "list\npull qwen2.5:7b\n");
}

}  // namespace
}  // namespace vurin::testing
