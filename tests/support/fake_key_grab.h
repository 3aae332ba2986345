#pragma once

#include <vector>

#include "platform/key_grab.h"

namespace vurin::testing {

// A KeyGrab whose key events the test plays in by hand, standing in for the capture thread.
class FakeKeyGrab : public KeyGrab {
  public:
    KeyGrabResult start(int evdevCode, Handlers handlers) override {
        startedWith.push_back(evdevCode);
        running = true;
        this->handlers = std::move(handlers);
        return {};
    }
    bool isRunning() const override { return running; }
    void grabKey(int evdevCode) override { regrabs.push_back(evdevCode); }
    void setKeyboardGrabbed(bool grabbed) override { keyboardGrabbed = grabbed; }
    std::optional<std::string> keyName(int) const override { return std::nullopt; }
    void stop() override {
        running = false;
        ++stops;
    }

    void press(int evdevCode) { handlers.onKey(KeyGrabEvent{evdevCode, true}); }
    void release(int evdevCode) { handlers.onKey(KeyGrabEvent{evdevCode, false}); }

    Handlers handlers;
    bool running = false, keyboardGrabbed = false;
    int stops = 0;
    std::vector<int> startedWith, regrabs;
};

}  // namespace vurin::testing
