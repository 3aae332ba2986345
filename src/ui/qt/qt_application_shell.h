#pragma once

#include <QMenu>
#include <QSystemTrayIcon>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "app/application_shell.h"
#include "ui/qt/tray_host_watch.h"

namespace vurin {

// The tray icon: Vurin's picture for each status. A click of either button opens the menu (on
// Wayland the panel opens it, on a context click). The menu is one object for the icon's life: a
// rebuild while it is open waits until it closes, so the open menu keeps its items and stays
// open. A menu the panel shows over D-Bus may be announced as opening and never as closed (some
// panels ask for the layout ahead): there the rebuild waits at most kPanelMenuOpenLimit.
class QtStatusItem : public StatusItemView {
  public:
    QtStatusItem();
    ~QtStatusItem() override;

    void setIcon(StatusIcon icon) override;
    void setToolTip(const std::string& toolTip) override;
    void setMenu(MenuModel menu) override;
    bool shownByDesktop() const override;
    void setShownChangedHandler(std::function<void()> changed) override;

    QMenu& menu() { return menu_; }

    static constexpr std::chrono::seconds kPanelMenuOpenLimit{5};

  private:
    bool isOpen() const;
    void applyPendingMenu();
    void recheckShown();

    // The menu's handlers use the state, and the icon the menu: the icon goes first.
    std::optional<MenuModel> pending_;
    std::optional<std::chrono::steady_clock::time_point> openedAt_;
    QMenu menu_;
    QSystemTrayIcon tray_;
    bool shown_ = false;
    bool recheckQueued_ = false;
    std::function<void()> shownChanged_;
    std::unique_ptr<TrayHostWatch> hosts_;
};

class QtApplicationShell : public ApplicationShell {
  public:
    void setActivationPolicy(ActivationPolicy policy) override;
    void activateIgnoringOtherApps() override {}
    int runModalAlert(const AlertSpec& alert) override;
    void setMainMenu(std::vector<MenuModel> menus) override;
    std::shared_ptr<StatusItemView> createStatusItem() override;
    void terminate() override;

    ActivationPolicy activationPolicy() const { return policy_; }

  private:
    ActivationPolicy policy_ = ActivationPolicy::accessory;
};

// Replaces `menu`'s items with the model's; actions call back into the model's blocks.
void fillMenu(QMenu& menu, const MenuModel& model);

}  // namespace vurin
