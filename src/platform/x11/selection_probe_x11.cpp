#include "platform/x11/selection_probe_x11.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>

#include <utility>

#include "platform/x11/x11_connection.h"

namespace vurin {

X11SelectionProbe::X11SelectionProbe(std::string displayName)
    : displayName_(std::move(displayName)) {}

X11SelectionProbe::~X11SelectionProbe() {
    if (connection_ && window_ != 0 && !connection_->lost()) {
        XDestroyWindow(connection_->display(), window_);
    }
}

X11Connection* X11SelectionProbe::connection() {
    if (connection_ && connection_->lost()) {
        connection_.reset();
        window_ = 0;
    }
    if (!connection_) {
        connection_ = X11Connection::open(displayName_);
        if (connection_) {
            Display* display = connection_->display();
            // Never mapped: it only receives the owners' answers.
            window_ = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
        }
    }
    return connection_.get();
}

int X11SelectionProbe::requestorProcess(unsigned long window) {
    X11Connection* x11 = connection();
    return x11 ? x11->clientProcess(window) : 0;
}

bool X11SelectionProbe::ownerAnswers(ClipboardSelection selection,
                                     std::chrono::milliseconds limit) {
    X11Connection* x11 = connection();
    if (!x11) {
        return false;
    }
    Display* display = x11->display();
    const Atom name = selection == ClipboardSelection::primary
                          ? XA_PRIMARY
                          : XInternAtom(display, "CLIPBOARD", False);
    if (XGetSelectionOwner(display, name) == 0) {
        return true;
    }
    // Answers to earlier probes that came too late are dropped first.
    while (XPending(display) > 0) {
        XEvent stale;
        XNextEvent(display, &stale);
    }
    const Atom targets = XInternAtom(display, "TARGETS", False);
    const Atom property = XInternAtom(display, "VURIN_SELECTION_PROBE", False);
    XConvertSelection(display, name, targets, property, window_, CurrentTime);
    XFlush(display);

    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!x11->lost()) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == SelectionNotify && event.xselection.selection == name) {
                // Answered, with the list or with a refusal: either way it is alive.
                XDeleteProperty(display, window_, property);
                XFlush(display);
                return true;
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd descriptor{ConnectionNumber(display), POLLIN, 0};
        poll(&descriptor, 1, static_cast<int>(left.count()));
    }
    return false;
}

}  // namespace vurin
