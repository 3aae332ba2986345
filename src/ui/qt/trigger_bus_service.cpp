#include "ui/qt/trigger_bus_service.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <utility>

#include "platform/trigger_bus.h"
#include "support/log.h"

namespace vurin {

TriggerBusService::TriggerBusService(std::function<void(bool down)> deliver, QObject* parent)
    : QObject(parent), deliver_(std::move(deliver)) {}

bool TriggerBusService::registerOnSessionBus() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        log("⚠️ 没有会话总线(" + bus.lastError().message().toStdString() +
            "),vurin --trigger 无法使用");
        return false;
    }
    // The object first: a call that comes the moment the name is ours finds it.
    if (!bus.registerObject(trigger_bus::objectPath, this, QDBusConnection::ExportAllSlots)) {
        log(std::string("⚠️ 无法在会话总线上导出 ") + trigger_bus::objectPath +
            ",vurin --trigger 无法使用");
        return false;
    }
    const auto reply = bus.interface()->registerService(
        trigger_bus::serviceName, QDBusConnectionInterface::DontQueueService,
        QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        const std::string why = reply.isValid() ? "已被另一个程序(另一个 Vurin?)占用"
                                                : reply.error().message().toStdString();
        log(std::string("⚠️ 会话总线名 ") + trigger_bus::serviceName + " " + why +
            ",vurin --trigger 不会到达这个 Vurin");
        bus.unregisterObject(trigger_bus::objectPath);
        return false;
    }
    return true;
}

void TriggerBusService::Press() {
    deliver_(true);
}

void TriggerBusService::Release() {
    deliver_(false);
}

}  // namespace vurin
