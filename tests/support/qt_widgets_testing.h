#pragma once

// Qt widgets in the desktop tests: one application object, and events pumped for the layout.
#include <QApplication>

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

}  // namespace vurin::testing
