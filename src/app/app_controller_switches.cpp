#include <string>

#include "app/app_controller.h"
#include "local_services/service_constants.h"
#include "providers/provider_catalogue.h"
#include "support/language.h"
#include "support/log.h"

namespace vurin {

LocalService::Callback AppController::readyRefresh() {
    return [weak = weakSelf()] {
        if (auto self = weak.lock()) {
            self->rebuildMenu();
            self->refreshSettingsHealthSummary();
        }
    };
}

void AppController::refreshSettingsHealthSummary() {
    services_.settings->refreshHealthSummary();
}

void AppController::setSTT(bool local) {
    const std::string value = local ? "local" : "cloud";
    if (config_.sttProvider == value) {
        return;
    }
    config_.sttProvider = value;
    saveConfig(config_);
    if (local) {
        log("STT 已切换到本地(whisper),启动 server…");
        services_.localServer->start(readyRefresh());
    } else {
        services_.localServer->stop();
        log("STT 已切换到云端(" + cloudProviderInfo(config_.sttCloudProvider).name + ")");
    }
    rebuildMenu();
    refreshSettingsHealthSummary();
}

void AppController::setPolish(bool local) {
    const std::string value = local ? "local" : "cloud";
    if (config_.polishProvider == value) {
        return;
    }
    config_.polishProvider = value;
    saveConfig(config_);
    if (local) {
        log("润色已切换到本地(" + std::string(ollamaModel) + "),启动 ollama…");
        services_.ollamaServer->start(readyRefresh());
    } else {
        services_.ollamaServer->stop();
        log("润色已切换到云端(" + cloudProviderInfo(config_.polishCloudProvider).name + ")");
    }
    rebuildMenu();
    refreshSettingsHealthSummary();
}

void AppController::quickToggleSTT() {
    setSTT(config_.sttProvider != "local");
}

void AppController::quickTogglePolish() {
    setPolish(config_.polishProvider != "local");
}

void AppController::toggleSendOnClick() {
    config_.sendOnClick = !config_.sendOnClick;
    saveConfig(config_);
    log(std::string("单击发送已") + (config_.sendOnClick ? "开启" : "关闭"));
    rebuildMenu();
}

void AppController::toggleCloudFallback() {
    config_.allowCloudFallback = !config_.allowCloudFallback;
    saveConfig(config_);
    log(config_.allowCloudFallback
            ? L("已开启全局回退:本地未就绪时允许回退云端",
                "Enabled global fallback: local failures may fall back to cloud")
            : L("已关闭全局回退:本地模式不会自动上云",
                "Disabled global fallback: local mode will not auto-fallback to cloud"));
    rebuildMenu();
    refreshSettingsHealthSummary();
    services_.refreshSettingsAfterFallbackChange();
}

void AppController::toggleSaveTextHistory() {
    config_.saveTextHistory = !config_.saveTextHistory;
    saveConfig(config_);
    log(config_.saveTextHistory
            ? L("已开启:history 会保存原文和润色全文",
                "Enabled: history will store raw and polished text")
            : L("已关闭:history 只保存指标,不保存全文", "Disabled: history stores metrics only"));
    rebuildMenu();
}

}  // namespace vurin
