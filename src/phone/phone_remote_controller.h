#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "app/app_services.h"
#include "config/config.h"
#include "phone/phone_server.h"
#include "phone/phone_window_model.h"
#include "phone/remote_button_guard.h"
#include "platform/main_queue.h"

namespace vurin {

// What the phone remote needs from the application controller. Every hook is called on the
// main thread and may be empty until attached.
struct PhoneRemoteHooks {
    // The live configuration; null once its owner is gone.
    std::function<Config*()> config;
    std::function<void(const Config&)> saveConfig = [](const Config& c) { vurin::saveConfig(c); };
    // The gesture engine's key-down and key-up, with when the request arrived.
    std::function<void(double at)> keyDown;
    std::function<void(double at)> keyUp;
    std::function<void()> rebuildMenu;
    // Makes the application a regular one and activates it, before a window is shown.
    std::function<void()> activateApplication;
};

// Shows the phone window model; the UI renders it generically.
class PhoneWindowPresenter {
  public:
    virtual ~PhoneWindowPresenter() = default;
    // Shows the window (creating it on first use), brings it to the front and centres it.
    virtual void show(const PhoneWindowModel& model) = 0;
    // The model changed; redraw if the window exists.
    virtual void update(const PhoneWindowModel& model) = 0;
};

// The application side of the phone remote: the pairing token, the press guard between the
// server's events and the gesture engine, switching the server on and off, and the window
// model. Main thread only.
class PhoneRemoteController : public PhoneRemote,
                              public std::enable_shared_from_this<PhoneRemoteController> {
  public:
    static std::shared_ptr<PhoneRemoteController> create(
        std::shared_ptr<MainQueue> mainQueue, std::shared_ptr<PhoneServer> server,
        std::shared_ptr<RemoteButtonGuard> guard = nullptr);

    void attach(PhoneRemoteHooks hooks) { hooks_ = std::move(hooks); }
    void setWindowPresenter(std::shared_ptr<PhoneWindowPresenter> presenter);

    // PhoneRemote
    void startIfEnabled() override { startPhoneServerIfEnabled(); }
    void broadcast(std::string_view state) override;
    void forceRelease() override { guard_->forceRelease(); }
    void stop() override { server_->stop(); }

    void wirePhoneServer();
    void startPhoneServerIfEnabled();
    void upgradePhoneTokenIfNeeded(bool save);
    void setPhoneTrigger(bool enabled);
    void phoneToggleChanged(bool on) { setPhoneTrigger(on); }
    void resetPhoneToken();
    void showPhoneTriggerWindow();
    void buildPhoneWindow();
    void refreshPhoneWindow();

    // Present once buildPhoneWindow() has run.
    const std::optional<PhoneWindowModel>& phoneWindow() const { return phoneWindow_; }
    const std::shared_ptr<RemoteButtonGuard>& guard() const { return guard_; }

  private:
    PhoneRemoteController(std::shared_ptr<MainQueue> mainQueue, std::shared_ptr<PhoneServer> server,
                          std::shared_ptr<RemoteButtonGuard> guard);

    Config* config() const { return hooks_.config ? hooks_.config() : nullptr; }
    void save(const Config& config) const;
    void call(const std::function<void()>& hook) const;
    void logPortFailure() const;

    std::shared_ptr<MainQueue> mainQueue_;
    std::shared_ptr<PhoneServer> server_;
    std::shared_ptr<RemoteButtonGuard> guard_;
    PhoneRemoteHooks hooks_;
    std::shared_ptr<PhoneWindowPresenter> presenter_;
    std::optional<PhoneWindowModel> phoneWindow_;
};

}  // namespace vurin
