#pragma once

#include <functional>
#include <memory>

#include "platform/keystrokes.h"
#include "platform/main_queue.h"

namespace vurin {

// A keystroke request's `done` that runs `then` on the main thread with the outcome and keeps
// the main queue held until it has: a press or a job's result that arrives while the keys are on
// their way (a portal may wait for the user's consent) is handled after them, as during a paste.
// Call on the main thread.
KeystrokeSender::Done whileHeld(const std::shared_ptr<MainQueue>& queue,
                                std::function<void(const KeystrokeOutcome&)> then);

}  // namespace vurin
