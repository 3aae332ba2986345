#include "platform/linux/focus_reader_x11.h"

// D-Bus and the AT-SPI names first: Xlib's macros (None, Status, Bool) would break them.
#include <atspi/atspi-constants.h>
#include <dbus/dbus.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <utility>
#include <vector>

#include "platform/linux/x11_connection.h"

namespace vurin {

namespace {

// One AT-SPI call may take this long before it counts as unanswered; a focus search may take
// this long in all and look at this many elements at most.
constexpr int callTimeoutMs = 250;
constexpr auto searchBudget = std::chrono::milliseconds(400);
constexpr int searchNodeLimit = 2000;

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

std::optional<std::string> processName(int pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    if (!comm || !std::getline(comm, name) || name.empty()) {
        return std::nullopt;
    }
    return name;
}

// ---------------------------------------------------------------------------------------------
// UTF-8 lengths. AT-SPI offsets count characters, which GTK takes as code points and Qt as
// UTF-16 code units; the logic compares UTF-16 units.

bool isContinuationByte(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// A lead byte of 0xF0 or more starts a code point outside the Basic Multilingual Plane.
bool startsSupplementary(unsigned char byte) {
    return byte >= 0xF0;
}

struct TextLengths {
    long codePoints = 0;
    long utf16 = 0;
};

TextLengths lengthsOf(const std::string& text) {
    TextLengths lengths;
    for (unsigned char byte : text) {
        if (!isContinuationByte(byte)) {
            ++lengths.codePoints;
            lengths.utf16 += startsSupplementary(byte) ? 2 : 1;
        }
    }
    return lengths;
}

enum class OffsetUnit { codePoints, utf16 };

// The unit a field counts in, from its own character count: only a text with characters
// outside the Basic Multilingual Plane tells the two apart, and then they agree for any offset.
OffsetUnit unitOf(long characterCount, const TextLengths& lengths) {
    return characterCount == lengths.utf16 && characterCount != lengths.codePoints
               ? OffsetUnit::utf16
               : OffsetUnit::codePoints;
}

long toUTF16(long offset, OffsetUnit unit, const std::string& text, const TextLengths& lengths) {
    if (offset <= 0) {
        return 0;
    }
    if (unit == OffsetUnit::utf16) {
        return std::min(offset, lengths.utf16);
    }
    long seen = 0, units = 0;
    for (unsigned char byte : text) {
        if (isContinuationByte(byte)) {
            continue;
        }
        if (seen == offset) {
            break;
        }
        ++seen;
        units += startsSupplementary(byte) ? 2 : 1;
    }
    return units;
}

// ---------------------------------------------------------------------------------------------
// The AT-SPI protocol over a private D-Bus connection of our own. libatspi is not used for the
// calls: while it waits for a reply it dispatches the accessibility events it subscribes to,
// and its handlers make nested calls that deadlock inside libdbus. A connection without match
// rules receives no events, and every call has its own time-out.

struct MessageUnref {
    void operator()(DBusMessage* message) const { dbus_message_unref(message); }
};
using Message = std::unique_ptr<DBusMessage, MessageUnref>;

// The accessibility bus's address: from the environment, else from the session bus.
std::optional<std::string> accessibilityBusAddress() {
    if (const char* address = std::getenv("AT_SPI_BUS_ADDRESS"); address && *address) {
        return std::string(address);
    }
    DBusError error;
    dbus_error_init(&error);
    DBusConnection* session = dbus_bus_get_private(DBUS_BUS_SESSION, &error);
    dbus_error_free(&error);
    if (!session) {
        return std::nullopt;
    }
    dbus_connection_set_exit_on_disconnect(session, FALSE);
    std::optional<std::string> address;
    if (Message call{dbus_message_new_method_call("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus",
                                                  "GetAddress")}) {
        dbus_error_init(&error);
        Message reply{dbus_connection_send_with_reply_and_block(session, call.get(),
                                                                callTimeoutMs * 4, &error)};
        const char* text = nullptr;
        if (reply &&
            dbus_message_get_args(reply.get(), &error, DBUS_TYPE_STRING, &text,
                                  DBUS_TYPE_INVALID) &&
            text && *text) {
            address = text;
        }
        dbus_error_free(&error);
    }
    dbus_connection_close(session);
    dbus_connection_unref(session);
    return address;
}

// One value read from a reply or a property's variant.
class Reader {
  public:
    explicit Reader(DBusMessage* message) { valid_ = dbus_message_iter_init(message, &iter_); }
    explicit Reader(const DBusMessageIter& iter) : iter_(iter), valid_(true) {}

    std::optional<std::int32_t> int32() {
        unwrapVariant();
        if (!valid_ || dbus_message_iter_get_arg_type(&iter_) != DBUS_TYPE_INT32) {
            return std::nullopt;
        }
        dbus_int32_t value = 0;
        dbus_message_iter_get_basic(&iter_, &value);
        next();
        return value;
    }

    std::optional<std::string> string() {
        unwrapVariant();
        const int type = valid_ ? dbus_message_iter_get_arg_type(&iter_) : DBUS_TYPE_INVALID;
        if (type != DBUS_TYPE_STRING && type != DBUS_TYPE_OBJECT_PATH) {
            return std::nullopt;
        }
        const char* value = nullptr;
        dbus_message_iter_get_basic(&iter_, &value);
        next();
        return std::string(value ? value : "");
    }

    // The elements of an array, each read by `each` from a reader of its own.
    template <typename Each>
    bool array(Each each) {
        if (!valid_ || dbus_message_iter_get_arg_type(&iter_) != DBUS_TYPE_ARRAY) {
            return false;
        }
        DBusMessageIter elements;
        dbus_message_iter_recurse(&iter_, &elements);
        while (dbus_message_iter_get_arg_type(&elements) != DBUS_TYPE_INVALID) {
            DBusMessageIter element = elements;
            if (dbus_message_iter_get_arg_type(&element) == DBUS_TYPE_STRUCT) {
                dbus_message_iter_recurse(&elements, &element);
            }
            Reader reader(element);
            each(reader);
            dbus_message_iter_next(&elements);
        }
        next();
        return true;
    }

    std::optional<std::uint32_t> uint32() {
        if (!valid_ || dbus_message_iter_get_arg_type(&iter_) != DBUS_TYPE_UINT32) {
            return std::nullopt;
        }
        dbus_uint32_t value = 0;
        dbus_message_iter_get_basic(&iter_, &value);
        next();
        return value;
    }

  private:
    void unwrapVariant() {
        if (valid_ && dbus_message_iter_get_arg_type(&iter_) == DBUS_TYPE_VARIANT) {
            DBusMessageIter inner;
            dbus_message_iter_recurse(&iter_, &inner);
            iter_ = inner;
        }
    }
    // Past the last argument the type reads as invalid, which every reader checks.
    void next() { dbus_message_iter_next(&iter_); }

    DBusMessageIter iter_{};
    bool valid_ = false;
};

using StateBits = std::uint64_t;

bool has(StateBits states, AtspiStateType state) {
    return (states >> static_cast<unsigned>(state)) & 1;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

class X11FocusReader::Accessibility {
  public:
    ~Accessibility() { disconnect(); }

    bool available() { return connection() != nullptr; }

    std::optional<AccessibleElementRef> focusedElement(int pid) {
        // Our own accessible objects are served by this very thread, which is waiting here:
        // every call would only time out.
        if (pid <= 0 || pid == getpid() || !connection()) {
            return std::nullopt;
        }
        Search search{std::chrono::steady_clock::now() + searchBudget};
        const auto applications =
            childrenOf({ATSPI_DBUS_NAME_REGISTRY, ATSPI_DBUS_PATH_ROOT}, search);
        if (!applications) {
            return std::nullopt;
        }
        for (const AccessibleElementRef& application : *applications) {
            if (search.over() || processOf(application.busName) != pid) {
                continue;
            }
            if (auto found = searchApplication(application, search)) {
                return found;
            }
        }
        return std::nullopt;
    }

    std::optional<std::string> roleOf(const AccessibleElementRef& element) {
        Message reply = call(element, ATSPI_DBUS_INTERFACE_ACCESSIBLE, "GetRoleName");
        return reply ? Reader(reply.get()).string() : std::nullopt;
    }

    std::optional<std::string> textOf(const AccessibleElementRef& element) {
        auto read = readText(element);
        if (!read) {
            return std::nullopt;
        }
        return std::move(read->text);
    }

    std::optional<TextSelectionRange> selectedRange(const AccessibleElementRef& element) {
        auto read = readText(element);
        if (!read) {
            return std::nullopt;
        }
        const TextLengths lengths = lengthsOf(read->text);
        const OffsetUnit unit = unitOf(read->characterCount, lengths);
        auto utf16 = [&](long offset) { return toUTF16(offset, unit, read->text, lengths); };
        if (Message reply = call(element, ATSPI_DBUS_INTERFACE_TEXT, "GetNSelections")) {
            if (Reader(reply.get()).int32().value_or(0) > 0) {
                const dbus_int32_t first = 0;
                Message selection = call(element, ATSPI_DBUS_INTERFACE_TEXT, "GetSelection",
                                         [&](DBusMessage* message) {
                                             dbus_message_append_args(message, DBUS_TYPE_INT32,
                                                                      &first, DBUS_TYPE_INVALID);
                                         });
                if (selection) {
                    Reader reader(selection.get());
                    const auto start = reader.int32();
                    const auto end = reader.int32();
                    if (start && end && *start != *end) {
                        const long from = utf16(std::min(*start, *end));
                        const long to = utf16(std::max(*start, *end));
                        return TextSelectionRange{from, to - from};
                    }
                }
            }
        }
        const auto caret = property(element, ATSPI_DBUS_INTERFACE_TEXT, "CaretOffset");
        if (!caret || *caret < 0) {
            return std::nullopt;
        }
        return TextSelectionRange{utf16(*caret), 0};
    }

  private:
    // A search's time and size budget; a call that goes unanswered ends it, since a hung
    // application leaves every further call unanswered too.
    struct Search {
        std::chrono::steady_clock::time_point deadline;
        int visits = 0;
        bool unanswered = false;
        bool over() const {
            return unanswered || visits > searchNodeLimit ||
                   std::chrono::steady_clock::now() > deadline;
        }
    };

    struct ReadText {
        std::string text;
        long characterCount = 0;
    };

    DBusConnection* connection() {
        if (connection_ && !dbus_connection_get_is_connected(connection_)) {
            disconnect();
        }
        if (!connection_ && !triedWithoutBus_) {
            connect();
        }
        return connection_;
    }

    void connect() {
        const auto address = accessibilityBusAddress();
        if (!address) {
            triedWithoutBus_ = true;  // no accessibility bus in this session
            return;
        }
        DBusError error;
        dbus_error_init(&error);
        connection_ = dbus_connection_open_private(address->c_str(), &error);
        if (connection_) {
            dbus_connection_set_exit_on_disconnect(connection_, FALSE);
            if (!dbus_bus_register(connection_, &error)) {
                disconnect();
            }
        }
        dbus_error_free(&error);
        if (!connection_) {
            triedWithoutBus_ = true;
        }
    }

    // Replies that arrive after their call timed out would pile up in the connection's queue:
    // dispatching with no handlers drops them.
    static void drainUnexpected(DBusConnection* bus) {
        while (dbus_connection_get_dispatch_status(bus) == DBUS_DISPATCH_DATA_REMAINS) {
            dbus_connection_dispatch(bus);
        }
    }

    void disconnect() {
        if (connection_) {
            dbus_connection_close(connection_);
            dbus_connection_unref(connection_);
            connection_ = nullptr;
        }
    }

    template <typename Arguments = void (*)(DBusMessage*)>
    Message call(
        const AccessibleElementRef& element, const char* interface, const char* method,
        Arguments arguments = [](DBusMessage*) {}, Search* search = nullptr) {
        DBusConnection* bus = connection();
        if (!bus || element.busName.empty() || element.objectPath.empty() ||
            !dbus_validate_bus_name(element.busName.c_str(), nullptr) ||
            !dbus_validate_path(element.objectPath.c_str(), nullptr)) {
            return nullptr;
        }
        Message message{dbus_message_new_method_call(
            element.busName.c_str(), element.objectPath.c_str(), interface, method)};
        if (!message) {
            return nullptr;
        }
        arguments(message.get());
        DBusError error;
        dbus_error_init(&error);
        Message reply{
            dbus_connection_send_with_reply_and_block(bus, message.get(), callTimeoutMs, &error)};
        drainUnexpected(bus);
        if (search && dbus_error_is_set(&error) &&
            (dbus_error_has_name(&error, DBUS_ERROR_NO_REPLY) ||
             dbus_error_has_name(&error, DBUS_ERROR_TIMEOUT))) {
            search->unanswered = true;
        }
        dbus_error_free(&error);
        return reply;
    }

    std::optional<std::int32_t> property(const AccessibleElementRef& element, const char* interface,
                                         const char* name) {
        Message reply = call(element, DBUS_INTERFACE_PROPERTIES, "Get", [&](DBusMessage* message) {
            dbus_message_append_args(message, DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING, &name,
                                     DBUS_TYPE_INVALID);
        });
        return reply ? Reader(reply.get()).int32() : std::nullopt;
    }

    std::optional<ReadText> readText(const AccessibleElementRef& element) {
        const auto count = property(element, ATSPI_DBUS_INTERFACE_TEXT, "CharacterCount");
        if (!count || *count < 0) {
            return std::nullopt;
        }
        ReadText read;
        read.characterCount = *count;
        if (*count == 0) {
            return read;
        }
        const dbus_int32_t start = 0, end = *count;
        Message reply =
            call(element, ATSPI_DBUS_INTERFACE_TEXT, "GetText", [&](DBusMessage* message) {
                dbus_message_append_args(message, DBUS_TYPE_INT32, &start, DBUS_TYPE_INT32, &end,
                                         DBUS_TYPE_INVALID);
            });
        auto text = reply ? Reader(reply.get()).string() : std::nullopt;
        if (!text) {
            return std::nullopt;
        }
        read.text = std::move(*text);
        return read;
    }

    std::optional<std::vector<AccessibleElementRef>> childrenOf(const AccessibleElementRef& element,
                                                                Search& search) {
        Message reply = call(
            element, ATSPI_DBUS_INTERFACE_ACCESSIBLE, "GetChildren", [](DBusMessage*) {}, &search);
        if (!reply) {
            return std::nullopt;
        }
        std::vector<AccessibleElementRef> children;
        Reader(reply.get()).array([&](Reader& child) {
            auto busName = child.string();
            auto path = child.string();
            if (busName && path) {
                children.push_back({std::move(*busName), std::move(*path)});
            }
        });
        return children;
    }

    std::optional<StateBits> statesOf(const AccessibleElementRef& element, Search& search) {
        Message reply = call(
            element, ATSPI_DBUS_INTERFACE_ACCESSIBLE, "GetState", [](DBusMessage*) {}, &search);
        if (!reply) {
            return std::nullopt;
        }
        std::vector<std::uint32_t> words;
        Reader(reply.get()).array([&](Reader& word) {
            if (auto value = word.uint32()) {
                words.push_back(*value);
            }
        });
        if (words.size() < 2) {
            return std::nullopt;
        }
        return StateBits{words[0]} | (StateBits{words[1]} << 32);
    }

    int processOf(const std::string& busName) {
        DBusConnection* bus = connection();
        Message message{dbus_message_new_method_call(
            DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "GetConnectionUnixProcessID")};
        const char* name = busName.c_str();
        if (!bus || !message ||
            !dbus_message_append_args(message.get(), DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID)) {
            return 0;
        }
        DBusError error;
        dbus_error_init(&error);
        Message reply{
            dbus_connection_send_with_reply_and_block(bus, message.get(), callTimeoutMs, &error)};
        dbus_error_free(&error);
        return reply ? static_cast<int>(Reader(reply.get()).uint32().value_or(0)) : 0;
    }

    // The focused element under the application's active window (or under any of its windows
    // when none says it is active), depth first.
    std::optional<AccessibleElementRef> searchApplication(const AccessibleElementRef& application,
                                                          Search& search) {
        const auto windows = childrenOf(application, search);
        if (!windows) {
            return std::nullopt;
        }
        std::vector<AccessibleElementRef> active, other;
        for (const AccessibleElementRef& window : *windows) {
            if (search.over()) {
                return std::nullopt;
            }
            const auto states = statesOf(window, search);
            (states && has(*states, ATSPI_STATE_ACTIVE) ? active : other).push_back(window);
        }
        for (const auto& window : active.empty() ? other : active) {
            if (auto found = searchTree(window, search)) {
                return found;
            }
        }
        return std::nullopt;
    }

    std::optional<AccessibleElementRef> searchTree(const AccessibleElementRef& root,
                                                   Search& search) {
        std::vector<AccessibleElementRef> stack = {root};
        while (!stack.empty()) {
            ++search.visits;
            if (search.over()) {
                return std::nullopt;
            }
            AccessibleElementRef node = std::move(stack.back());
            stack.pop_back();
            const auto states = statesOf(node, search);
            if (!states) {
                continue;
            }
            if (has(*states, ATSPI_STATE_FOCUSED)) {
                return node;
            }
            // Hidden parts cannot hold the focus, and containers that manage their
            // descendants (long lists, tables, terminals' grids) may have thousands.
            if (!has(*states, ATSPI_STATE_SHOWING) ||
                has(*states, ATSPI_STATE_MANAGES_DESCENDANTS)) {
                continue;
            }
            if (auto children = childrenOf(node, search)) {
                // Pushed in reverse so that the first child is looked at first.
                stack.insert(stack.end(), children->rbegin(), children->rend());
            }
        }
        return std::nullopt;
    }

    DBusConnection* connection_ = nullptr;
    bool triedWithoutBus_ = false;
};

// ---------------------------------------------------------------------------------------------

X11FocusReader::X11FocusReader(std::string displayName)
    : displayName_(std::move(displayName)), accessibility_(std::make_unique<Accessibility>()) {}

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

bool X11FocusReader::accessibilityAvailable() {
    return accessibility_->available();
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
    FrontApplication application;
    if (auto pid = cardinalProperty(display, window, "_NET_WM_PID", XA_CARDINAL)) {
        application.processID = static_cast<int>(*pid);
    }
    application.classID = windowClass(display, window);
    // A window that vanished while it was read answers with errors: no application.
    XSync(display, False);
    if (x11->takeError() != 0 || x11->lost()) {
        return std::nullopt;
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
    if (!front) {
        return std::nullopt;
    }
    return accessibility_->focusedElement(front->processID);
}

std::optional<std::string> X11FocusReader::roleOf(const AccessibleElementRef& element) {
    return accessibility_->roleOf(element);
}

std::optional<std::string> X11FocusReader::textOf(const AccessibleElementRef& element) {
    return accessibility_->textOf(element);
}

std::optional<TextSelectionRange> X11FocusReader::selectedRange(
    const AccessibleElementRef& element) {
    return accessibility_->selectedRange(element);
}

// ---------------------------------------------------------------------------------------------

bool enableDesktopAccessibility() {
    DBusError error;
    dbus_error_init(&error);
    // A private connection, closed again: the shared one belongs to whoever opened it first.
    DBusConnection* bus = dbus_bus_get_private(DBUS_BUS_SESSION, &error);
    if (!bus) {
        dbus_error_free(&error);
        return false;
    }
    dbus_connection_set_exit_on_disconnect(bus, FALSE);
    DBusMessage* call = dbus_message_new_method_call("org.a11y.Bus", "/org/a11y/bus",
                                                     "org.freedesktop.DBus.Properties", "Set");
    bool done = false;
    if (call) {
        const char* interface = "org.a11y.Status";
        const char* property = "IsEnabled";
        const dbus_bool_t enabled = TRUE;
        DBusMessageIter arguments, variant;
        dbus_message_iter_init_append(call, &arguments);
        dbus_message_iter_append_basic(&arguments, DBUS_TYPE_STRING, &interface);
        dbus_message_iter_append_basic(&arguments, DBUS_TYPE_STRING, &property);
        dbus_message_iter_open_container(&arguments, DBUS_TYPE_VARIANT, "b", &variant);
        dbus_message_iter_append_basic(&variant, DBUS_TYPE_BOOLEAN, &enabled);
        dbus_message_iter_close_container(&arguments, &variant);
        DBusMessage* reply = dbus_connection_send_with_reply_and_block(bus, call, 1000, &error);
        done = reply != nullptr;
        if (reply) {
            dbus_message_unref(reply);
        }
        dbus_message_unref(call);
    }
    dbus_error_free(&error);
    dbus_connection_close(bus);
    dbus_connection_unref(bus);
    return done;
}

}  // namespace vurin
