#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "injection/injection_target.h"

namespace vurin {

// The side of the application that a paste reports back to. Implemented by the controller,
// which owns the attempt counter, the pending injection and the state.
class InjectionHost {
  public:
    virtual ~InjectionHost() = default;
    // Moves the attempt counter on and returns its new value.
    virtual std::int64_t beginInjectionAttempt() = 0;
    virtual bool isInjectionAttemptCurrent(std::int64_t attempt) const = 0;
    // The paste was blocked before anything reached the clipboard, or the target changed.
    virtual void injectionEndedWithoutPending() = 0;
    // The paste was confirmed on the same target.
    virtual void injectionConfirmed(PendingInjection pending) = 0;
};

enum class SendOutcome { sent, targetChanged, keystrokeFailed };

// Paste, send and undo, all started on the main thread. Each operation logs its own lines and
// plays its own cues. Keystrokes may take a while to reach the desktop (a portal asks the user
// first); meanwhile the main queue is held, so a press that comes in between is handled after.
class TextInjector {
  public:
    virtual ~TextInjector() = default;
    virtual void inject(const std::string& text, std::weak_ptr<InjectionHost> host) = 0;
    // `done` runs on the main thread once the Return went out or could not.
    virtual void sendReturn(const PendingInjection& pending,
                            std::function<void(SendOutcome outcome)> done) = 0;
    // Checks the target and the caret, deletes the inserted text and logs what was really
    // deleted. The caller drops the pending injection at once, returns to idle and plays the
    // cancel cue.
    virtual void undoInsertedText(const PendingInjection& pending) = 0;
    // A recording started: a path that must ask the user before its first keystroke may ask
    // now, while the user speaks, rather than in the middle of the paste.
    virtual void prepare() {}
    // A text to paste is on its way (the recording is being transcribed): what the paste will
    // read of the desktop can be read now, while the services work.
    virtual void textComing() {}
    // Vurin quits: a clipboard still lent to a paste comes back now.
    virtual void finish() {}
};

}  // namespace vurin
