#include "platform/linux/focus_reader_x11.h"

// GLib and AT-SPI first: Xlib's macros (None, Status, Bool) would break their headers.
#include <atspi/atspi.h>
#include <dbus/dbus.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/linux/x11_connection.h"

namespace vurin {

namespace {

// One AT-SPI call may take this long before it counts as unanswered; a focus search may take
// this many calls' worth of time and visit this many elements in all.
constexpr int callTimeoutMs = 250;
constexpr auto searchBudget = std::chrono::milliseconds(400);
constexpr int searchNodeLimit = 2000;
// Elements handed out recently, kept so that role, text and selection can be read again by
// their reference.
constexpr std::size_t rememberedElements = 16;

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
// GLib ownership

struct GObjectUnref {
    void operator()(gpointer object) const {
        if (object) {
            g_object_unref(object);
        }
    }
};
template <typename T>
using GRef = std::unique_ptr<T, GObjectUnref>;

struct GFreeString {
    void operator()(gchar* text) const { g_free(text); }
};
using GText = std::unique_ptr<gchar, GFreeString>;

// Absorbs the error of one call: accessibility failures only ever mean "no answer".
class CallError {
  public:
    ~CallError() { clear(); }
    GError** out() {
        clear();
        return &error_;
    }
    bool failed() const { return error_ != nullptr; }

