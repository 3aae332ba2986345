#include "settings_ui/settings_controller.h"

#include "app/app_controller.h"
#include "providers/provider_runtime_status.h"
#include "support/language.h"

namespace vurin {

std::shared_ptr<SettingsController> SettingsController::create(SettingsServices services) {
    return std::shared_ptr<SettingsController>(new SettingsController(std::move(services)));
}

SettingsController::SettingsController(SettingsServices services)
    : services_(std::move(services)) {}

int SettingsController::showAlert(const AlertSpec& alert) {
    services_.shell->activateIgnoringOtherApps();
    return services_.shell->runModalAlert(alert);
}

void SettingsController::showSettings() {
    auto& shell = *services_.shell;
    shell.setActivationPolicy(ActivationPolicy::regular);
    if (window_) {
        shell.activateIgnoringOtherApps();
        return;
    }
    window_.emplace();
    window_->selectedTab = services_.permissions->allRequiredPermissionsGranted()
                               ? static_cast<int>(SettingsTab::general)
                               : static_cast<int>(SettingsTab::permissions);
    buildPanes();
    refreshSettingsHealthSummary();
    shell.activateIgnoringOtherApps();
}

void SettingsController::closeSettings() {
    if (!window_) {
        return;
    }
    window_.reset();
    settingsProviderFields_.clear();
    services_.shell->setActivationPolicy(ActivationPolicy::accessory);
}

void SettingsController::selectTab(int index) {
    if (!window_ || index < 0 || index >= kSettingsTabCount) {
        return;
    }
    window_->selectedTab = index;
    refreshSettingsHealthSummary();
}

void SettingsController::buildPanes() {
    settingsProviderFields_.clear();
    for (auto& builds : window_->paneBuilds) {
        ++builds;
    }
    if (auto app = controller()) {
        window_->soundVolumeLabel = soundVolumeLabelText(app->config().soundVolume);
    }
    const auto login = services_.loginItem->status();
    window_->launchAtLoginOn =
        login == LoginItemStatus::enabled || login == LoginItemStatus::requiresApproval;
}

void SettingsController::rebuildSettingsPane(SettingsTab tab) {
    if (window_) {
        ++window_->paneBuilds[static_cast<std::size_t>(tab)];
        const std::string prefix = tab == SettingsTab::speech ? "stt:" : "polish:";
        std::erase_if(settingsProviderFields_,
                      [&](const auto& field) { return field.first.starts_with(prefix); });
    }
    refreshSettingsHealthSummary();
}

void SettingsController::rebuildAfterProviderChange() {
    if (auto app = controller()) {
        app->rebuildMenu();
    }
    if (window_) {
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
    if (window_) {
        window_->healthDot = healthDotColour();
    }
}

void SettingsController::refreshSettingsHealthSummary() {
    if (!window_) {
        return;
    }
    window_->healthText = settingsHealthSummaryText();
    refreshHealthDot();
}

}  // namespace vurin
