// The settings window rendered by the Qt renderer on the headless session's display.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>

#include "support/language.h"
#include "support/qt_widgets_testing.h"
#include "support/settings_controller_fixture.h"
#include "ui/qt/qt_window_renderer.h"
#include "ui/qt/qt_window_widgets.h"

namespace vurin::testing {
namespace {

struct SettingsWindowDesktop : SettingsControllerFixture {
    SettingsWindowDesktop() {
        ensureQtApplication();
        renderer = std::make_shared<QtWindowRenderer>();
    }
};

// In English each tab fits the width, one highlighted segment per control, an elided health line.
TEST_F(SettingsWindowDesktop, EveryTabFitsItsWidthAndShowsItsChoices) {
    configure(R"({"sttProvider": "cloud", "allowCloudFallback": true, "uiLang": "en"})");
    applyUILang("en");
    whisperBinaryFound = false;
    settingsController->showSettings();
    auto* shown =
        std::dynamic_pointer_cast<QtWindowView>(settingsController->settingsWindow())->widget();
    for (int tab = 0; tab < 4; ++tab) {
        settingsController->selectTab(tab);
        settleWidgets();
        EXPECT_EQ(shown->width(), 560) << tab;
        EXPECT_LE(shown->minimumSizeHint().width(), 560) << tab;
    }
    const QRgb highlight = QApplication::palette().color(QPalette::Highlight).rgb();
    int checked = 0;
    for (auto* button : shown->findChildren<QAbstractButton*>()) {
        if (auto* segment = dynamic_cast<SegmentButton*>(button)) {
            const QImage image = segment->grab().toImage();
            const QRgb edge = image.pixelColor(image.width() / 8, image.height() / 2).rgb();
            EXPECT_EQ(edge == highlight, segment->isChecked()) << segment->text().toStdString();
            checked += segment->isChecked() ? 1 : 0;
        }
    }
    EXPECT_EQ(checked, 5);
    auto* health = dynamic_cast<ElidingLabel*>(shown->findChild<QLabel*>(kSettingsHealthLabelId));
    ASSERT_NE(health, nullptr);
    EXPECT_TRUE(health->shownText().endsWith(QStringLiteral("…")));
    EXPECT_EQ(health->toolTip(), health->text());
    settingsController->windowWillClose();
    settleWidgets();
}

}  // namespace
}  // namespace vurin::testing
