#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace vurin {

// Writes "[HH:mm:ss.SSS] message" and a line feed to standard output and flushes at once.
// Callable from any thread; each call produces one whole line. Never fails visibly.
void log(std::string_view message);

// Test seam: every logged message (without the time stamp) is also handed to the observer.
// Pass an empty function to remove it.
using LogObserver = std::function<void(const std::string& message)>;
void setLogObserver(LogObserver observer);

}  // namespace vurin
