#pragma once

#include <QObject>
#include <functional>

namespace vurin {

// The running Vurin's trigger on the session bus: Press() and Release() of
// com.vurin.app.Trigger, as `vurin --trigger press|release` sends them, each handed on as a
// key-down (`deliver(true)`) or key-up on the main thread, the moment it arrives.
class TriggerBusService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.vurin.app.Trigger")

  public:
    explicit TriggerBusService(std::function<void(bool down)> deliver, QObject* parent = nullptr);

    // Exports the object and takes the bus name. False, with one log line, when there is no
    // session bus or another program (another Vurin) owns the name: the trigger then comes only
    // from the other sources.
    bool registerOnSessionBus();

  public Q_SLOTS:
    void Press();
    void Release();

  private:
    std::function<void(bool down)> deliver_;
};

}  // namespace vurin
