#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "injection/injection_target.h"
#include "platform/focus_reader.h"

namespace vurin {

// The front-most application and its focused element as the desktop reports them now. Absent
// when there is no front-most application, or its process is unknown where the desktop could
// tell it (X11); a Wayland window known by its app id is a target without one, and a window
// the desktop cannot tell anything about is an unverifiable target. An accessibility bus that
// cannot tell leaves the element and its role out but still gives a target.
std::optional<InjectionTarget> currentInjectionTarget(FocusReader& focus);

// Absent while the current target is still `expected`, otherwise the reason (Chinese, meant to
// be embedded in the caller's log line). Always compares against the captured copy, never a
// refreshed one. An unverifiable target on either side is a mismatch with its own reason.
std::optional<std::string> targetMismatch(FocusReader& focus, const InjectionTarget& expected);
std::optional<std::string> pendingTargetMismatch(FocusReader& focus,
                                                 const PendingInjection& pending);

// The `inserted.size()`-long run of `value` that ends at `caretUTF16`, all measured in UTF-16
// code units (the unit the focus reader reports carets in). Absent when the caret is too close
// to the start or beyond the end of the value.
std::optional<std::string> textImmediatelyBeforeCaret(std::string_view value, long caretUTF16,
                                                      std::string_view inserted);

}  // namespace vurin
