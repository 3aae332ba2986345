#include "ui/qt/qt_application_shell.h"

#include <QApplication>
#include <QFont>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>

#include "support/log.h"

namespace vurin {

namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

QIcon emojiIcon(const std::string& emoji) {
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    QFont font = painter.font();
    font.setPixelSize(52);
    painter.setFont(font);
    painter.drawText(pixmap.rect(), Qt::AlignCenter, qs(emoji));
    return QIcon(pixmap);
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
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        log("⚠️ 桌面没有系统托盘,状态图标不会显示");
    }
    tray_.setIcon(emojiIcon("🎙️"));
    tray_.show();
}

QtStatusItem::~QtStatusItem() {
    tray_.hide();
}

void QtStatusItem::setTitle(const std::string& title) {
    tray_.setIcon(emojiIcon(title));
}

void QtStatusItem::setToolTip(const std::string& toolTip) {
    tray_.setToolTip(qs(toolTip));
}

void QtStatusItem::setMenu(MenuModel menu) {
    // The old menu may be open right now; it keeps showing until closed, then goes away.
    auto replacement = renderMenu(menu);
    tray_.setContextMenu(replacement.get());
    if (menu_) {
        menu_.release()->deleteLater();
    }
    menu_ = std::move(replacement);
}

std::unique_ptr<QMenu> renderMenu(const MenuModel& model) {
    auto menu = std::make_unique<QMenu>(qs(model.title));
    for (const MenuItem& item : model.items) {
        if (item.kind == MenuItem::Kind::separator) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(qs(item.title));
        action->setEnabled(item.enabled);
        action->setShortcut(shortcutFor(item));
        if (item.action) {
            QObject::connect(action, &QAction::triggered, [block = item.action] { block(); });
        }
    }
    for (const MenuModel& submenu : model.submenus) {
        menu->addMenu(renderMenu(submenu).release());
    }
    return menu;
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
