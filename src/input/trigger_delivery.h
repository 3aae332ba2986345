#pragma once

#include <memory>

#include "input/gesture_engine.h"
#include "platform/main_queue.h"

namespace vurin {

// Hands one key-down (`down`) or key-up of the trigger to the gesture engine on the main queue.
// The event is stamped when this is called, not when the main thread reaches it: that thread may
// be late (a paste holds its queue), and the gesture is decided from when the key moved. Callable
// from any thread; nothing happens once the engine is gone.
void postTriggerToEngine(MainQueue& queue, std::weak_ptr<GestureEngine> engine, bool down);

}  // namespace vurin
