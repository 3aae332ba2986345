#pragma once

// Screenshots of real widgets for reviewers, saved next to the desktop test binary under
// "screenshots" (the build folder), and the event pumping that lets Qt lay them out first.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPixmap>
#include <QWidget>
#include <filesystem>
#include <string>

namespace vurin::testing {

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

}  // namespace vurin::testing
