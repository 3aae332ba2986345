#pragma once

#include <QMenu>
#include <QSystemTrayIcon>
#include <memory>
#include <optional>

#include "app/application_shell.h"

namespace vurin {

// The tray icon: the state emoji is drawn into the icon, since tray items carry no text. A click
// of either button opens the menu. The menu is one object for the icon's life: a rebuild while
// it is open waits until it closes, so the open menu keeps its items and stays open.
class QtStatusItem : public StatusItemView {
  public:
    QtStatusItem();
    ~QtStatusItem() override;

    void setTitle(const std::string& title) override;
    void setToolTip(const std::string& toolTip) override;
    void setMenu(MenuModel menu) override;
    bool shownByDesktop() const override;

    QMenu& menu() { return menu_; }

  private:
    void applyPendingMenu();

    // The menu's handlers use the state, and the icon the menu: the icon goes first.
    std::optional<MenuModel> pending_;
    bool open_ = false;
    QMenu menu_;
    QSystemTrayIcon tray_;
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
