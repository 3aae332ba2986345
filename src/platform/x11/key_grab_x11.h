#pragma once

#include <future>
#include <memory>
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
// Display happen on the capture thread only. The thread shares only a Capture with the grab, so
// one still waiting for a server that does not answer can be left to end by itself.
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
    struct Capture;

    static void run(std::shared_ptr<Capture> capture, std::string displayName,
                    std::optional<int> evdevCode, Handlers handlers,
                    std::promise<KeyGrabResult> started);
    std::shared_ptr<Capture> capture() const;

    const std::string displayName_;
    // Used by start() and stop() only, which one thread calls.
    std::thread thread_;
    std::future<KeyGrabResult> starting_;  // valid while a start awaits the server's answer
    mutable std::mutex captureLock_;       // any thread reads the pointer; stop() replaces it
    std::shared_ptr<Capture> capture_;     // the latest capture thread's
};

}  // namespace vurin
