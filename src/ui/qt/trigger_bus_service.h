#pragma once

#include <QDBusAbstractAdaptor>
#include <QObject>
#include <functional>

#include "input/trigger_commands.h"

namespace vurin {

// What came of taking the bus name.
enum class BusName { owned, unavailable, takenByAnother };

// The running Vurin on the session bus, object /com/vurin/app under the name com.vurin.app:
// Press() and Release() of com.vurin.app.Trigger, as `vurin --trigger press|release` sends
// them, each handed on as a key-down (`deliver(true)`) or key-up on the main thread, the moment
// it arrives; Toggle(), Send() and Cancel() as commands; ShowSettings() of
// com.vurin.app.Application, as a second start of Vurin sends it.
class TriggerBusService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.vurin.app.Trigger")

  public:
    // `deliver(down, at)`: `at` is when the command started, on the steady clock in seconds.
    TriggerBusService(std::function<void(bool down, double at)> deliver,
                      std::function<void(TriggerCommand command, double at)> command,
                      std::function<void()> showSettings, QObject* parent = nullptr);

    // Exports the object and takes the bus name. When there is no session bus (one log line) or
    // another program owns the name (said to the caller, which decides), the trigger comes only
    // from the other sources.
    BusName registerOnSessionBus();

  public Q_SLOTS:
    // `startedNs`: CLOCK_MONOTONIC nanoseconds when the command started.
    void Press(qulonglong startedNs);
    void Release(qulonglong startedNs);
    void Toggle(qulonglong startedNs);
    void Send(qulonglong startedNs);
    void Cancel(qulonglong startedNs);

  private:
    std::function<void(bool down, double at)> deliver_;
    std::function<void(TriggerCommand command, double at)> command_;
};

// com.vurin.app.Application on the same object.
class ApplicationBusAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.vurin.app.Application")

  public:
    ApplicationBusAdaptor(QObject* parent, std::function<void()> showSettings);

  public Q_SLOTS:
    void ShowSettings();

  private:
    std::function<void()> showSettings_;
};

}  // namespace vurin
