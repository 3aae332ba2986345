#pragma once

#include <atomic>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/key_grab.h"

namespace vurin {

// KeyGrab on X11: a thread named "vurin.eventtap" with a Display of its own, a passive grab of
// the key's keycode (evdev + 8, never resolved through a keysym) with AnyModifier on the root
// window, detectable auto-repeat, and XGrabKeyboard while every key is wanted. Requests from
// other threads are queued and the thread is woken through a pipe; Xlib calls on the grab's
// Display happen on the capture thread only.
class X11KeyGrab : public KeyGrab {
  public:
    // `displayName` empty: $DISPLAY.
    explicit X11KeyGrab(std::string displayName = {});
    ~X11KeyGrab() override;

    X11KeyGrab(const X11KeyGrab&) = delete;
    X11KeyGrab& operator=(const X11KeyGrab&) = delete;

    KeyGrabResult start(std::optional<int> evdevCode, Handlers handlers) override;
    bool isRunning() const override;
    std::optional<int> grabbedKey() const override;
    void grabKey(int evdevCode) override;
    void setKeyboardGrabbed(bool grabbed) override;
    std::optional<std::string> keyName(int evdevCode) const override;
    void stop() override;

  private:
    class Session;

    void run(std::optional<int> evdevCode, Handlers handlers, std::promise<KeyGrabResult> started);
    void wake();
    bool takeRequests(std::optional<int>& grabKey, bool& keyboardWanted, bool& stop);
    void setKeyNames(std::map<int, std::string> names);
    void setGrabbedKey(std::optional<int> evdevCode);

    const std::string displayName_;
    std::thread thread_;
    std::atomic<bool> running_{false};
    int wakeRead_ = -1;
    int wakeWrite_ = -1;

    mutable std::mutex lock_;  // guards the requests, the key names and the grabbed key
    std::optional<int> requestedKey_;
    bool keyboardWanted_ = false;
    bool stopRequested_ = false;
    std::map<int, std::string> keyNames_;
    std::optional<int> grabbedKey_;
};

}  // namespace vurin
