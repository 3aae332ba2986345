#include "platform/x11/focus_reader_x11.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XRes.h>
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
        hasClientIds_.reset();
    }
    if (!connection_ && (connection_ = X11Connection::open(displayName_))) {
        watchActiveWindow();
    }
    return connection_.get();
}

// The root window's property changes say when the active window changed, in the server's time.
void X11FocusReader::watchActiveWindow() {
    Display* display = connection_->display();
    const Window root = DefaultRootWindow(display);
    XSelectInput(display, root, PropertyChangeMask);
    clockWindow_ = XCreateSimpleWindow(display, root, 0, 0, 1, 1, 0, 0, 0);
    XSelectInput(display, clockWindow_, PropertyChangeMask);
    activeChangedServerTime_.reset();
}

// On the steady clock: an empty change of our own window's property tells the server's time now.
// Absent until a change has been seen since the connection opened.
std::optional<std::chrono::steady_clock::time_point> X11FocusReader::activeWindowChangedAt() {
    Display* display = connection_->display();
    const unsigned char nothing = 0;
    XChangeProperty(display, clockWindow_, XInternAtom(display, "_VURIN_SERVER_TIME", False),
                    XA_STRING, 8, PropModeAppend, &nothing, 0);
    XSync(display, False);
    const auto now = std::chrono::steady_clock::now();
    const Atom active = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    std::optional<Time> serverNow;
    XEvent event;
    while (XCheckTypedEvent(display, PropertyNotify, &event)) {
        if (event.xproperty.window == clockWindow_) {
            serverNow = event.xproperty.time;
        } else if (event.xproperty.atom == active) {
            activeChangedServerTime_ = event.xproperty.time;
        }
    }
    if (!serverNow || !activeChangedServerTime_) {
        return std::nullopt;
    }
    // Server times are milliseconds that wrap around at 32 bits.
    const auto age = static_cast<std::uint32_t>(*serverNow - *activeChangedServerTime_);
    return now - std::chrono::milliseconds(age);
}

// The process of the client that made the window, as the X server knows it (local clients
// only), for windows that do not name their process themselves.
int X11FocusReader::processOfWindow(unsigned long window) {
    Display* display = connection_->display();
    if (!hasClientIds_) {
        int events = 0, errors = 0, major = 0, minor = 0;
        hasClientIds_ = XResQueryExtension(display, &events, &errors) &&
                        XResQueryVersion(display, &major, &minor) &&
                        (major > 1 || (major == 1 && minor >= 2));
    }
    if (!*hasClientIds_) {
        return 0;
    }
    XResClientIdSpec spec{.client = window, .mask = XRES_CLIENT_ID_PID_MASK};
    long count = 0;
    XResClientIdValue* ids = nullptr;
    int pid = 0;
    if (XResQueryClientIds(display, 1, &spec, &count, &ids) == Success) {
        for (long index = 0; index < count; ++index) {
            if (XResGetClientIdType(&ids[index]) == XRES_CLIENT_ID_PID) {
                pid = std::max(pid, static_cast<int>(XResGetClientPid(&ids[index])));
            }
        }
        XResClientIdsDestroy(count, ids);
    }
    return pid;
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
        application.processID = processOfWindow(window);
    }
    std::optional<std::chrono::steady_clock::time_point> activated;
    if (application.processID <= 0) {
        activated = activeWindowChangedAt();
    }
    application.classID = windowClass(display, window);
    // A window that vanished while it was read answers with errors: no application.
    XSync(display, False);
    if (x11->takeError() != 0 || x11->lost()) {
        return std::nullopt;
    }
    // The accessibility focus may still be held by an application whose window has gone to the
    // back (a browser keeps its field focused), or by ours: only a newer one counts.
    if (application.processID <= 0 && activated) {
        application.processID = atspi_->focusedProcessSince(*activated - kActivationSkew);
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
