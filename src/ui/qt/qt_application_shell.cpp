#include "ui/qt/qt_application_shell.h"

#include <QApplication>
#include <QCursor>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <utility>

#include "ui/qt/qt_icons.h"

namespace vurin {

namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

QKeySequence shortcutFor(const MenuItem& item) {
    if (item.keyEquivalent.empty()) {
        return {};
    }
    QString text = item.shiftModifier ? "Ctrl+Shift+" : "Ctrl+";
    return QKeySequence(text + qs(item.keyEquivalent).toUpper());
}

}  // namespace

QtStatusItem::QtStatusItem() {
    // The menu opens just before it shows and closes as it hides, whether Qt draws it or the
    // desktop's panel does (over D-Bus); the panel's "opened" and "closed" arrive as these.
    QObject::connect(&menu_, &QMenu::aboutToShow, &menu_, [this] {
        openedAt_.reset();
        applyPendingMenu();
        openedAt_ = std::chrono::steady_clock::now();
    });
    QObject::connect(&menu_, &QMenu::aboutToHide, &menu_, [this] {
        openedAt_.reset();
        // Later: the item whose action closed the menu is still being triggered.
        QMetaObject::invokeMethod(
            &menu_, [this] { applyPendingMenu(); }, Qt::QueuedConnection);
    });
    // Only a context click opens a tray menu by itself; a plain click is the usual way in. Drawn
    // in an X11 tray, the menu opens at the icon; shown by a panel over D-Bus on X11, where the
    // click was (the pointer is known there). A Wayland client knows neither the pointer nor
    // the panel's place: there the panel opens the menu where it wants it, on a context click.
    QObject::connect(&tray_, &QSystemTrayIcon::activated, &menu_,
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         if (reason != QSystemTrayIcon::Trigger || menu_.isVisible() ||
                             QGuiApplication::platformName().startsWith("wayland")) {
                             return;
                         }
                         const QRect icon = tray_.geometry();
                         menu_.popup(icon.isValid() ? icon.bottomLeft() : QCursor::pos());
                     });
    tray_.setContextMenu(&menu_);
    tray_.setIcon(statusIcon(StatusIcon::idle));
    tray_.show();
    shown_ = QSystemTrayIcon::isSystemTrayAvailable();
    hosts_ = std::make_unique<TrayHostWatch>([this] {
        // Once, after the burst of signals a panel's start or exit sends.
        if (!std::exchange(recheckQueued_, true)) {
            QTimer::singleShot(0, &menu_, [this] { recheckShown(); });
        }
    });
}

QtStatusItem::~QtStatusItem() {
    tray_.hide();
}

void QtStatusItem::setIcon(StatusIcon icon) {
    tray_.setIcon(statusIcon(icon));
}

void QtStatusItem::setToolTip(const std::string& toolTip) {
    tray_.setToolTip(qs(toolTip));
}

void QtStatusItem::setMenu(MenuModel menu) {
    pending_ = std::move(menu);
    // Now if closed; else when it closes or, shown by the panel, once its opening counts as over
    // (the margin keeps the timer from coming a moment before that).
    const std::chrono::milliseconds delay =
        isOpen() ? kPanelMenuOpenLimit + std::chrono::milliseconds(100) : std::chrono::seconds(0);
    QTimer::singleShot(delay, Qt::PreciseTimer, &menu_, [this] { applyPendingMenu(); });
}

bool QtStatusItem::shownByDesktop() const {
    return shown_;
}

void QtStatusItem::setShownChangedHandler(std::function<void()> changed) {
    shownChanged_ = std::move(changed);
}

void QtStatusItem::recheckShown() {
    recheckQueued_ = false;
    const bool shown = QSystemTrayIcon::isSystemTrayAvailable();
    if (shown != std::exchange(shown_, shown) && shownChanged_) {
        shownChanged_();
    }
}

// Drawn here, the menu is open while visible. Shown by the panel, it is not visible here: it is
// open from its "opened" to its "closed", but no longer than kPanelMenuOpenLimit.
bool QtStatusItem::isOpen() const {
    return menu_.isVisible() ||
           (openedAt_ && std::chrono::steady_clock::now() - *openedAt_ < kPanelMenuOpenLimit);
}

void QtStatusItem::applyPendingMenu() {
    if (!isOpen() && pending_) {
        fillMenu(menu_, *pending_);
        pending_.reset();
    }
}

void fillMenu(QMenu& menu, const MenuModel& model) {
    for (QMenu* submenu : menu.findChildren<QMenu*>(Qt::FindDirectChildrenOnly)) {
        submenu->deleteLater();
    }
    menu.clear();
    menu.setTitle(qs(model.title));
    for (const MenuItem& item : model.items) {
        if (item.kind == MenuItem::Kind::separator) {
            menu.addSeparator();
            continue;
        }
        QAction* action = menu.addAction(qs(item.title));
        action->setEnabled(item.enabled);
        action->setShortcut(shortcutFor(item));
        if (item.action) {
            QObject::connect(action, &QAction::triggered, [block = item.action] { block(); });
        }
    }
    for (const MenuModel& submenu : model.submenus) {
        fillMenu(*menu.addMenu(qs(submenu.title)), submenu);
    }
}

void QtApplicationShell::setActivationPolicy(ActivationPolicy policy) {
    // A tray process on Linux has no dock entry to show or hide; windows raise themselves when
    // shown. The policy is kept so windows can tell whether the app is in the foreground.
    policy_ = policy;
}

int QtApplicationShell::runModalAlert(const AlertSpec& alert) {
    QMessageBox box;
    box.setWindowTitle("Vurin");
    box.setText(qs(alert.messageText));
    box.setInformativeText(qs(alert.informativeText));
    std::vector<QAbstractButton*> buttons;
    for (std::size_t i = 0; i < alert.buttons.size(); ++i) {
        const auto role = i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole;
        buttons.push_back(box.addButton(qs(alert.buttons[i]), role));
    }
    if (!buttons.empty()) {
        box.setDefaultButton(static_cast<QPushButton*>(buttons.front()));
    }
    box.raise();
    box.activateWindow();
    box.exec();
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        if (box.clickedButton() == buttons[i]) {
            return kAlertFirstButtonReturn + static_cast<int>(i);
        }
    }
    return kAlertFirstButtonReturn + static_cast<int>(buttons.size());
}

void QtApplicationShell::setMainMenu(std::vector<MenuModel>) {
    // X11 desktops have no application menu bar: Qt's text fields bring their own editing
    // shortcuts, and quitting lives in the tray menu.
}

std::shared_ptr<StatusItemView> QtApplicationShell::createStatusItem() {
    return std::make_shared<QtStatusItem>();
}

void QtApplicationShell::terminate() {
    QCoreApplication::quit();
}

}  // namespace vurin
