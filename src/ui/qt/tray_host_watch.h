#pragma once

#include <QDBusServiceWatcher>
#include <QObject>
#include <functional>

namespace vurin {

// Tells when the desktop's status notifier hosts may have come or gone: the watcher's bus name
// changing hands, or the watcher announcing a host registered or unregistered. Asking whether a
// tray is there takes several blocking calls to the watcher, so the answer is kept and asked again
// only when this says so.
class TrayHostWatch : public QObject {
    Q_OBJECT

  public:
    explicit TrayHostWatch(std::function<void()> changed, QObject* parent = nullptr);

  private Q_SLOTS:
    void hostsChanged();

  private:
    std::function<void()> changed_;
    QDBusServiceWatcher watcher_;
};

}  // namespace vurin
