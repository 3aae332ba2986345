#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "app/app_services.h"
#include "input/gesture_engine.h"
#include "platform/key_grab.h"
#include "platform/main_queue.h"

namespace vurin {

// The system-wide capture of the trigger key: a grab on its own capture thread swallows the
// trigger's presses and releases and hands them, in order, to the gesture engine on the main
// queue. Also runs the detection mode in which the next key pressed becomes the trigger, and
// reconnects by itself when the display connection is lost.
//
// Thread use: handleKeyEvent() runs on the capture thread and touches only the held-key set
// and, under tapLock, tapDetecting and tapKeyCode. Everything else is main-thread only.
class EventTap : public TriggerCapture, public std::enable_shared_from_this<EventTap> {
  public:
    // What a detection changes outside the capture (main thread).
    struct Callbacks {
        // Sets config.keyCode and saves the configuration.
        std::function<void(std::int64_t keyCode)> storeKeyCode;
        std::function<void()> updateStatusIcon;
        std::function<void()> rebuildMenu;
        // Sets the settings window's trigger-key label, when that window exists.
        std::function<void(const std::string& text)> setTriggerKeyLabel;
        // Shows the detection's icon on the status item while it waits for a key.
        std::function<void()> showDetectingKey;
    };

    static std::shared_ptr<EventTap> create(std::shared_ptr<MainQueue> mainQueue,
                                            std::shared_ptr<KeyGrab> grab);
    ~EventTap() override;

    EventTap(const EventTap&) = delete;
    EventTap& operator=(const EventTap&) = delete;

    // Start-up wiring (main thread, before setupEventTap()).
    void setEngine(std::weak_ptr<GestureEngine> engine);
    void setCallbacks(Callbacks callbacks);
    void setTapKeyCode(std::int64_t keyCode);

    // Starts the grab of the trigger key unless it is held; true when it is held afterwards.
    bool setupEventTap() override;
    // The next qualifying key press within detectionSeconds becomes the trigger. Works while
    // the trigger itself cannot be grabbed: the capture then runs for the keyboard alone.
    void startDetectKey();
    // Ends the grab and joins the capture thread; no reconnection follows.
    void stop();
    // The capture holds the trigger key now.
    bool holdsTrigger() const;

    // Capture thread: one raw key event of the grab.
    void handleKeyEvent(const KeyGrabEvent& event);

    std::int64_t tapKeyCode() const;
    bool tapDetecting() const;

    static constexpr double detectionSeconds = 15.0;
    // Reconnection attempts after a lost connection: the first wait, doubled up to the last.
    static constexpr double firstReconnectSeconds = 0.5;
    static constexpr double maxReconnectSeconds = 5.0;

  private:
    EventTap(std::shared_ptr<MainQueue> mainQueue, std::shared_ptr<KeyGrab> grab);

    bool trackHeld(const KeyGrabEvent& event);
    void handleDetection(const KeyGrabEvent& event, std::int64_t keyCode, bool repeat);
    void handleTrigger(const KeyGrabEvent& event);
    void keyGrabbed(int evdevCode, const KeyGrabResult& result);
    void detectionResult(std::int64_t keyCode);
    void detectionRefused(std::int64_t keyCode, std::int64_t kept);
    void detectionUnfinished();
    void detectionTimedOut();
    void endDetectionTimeout();
    void releaseIdleCapture();
    void connectionLost(const KeyGrabResult& result);
    void reconnect();
    void scheduleReconnect(double seconds);
    KeyGrabResult startGrab(std::optional<int> evdevCode);
    void postToEngine(bool down);
    KeyGrab::Handlers makeHandlers();

    std::shared_ptr<MainQueue> mainQueue_;
    std::shared_ptr<KeyGrab> grab_;
    Callbacks callbacks_;

    mutable std::mutex tapLock_;
    bool tapDetecting_ = false;            // guarded by tapLock_
    std::int64_t tapKeyCode_ = 105;        // guarded by tapLock_
    std::weak_ptr<GestureEngine> engine_;  // guarded by tapLock_

    // Capture thread only.
    std::set<int> held_;
    // The trigger is down (capture thread; read by the failure handler on the same thread).
    std::atomic<bool> triggerDown_ = false;
    std::optional<int> releaseEndsKeyboardGrab_;
    std::optional<std::pair<int, std::int64_t>> pendingKey_;  // evdev code, key code

    // Main thread only.
    std::shared_ptr<WorkItem> detectionTimeout_;
    bool detectionOpen_ = false;  // a detection started and its outcome is not shown yet
    // Set while reconnecting, and while the connection is back but the trigger is not.
    std::shared_ptr<WorkItem> reconnectItem_;
    double reconnectDelay_ = firstReconnectSeconds;
    bool stopped_ = false;
};

}  // namespace vurin
