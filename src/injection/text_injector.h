#pragma once

#include <cstdint>
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

// Paste, send and undo, all on the main thread. Each operation logs its own lines and plays
// its own cues.
class TextInjector {
  public:
    virtual ~TextInjector() = default;
    virtual void inject(const std::string& text, std::weak_ptr<InjectionHost> host) = 0;
    virtual SendOutcome sendReturn(const PendingInjection& pending) = 0;
    // Checks the target and the caret, deletes the inserted text and logs the outcome. The
    // caller then drops the pending injection, returns to idle and plays the cancel cue.
    virtual void undoInsertedText(const PendingInjection& pending) = 0;
    // A recording started: a path that must ask the user before its first keystroke may ask
    // now, while the user speaks, rather than in the middle of the paste.
    virtual void prepare() {}
};

}  // namespace vurin
