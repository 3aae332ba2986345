#include "app/app_controller.h"
#include "settings_ui/deployment_settings.h"
#include "settings_ui/settings_controller.h"
#include "support/language.h"
#include "support/log.h"

namespace vurin {

namespace {

constexpr double kLaunchCheckDelay = 6.0;

AlertSpec upToDateAlert(const std::string& current) {
    return {.messageText = L("已是最新版本", "You're up to date"),
            .informativeText = L("当前 Vurin " + current + " 已是最新。",
                                 "Vurin " + current + " is the latest version."),
            .buttons = {L("好", "OK")}};
}

AlertSpec checkFailedAlert() {
    const std::string host(kProductSiteHost);
    return {.messageText = L("暂时无法检查更新", "Couldn't check for updates"),
            .informativeText = L("请检查网络后重试,或直接访问 " + host + " 查看。",
                                 "Check your connection and try again, or visit " + host + "."),
            .buttons = {L("好", "OK")}};
}

}  // namespace

void SettingsController::checkForUpdatesOnLaunchIfEnabled() {
    auto app = controller();
    if (!app || !app->config().autoCheckUpdates) {
        return;
    }
    launchUpdateCheck_ =
        services_.mainQueue->postAfter(kLaunchCheckDelay, [weak = weak_from_this()] {
            if (auto self = weak.lock()) {
                self->runUpdateCheck(false);
            }
        });
}

void SettingsController::checkForUpdatesMenu() {
    runUpdateCheck(true);
}

void SettingsController::runUpdateCheck(bool userInitiated) {
    services_.updateChecker->check(
        [weak = weak_from_this(), userInitiated](const UpdateCheckResult& result) {
            auto self = weak.lock();
            if (!self) {
                return;
            }
            if (const auto* info = std::get_if<UpdateInfo>(&result)) {
                if (info->isNewer) {
                    self->presentUpdateAvailable(*info);
                } else if (userInitiated) {
                    self->showAlert(upToDateAlert(info->current));
                }
            } else if (userInitiated) {
                self->showAlert(checkFailedAlert());
            }
        });
}

void SettingsController::presentUpdateAvailable(const UpdateInfo& info) {
    const int answer = showAlert(
        {.messageText =
             L("发现新版本 Vurin " + info.latest, "Vurin " + info.latest + " is available"),
         .informativeText = L("你当前是 " + info.current + "。到官网下载最新版覆盖安装即可。",
                              "You're on " + info.current +
                                  ". Download the latest build from the website and replace the "
                                  "app."),
         .buttons = {L("下载", "Download"), L("稍后", "Later")}});
    // The address comes from the network: only a web page may be opened, never a local file
    // or a script URL.
    if (answer == kAlertFirstButtonReturn && isWebURL(info.url)) {
        services_.openURL(info.url);
    }
}

void SettingsController::autoCheckUpdatesChanged(bool on) {
    auto app = controller();
    if (!app) {
        return;
    }
    app->config().autoCheckUpdates = on;
    saveConfig(app->config());
    log(on ? L("已开启:启动时自动检查更新", "Enabled: check for updates on launch")
           : L("已关闭:不再自动检查更新", "Disabled: no automatic update checks"));
}

}  // namespace vurin
