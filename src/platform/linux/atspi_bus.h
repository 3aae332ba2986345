#pragma once
// The AT-SPI protocol over private D-Bus connections of our own. libatspi is not used for the
// calls: while it waits for a reply it dispatches the accessibility events it subscribes to,
// and its handlers make nested calls that deadlock inside libdbus. Every call has its own
// time-out. Include this before any Xlib header: Xlib's macros (None, Status, Bool) break it.

#include <atspi/atspi-constants.h>
#include <dbus/dbus.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/focus_reader.h"

namespace vurin::atspi {

struct MessageUnref {
    void operator()(DBusMessage* message) const { dbus_message_unref(message); }
};
using Message = std::unique_ptr<DBusMessage, MessageUnref>;

// The accessibility bus's address: from the environment, else asked of the session bus (which
// may take up to a second, so never on the main thread).
std::optional<std::string> busAddress();

using StateBits = std::uint64_t;
inline bool has(StateBits states, AtspiStateType state) {
    return (states >> static_cast<unsigned>(state)) & 1;
}

// One connection to the accessibility bus, used by one thread at a time.
class Connection {
  public:
    // Absent when nothing answers at `address`.
    static std::unique_ptr<Connection> open(const std::string& address);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    DBusConnection* bus() const { return bus_; }
    bool connected() const;
    // For a connection that reads its incoming messages itself (signals it subscribed to):
    // calls then leave them queued instead of dropping whatever is not their reply.
    void keepIncoming() { dropsUnexpected_ = false; }

    using Arguments = std::function<void(DBusMessage*)>;
    // The reply, or null; `unanswered` is set when the call timed out (a hung application
    // leaves every further call unanswered too).
    Message call(const AccessibleElementRef& element, const char* interface, const char* method,
                 const Arguments& arguments = {}, bool* unanswered = nullptr);
    std::optional<std::string> role(const AccessibleElementRef& element);
    std::optional<std::string> text(const AccessibleElementRef& element);
    // In UTF-16 code units, whatever the toolkit counts in.
    std::optional<TextSelectionRange> selection(const AccessibleElementRef& element);
    std::optional<std::vector<AccessibleElementRef>> children(const AccessibleElementRef& element,
                                                              bool* unanswered = nullptr);
    std::optional<StateBits> states(const AccessibleElementRef& element,
                                    bool* unanswered = nullptr);
    // The process behind a bus name, 0 when the bus cannot tell.
    int processOf(const std::string& busName);

  private:
    explicit Connection(DBusConnection* bus) : bus_(bus) {}
    struct ReadText {
        std::string text;
        long characterCount = 0;
    };
    std::optional<std::int32_t> intProperty(const AccessibleElementRef& element,
                                            const char* interface, const char* name);
    std::optional<ReadText> readText(const AccessibleElementRef& element);

    DBusConnection* bus_;
    bool dropsUnexpected_ = true;
};

// One value read from a reply, a signal or a property's variant.
class Reader {
  public:
    explicit Reader(DBusMessage* message) { valid_ = dbus_message_iter_init(message, &iter_); }
    explicit Reader(const DBusMessageIter& iter) : iter_(iter), valid_(true) {}

    std::optional<std::int32_t> int32();
    std::optional<std::uint32_t> uint32();
    std::optional<std::string> string();
    // The elements of an array, each read by `each` from a reader of its own.
    bool array(const std::function<void(Reader&)>& each);

  private:
    void unwrapVariant();
    // A fixed-size value of D-Bus type `kType`, held as `Value`.
    template <typename Value, int kType>
    std::optional<Value> basic();
    // Past the last argument the type reads as invalid, which every reader checks.
    void next() { dbus_message_iter_next(&iter_); }

    DBusMessageIter iter_{};
    bool valid_ = false;
};

}  // namespace vurin::atspi
