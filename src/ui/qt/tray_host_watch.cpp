#include "ui/qt/tray_host_watch.h"

#include <QDBusConnection>
#include <utility>

namespace vurin {

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");

}  // namespace

TrayHostWatch::TrayHostWatch(std::function<void()> changed, QObject* parent)
    : QObject(parent),
      changed_(std::move(changed)),
      watcher_(kWatcherService, QDBusConnection::sessionBus(),
               QDBusServiceWatcher::WatchForOwnerChange) {
    connect(&watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            &TrayHostWatch::hostsChanged);
    QDBusConnection bus = QDBusConnection::sessionBus();
    for (const char* signal : {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"}) {
        bus.connect(kWatcherService, kWatcherPath, kWatcherService, QString::fromLatin1(signal),
                    this, SLOT(hostsChanged()));
    }
}

void TrayHostWatch::hostsChanged() {
    if (changed_) {
        changed_();
    }
}

}  // namespace vurin
