#include "local_services/local_ollama_server.h"

#include <nlohmann/json.hpp>

#include <utility>

#include "providers/polish_clients.h"
#include "support/log.h"

namespace vurin {

namespace {

constexpr double kHealthInterval = 2.0;
constexpr double kHealthWait = 2.5;
constexpr double kModelInterval = 3.0;
constexpr double kModelWait = 3.5;

}  // namespace

bool ollamaTagsListModel(std::string_view body, std::string_view model) {
    const auto reply = nlohmann::json::parse(body, nullptr, false);
    if (!reply.is_object()) {
        return false;
    }
    const auto models = reply.find("models");
    if (models == reply.end() || !models->is_array()) {
        return false;
    }
    bool listed = false;
    for (const auto& entry : *models) {
        if (!entry.is_object()) {
            return false;  // not a list of model records at all
        }
        const auto name = entry.find("name");
        if (name != entry.end() && name->is_string() &&
            name->get_ref<const std::string&>() == model) {
            listed = true;
        }
    }
    return listed;
}

std::shared_ptr<LocalOllamaServer> LocalOllamaServer::create(std::shared_ptr<MainQueue> mainQueue,
                                                             LocalOllamaServerOptions options) {
    return std::shared_ptr<LocalOllamaServer>(
        new LocalOllamaServer(std::move(mainQueue), std::move(options)));
}

LocalOllamaServer::LocalOllamaServer(std::shared_ptr<MainQueue> mainQueue,
                                     LocalOllamaServerOptions options)
    : SupervisedService(
          std::move(mainQueue),
          {.exited = "⚠️ ollama serve 已退出,维护定时器会自动重启",
           .recoveryFailed = "⚠️ ollama 健康检查失败,准备重新启动",
           .launchFailed = "❌ 启动 ollama serve 失败:",
           .starting = "🧠 本地 ollama serve 启动中…",
           .timedOut = "⚠️ 本地 ollama 20 秒内未就绪;稍后会自动重试"},
          options.poll),
      options_(std::move(options)) {}

std::vector<std::pair<std::string, std::string>> LocalOllamaServer::childEnvironmentOverrides() {
    return {{"OLLAMA_FLASH_ATTENTION", "1"}, {"OLLAMA_KV_CACHE_TYPE", "q8_0"}};
}

void LocalOllamaServer::start(Callback onReady) {
    const auto generation = admitStart(false);
    if (!generation) {
        return;
    }
    runInBackground([weak = weakSelf<LocalOllamaServer>(), generation = *generation,
                     onReady = std::move(onReady)] { runStart(weak, generation, onReady); });
}

void LocalOllamaServer::maintain(Callback onReady) {
    bool ready = false;
    std::int64_t generation = 0;
    {
        std::lock_guard guard(stateLock_);
        ready = ready_;
        generation = lifecycle_;
    }
    if (!ready) {
        start(std::move(onReady));
        return;
    }
    runInBackground(
        [weak = weakSelf<LocalOllamaServer>(), generation, onReady = std::move(onReady)] {
            auto self = weak.lock();
            if (!self || self->healthCheck()) {
                return;
            }
            {
                std::lock_guard guard(self->stateLock_);
                if (self->lifecycle_ != generation || !self->ready_) {
                    return;
                }
                self->ready_ = false;
            }
            log("⚠️ ollama 服务已失联,正在自动恢复");
            self->start(onReady);
        });
}

void LocalOllamaServer::runStart(const std::weak_ptr<LocalOllamaServer>& weak,
                                 std::int64_t generation, const Callback& onReady) {
    auto self = weak.lock();
    if (!self) {
        return;
    }
    // Someone's server already answers: use it, launch nothing.
    if (self->healthCheck()) {
        self->finishReady(onReady, generation);
        return;
    }
    const auto executable = self->options_.findExecutable();
    if (!executable) {
        self->failStart(generation, "❌ 找不到 ollama,请先安装本地组件");
        return;
    }
    const auto child =
        ChildProcess::create(*executable, {"serve"}, environmentWith(childEnvironmentOverrides()));
    if (auto answered = launchAndPoll(std::move(self), generation, child)) {
        std::static_pointer_cast<LocalOllamaServer>(answered)->finishReady(onReady, generation);
    }
}

void LocalOllamaServer::finishReady(const Callback& onReady, std::int64_t attempt) {
    if (!modelAvailable()) {
        // The server, if we launched it, keeps running: pulling the model needs it.
        failStart(attempt,
                  "⚠️ 未找到模型 " + std::string(ollamaModel) + ",请安装本地组件");
        return;
    }
    if (!becomeReady(attempt, nullptr, false)) {
        return;
    }
    log("✅ 本地 ollama 就绪(模型 " + std::string(ollamaModel) + ",预热中…)");
    // Loads the model into memory; the request's keep-alive keeps it there. The answer does not
    // matter, and the polish client logs its own failures.
    localPolishWithTiming("测试", shutdown_->requestCancellation());
    // A stop during the warm-up superseded this start: it says nothing more.
    if (!isCurrent(attempt)) {
        return;
    }
    log("✅ 本地润色已预热就绪");
    postToMain(onReady);
}

bool LocalOllamaServer::healthCheck() {
    return loopbackGet(options_.port, "/api/tags", kHealthInterval, kHealthWait).status == 200;
}

bool LocalOllamaServer::modelAvailable() {
    const HttpResult result = loopbackGet(options_.port, "/api/tags", kModelInterval, kModelWait);
    return result.body && ollamaTagsListModel(*result.body, ollamaModel);
}

}  // namespace vurin
