// The settings window rendered by the Qt renderer on the headless session's display: the secure
// key field, a key typed and saved through the real widgets, and a screenshot of every tab in
// the light and the dark palette under the build folder's "screenshots".
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <map>
#include <vector>

#include "support/language.h"
#include "support/qt_widgets_testing.h"
#include "support/settings_controller_fixture.h"
#include "ui/qt/qt_window_renderer.h"
#include "ui/qt/qt_window_widgets.h"

namespace vurin::testing {
namespace {

void settle() {
    settleWidgets();
}

std::vector<SegmentButton*> segmentsIn(QWidget* root) {
    // The widgets carry no meta-object of their own: findChildren would match any button.
    std::vector<SegmentButton*> segments;
    for (QAbstractButton* button : root->findChildren<QAbstractButton*>()) {
        if (auto* segment = dynamic_cast<SegmentButton*>(button)) {
            segments.push_back(segment);
        }
    }
    return segments;
}

QWidget* page(QWidget* window, int index) {
    for (QWidget* child : window->findChildren<QWidget*>()) {
        if (child->property("vurinPage") == index) {
            return child;
        }
    }
    return nullptr;
}

// Every segmented control has exactly one checked segment; the display language's (on the
// General page) is `selected`, filled with the palette's highlight while its neighbours are not.
void expectLanguageSegmentSelected(QWidget* window, const QString& selected) {
    std::map<QObject*, int> checkedPerControl;
    for (SegmentButton* segment : segmentsIn(window)) {
        checkedPerControl[segment->parent()] += segment->isChecked() ? 1 : 0;
    }
    ASSERT_GE(checkedPerControl.size(), 4U);
    for (const auto& [control, checked] : checkedPerControl) {
        EXPECT_EQ(checked, 1);
    }
    QWidget* general = page(window, 0);
    ASSERT_NE(general, nullptr);
    SegmentButton* language = nullptr;
    SegmentButton* other = nullptr;
    for (SegmentButton* segment : segmentsIn(general)) {
        if (segment->text() == QStringLiteral("中文")) {
            for (SegmentButton* sibling : segmentsIn(segment->parentWidget())) {
                (sibling->text() == selected ? language : other) = sibling;
            }
        }
    }
    ASSERT_NE(language, nullptr);
    ASSERT_NE(other, nullptr);
    EXPECT_TRUE(language->isChecked());
    EXPECT_FALSE(other->isChecked());
    const QColor highlight = QApplication::palette().color(QPalette::Highlight);
    const auto pixelNearEdge = [](SegmentButton* segment) {
        const QImage image = segment->grab().toImage();
        return image.pixelColor(image.width() / 8, image.height() / 2);
    };
    EXPECT_EQ(pixelNearEdge(language).rgb(), highlight.rgb());
    EXPECT_NE(pixelNearEdge(other).rgb(), highlight.rgb());
}

class SettingsWindowDesktop : public SettingsControllerFixture {
  protected:
    void SetUp() override {
        ensureQtApplication();
        renderer = std::make_shared<QtWindowRenderer>();
        SettingsControllerFixture::SetUp();
    }
    void TearDown() override {
        if (settingsController && settingsController->isSettingsOpen()) {
            settingsController->windowWillClose();
        }
        settle();
        SettingsControllerFixture::TearDown();
    }

    QWidget* shown() const {
        auto view = std::dynamic_pointer_cast<QtWindowView>(settingsController->settingsWindow());
        return view ? view->widget() : nullptr;
    }

    void screenshotEveryTab(const std::string& theme) {
        static const char* names[] = {"general", "speech", "polish", "permissions"};
        for (int tab = 0; tab < 4; ++tab) {
            settingsController->selectTab(tab);
            settle();
            QWidget* window = shown();
            ASSERT_NE(window, nullptr);
            // Long texts wrap or are cut short: the window keeps its width and its content
            // fits in it.
            EXPECT_EQ(window->width(), 560) << names[tab] << " " << theme;
            EXPECT_LE(window->minimumSizeHint().width(), 560) << names[tab] << " " << theme;
            saveScreenshot(window, "settings-" + std::string(names[tab]) + "-" + theme);
        }
    }
};

TEST_F(SettingsWindowDesktop, KeyTypedIntoTheSecureFieldIsSavedAndNeverShown) {
    controller->config().sttProvider = "cloud";
    settingsController->showSettings();
    settingsController->selectTab(1);
    settle();
    QWidget* window = shown();
    ASSERT_NE(window, nullptr);
    auto* field = window->findChild<QLineEdit*>(
        QString::fromStdString(std::string(kSettingsKeyFieldIdPrefix) + "stt:groq"));
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->echoMode(), QLineEdit::Password);
    EXPECT_EQ(field->placeholderText().toStdString(), "gsk_…");
    // The field takes the row's width beside its two buttons.
    EXPECT_GE(field->width(), 220);
    field->setText(" gsk-typed ");
    QPushButton* save = buttonTitled(window, "保存 Key");
    ASSERT_NE(save, nullptr);
    save->click();
    settle();
    EXPECT_EQ(keychain->value("GROQ_API_KEY"), "gsk-typed");
    // The pane was rebuilt: an empty field that says a key is stored.
    window = shown();
    field = window->findChild<QLineEdit*>(
        QString::fromStdString(std::string(kSettingsKeyFieldIdPrefix) + "stt:groq"));
    ASSERT_NE(field, nullptr);
    EXPECT_TRUE(field->text().isEmpty());
    EXPECT_EQ(field->placeholderText().toStdString(), "输入新 Key 后点替换");
    EXPECT_NE(buttonTitled(window, "替换 Key"), nullptr);
}

TEST_F(SettingsWindowDesktop, EveryTabInLightAndDark) {
    controller->config().sttProvider = "cloud";
    controller->config().allowCloudFallback = true;
    controller->config().uiLang = "zh";
    whisperBinaryFound = false;
    settingsController->showSettings();
    screenshotEveryTab("light");
    expectLanguageSegmentSelected(shown(), QStringLiteral("中文"));
    settingsController->windowWillClose();

    const QPalette light = QApplication::palette();
    QPalette dark = light;
    dark.setColor(QPalette::Window, QColor(30, 30, 30));
    dark.setColor(QPalette::WindowText, QColor(235, 235, 235));
    dark.setColor(QPalette::Base, QColor(45, 45, 45));
    dark.setColor(QPalette::Text, QColor(235, 235, 235));
    dark.setColor(QPalette::Button, QColor(55, 55, 55));
    dark.setColor(QPalette::ButtonText, QColor(235, 235, 235));
    QApplication::setPalette(dark);
    controller->config().uiLang = "en";
    applyUILang("en");
    settingsController->showSettings();
    EXPECT_LT(shown()->palette().color(QPalette::Window).lightness(), 64);
    screenshotEveryTab("dark");
    expectLanguageSegmentSelected(shown(), QStringLiteral("English"));
    // The English health line does not fit: it is cut short, the whole line in its tooltip.
    auto* health = dynamic_cast<ElidingLabel*>(shown()->findChild<QLabel*>(kSettingsHealthLabelId));
    ASSERT_NE(health, nullptr);
    if (health->shownText() != health->text()) {
        EXPECT_TRUE(health->shownText().endsWith(QStringLiteral("…")));
        EXPECT_EQ(health->toolTip(), health->text());
    } else {
        EXPECT_TRUE(health->toolTip().isEmpty());
    }
    EXPECT_TRUE(health->text().startsWith(QStringLiteral("Permissions ready")));
    QApplication::setPalette(light);
}

}  // namespace
}  // namespace vurin::testing
