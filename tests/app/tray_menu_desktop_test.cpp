// The status menu as Qt renders it from the controller's menu model, in both interface
// languages, saved under the build folder's "screenshots" for reviewers.
#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <string>
#include <vector>

#include "support/app_controller_fixture.h"
#include "support/language.h"
#include "support/qt_widgets_testing.h"
#include "ui/qt/qt_application_shell.h"

namespace vurin::testing {
namespace {

class TrayMenuDesktopTest : public AppControllerFixture {
  protected:
    void SetUp() override {
        ensureQtApplication();
        AppControllerFixture::SetUp();
        launch();
    }
    void TearDown() override {
        AppControllerFixture::TearDown();
        applyUILang("zh");
    }
};

TEST_F(TrayMenuDesktopTest, TheRenderedMenuMatchesTheModelInBothLanguagesAndRunsTheActions) {
    for (const char* language : {"zh", "en"}) {
        applyUILang(language);
        controller->rebuildMenu();
        auto menu = renderMenu(shell->statusItem->menu);
        std::vector<std::string> titles;
        for (const QAction* action : menu->actions()) {
            titles.push_back(action->isSeparator() ? "-" : action->text().toStdString());
        }
        EXPECT_EQ(titles, menuTitles());
        menu->popup(QPoint(10, 10));
        saveScreenshot(menu.get(), std::string("tray-menu-") + language);
        menu->hide();
        menu->actions().at(8)->trigger();  // Settings…
    }
    EXPECT_EQ(settings->calls, (std::vector<std::string>{"show", "show"}));
}

}  // namespace
}  // namespace vurin::testing
