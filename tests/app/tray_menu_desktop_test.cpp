// The status menu as Qt renders it from the controller's menu model, in both interface
// languages, saved under the build folder's "screenshots" for reviewers.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <memory>
#include <string>
#include <vector>

#include "support/app_controller_fixture.h"
#include "support/language.h"
#include "support/qt_widgets_testing.h"
#include "ui/qt/qt_application_shell.h"

namespace vurin {
namespace {

std::vector<std::string> renderedTitles(const QMenu& menu) {
    std::vector<std::string> titles;
    for (const QAction* action : menu.actions()) {
        titles.push_back(action->isSeparator() ? "-" : action->text().toStdString());
    }
    return titles;
}

class TrayMenuDesktopTest : public testing::AppControllerFixture {
  protected:
    void SetUp() override {
        testing::ensureQtApplication();
        AppControllerFixture::SetUp();
    }

    void TearDown() override {
        AppControllerFixture::TearDown();
        applyUILang("zh");
    }

    // Renders the current status menu, shows it as a pop-up and saves its picture.
    void renderAndSave(const std::string& name) {
        auto menu = renderMenu(shell->statusItem->menu);
        ASSERT_TRUE(menu);
        EXPECT_EQ(renderedTitles(*menu), menuTitles());
        menu->popup(QPoint(10, 10));
        testing::saveScreenshot(menu.get(), name);
        menu->hide();
    }
};

TEST_F(TrayMenuDesktopTest, TheRenderedMenuMatchesTheModelInBothLanguages) {
    launch();
    ASSERT_FALSE(menuTitles().empty());
    renderAndSave("tray-menu-zh");

    applyUILang("en");
    controller->rebuildMenu();
    queue->runPending();
    renderAndSave("tray-menu-en");
}

TEST_F(TrayMenuDesktopTest, ChoosingAnItemRunsItsAction) {
    launch();
    auto menu = renderMenu(shell->statusItem->menu);
    ASSERT_TRUE(menu);
    QAction* settingsItem = nullptr;
    for (QAction* action : menu->actions()) {
        if (action->text() == QStringLiteral("设置…")) {
            settingsItem = action;
        }
    }
    ASSERT_NE(settingsItem, nullptr);
    settings->calls.clear();
    settingsItem->trigger();
    queue->runPending();
    EXPECT_EQ(settings->calls, std::vector<std::string>{"show"});
}

}  // namespace
}  // namespace vurin
