#include "settings_ui/settings_wiring.h"

namespace vurin {

namespace {

template <typename Hook>
std::function<void()> forward(std::weak_ptr<SettingsController> weak, Hook hook) {
    return [weak, hook] {
        if (auto live = weak.lock()) {
            hook(*live);
        }
    };
}

}  // namespace

std::shared_ptr<SettingsController> installSettingsController(AppServices& services,
                                                              SettingsPlatform platform) {
    auto loginItem = std::make_shared<XdgAutostartLoginItem>();
    loginItem->updateAtStart();
    SettingsServices settings{
        .mainQueue = services.mainQueue,
        .shell = services.shell,
        .recorder = services.recorder,
        .localServer = services.localServer,
        .ollamaServer = services.ollamaServer,
        .permissions = services.permissions,
        .probes = services.probes,
        .clipboard = std::move(platform.clipboard),
        .loginItem = loginItem,
        .terminal = std::make_shared<SpawnTerminalLauncher>(),
        .updateChecker = std::make_shared<UpdateChecker>(services.mainQueue),
        .openURL = [](const std::string& url) { return openWebURL(url); },
        .windows = std::move(platform.windows),
        .startDetectKey = std::move(platform.startDetectKey),
        .triggerKeyDisplayName = services.triggerKeyDisplayName,
        .triggerKeyLabel = std::move(platform.triggerKeyLabel),
        .compositorBindingLines = std::move(platform.compositorBindingLines),
        .gnomeShortcuts = std::move(platform.gnomeShortcuts),
        .offerGnomeShortcuts = std::move(platform.offerGnomeShortcuts),
        .gnomeKeys = std::move(platform.gnomeKeys),
    };
    if (auto gate = platform.permissions) {
        settings.permissionStatusText = [gate] { return gate->permissionStatusText(); };
        settings.requestAccessibilityPermission = [gate] {
            gate->requestAccessibilityPermission();
        };
        settings.requestInputMonitoringPermission = [gate] {
            gate->requestInputMonitoringPermission();
        };
        settings.requestMicrophonePermission = [gate] { gate->requestMicrophonePermission(); };
    }
    auto controller = SettingsController::create(std::move(settings));
    std::weak_ptr<SettingsController> weak = controller;
    services.settings = controller;
    services.checkForUpdatesMenu =
        forward(weak, [](SettingsController& live) { live.checkForUpdatesMenu(); });
    services.checkForUpdatesOnLaunchIfEnabled =
        forward(weak, [](SettingsController& live) { live.checkForUpdatesOnLaunchIfEnabled(); });
    services.refreshSettingsAfterFallbackChange =
        forward(weak, [](SettingsController& live) { live.refreshSettingsAfterFallbackChange(); });
    return controller;
}

}  // namespace vurin
