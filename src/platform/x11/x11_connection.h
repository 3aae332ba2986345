#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>

// Xlib's types stay out of the header: Xlib macros (None, Bool, Status) clash with other code.
struct _XDisplay;

namespace vurin {

// A Display of its own for one user (one thread at a time), whose protocol errors are recorded
// instead of going to Xlib's default handler (which exits the process), and whose loss is
// noted instead of exiting too. Every other Display keeps the handler installed before.
class X11Connection {
  public:
    // Absent when the display cannot be opened. `displayName` empty: $DISPLAY.
    static std::unique_ptr<X11Connection> open(const std::string& displayName = {});
    ~X11Connection();

    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    _XDisplay* display() const { return display_; }
    // True once the connection has broken; every later call on it fails at once.
    bool lost() const { return lost_.load(); }
    // The first protocol error since the last call (0: none). Call after XSync.
    int takeError() { return error_.exchange(0); }
    // The process of the client that made `window`, as the X server knows it (the X-Resource
    // extension 1.2, local clients only); 0 when it cannot tell. One round trip.
    int clientProcess(unsigned long window);

  private:
    explicit X11Connection(_XDisplay* display);

    _XDisplay* display_;
    std::atomic<int> error_{0};
    std::atomic<bool> lost_{false};
    std::optional<bool> hasClientIds_;  // whether the server speaks X-Resource 1.2
};

}  // namespace vurin
