#pragma once

#include <functional>
#include <memory>

#include "app/app_services.h"
#include "app/permission_onboarding.h"
#include "app/window_model.h"
#include "platform/clipboard.h"
#include "settings_ui/settings_controller.h"

namespace vurin {

// What the settings window needs from the platform besides the application's services.
struct SettingsPlatform {
    std::shared_ptr<WindowRenderer> windows;
    // Where the install command goes when no terminal can be opened.
    std::shared_ptr<Clipboard> clipboard;
    // The permission gate's status texts and request actions for the permissions pane; without
    // it the pane shows no status.
    std::shared_ptr<PermissionOnboarding> permissions;
    std::function<void()> startDetectKey;
    // A Wayland session's trigger label and compositor lines (see SettingsServices).
    std::function<std::string()> triggerKeyLabel;
    std::function<CompositorBindingLines()> compositorBindingLines;
    // GNOME's custom shortcuts (see SettingsServices).
    std::shared_ptr<GnomeTriggerShortcuts> gnomeShortcuts;
    std::function<bool()> offerGnomeShortcuts;
    std::function<GnomeTriggerShortcuts::Keys()> gnomeKeys;
};

// Creates the settings controller over the application's services (after their stand-ins are
// filled in) with the XDG autostart entry, the first available terminal, the update checker
// and the browser, and points the services' settings, update and fallback hooks at it. The
// hooks hold it weakly; `services.settings` keeps it alive. Call attach() with the application
// controller once that exists.
std::shared_ptr<SettingsController> installSettingsController(AppServices& services,
                                                              SettingsPlatform platform);

}  // namespace vurin
