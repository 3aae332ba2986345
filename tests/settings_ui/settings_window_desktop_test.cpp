// The settings window rendered by the Qt renderer on the headless session's display.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <fstream>

#include "config/config.h"
#include "settings_ui/latency_chart.h"
#include "ui/qt/qt_bar_chart.h"

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

// A day of dictations as the pipeline writes them: local and cloud, polished or not, lines from
// before the whole time was recorded, one cut short by a crash.
void writeHistory(int count) {
    ensurePrivateConfigDirectory();
    std::ofstream out(historyURL());
    for (int i = 0; i < count; ++i) {
        const bool cloud = i % 5 == 3, old = i < 16, unpolished = i % 11 == 7;
        const int stt = cloud ? 420 + (i * 37) % 300 : 700 + (i * 53) % 600;
        const int llm = unpolished ? 3 : cloud ? 380 + (i * 29) % 250 : 500 + (i * 41) % 700;
        nlohmann::json record{{"sttMs", stt},
                              {"llmMs", llm},
                              {"sttSource", cloud ? "Groq" : "本地"},
                              {"polishSource", unpolished ? "未润色"
                                               : cloud    ? "Groq"
                                                          : "本地qwen"}};
        if (!old) {
            record["totalMs"] = stt + llm + 60 + (i * 17) % 90;
        }
        out << record.dump();
        out << (i == 20 ? "\n{\"sttMs\":81\n" : "\n");
    }
}

// The latency card draws the history, in Chinese and English and in the light and dark
// palettes: the speech and polish parts in their colours, a cloud part hatched with the card's
// fill, the card dark in the dark palette; a dictation ending while it is open adds its bar.
// With VURIN_SCREENSHOT_DIR set, each of the four is saved there (scripts/latency-screenshots).
TEST_F(SettingsWindowDesktop, TheLatencyChartDrawsTheHistoryInBothLanguagesAndPalettes) {
    const QPalette light = QApplication::palette();
    const QString screenshots = qEnvironmentVariable("VURIN_SCREENSHOT_DIR");
    for (const std::string language : {"zh", "en"}) {
        for (const bool dark : {false, true}) {
            SCOPED_TRACE(language + (dark ? " dark" : " light"));
            writeHistory(60);
            QApplication::setPalette(dark ? QPalette(QColor(30, 30, 30)) : light);
            configure(R"({"uiLang": ")" + language + R"("})");
            applyUILang(language);
            settingsController->showSettings();
            auto* shown =
                std::dynamic_pointer_cast<QtWindowView>(settingsController->settingsWindow())
                    ->widget();
            settleWidgets();
            auto* chart = shown->findChild<BarChartView*>(kSettingsLatencyChartId);
            ASSERT_NE(chart, nullptr);
            EXPECT_EQ(chart->chart().bars.size(), kLatencyChartDictations);
            QWidget* card = chart;
            while (card && !dynamic_cast<CardFrame*>(card)) {
                card = card->parentWidget();
            }
            ASSERT_NE(card, nullptr);
            const QImage image = card->grab().toImage();
            const WindowTheme theme = WindowTheme::current();
            std::map<QRgb, int> pixels;
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    ++pixels[image.pixel(x, y)];
                }
            }
            EXPECT_GT(pixels[theme.colour(ColourRole::accent).rgb()], 200);
            EXPECT_GT(pixels[theme.colour(ColourRole::green).rgb()], 200);
            EXPECT_EQ(image.pixelColor(4, image.height() / 2).lightness() < 128, dark);
            if (!screenshots.isEmpty()) {
                QDir().mkpath(screenshots);
                const QString name = QString::fromStdString("latency-" + language +
                                                            (dark ? "-dark" : "-light") + ".png");
                EXPECT_TRUE(image.save(screenshots + "/" + name));
            }
            std::ofstream(historyURL(), std::ios::app)
                << R"({"sttMs":9000,"llmMs":1,"sttSource":"本地","polishSource":"未润色"})"
                << "\n";
            settingsController->refreshLatencyChart();
            EXPECT_EQ(chart->chart().bars.back()[0].value, 9000);
            settingsController->windowWillClose();
            settleWidgets();
        }
    }
    QApplication::setPalette(light);
}

}  // namespace
}  // namespace vurin::testing
