#include "platform/x11/x11_connection.h"

#include <X11/Xlib.h>
#include <X11/extensions/XRes.h>

#include <algorithm>
#include <map>
#include <mutex>

namespace vurin {

namespace {

// Xlib has one process-wide error handler, and its default one exits the process. Ours records
// the errors of the connections registered here and leaves every other display to the handler
// that was installed before it. Every X11 connection of ours goes through here, so there is one
// chain whatever order they are opened in.
std::mutex registryLock;
std::map<Display*, std::atomic<int>*> errorSlots;
XErrorHandler previousErrorHandler = nullptr;
XIOErrorHandler previousIOErrorHandler = nullptr;

int recordError(Display* display, XErrorEvent* error) {
    XErrorHandler previous = nullptr;
    {
        std::lock_guard guard(registryLock);
        auto found = errorSlots.find(display);
        if (found != errorSlots.end()) {
            int none = 0;
            found->second->compare_exchange_strong(none, error->error_code);
            return 0;
        }
        previous = previousErrorHandler;
    }
    return previous ? previous(display, error) : 0;
}

// For our displays the exit handler below records the loss; the default handler would exit.
int ignoreOwnIOError(Display* display) {
    XIOErrorHandler previous = nullptr;
    {
        std::lock_guard guard(registryLock);
        if (errorSlots.contains(display)) {
            return 0;
        }
        previous = previousIOErrorHandler;
    }
    return previous ? previous(display) : 0;
}

void installHandlersOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        std::lock_guard guard(registryLock);
        previousErrorHandler = XSetErrorHandler(recordError);
        previousIOErrorHandler = XSetIOErrorHandler(ignoreOwnIOError);
    });
}

void markLost(Display*, void* flag) {
    static_cast<std::atomic<bool>*>(flag)->store(true);
}

}  // namespace

std::unique_ptr<X11Connection> X11Connection::open(const std::string& displayName) {
    installHandlersOnce();
    Display* display = XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str());
    if (!display) {
        return nullptr;
    }
    return std::unique_ptr<X11Connection>(new X11Connection(display));
}

X11Connection::X11Connection(Display* display) : display_(display) {
    {
        std::lock_guard guard(registryLock);
        errorSlots[display_] = &error_;
    }
    XSetIOErrorExitHandler(display_, markLost, &lost_);
}

X11Connection::~X11Connection() {
    XCloseDisplay(display_);
    // Another connection may already have been given the same address.
    std::lock_guard guard(registryLock);
    if (auto found = errorSlots.find(display_);
        found != errorSlots.end() && found->second == &error_) {
        errorSlots.erase(found);
    }
}

int X11Connection::clientProcess(unsigned long window) {
    if (lost()) {
        return 0;
    }
    if (!hasClientIds_) {
        int events = 0, errors = 0, major = 0, minor = 0;
        hasClientIds_ = XResQueryExtension(display_, &events, &errors) &&
                        XResQueryVersion(display_, &major, &minor) &&
                        (major > 1 || (major == 1 && minor >= 2));
    }
    if (!*hasClientIds_) {
        return 0;
    }
    XResClientIdSpec spec{.client = window, .mask = XRES_CLIENT_ID_PID_MASK};
    long count = 0;
    XResClientIdValue* ids = nullptr;
    int pid = 0;
    if (XResQueryClientIds(display_, 1, &spec, &count, &ids) == Success) {
        for (long index = 0; index < count; ++index) {
            if (XResGetClientIdType(&ids[index]) == XRES_CLIENT_ID_PID) {
                pid = std::max(pid, static_cast<int>(XResGetClientPid(&ids[index])));
            }
        }
        XResClientIdsDestroy(count, ids);
    }
    return pid;
}

}  // namespace vurin
