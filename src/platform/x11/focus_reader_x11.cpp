#include "platform/x11/focus_reader_x11.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <utility>

#include "platform/linux/atspi_focus_reader.h"
#include "platform/x11/x11_connection.h"

namespace vurin {

namespace {

// The window manager names the new active window when it sees the focus arrive, and so does the
// application (over the accessibility bus): either may come first by this much.
constexpr auto kActivationSkew = std::chrono::milliseconds(200);

// ---------------------------------------------------------------------------------------------
// EWMH

std::optional<unsigned long> cardinalProperty(Display* display, Window window, const char* name,
                                              Atom type) {
    Atom actualType = 0;
    int actualFormat = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    const Atom property = XInternAtom(display, name, False);
    if (XGetWindowProperty(display, window, property, 0, 1, False, type, &actualType, &actualFormat,
                           &count, &remaining, &data) != Success) {
        return std::nullopt;
    }
    std::optional<unsigned long> value;
    if (data && actualType == type && actualFormat == 32 && count == 1) {
        // Format 32 properties come back as longs whatever the platform's word size.
        value = static_cast<unsigned long>(*reinterpret_cast<long*>(data));
    }
    if (data) {
        XFree(data);
    }
    return value;
}

bool hasProperty(Display* display, Window window, Atom property) {
    Atom actualType = 0;
    int actualFormat = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    const bool found =
        XGetWindowProperty(display, window, property, 0, 0, False, AnyPropertyType, &actualType,
                           &actualFormat, &count, &remaining, &data) == Success &&
        actualType != 0;
    if (data) {
        XFree(data);
    }
    return found;
}

// Without a window manager that names the active window, the client window (the one with
// WM_STATE) at or above the keyboard focus.
Window focusedClientWindow(Display* display) {
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    const Atom wmState = XInternAtom(display, "WM_STATE", False);
    const Window root = DefaultRootWindow(display);
    while (focus != 0 && focus != PointerRoot && focus != root) {
        if (hasProperty(display, focus, wmState)) {
            return focus;
        }
        Window parent = 0, rootReturn = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(display, focus, &rootReturn, &parent, &children, &count)) {
            return 0;
        }
        if (children) {
            XFree(children);
        }
        focus = parent;
    }
    return 0;
}

Window activeWindow(Display* display) {
    if (auto active =
            cardinalProperty(display, DefaultRootWindow(display), "_NET_ACTIVE_WINDOW", XA_WINDOW);
        active && *active != 0) {
        return static_cast<Window>(*active);
    }
    return focusedClientWindow(display);
}

std::optional<std::string> windowClass(Display* display, Window window) {
    XClassHint hint{};
    if (!XGetClassHint(display, window, &hint)) {
        return std::nullopt;
    }
    std::optional<std::string> result;
    if (hint.res_class && *hint.res_class) {
        result = hint.res_class;
    }
    if (hint.res_name) {
        XFree(hint.res_name);
    }
    if (hint.res_class) {
        XFree(hint.res_class);
    }
    return result;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

X11FocusReader::X11FocusReader(std::string displayName)
    : displayName_(std::move(displayName)), atspi_(std::make_unique<AtspiFocusReader>()) {}

X11FocusReader::~X11FocusReader() = default;

X11Connection* X11FocusReader::connection() {
    if (connection_ && connection_->lost()) {
        connection_.reset();
    }
    if (!connection_) {
        connection_ = X11Connection::open(displayName_);
    }
    return connection_.get();
}

// When the active window changed, as far as these readings saw: the first reading that found it.
// The root window's property changes would tell it exactly, but listening to them queues every
// focus, stacking and panel change of a busy desktop on this connection between two readings,
// and Xlib keeps the memory of the longest queue it ever held.
std::chrono::steady_clock::time_point X11FocusReader::activeSince(unsigned long window) {
    if (window != activeWindow_) {
        activeWindow_ = window;
        activeSince_ = std::chrono::steady_clock::now();
    }
    return activeSince_;
}

std::optional<FrontApplication> X11FocusReader::frontmostApplication() {
    X11Connection* x11 = connection();
    if (!x11) {
        return std::nullopt;
    }
    Display* display = x11->display();
    const Window window = activeWindow(display);
    if (window == 0) {
        x11->takeError();
        return std::nullopt;
    }
    FrontApplication application{.windowID = window};
    if (auto pid = cardinalProperty(display, window, "_NET_WM_PID", XA_CARDINAL)) {
        application.processID = static_cast<int>(*pid);
    }
    if (application.processID <= 0) {
        application.processID = x11->clientProcess(window);
    }
    const auto activated = activeSince(window);
    application.classID = windowClass(display, window);
    // A window that vanished while it was read answers with errors: no application.
    XSync(display, False);
    if (x11->takeError() != 0 || x11->lost()) {
        return std::nullopt;
    }
    // The accessibility focus may still be held by an application whose window has gone to the
    // back (a browser keeps its field focused), or by ours: only a newer one counts.
    if (application.processID <= 0) {
        application.processID = atspi_->focusedProcessSince(activated - kActivationSkew);
    }
    if (application.processID > 0) {
        application.name = processName(application.processID);
    }
    if (!application.name) {
        application.name = application.classID;
    }
    return application;
}

std::optional<AccessibleElementRef> X11FocusReader::focusedElement() {
    const auto front = frontmostApplication();
    // Our own elements are served by this very thread, which is waiting here.
    if (!front || front->processID <= 0 || front->processID == getpid()) {
        return std::nullopt;
    }
    return atspi_->focusedElementOf(front->processID);
}

std::optional<std::string> X11FocusReader::roleOf(const AccessibleElementRef& element) {
    return atspi_->roleOf(element);
}

std::optional<std::string> X11FocusReader::textOf(const AccessibleElementRef& element) {
    return atspi_->textOf(element);
}

std::optional<TextSelectionRange> X11FocusReader::selectedRange(
    const AccessibleElementRef& element) {
    return atspi_->selectedRange(element);
}

bool X11FocusReader::accessibilityAvailable() {
    return atspi_->available();
}

}  // namespace vurin
