#pragma once

#include <QMenu>
#include <QSystemTrayIcon>
#include <memory>

#include "app/application_shell.h"

namespace vurin {

// The tray icon: the state emoji is drawn into the icon, since tray items carry no text.
class QtStatusItem : public StatusItemView {
  public:
    QtStatusItem();
    ~QtStatusItem() override;

    void setTitle(const std::string& title) override;
    void setToolTip(const std::string& toolTip) override;
    void setMenu(MenuModel menu) override;

  private:
    QSystemTrayIcon tray_;
    std::unique_ptr<QMenu> menu_;
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

// Builds a Qt menu from a menu model; actions call back into the model's blocks.
std::unique_ptr<QMenu> renderMenu(const MenuModel& model);

}  // namespace vurin
