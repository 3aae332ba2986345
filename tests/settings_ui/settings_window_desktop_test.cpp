// The settings window rendered by the Qt renderer on the headless session's display, with a
// screenshot of every tab under the build folder's "screenshots".
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <map>

#include "support/language.h"
#include "support/qt_widgets_testing.h"
#include "support/settings_controller_fixture.h"
#include "ui/qt/qt_window_renderer.h"
#include "ui/qt/qt_window_widgets.h"

namespace vurin::testing {
namespace {

class SettingsWindowDesktop : public SettingsControllerFixture {
  protected:
    void SetUp() override {
        ensureQtApplication();
        renderer = std::make_shared<QtWindowRenderer>();
        SettingsControllerFixture::SetUp();
    }
    void TearDown() override {
        settingsController->windowWillClose();
        settleWidgets();
        SettingsControllerFixture::TearDown();
    }
};

// The longer English texts wrap or are cut short: on every tab the window keeps its width and
// its content fits in it.
TEST_F(SettingsWindowDesktop, EveryTabFitsItsWidth) {
    configure(R"({"sttProvider": "cloud", "allowCloudFallback": true, "uiLang": "en"})");
    applyUILang("en");
    whisperBinaryFound = false;
    settingsController->showSettings();
    auto* shown =
        std::dynamic_pointer_cast<QtWindowView>(settingsController->settingsWindow())->widget();
    for (const auto& [tab, name] :
         {std::pair{0, "general"}, {1, "speech"}, {2, "polish"}, {3, "permissions"}}) {
        settingsController->selectTab(tab);
        settleWidgets();
        EXPECT_EQ(shown->width(), 560) << name;
        EXPECT_LE(shown->minimumSizeHint().width(), 560) << name;
        saveScreenshot(shown, std::string("settings-") + name);
    }
    // A segment is filled with the highlight when it is the chosen one: the display language.
    const QRgb highlight = QApplication::palette().color(QPalette::Highlight).rgb();
    int english = 0;
    std::map<QObject*, int> checked;  // per segmented control
    for (auto* button : shown->findChildren<QAbstractButton*>()) {
        if (auto* segment = dynamic_cast<SegmentButton*>(button)) {
            checked[segment->parent()] += segment->isChecked() ? 1 : 0;
            const QImage image = segment->grab().toImage();
            const QRgb edge = image.pixelColor(image.width() / 8, image.height() / 2).rgb();
            EXPECT_EQ(edge == highlight, segment->isChecked()) << segment->text().toStdString();
            english += segment->isChecked() && segment->text() == QStringLiteral("English");
        }
    }
    EXPECT_EQ(english, 1);  // the speech language is Auto
    EXPECT_EQ(checked.size(), 5U);
    for (const auto& [control, count] : checked) {
        EXPECT_EQ(count, 1);
    }
    // The health line does not fit: it is cut short, the whole line in its tooltip.
    auto* health = dynamic_cast<ElidingLabel*>(shown->findChild<QLabel*>(kSettingsHealthLabelId));
    ASSERT_NE(health, nullptr);
    EXPECT_TRUE(health->text().startsWith(QStringLiteral("Permissions ready")));
    EXPECT_TRUE(health->shownText().endsWith(QStringLiteral("…")));
    EXPECT_EQ(health->toolTip(), health->text());
}

}  // namespace
}  // namespace vurin::testing