  private:
    void clear() {
        if (error_) {
            g_error_free(error_);
            error_ = nullptr;
        }
    }
    GError* error_ = nullptr;
};

bool hasState(AtspiAccessible* accessible, AtspiStateType state) {
    GRef<AtspiStateSet> states(atspi_accessible_get_state_set(accessible));
    return states && atspi_state_set_contains(states.get(), state);
}

AccessibleElementRef referenceOf(AtspiAccessible* accessible) {
    const AtspiObject& object = accessible->parent;
    return {object.app && object.app->bus_name ? object.app->bus_name : "",
            object.path ? object.path : ""};
}

// AT-SPI keeps one connection per process; whether it came up is decided once.
bool atspiConnected() {
    static const bool connected = [] {
        // 2: no accessibility bus. 1: someone in this process connected already.
        const int result = atspi_init();
        if (result == 2) {
            return false;
        }
        // No grace period for newly started applications: their first calls may hang too.
        atspi_set_timeout(callTimeoutMs, -1);
        return true;
    }();
    return connected;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

class X11FocusReader::Accessibility {
  public:
    bool available() const { return atspiConnected(); }

    std::optional<AccessibleElementRef> focusedElement(int pid) {
        if (!available() || pid <= 0) {
            return std::nullopt;
        }
        const auto deadline = std::chrono::steady_clock::now() + searchBudget;
        int visits = 0;
        GRef<AtspiAccessible> desktop(atspi_get_desktop(0));
        if (!desktop) {
            return std::nullopt;
        }
        CallError error;
        const gint applications = atspi_accessible_get_child_count(desktop.get(), error.out());
        for (gint index = 0; !error.failed() && index < applications; ++index) {
            GRef<AtspiAccessible> application(
                atspi_accessible_get_child_at_index(desktop.get(), index, error.out()));
            if (!application) {
                error.out();
                continue;
            }
            CallError pidError;
            const guint applicationPid =
                atspi_accessible_get_process_id(application.get(), pidError.out());
            if (pidError.failed() || static_cast<int>(applicationPid) != pid) {
                continue;
            }
            // States are read fresh every time: without an AT-SPI event loop a cached state
            // would never learn that the focus moved.
            atspi_accessible_set_cache_mask(application.get(), ATSPI_CACHE_NONE);
            if (auto found = searchApplication(application.get(), deadline, visits)) {
                return remember(std::move(found));
            }
        }
        return std::nullopt;
    }

    std::optional<std::string> roleOf(const AccessibleElementRef& element) {
        AtspiAccessible* accessible = find(element);
        if (!accessible) {
            return std::nullopt;
        }
        CallError error;
        GText role(atspi_accessible_get_role_name(accessible, error.out()));
        if (error.failed() || !role) {
            return std::nullopt;
        }
        return std::string(role.get());
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
        AtspiText* text = read->interface.get();
        const TextLengths lengths = lengthsOf(read->text);
        const OffsetUnit unit = unitOf(read->characterCount, lengths);
        CallError error;
        const gint selections = atspi_text_get_n_selections(text, error.out());
        if (!error.failed() && selections > 0) {
            AtspiRange* range = atspi_text_get_selection(text, 0, error.out());
            if (range && !error.failed() && range->end_offset != range->start_offset) {
                const long start = toUTF16(std::min(range->start_offset, range->end_offset), unit,
                                           read->text, lengths);
                const long end = toUTF16(std::max(range->start_offset, range->end_offset), unit,
                                         read->text, lengths);
                g_free(range);
                return TextSelectionRange{start, end - start};
            }
            g_free(range);
        }
        const gint caret = atspi_text_get_caret_offset(text, error.out());
        if (error.failed() || caret < 0) {
            return std::nullopt;
        }
        return TextSelectionRange{toUTF16(caret, unit, read->text, lengths), 0};
    }

  private:
    struct ReadText {
        GRef<AtspiText> interface;
        std::string text;
        long characterCount = 0;
    };

    std::optional<ReadText> readText(const AccessibleElementRef& element) {
        AtspiAccessible* accessible = find(element);
        if (!accessible) {
            return std::nullopt;
        }
        ReadText read;
        read.interface.reset(atspi_accessible_get_text_iface(accessible));
        if (!read.interface) {
            return std::nullopt;
        }
        CallError error;
        const gint count = atspi_text_get_character_count(read.interface.get(), error.out());
        if (error.failed() || count < 0) {
            return std::nullopt;
        }
        read.characterCount = count;
        if (count > 0) {
            GText text(atspi_text_get_text(read.interface.get(), 0, count, error.out()));
            if (error.failed() || !text) {
                return std::nullopt;
            }
            read.text = text.get();
        }
        return read;
    }

    // The focused element under the application's active window (or under any of its windows
    // when none says it is active), depth first.
    GRef<AtspiAccessible> searchApplication(AtspiAccessible* application,
                                            std::chrono::steady_clock::time_point deadline,
                                            int& visits) {
        CallError error;
        const gint windows = atspi_accessible_get_child_count(application, error.out());
        if (error.failed()) {
            return nullptr;
        }
        std::vector<GRef<AtspiAccessible>> active, other;
        for (gint index = 0; index < windows; ++index) {
            GRef<AtspiAccessible> window(
                atspi_accessible_get_child_at_index(application, index, error.out()));
            if (!window) {
                continue;
            }
            (hasState(window.get(), ATSPI_STATE_ACTIVE) ? active : other)
                .push_back(std::move(window));
        }
        for (auto& window : active.empty() ? other : active) {
            if (auto found = searchTree(std::move(window), deadline, visits)) {
                return found;
            }
        }
        return nullptr;
    }

    GRef<AtspiAccessible> searchTree(GRef<AtspiAccessible> root,
                                     std::chrono::steady_clock::time_point deadline, int& visits) {
        std::vector<GRef<AtspiAccessible>> stack;
        stack.push_back(std::move(root));
        while (!stack.empty()) {
            if (++visits > searchNodeLimit || std::chrono::steady_clock::now() > deadline) {
                return nullptr;
            }
            GRef<AtspiAccessible> node = std::move(stack.back());
            stack.pop_back();
            GRef<AtspiStateSet> states(atspi_accessible_get_state_set(node.get()));
            if (!states) {
                continue;
            }
            if (atspi_state_set_contains(states.get(), ATSPI_STATE_FOCUSED)) {
                return node;
            }
            // Hidden parts cannot hold the focus, and containers that manage their
            // descendants (long lists, tables, terminals' grids) may have thousands.
            if (!atspi_state_set_contains(states.get(), ATSPI_STATE_SHOWING) ||
                atspi_state_set_contains(states.get(), ATSPI_STATE_MANAGES_DESCENDANTS)) {
                continue;
            }
            CallError error;
            const gint children = atspi_accessible_get_child_count(node.get(), error.out());
            // Pushed in reverse so that the first child is looked at first.
            for (gint index = children - 1; !error.failed() && index >= 0; --index) {
                if (GRef<AtspiAccessible> child(
                        atspi_accessible_get_child_at_index(node.get(), index, error.out()));
                    child) {
                    stack.push_back(std::move(child));
                }
            }
        }
        return nullptr;
    }

    AccessibleElementRef remember(GRef<AtspiAccessible> accessible) {
        AccessibleElementRef reference = referenceOf(accessible.get());
        std::erase_if(remembered_, [&](const auto& entry) { return entry.first == reference; });
        remembered_.emplace_back(reference, std::move(accessible));
        if (remembered_.size() > rememberedElements) {
            remembered_.erase(remembered_.begin());
        }
        return reference;
    }

    AtspiAccessible* find(const AccessibleElementRef& element) {
        for (const auto& [reference, accessible] : remembered_) {
            if (reference == element) {
                atspi_accessible_clear_cache(accessible.get());
                return accessible.get();
            }
        }
        return nullptr;
    }

    std::vector<std::pair<AccessibleElementRef, GRef<AtspiAccessible>>> remembered_;
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
