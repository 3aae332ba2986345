#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/menu_model.h"

namespace vurin {

// A modal alert as plain data; the first button is the affirmative one.
struct AlertSpec {
    std::string messageText;
    std::string informativeText;
    std::vector<std::string> buttons;
};

// The result of a modal alert, as the platform numbers it: 1000 for the first button.
constexpr int kAlertFirstButtonReturn = 1000;

enum class ActivationPolicy { regular, accessory };

// What the status icon shows, one picture each: the dictation states, the detection of a new
// trigger key, and the two ways Vurin cannot hear the trigger yet (a permission is missing, or
// the trigger could not be set up).
enum class StatusIcon { idle, recording, transcribing, pendingSend, detectingKey, disabled, error };

// The icon's name: "idle", "recording", "transcribing", "pending", "detecting", "disabled",
// "error" (the desktop knows the picture as "com.vurin.app-" and that name).
const char* statusIconName(StatusIcon icon);

// The status icon: a picture, a tooltip and a menu.
class StatusItemView {
  public:
    virtual ~StatusItemView() = default;
    virtual void setIcon(StatusIcon icon) = 0;
    virtual void setToolTip(const std::string& toolTip) = 0;
    virtual void setMenu(MenuModel menu) = 0;
    // False when the desktop has nowhere to show the icon (no tray or status notifier host).
    // Cheap: the answer is kept, and `changed` is called when it changes (a panel that starts or
    // leaves).
    virtual bool shownByDesktop() const = 0;
    virtual void setShownChangedHandler(std::function<void()> changed) = 0;
};

// The application object: windows' activation, modal alerts, the main menu, termination.
class ApplicationShell {
  public:
    virtual ~ApplicationShell() = default;
    virtual void setActivationPolicy(ActivationPolicy policy) = 0;
    virtual void activateIgnoringOtherApps() = 0;
    // Runs the alert modally and returns kAlertFirstButtonReturn + the chosen button's index.
    virtual int runModalAlert(const AlertSpec& alert) = 0;
    virtual void setMainMenu(std::vector<MenuModel> menus) = 0;
    virtual std::shared_ptr<StatusItemView> createStatusItem() = 0;
    // Asks the event loop to end; shutdown then runs before the process exits.
    virtual void terminate() = 0;
};

}  // namespace vurin
