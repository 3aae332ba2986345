#pragma once

// Qt widgets in the desktop tests: the one application object of the test binary, the event
// pumping that lets Qt lay widgets out, finding buttons, and screenshots for reviewers, saved
// next to the test binary under "screenshots" (the build folder).
#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QPixmap>
#include <QPushButton>
#include <QWidget>
#include <filesystem>
#include <string>

namespace vurin::testing {

// One QApplication for the whole test binary: widgets and QClipboard need it, and Qt allows one.
inline void ensureQtApplication() {
    if (QCoreApplication::instance() == nullptr) {
        static int argc = 1;
        static char name[] = "vurin_desktop_tests";
        static char* argv[] = {name, nullptr};
        new QApplication(argc, argv);  // lives as long as the process
    }
}

inline void settleWidgets() {
    for (int i = 0; i < 5; ++i) {
        QApplication::processEvents();
    }
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

inline std::filesystem::path screenshotFolder() {
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    auto folder =
        (error ? std::filesystem::temp_directory_path() : executable.parent_path()) / "screenshots";
    std::filesystem::create_directories(folder);
    return folder;
}

// Saves the widget as NAME.png and checks that something was drawn.
inline void saveScreenshot(QWidget* widget, const std::string& name) {
    ASSERT_NE(widget, nullptr);
    settleWidgets();
    const QPixmap shot = widget->grab();
    ASSERT_FALSE(shot.isNull());
    const auto file = screenshotFolder() / (name + ".png");
    ASSERT_TRUE(shot.save(QString::fromStdString(file.string()), "PNG"));
    EXPECT_GT(std::filesystem::file_size(file), 1000U);
}

// The visible push button with exactly this title, or null.
inline QPushButton* buttonTitled(QWidget* root, const std::string& title) {
    for (QPushButton* button : root->findChildren<QPushButton*>()) {
        if (button->text().toStdString() == title && button->isVisible()) {
            return button;
        }
    }
    return nullptr;
}

}  // namespace vurin::testing
