#include <curl/curl.h>

#include <memory>

#include "app/app_controller.h"
#include "config/config.h"
#include "settings_ui/deployment_settings.h"
#include "settings_ui/latency_chart.h"
#include "settings_ui/local_models_installer.h"
#include "settings_ui/settings_controller.h"
#include "support/history.h"
#include "support/language.h"
#include "support/log.h"
#include "support/runtime_metadata.h"

namespace vurin {

namespace {

struct UrlHandleDeleter {
    void operator()(CURLU* handle) const { curl_url_cleanup(handle); }
};

struct CurlStringDeleter {
    void operator()(char* text) const { curl_free(text); }
};

void logLoginItemState(LoginItemStatus status) {
    switch (status) {
        case LoginItemStatus::notRegistered:
        case LoginItemStatus::notFound:
            log(L("登录时自动启动已关闭", "Launch at login disabled"));
            break;
        case LoginItemStatus::enabled:
            log(L("登录时自动启动已开启", "Launch at login enabled"));
            break;
        case LoginItemStatus::requiresApproval:
            log(L("登录时启动项已登记,等待系统批准",
                  "Launch at login registered; awaiting system approval"));
            break;
    }
}

}  // namespace

std::optional<std::string> supportMailURL(std::string_view appVersion, std::string_view build,
                                          std::string_view systemVersion,
                                          std::string_view architecture) {
    std::unique_ptr<CURLU, UrlHandleDeleter> url(curl_url());
    const std::string base = "https://" + std::string(kWebMailHost) + "/mail/";
    if (!url || curl_url_set(url.get(), CURLUPART_URL, base.c_str(), 0) != CURLUE_OK) {
        return std::nullopt;
    }
    const std::string version(appVersion);
    const std::pair<std::string, std::string> items[] = {
        {"view", "cm"},
        {"fs", "1"},
        {"to", std::string(kSupportEmailAddress)},
        {"su", "Vurin " + version + " — Support"},
        {"body", "\n\n————\nApp: Vurin " + version + " (" + std::string(build) + ")\nLinux: " +
                     std::string(systemVersion) + "  ·  " + std::string(architecture)},
    };
    for (const auto& [name, value] : items) {
        const std::string item = name + "=" + value;
        if (curl_url_set(url.get(), CURLUPART_QUERY, item.c_str(),
                         CURLU_APPENDQUERY | CURLU_URLENCODE) != CURLUE_OK) {
            return std::nullopt;
        }
    }
    char* text = nullptr;
    if (curl_url_get(url.get(), CURLUPART_URL, &text, 0) != CURLUE_OK) {
        return std::nullopt;
    }
    std::unique_ptr<char, CurlStringDeleter> owned(text);
    return std::string(text);
}

void SettingsController::launchAtLoginChanged(bool on) {
    auto& item = *services_.loginItem;
    const auto before = item.status();
    std::optional<std::string> error;
    const bool absent =
        before == LoginItemStatus::notRegistered || before == LoginItemStatus::notFound;
    if (on) {
        if (before == LoginItemStatus::requiresApproval) {
            showLaunchAtLoginApproval();
        } else if (before != LoginItemStatus::enabled) {
            error = item.registerItem();
            if (!error && item.status() == LoginItemStatus::requiresApproval) {
                showLaunchAtLoginApproval();
            }
        }
    } else if (!absent) {
        error = item.unregisterItem();
    }
    if (error) {
        if (item.status() == LoginItemStatus::requiresApproval) {
            showLaunchAtLoginApproval();
        } else {
            showAlert({.messageText = L("无法更新登录时启动项", "Could not update launch at login"),
                       .informativeText = *error});
        }
    }
    const auto after = item.status();
    if (settingsWindow_) {
        settingsWindow_->setOn(
            kSettingsLaunchAtLoginSwitchId,
            after == LoginItemStatus::enabled || after == LoginItemStatus::requiresApproval);
        settingsWindow_->setText(kSettingsLaunchAtLoginSubtitleId, launchAtLoginSubtitle(after));
    }
    logLoginItemState(after);
}

void SettingsController::showLaunchAtLoginApproval() {
    const int answer = showAlert(
        {.messageText = L("需要在桌面设置中批准", "Approval required in your desktop settings"),
         .informativeText = L("系统已记录启动项,但目前不允许它运行。请在桌面设置的“自动启动”中"
                              "启用 Vurin。",
                              "The system registered the autostart entry but does not currently "
                              "allow it to run. Enable Vurin under Autostart in your desktop "
                              "settings."),
         .buttons = {L("打开自动启动设置", "Open Autostart Settings"), L("以后再说", "Later")}});
    if (answer == kAlertFirstButtonReturn && services_.openLoginItemsSettings) {
        services_.openLoginItemsSettings();
    }
}

void SettingsController::clearHistoryData() {
    const int answer = showAlert(
        {.messageText = L("清除全部 Vurin 历史数据?", "Clear all Vurin history data?"),
         .informativeText = L("这会永久删除本机保存的延迟指标和可能存在的转写/润色全文。设置和 Key "
                              "不受影响。",
                              "This permanently deletes local latency metrics and any saved "
                              "transcript/polish text. Settings and keys are not affected."),
         .buttons = {L("清除", "Clear"), L("取消", "Cancel")}});
    if (answer != kAlertFirstButtonReturn) {
        return;
    }
    if (const auto error = clearHistoryFile()) {
        showAlert({.messageText = L("清除失败", "Could not clear history"),
                   .informativeText = error.message()});
        return;
    }
    log("🗑 已清除 Vurin 历史数据");
    refreshLatencyChart();
}

void SettingsController::refreshLatencyChart() {
    if (!settingsWindow_) {
        return;
    }
    const auto records = recentLatencyRecords(historyURL(), kLatencyChartDictations);
    settingsWindow_->setChart(kSettingsLatencyChartId, latencyChart(records));
    settingsWindow_->setText(kSettingsLatencyMediansId,
                             latencyMediansText(latencyMedians(records)));
}

void SettingsController::installLocalModels() {
    ensurePrivateConfigDirectory();
    const auto script = configDir() / "install-local-models.sh";
    // A failed write shows up in the terminal as a missing file.
    writeFilePrivateAtomically(script, localModelsInstallerScript());
    const auto command = localModelsInstallCommand(script);
    if (services_.terminal->runInTerminal(command)) {
        log("▸ 已在终端启动本地模型安装脚本");
        return;
    }
    if (!services_.clipboard) {
        // Nothing was copied, so say only what to run.
        log("⚠️ 无法自动打开终端,请在终端中手动运行安装命令");
        showAlert({.messageText = L("请手动运行安装命令", "Run the install command"),
                   .informativeText =
                       L("请打开终端运行:\n" + command, "Open a terminal and run:\n" + command)});
        return;
    }
    // Both selections: xterm and some other terminals paste the primary one with Shift+Insert.
    services_.clipboard->writeText(ClipboardSelection::clipboard, command);
    services_.clipboard->writeText(ClipboardSelection::primary, command);
    log("⚠️ 无法自动打开终端,已把命令复制到剪贴板,请手动粘贴运行");
    showAlert({.messageText = L("已复制安装命令到剪贴板", "Install command copied"),
               .informativeText =
                   L("请打开终端粘贴运行:\n" + command, "Open a terminal and paste:\n" + command)});
}

void SettingsController::contactSupport() {
    const auto& metadata = runtimeMetadata();
    const auto url = supportMailURL(metadata.appVersion, metadata.appBuild, metadata.macOSVersion,
                                    metadata.architecture);
    if (url) {
        services_.openURL(*url);
    }
}

}  // namespace vurin
