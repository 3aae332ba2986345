#include "ui/qt/trigger_bus_service.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <utility>

#include "platform/trigger_bus.h"
#include "support/log.h"

namespace vurin {

TriggerBusService::TriggerBusService(std::function<void(bool down, double at)> deliver,
                                     std::function<void(TriggerCommand command, double at)> command,
                                     std::function<void()> showSettings, QObject* parent)
    : QObject(parent), deliver_(std::move(deliver)), command_(std::move(command)) {
    new ApplicationBusAdaptor(this, std::move(showSettings));
}

BusName TriggerBusService::registerOnSessionBus() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        log("⚠️ 没有会话总线(" + bus.lastError().message().toStdString() +
            "),vurin --trigger 无法使用");
        return BusName::unavailable;
    }
    // The object first: a call that comes the moment the name is ours finds it.
    if (!bus.registerObject(trigger_bus::objectPath, this,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAdaptors)) {
        log(std::string("⚠️ 无法在会话总线上导出 ") + trigger_bus::objectPath +
            ",vurin --trigger 无法使用");
        return BusName::unavailable;
    }
    const auto reply = bus.interface()->registerService(
        trigger_bus::serviceName, QDBusConnectionInterface::DontQueueService,
        QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered) {
        return BusName::owned;
    }
    bus.unregisterObject(trigger_bus::objectPath);
    if (reply.isValid()) {
        return BusName::takenByAnother;
    }
    log(std::string("⚠️ 无法取得会话总线名 ") + trigger_bus::serviceName + "(" +
        reply.error().message().toStdString() + "),vurin --trigger 不会到达这个 Vurin");
    return BusName::unavailable;
}

void TriggerBusService::Press(qulonglong startedNs) {
    deliver_(true, static_cast<double>(startedNs) / 1e9);
}

void TriggerBusService::Release(qulonglong startedNs) {
    deliver_(false, static_cast<double>(startedNs) / 1e9);
}

void TriggerBusService::Toggle(qulonglong startedNs) {
    command_(TriggerCommand::toggle, static_cast<double>(startedNs) / 1e9);
}

void TriggerBusService::Send(qulonglong startedNs) {
    command_(TriggerCommand::send, static_cast<double>(startedNs) / 1e9);
}

void TriggerBusService::Cancel(qulonglong startedNs) {
    command_(TriggerCommand::cancel, static_cast<double>(startedNs) / 1e9);
}

ApplicationBusAdaptor::ApplicationBusAdaptor(QObject* parent, std::function<void()> showSettings)
    : QDBusAbstractAdaptor(parent), showSettings_(std::move(showSettings)) {}

void ApplicationBusAdaptor::ShowSettings() {
    log("🪟 另一个 Vurin 启动请求:打开设置窗口");
    showSettings_();
}

}  // namespace vurin
