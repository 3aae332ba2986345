#include "ui/qt/trigger_bus_service.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <chrono>
#include <utility>

#include "support/log.h"

namespace vurin {

namespace {

double seconds(qulonglong nanoseconds) {
    return static_cast<double>(nanoseconds) / 1e9;
}

// A version-1 call carries no moment: it counts from its arrival, on the same clock.
double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string stringIn(const QVariantMap& data, const char* key) {
    return data.value(QString::fromLatin1(key)).toString().toStdString();
}

}  // namespace

TriggerBusService::TriggerBusService(QObject* parent) : QObject(parent) {
    new ApplicationBusAdaptor(this);
    new FreedesktopApplicationAdaptor(this);
}

void TriggerBusService::setHandlers(Handlers handlers) {
    handlers_ = std::move(handlers);
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
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties |
                                QDBusConnection::ExportAdaptors)) {
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

void TriggerBusService::present(const StartupTokens& tokens) {
    if (handlers_.present) {
        handlers_.present(tokens);
    }
}

void TriggerBusService::Press(qulonglong startedNs) {
    if (handlers_.deliver) {
        handlers_.deliver(true, seconds(startedNs));
    }
}

void TriggerBusService::Release(qulonglong startedNs) {
    if (handlers_.deliver) {
        handlers_.deliver(false, seconds(startedNs));
    }
}

void TriggerBusService::Toggle(qulonglong startedNs) {
    if (handlers_.command) {
        handlers_.command(TriggerCommand::toggle, seconds(startedNs));
    }
}

void TriggerBusService::Send(qulonglong startedNs) {
    if (handlers_.command) {
        handlers_.command(TriggerCommand::send, seconds(startedNs));
    }
}

void TriggerBusService::Cancel(qulonglong startedNs) {
    if (handlers_.command) {
        handlers_.command(TriggerCommand::cancel, seconds(startedNs));
    }
}

void TriggerBusService::Press() {
    if (handlers_.deliver) {
        handlers_.deliver(true, now());
    }
}

void TriggerBusService::Release() {
    if (handlers_.deliver) {
        handlers_.deliver(false, now());
    }
}

ApplicationBusAdaptor::ApplicationBusAdaptor(TriggerBusService* service)
    : QDBusAbstractAdaptor(service), service_(service) {}

void ApplicationBusAdaptor::ShowSettings() {
    log("🪟 另一个 Vurin 启动请求:打开设置窗口");
    service_->present({});
}

FreedesktopApplicationAdaptor::FreedesktopApplicationAdaptor(TriggerBusService* service)
    : QDBusAbstractAdaptor(service), service_(service) {}

void FreedesktopApplicationAdaptor::Activate(const QVariantMap& platformData) {
    const StartupTokens tokens{
        .activationToken = stringIn(platformData, trigger_bus::activationTokenKey),
        .startupId = stringIn(platformData, trigger_bus::startupIdKey)};
    log(std::string("🪟 另一个 Vurin 启动请求:打开设置窗口") +
        (tokens.activationToken.empty() && tokens.startupId.empty() ? "(没有激活令牌)"
                                                                    : "(带激活令牌)"));
    service_->present(tokens);
}

void FreedesktopApplicationAdaptor::Open(const QStringList&, const QVariantMap& platformData) {
    Activate(platformData);
}

void FreedesktopApplicationAdaptor::ActivateAction(const QString& name, const QVariantList&,
                                                   const QVariantMap&) {
    sendErrorReply(QDBusError::InvalidArgs, "Vurin has no action " + name);
}

}  // namespace vurin
