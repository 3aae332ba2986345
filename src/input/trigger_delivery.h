#pragma once

#include <memory>
#include <optional>

#include "input/gesture_engine.h"
#include "platform/main_queue.h"

namespace vurin {

// Hands one key-down (`down`) or key-up of the trigger to the gesture engine on the main queue.
// The event is stamped when this is called, not when the main thread reaches it: that thread may
// be late (a paste holds its queue), and the gesture is decided from when the key moved. Callable
// from any thread; nothing happens once the engine is gone.
void postTriggerToEngine(MainQueue& queue, std::weak_ptr<GestureEngine> engine, bool down);
// The same for an event whose source says when the key moved (`at`, on the queue's clock): a
// time in the future or more than kOldestSourceTime ago is taken as now.
void postTriggerToEngine(MainQueue& queue, std::weak_ptr<GestureEngine> engine, bool down,
                         double at);
inline constexpr double kOldestSourceTime = 2.0;
// `at` as the engine may take it at `now`: a time in the future or more than kOldestSourceTime
// before `now` is `now` (a source's clock is not ours to trust).
double clampedSourceTime(double at, double now);

// The order of `vurin --trigger press|release`: each press and release is a process of its own,
// so a release may overtake its press. An event older than one already let through is dropped
// (with one line), so that a late press cannot hold the key down after its release; the same
// rule for every session. Main thread.
class BindingEventOrder {
  public:
    // `at` (the command's start) clamped as the engine takes it at `now`, or nothing when the
    // event came after a newer one.
    std::optional<double> admit(bool down, double at, double now);

  private:
    std::optional<double> last_;      // when the newest command let through started
    std::optional<double> admitted_;  // the time given for it
};

}  // namespace vurin
