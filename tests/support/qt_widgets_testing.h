#pragma once

// Qt widgets in the desktop tests: the one application object of the test binary, the event
// pumping that lets Qt lay widgets out, and screenshots for reviewers, saved next to the test
// binary under "screenshots" (the build folder).
#include <gtest/gtest.h>

#include <QApplication>
#include <QPixmap>
#include <QWidget>
#include <filesystem>

namespace vurin::testing {

// One QApplication for the whole test binary: widgets and QClipboard need it, and Qt allows one.
inline void ensureQtApplication() {
    static int argc = 1;
    static char name[] = "vurin_desktop_tests";
    static char* argv[] = {name, nullptr};
    [[maybe_unused]] static auto* application = new QApplication(argc, argv);  // never deleted
}

inline void settleWidgets() {
    for (int i = 0; i < 5; ++i) {
        QApplication::processEvents();
    }
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Saves the widget as NAME.png and checks that something was drawn.
inline void saveScreenshot(QWidget* widget, const std::string& name) {
    ASSERT_NE(widget, nullptr);
    settleWidgets();
    const auto folder =
        std::filesystem::read_symlink("/proc/self/exe").parent_path() / "screenshots";
    std::filesystem::create_directories(folder);
    const auto file = folder / (name + ".png");
    ASSERT_TRUE(widget->grab().save(QString::fromStdString(file.string()), "PNG"));
    EXPECT_GT(std::filesystem::file_size(file), 1000U);
}

}  // namespace vurin::testing
