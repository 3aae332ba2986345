#include "phone/phone_remote_controller.h"

#include <string>

#include "phone/phone_token.h"
#include "support/language.h"
#include "support/log.h"

namespace vurin {

std::shared_ptr<PhoneRemoteController> PhoneRemoteController::create(
    std::shared_ptr<MainQueue> mainQueue, std::shared_ptr<PhoneServer> server,
    std::shared_ptr<RemoteButtonGuard> guard) {
    if (!guard) {
        guard = RemoteButtonGuard::create(mainQueue);
    }
    return std::shared_ptr<PhoneRemoteController>(
        new PhoneRemoteController(std::move(mainQueue), std::move(server), std::move(guard)));
}

PhoneRemoteController::PhoneRemoteController(std::shared_ptr<MainQueue> mainQueue,
                                             std::shared_ptr<PhoneServer> server,
                                             std::shared_ptr<RemoteButtonGuard> guard)
    : mainQueue_(std::move(mainQueue)), server_(std::move(server)), guard_(std::move(guard)) {}

void PhoneRemoteController::setWindowPresenter(std::shared_ptr<PhoneWindowPresenter> presenter) {
    presenter_ = std::move(presenter);
}

void PhoneRemoteController::broadcast(std::string_view state) {
    server_->broadcast(std::string(state));
}

void PhoneRemoteController::save(const Config& config) const {
    if (hooks_.saveConfig) {
        hooks_.saveConfig(config);
    }
}

// The gesture engine lives on the main thread; a hook reached from elsewhere goes through the
// main queue.
void PhoneRemoteController::call(const std::function<void()>& hook) const {
    if (!hook) {
        return;
    }
    if (mainQueue_->isMainThread()) {
        hook();
    } else {
        mainQueue_->post(hook);
    }
}

void PhoneRemoteController::logPortFailure() const {
    log("❌ 手机遥控端口 " + std::to_string(server_->port()) + " 启动失败(可能被占用)");
}

void PhoneRemoteController::wirePhoneServer() {
    const std::weak_ptr<PhoneRemoteController> weak = weak_from_this();
    guard_->onDown = [weak](double at) {
        if (auto self = weak.lock(); self && self->hooks_.keyDown) {
            self->call([hook = self->hooks_.keyDown, at] { hook(at); });
        }
    };
    guard_->onUp = [weak](double at) {
        if (auto self = weak.lock(); self && self->hooks_.keyUp) {
            self->call([hook = self->hooks_.keyUp, at] { hook(at); });
        }
    };
    server_->setOnEvent([weak](PhoneServer::Event event, double at) {
        auto self = weak.lock();
        const Config* config = self ? self->config() : nullptr;
        if (!config || !config->phoneTriggerEnabled) {
            return;  // the remote is off: the server may still be answering
        }
        if (event == PhoneServer::Event::up) {
            self->guard_->release(at);
        } else {
            self->guard_->press(at);
        }
    });
}

void PhoneRemoteController::upgradePhoneTokenIfNeeded(bool saveNow) {
    Config* config = this->config();
    if (!config || !isPhoneTokenOutdated(config->phoneToken)) {
        return;
    }
    const bool hadToken = !config->phoneToken.empty();
    config->phoneToken = generatePhoneToken();
    if (saveNow) {
        save(*config);
    }
    if (hadToken) {
        log("📱 手机配对安全码已升级,请重新扫码");
    }
}

void PhoneRemoteController::startPhoneServerIfEnabled() {
    const Config* config = this->config();
    if (!config || !config->phoneTriggerEnabled) {
        return;
    }
    upgradePhoneTokenIfNeeded(true);
    wirePhoneServer();
    server_->start(config->phoneToken, [weak = weak_from_this()](bool listening) {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        if (listening) {
            log("📱 手机遥控已在后台开启(托盘菜单或设置窗口顶部的「手机遥控…」可看二维码 / 关闭)");
        } else {
            self->logPortFailure();
        }
    });
}

void PhoneRemoteController::setPhoneTrigger(bool enabled) {
    Config* config = this->config();
    if (!config) {
        return;
    }
    config->phoneTriggerEnabled = enabled;
    if (enabled) {
        upgradePhoneTokenIfNeeded(false);
        save(*config);
        wirePhoneServer();
        server_->start(config->phoneToken, [weak = weak_from_this()](bool listening) {
            auto self = weak.lock();
            if (!self) {
                return;
            }
            if (listening) {
                log("📱 手机遥控已开启,同一可信 Wi-Fi 扫码即可用");
            } else {
                self->logPortFailure();
            }
            self->refreshPhoneWindow();
        });
    } else {
        save(*config);
        guard_->forceRelease();
        server_->stop();
        log("📱 手机遥控已关闭");
    }
    refreshPhoneWindow();
    call(hooks_.rebuildMenu);
}

void PhoneRemoteController::resetPhoneToken() {
    guard_->forceRelease();
    Config* config = this->config();
    if (!config) {
        return;
    }
    config->phoneToken = generatePhoneToken();
    save(*config);
    if (config->phoneTriggerEnabled) {
        // Both go through the server's one queue, so the old pairing's connections (open
        // streams included) are closed before the new token is listening.
        server_->stop();
        server_->start(config->phoneToken, [weak = weak_from_this()](bool) {
            if (auto self = weak.lock()) {
                self->refreshPhoneWindow();
            }
        });
    }
    refreshPhoneWindow();
    log("📱 已重置配对,旧手机需重新扫码");
}

void PhoneRemoteController::showPhoneTriggerWindow() {
    if (!phoneWindow_) {
        buildPhoneWindow();
    }
    call(hooks_.activateApplication);
    if (presenter_) {
        presenter_->show(*phoneWindow_);
    }
    refreshPhoneWindow();
}

void PhoneRemoteController::buildPhoneWindow() {
    PhoneWindowModel model = makePhoneWindowModel();
    const std::weak_ptr<PhoneRemoteController> weak = weak_from_this();
    model.onToggle = [weak](bool on) {
        if (auto self = weak.lock()) {
            self->phoneToggleChanged(on);
        }
    };
    model.onReset = [weak] {
        if (auto self = weak.lock()) {
            self->resetPhoneToken();
        }
    };
    phoneWindow_ = std::move(model);
}

void PhoneRemoteController::refreshPhoneWindow() {
    const Config* config = this->config();
    if (!phoneWindow_ || !config) {
        return;
    }
    PhoneWindowModel& window = *phoneWindow_;
    window.switchOn = config->phoneTriggerEnabled;
    window.qr.reset();
    window.hint.text.clear();
    if (!config->phoneTriggerEnabled) {
        window.address.text = L("已关闭", "Off");
    } else if (const auto address = server_->url(config->phoneToken)) {
        window.address.text = *address;
        window.qr = qrImage(*address, window.qrSide);
        // A desktop firewall that drops the phone's connection is what stands in the way here.
        const std::string port = std::to_string(server_->port());
        window.hint.text = L(
            "手机打不开页面时,请确认防火墙放行了 TCP 端口 " + port + "。",
            "If the phone can't open the page, allow TCP port " + port + " through the firewall.");
    } else {
        window.address.text = L("未连到 Wi-Fi,拿不到本机地址", "Not on Wi-Fi — no local address");
    }
    if (presenter_) {
        presenter_->update(window);
    }
}

}  // namespace vurin
