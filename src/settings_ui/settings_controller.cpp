#include "settings_ui/settings_controller.h"

#include <utility>

#include "app/app_controller.h"
#include "providers/provider_runtime_status.h"
#include "support/language.h"

namespace vurin {

namespace {

constexpr double kPermissionRefreshInterval = 1.0;

ColourRole dotColour(HealthDotColour colour) {
    return colour == HealthDotColour::green ? ColourRole::green : ColourRole::orange;
}

}  // namespace

std::shared_ptr<SettingsController> SettingsController::create(SettingsServices services) {
    return std::shared_ptr<SettingsController>(new SettingsController(std::move(services)));
}

SettingsController::SettingsController(SettingsServices services)
    : services_(std::move(services)) {}

int SettingsController::showAlert(const AlertSpec& alert) {
    services_.shell->activateIgnoringOtherApps();
    return services_.shell->runModalAlert(alert);
}

void SettingsController::showSettings(const WindowActivation& activation) {
    if (!services_.windows) {
        return;  // no renderer wired: there is no window to show
    }
    auto& shell = *services_.shell;
    shell.setActivationPolicy(ActivationPolicy::regular);
    if (activation.requested) {
        shell.activateIgnoringOtherApps();
    }
    if (settingsWindow_) {
        settingsWindow_->present(activation);
        return;
    }
    // Opened, it is brought forward once: a desktop's token is good for one activation.
    settingsWindow_ = services_.windows->open(buildSettingsWindow(), activation);
    settingsWindow_->scrollToTop();
    startSettingsPermissionRefreshTimer();
}

void SettingsController::setStatusPanel(std::optional<Card> panel) {
    const bool changed = panel.has_value() || statusPanel_.has_value();
    statusPanel_ = std::move(panel);
    if (settingsWindow_ && changed) {
        settingsWindow_->replaceBanner(statusPanel_);
    }
}

void SettingsController::startSettingsPermissionRefreshTimer() {
    if (settingsPermissionTimer_) {
        settingsPermissionTimer_->invalidate();
    }
    settingsPermissionTimer_ = services_.mainQueue->scheduleRepeating(
        kPermissionRefreshInterval, [weak = weak_from_this()] {
            if (auto self = weak.lock()) {
                self->refreshSettingsPermissionStatus();
            }
        });
}

void SettingsController::windowWillClose() {
    if (settingsPermissionTimer_) {
        settingsPermissionTimer_->invalidate();
        settingsPermissionTimer_.reset();
    }
    settingsProviderFields_.clear();
    if (auto window = std::exchange(settingsWindow_, nullptr)) {
        window->close();
        services_.shell->setActivationPolicy(ActivationPolicy::accessory);
    }
}

void SettingsController::selectTab(int index) {
    if (!settingsWindow_ || index < 0 || index >= kSettingsTabCount) {
        return;
    }
    settingsWindow_->selectTab(index);
    settingsTabChanged(index);
}

void SettingsController::settingsTabChanged(int index) {
    if (!settingsWindow_) {
        return;
    }
    settingsWindow_->scrollToTop();
    if (index == static_cast<int>(SettingsTab::permissions)) {
        refreshSettingsPermissionStatus();
    }
    refreshSettingsHealthSummary();
}

void SettingsController::refreshSettingsPermissionStatus() {
    if (!settingsWindow_ || !services_.permissionStatusText) {
        return;
    }
    const auto status = services_.permissionStatusText();
    settingsWindow_->setText(kSettingsAxStatusId, status.accessibility);
    settingsWindow_->setText(kSettingsInputStatusId, status.inputMonitoring);
    settingsWindow_->setText(kSettingsMicStatusId, status.microphone);
}

void SettingsController::setTriggerKeyLabel(const std::string& text) {
    if (settingsWindow_) {
        settingsWindow_->setText(kSettingsTriggerKeyLabelId, text);
    }
}

void SettingsController::rebuildSettingsPane(SettingsTab tab) {
    if (settingsWindow_ && (tab == SettingsTab::speech || tab == SettingsTab::polish)) {
        const std::string prefix = tab == SettingsTab::speech ? "stt:" : "polish:";
        std::erase_if(settingsProviderFields_,
                      [&](const auto& field) { return field.first.starts_with(prefix); });
        settingsWindow_->replacePane(
            static_cast<int>(tab), tab == SettingsTab::speech ? buildSTTPane() : buildPolishPane());
    }
    refreshSettingsHealthSummary();
}

void SettingsController::rebuildAfterProviderChange() {
    if (auto app = controller()) {
        app->rebuildMenu();
    }
    if (settingsWindow_) {
        rebuildSettingsPane(SettingsTab::speech);
        rebuildSettingsPane(SettingsTab::polish);
    }
}

void SettingsController::saveAndRebuildMenu(AppController& app) {
    saveConfig(app.config());
    app.rebuildMenu();
}

std::string SettingsController::settingsHealthSummaryText() {
    auto app = controller();
    if (!app) {
        return {};
    }
    const bool granted = services_.permissions->allRequiredPermissionsGranted();
    const auto status = providerRuntimeStatus(app->config(), services_.localServer->isReady(),
                                              services_.ollamaServer->isReady());
    std::string text =
        granted ? L("权限已就绪", "Permissions ready") : L("缺少权限", "Permissions missing");
    text += " · " + status.menuLine();
    if (status.needsCloudKey) {
        text += L(" · 缺 Key:", " · Missing key: ") + status.cloudProviderName;
    }
    return text;
}

HealthDotColour SettingsController::healthDotColour() {
    auto app = controller();
    if (!app || !services_.permissions->allRequiredPermissionsGranted()) {
        return HealthDotColour::orange;
    }
    const auto status = providerRuntimeStatus(app->config(), services_.localServer->isReady(),
                                              services_.ollamaServer->isReady());
    return status.needsCloudKey ? HealthDotColour::orange : HealthDotColour::green;
}

void SettingsController::refreshHealthDot() {
    if (settingsWindow_) {
        settingsWindow_->setColour(kSettingsHealthDotId, dotColour(healthDotColour()));
    }
}

void SettingsController::refreshSettingsHealthSummary() {
    if (!settingsWindow_) {
        return;
    }
    settingsWindow_->setText(kSettingsHealthLabelId, settingsHealthSummaryText());
    refreshHealthDot();
}

}  // namespace vurin
