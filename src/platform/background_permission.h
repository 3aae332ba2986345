#pragma once

#include <functional>
#include <string>

namespace vurin {

// Leave from the desktop to run in the background without a window: the Background portal,
// whose desktops list such programs where the user can stop them (GNOME's quick settings).
enum class BackgroundAnswer { allowed, refused, unavailable };

// Asks with `reason` (the desktop may show it); `done` gets the answer, with a detail that says
// what came back (the portal's answer, or why there was none), on the main queue.
using BackgroundRequest = std::function<void(
    const std::string& reason,
    std::function<void(BackgroundAnswer answer, const std::string& detail)> done)>;

}  // namespace vurin
