#include "app/app_controller.h"

#include <utility>

#include "providers/provider_runtime_status.h"
#include "support/language.h"
#include "support/log.h"
#include "support/sound.h"

namespace vurin {

std::shared_ptr<AppController> AppController::create(AppServices services) {
    return std::shared_ptr<AppController>(new AppController(std::move(services)));
}

AppController::AppController(AppServices services)
    : services_(std::move(services)),
      engine_(GestureEngine::create(services_.mainQueue)),
      config_(loadConfig()),
      pipelineGeneration_(std::make_shared<PipelineGeneration>()) {}

void AppController::applicationDidFinishLaunching() {
    services_.cleanupStaleRecordingFiles();
    services_.migrateEnvKeysToKeychain();
    applyUILang(config_.uiLang);
    setSoundVolume(static_cast<float>(config_.soundVolume));
    services_.recorder->setOpenFailureHandler([weak = weakSelf(), queue = services_.mainQueue] {
        queue->post([weak] {
            if (auto self = weak.lock()) {
                self->recordingOpenFailed();
            }
        });
    });
    services_.recorder->warmUp(config_.micDevice == "builtin");
    if (services_.start.firstStart) {
        saveConfig(config_);  // the next start is no longer the first
    }
    installMainMenu();
    statusItem_ = services_.shell->createStatusItem();
    statusItem_->setShownChangedHandler([weak = weakSelf()] {
        if (auto self = weak.lock()) {
            self->refreshStatusPanel();
        }
    });
    updateStatusIcon();
    rebuildMenu();
    if (!trayShown()) {
        startWithoutTray();
    } else if (services_.completeStartup) {
        services_.completeStartup(services_.start.activationToken);
    }
    services_.permissions->checkPermissions();
    wireGestures();
    services_.phone->startIfEnabled();
    services_.checkForUpdatesOnLaunchIfEnabled();
    maintainSelectedLocalServices();
    localServiceTimer_ = services_.mainQueue->scheduleRepeating(10.0, [weak = weakSelf()] {
        if (auto self = weak.lock()) {
            self->maintainSelectedLocalServices();
        }
    });
    if (!finishInputSetup()) {
        showPermissionOnboardingLater();
    }
}

void AppController::startWithoutTray() {
    const StartContext& start = services_.start;
    if (start.autostart && !start.firstStart) {
        log("🪟 桌面没有系统托盘:Vurin 在后台运行,不打开窗口;再次启动 "
            "Vurin(应用菜单里的 "
            "Vurin,或 vurin 命令)即可打开它的窗口");
        if (services_.completeStartup) {
            services_.completeStartup(start.activationToken);
        }
        if (services_.requestBackground) {
            services_.requestBackground(
                L("Vurin 在后台等待触发键,按住说话即可输入文字",
                  "Vurin waits in the background for the trigger key: hold it and speak to type"),
                [](BackgroundAnswer answer, const std::string& detail) {
                    switch (answer) {
                        case BackgroundAnswer::allowed:
                            log("✅ 桌面已允许 Vurin 在后台运行");
                            break;
                        case BackgroundAnswer::refused:
                            log("⚠️ 桌面没有允许 Vurin 在后台运行(" + detail + ")");
                            break;
                        case BackgroundAnswer::unavailable:
                            log("⚠️ 无法向桌面申请在后台运行(" + detail + ")");
                            break;
                    }
                });
        }
        return;
    }
    log("⚠️ "
        "桌面没有系统托盘:状态和菜单在设置窗口的顶部,已打开设置窗口");
    // Without the desktop's token the user is somewhere else (a terminal, the login): the window
    // shows without taking the focus.
    services_.settings->showSettings(start.activationToken.empty()
                                         ? WindowActivation::unrequested()
                                         : WindowActivation{.token = start.activationToken});
}

void AppController::showPermissionOnboardingLater() {
    services_.mainQueue->postAfter(0.5, [weak = weakSelf()] {
        if (auto self = weak.lock()) {
            self->services_.permissions->showPermissionOnboarding();
        }
    });
}

void AppController::applicationWillTerminate() {
    if (localServiceTimer_) {
        localServiceTimer_->invalidate();
    }
    endDictationForExit();
    services_.injector->finish();
    services_.localServer->stop();
    services_.ollamaServer->stop();
    services_.phone->forceRelease();
    services_.phone->stop();
}

void AppController::quit() {
    services_.shell->terminate();
}

namespace {

std::string languageName(const std::string& sttLanguage) {
    if (sttLanguage == "auto") {
        return "自动";
    }
    if (sttLanguage == "zh") {
        return "中文";
    }
    if (sttLanguage == "en") {
        return "English";
    }
    return sttLanguage;
}

}  // namespace

bool AppController::finishInputSetup() {
    if (!services_.permissions->allRequiredPermissionsGranted()) {
        setInputProblem(StatusIcon::disabled);
        return false;
    }
    if (!services_.triggerCapture->setupEventTap()) {
        log("❌ 触发键捕获启动失败。触发键可能已被其他程序占用,或无法连接 X11 显示");
        setInputProblem(StatusIcon::error);
        return false;
    }
    setInputProblem(std::nullopt);
    if (didFinishInputSetup_) {
        return true;
    }
    didFinishInputSetup_ = true;
    log("👂 Vurin 就绪(" + services_.triggerKeyDisplayName(config_.keyCode) + ",键码 " +
        std::to_string(config_.keyCode) + ")。长按=说话 单击=发送 双击=取消。" +
        (trayShown() ? "托盘图标可查看状态" : "设置窗口顶部可查看状态"));
    log(std::string("   单击发送:") + (config_.sendOnClick ? "开" : "关") + "  " +
        providerRuntimeStatus(config_, services_.localServer->isReady(),
                              services_.ollamaServer->isReady())
            .menuLine() +
        "  语言:" + languageName(config_.sttLanguage));
    log("   历史指标:" + historyURL().string() +
        "  全文:" + (config_.saveTextHistory ? "保存" : "不保存"));
    return true;
}

void AppController::maintainSelectedLocalServices() {
    const auto onReady = readyRefresh();
    const auto& probes = services_.probes;
    if (config_.sttProvider == "local" && probes.findWhisperServerBin() &&
        probes.whisperModelExists()) {
        services_.localServer->maintain(onReady);
    }
    if (config_.polishProvider == "local" && probes.findOllamaBin() &&
        probes.ollamaModelInstalled()) {
        services_.ollamaServer->maintain(onReady);
    }
}

void AppController::wireGestures() {
    engine_->onLongPressStart = [weak = weakSelf()] {
        if (auto self = weak.lock()) {
            self->startRecording();
        }
    };
    engine_->onLongPressEnd = [weak = weakSelf()] {
        if (auto self = weak.lock()) {
            self->stopAndProcess();
        }
    };
    engine_->onSingleClick = [weak = weakSelf()] {
        if (auto self = weak.lock()) {
            self->handleSingleClick();
        }
    };
    engine_->onDoubleClick = [weak = weakSelf()] {
        if (auto self = weak.lock()) {
            self->cancel();
        }
    };
}

void AppController::setAppState(AppState state) {
    appState_ = state;
    updateStatusIcon();
    services_.phone->broadcast(appStateWireName(state));
}

}  // namespace vurin
