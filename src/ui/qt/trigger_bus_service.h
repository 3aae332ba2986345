#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusContext>
#include <QObject>
#include <QVariantMap>
#include <functional>

#include "input/trigger_commands.h"
#include "platform/trigger_bus.h"

namespace vurin {

// What came of taking the bus name.
enum class BusName { owned, unavailable, takenByAnother };

// The running Vurin on the session bus, object /com/vurin/app under the name com.vurin.app:
// com.vurin.app.Trigger's Press and Release, as `vurin --trigger press|release` sends them, each
// handed on as a key-down (`deliver(true)`) or key-up on the main thread the moment it arrives;
// Toggle, Send and Cancel as commands; its property Version. Every version's signatures are
// answered (trigger_bus.h). A second start asks for the window through org.freedesktop.Application
// (Activate, with the desktop's token) or, from an older Vurin, com.vurin.app.Application's
// ShowSettings().
class TriggerBusService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.vurin.app.Trigger")
    Q_PROPERTY(uint Version READ version)

  public:
    struct Handlers {
        // `at`: when the command started, on the steady clock in seconds.
        std::function<void(bool down, double at)> deliver;
        std::function<void(TriggerCommand command, double at)> command;
        // Brings the window forward, with the tokens a second start handed on.
        std::function<void(const StartupTokens& tokens)> present;
    };

    explicit TriggerBusService(QObject* parent = nullptr);

    // Calls are carried out from the event loop on, so the handlers may come after the name was
    // taken (as long as it is before the loop runs).
    void setHandlers(Handlers handlers);

    // Exports the object and takes the bus name. When there is no session bus (one log line) or
    // another program owns the name (said to the caller, which decides), the trigger comes only
    // from the other sources.
    BusName registerOnSessionBus();
    // Gives the name back and takes the object off the bus (the owner left: this start tries
    // again).
    void unregister();

    uint version() const { return trigger_bus::interfaceVersion; }
    void present(const StartupTokens& tokens);

  public Q_SLOTS:
    // Version 2: `startedNs`, CLOCK_MONOTONIC nanoseconds when the command started.
    void Press(qulonglong startedNs);
    void Release(qulonglong startedNs);
    void Toggle(qulonglong startedNs);
    void Send(qulonglong startedNs);
    void Cancel(qulonglong startedNs);
    // Version 1: the moment is when the call arrives.
    void Press();
    void Release();

  private:
    Handlers handlers_;
};

// com.vurin.app.Application on the same object, as a Vurin from before Activate asks.
class ApplicationBusAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.vurin.app.Application")

  public:
    explicit ApplicationBusAdaptor(TriggerBusService* service);

  public Q_SLOTS:
    void ShowSettings();

  private:
    TriggerBusService* service_;
};

// org.freedesktop.Application on the same object: Activate (and Open, since Vurin opens no
// files) brings the window forward with the token in the platform data; Vurin has no actions.
class FreedesktopApplicationAdaptor : public QDBusAbstractAdaptor, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

  public:
    explicit FreedesktopApplicationAdaptor(TriggerBusService* service);

  public Q_SLOTS:
    void Activate(const QVariantMap& platformData);
    void Open(const QStringList& uris, const QVariantMap& platformData);
    void ActivateAction(const QString& name, const QVariantList& parameters,
                        const QVariantMap& platformData);

  private:
    TriggerBusService* service_;
};

}  // namespace vurin
