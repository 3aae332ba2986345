#include "local_services/local_whisper_server.h"

#include <sys/wait.h>

#include <system_error>
#include <utility>

#include "support/log.h"

namespace vurin {

namespace {

constexpr double kHealthInterval = 2.0;
constexpr double kHealthWait = 2.5;
constexpr double kPortReleasePause = 0.3;

}  // namespace

std::shared_ptr<LocalWhisperServer> LocalWhisperServer::create(std::shared_ptr<MainQueue> mainQueue,
                                                               LocalWhisperServerOptions options) {
    return std::shared_ptr<LocalWhisperServer>(
        new LocalWhisperServer(std::move(mainQueue), std::move(options)));
}

LocalWhisperServer::LocalWhisperServer(std::shared_ptr<MainQueue> mainQueue,
                                       LocalWhisperServerOptions options)
    : SupervisedService(
          std::move(mainQueue),
          {.exited = "⚠️ whisper-server 已退出,维护定时器会自动重启",
           .recoveryFailed = "⚠️ whisper-server 健康检查失败,准备重新启动",
           .launchFailed = "❌ 启动 whisper-server 失败:",
           .starting = "🧠 本地 whisper-server 启动中(加载模型约 1 秒)…",
           .timedOut = "⚠️ 本地 whisper-server 20 秒内未就绪;稍后会自动重试"},
          options.poll),
      options_(std::move(options)) {}

void LocalWhisperServer::start(Callback onReady) {
    const auto generation = admitStart(true);
    if (!generation) {
        return;
    }
    const auto executable = options_.findExecutable();
    if (!executable) {
        failStart(*generation, "❌ 找不到 whisper-server,请先安装本地组件");
        return;
    }
    std::error_code ignored;
    const auto model = options_.modelPath();
    if (!std::filesystem::exists(model, ignored)) {
        failStart(*generation, "❌ 找不到模型 " + model.string());
        return;
    }
    runInBackground(
        [weak = weakSelf<LocalWhisperServer>(), executable = *executable, generation = *generation,
         onReady = std::move(onReady)] { launch(weak, executable, generation, onReady); });
}

void LocalWhisperServer::launch(const std::weak_ptr<LocalWhisperServer>& weak,
                                const std::filesystem::path& executable, std::int64_t generation,
                                const Callback& onReady) {
    auto self = weak.lock();
    if (!self) {
        return;
    }
    self->killOrphans();
    const std::string port = std::to_string(self->options_.port);
    const auto child = ChildProcess::create(
        executable, {"-m", self->options_.modelPath().string(), "--port", port, "-l", "auto"});
    const auto server = std::static_pointer_cast<LocalWhisperServer>(
        launchAndPoll(std::move(self), generation, child));
    if (server && server->becomeReady(generation, child, true)) {
        log("✅ 本地 whisper-server 就绪(端口 " + std::to_string(server->options_.port) + ")");
        server->postToMain(onReady);
    }
}

bool LocalWhisperServer::healthCheck() {
    return loopbackGet(options_.port, "/", kHealthInterval, kHealthWait).status > 0;
}

void LocalWhisperServer::killOrphans() {
    auto pkill = ChildProcess::create(
        options_.pkill, {"-f", "whisper-server .*port " + std::to_string(options_.port)});
    if (pkill->launch()) {
        return;  // no pkill: launch anyway, the new server reports a busy port by not answering
    }
    const int status = pkill->waitUntilExit();
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        shutdown_->pause(kPortReleasePause);
    }
}

}  // namespace vurin
