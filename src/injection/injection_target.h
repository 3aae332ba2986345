#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vurin {

// An accessibility element, identified by its bus name and object path.
struct AccessibleElementRef {
    std::string busName;
    std::string objectPath;

    bool operator==(const AccessibleElementRef&) const = default;
};

// Where text is going: the front-most application and its focused element at capture time.
struct InjectionTarget {
    std::string appName;
    std::optional<std::string> bundleID;
    int processID = 0;
    // The window that was active; 0 when the desktop names none.
    std::uint64_t windowID = 0;
    std::optional<AccessibleElementRef> focusedElement;
    std::optional<std::string> focusedRole;
    // The desktop could not tell which window this was: it never matches a later reading.
    bool unverifiable = false;
};

// A pasted text that a single click can send and a double click can take back.
struct PendingInjection {
    std::string text;
    InjectionTarget target;
};

}  // namespace vurin
