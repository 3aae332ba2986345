#include "platform/linux/atspi_bus.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace vurin::atspi {

namespace {

// One call may take this long before it counts as unanswered.
constexpr int callTimeoutMs = 250;
// Opening a connection (authentication and the bus's Hello) may take this long.
constexpr int openTimeoutMs = 1000;

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

// Replies that arrive after their call timed out would pile up in the connection's queue:
// dispatching with no handlers drops them.
void drainUnexpected(DBusConnection* bus) {
    while (dbus_connection_get_dispatch_status(bus) == DBUS_DISPATCH_DATA_REMAINS) {
        dbus_connection_dispatch(bus);
    }
}

// What dbus_bus_register does, within a time of our own: a bus that accepted the connection
// and hangs would keep that waiting for libdbus's default of 25 seconds, and a waiting call's
// time-out does not count while the connection is still authenticating.
bool sayHello(DBusConnection* bus) {
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + milliseconds(openTimeoutMs);
    while (!dbus_connection_get_is_authenticated(bus)) {
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
        if (left <= 0 || !dbus_connection_read_write(bus, static_cast<int>(left))) {
            return false;
        }
    }
    Message hello{dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS,
                                               DBUS_INTERFACE_DBUS, "Hello")};
    DBusError error;
    dbus_error_init(&error);
    const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
    Message reply{
        hello ? dbus_connection_send_with_reply_and_block(
                    bus, hello.get(), static_cast<int>(std::max<decltype(left)>(left, 1)), &error)
              : nullptr};
    const char* name = nullptr;
    const bool named =
        reply &&
        dbus_message_get_args(reply.get(), &error, DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID) &&
        dbus_bus_set_unique_name(bus, name);
    dbus_error_free(&error);
    return named;
}

}  // namespace

std::optional<std::string> busAddress() {
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
        Message reply{
            dbus_connection_send_with_reply_and_block(session, call.get(), openTimeoutMs, &error)};
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

// ---------------------------------------------------------------------------------------------

std::unique_ptr<Connection> Connection::open(const std::string& address) {
    DBusError error;
    dbus_error_init(&error);
    DBusConnection* bus = dbus_connection_open_private(address.c_str(), &error);
    if (bus) {
        dbus_connection_set_exit_on_disconnect(bus, FALSE);
    }
    dbus_error_free(&error);
    std::unique_ptr<Connection> connection(bus ? new Connection(bus) : nullptr);
    if (connection && !sayHello(bus)) {
        connection.reset();
    }
    return connection;
}

Connection::~Connection() {
    dbus_connection_close(bus_);
    dbus_connection_unref(bus_);
}

bool Connection::connected() const {
    return dbus_connection_get_is_connected(bus_);
}

Message Connection::call(const AccessibleElementRef& element, const char* interface,
                         const char* method, const Arguments& arguments, bool* unanswered) {
    if (element.busName.empty() || element.objectPath.empty() ||
        !dbus_validate_bus_name(element.busName.c_str(), nullptr) ||
        !dbus_validate_path(element.objectPath.c_str(), nullptr)) {
        return nullptr;
    }
    Message message{dbus_message_new_method_call(element.busName.c_str(),
                                                 element.objectPath.c_str(), interface, method)};
    if (!message) {
        return nullptr;
    }
    if (arguments) {
        arguments(message.get());
    }
    DBusError error;
    dbus_error_init(&error);
    Message reply{
        dbus_connection_send_with_reply_and_block(bus_, message.get(), callTimeoutMs, &error)};
    if (dropsUnexpected_) {
        drainUnexpected(bus_);
    }
    if (unanswered && dbus_error_is_set(&error) &&
        (dbus_error_has_name(&error, DBUS_ERROR_NO_REPLY) ||
         dbus_error_has_name(&error, DBUS_ERROR_TIMEOUT))) {
        *unanswered = true;
    }
    dbus_error_free(&error);
    return reply;
}

std::optional<std::string> Connection::role(const AccessibleElementRef& element) {
    Message reply = call(element, ATSPI_DBUS_INTERFACE_ACCESSIBLE, "GetRoleName");
    return reply ? Reader(reply.get()).string() : std::nullopt;
}

std::optional<std::string> Connection::text(const AccessibleElementRef& element) {
    auto read = readText(element);
    return read ? std::optional(std::move(read->text)) : std::nullopt;
}

std::optional<TextSelectionRange> Connection::selection(const AccessibleElementRef& element) {
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
            Message selection =
                call(element, ATSPI_DBUS_INTERFACE_TEXT, "GetSelection", [&](DBusMessage* message) {
                    dbus_message_append_args(message, DBUS_TYPE_INT32, &first, DBUS_TYPE_INVALID);
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
    const auto caret = intProperty(element, ATSPI_DBUS_INTERFACE_TEXT, "CaretOffset");
    if (!caret || *caret < 0) {
        return std::nullopt;
    }
    return TextSelectionRange{utf16(*caret), 0};
}

std::optional<std::int32_t> Connection::intProperty(const AccessibleElementRef& element,
                                                    const char* interface, const char* name) {
    Message reply = call(element, DBUS_INTERFACE_PROPERTIES, "Get", [&](DBusMessage* message) {
        dbus_message_append_args(message, DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING, &name,
                                 DBUS_TYPE_INVALID);
    });
    return reply ? Reader(reply.get()).int32() : std::nullopt;
}

std::optional<Connection::ReadText> Connection::readText(const AccessibleElementRef& element) {
    const auto count = intProperty(element, ATSPI_DBUS_INTERFACE_TEXT, "CharacterCount");
    if (!count || *count < 0) {
        return std::nullopt;
    }
    ReadText read;
    read.characterCount = *count;
    if (*count == 0) {
        return read;
    }
    const dbus_int32_t start = 0, end = *count;
    Message reply = call(element, ATSPI_DBUS_INTERFACE_TEXT, "GetText", [&](DBusMessage* message) {
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

std::optional<std::vector<AccessibleElementRef>> Connection::children(
    const AccessibleElementRef& element, bool* unanswered) {
    Message reply = call(element, ATSPI_DBUS_INTERFACE_ACCESSIBLE, "GetChildren", {}, unanswered);
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

std::optional<StateBits> Connection::states(const AccessibleElementRef& element, bool* unanswered) {
    Message reply = call(element, ATSPI_DBUS_INTERFACE_ACCESSIBLE, "GetState", {}, unanswered);
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

int Connection::processOf(const std::string& busName) {
    Message message{dbus_message_new_method_call(
        DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "GetConnectionUnixProcessID")};
    const char* name = busName.c_str();
    if (!message ||
        !dbus_message_append_args(message.get(), DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID)) {
        return 0;
    }
    DBusError error;
    dbus_error_init(&error);
    Message reply{
        dbus_connection_send_with_reply_and_block(bus_, message.get(), callTimeoutMs, &error)};
    dbus_error_free(&error);
    return reply ? static_cast<int>(Reader(reply.get()).uint32().value_or(0)) : 0;
}

// ---------------------------------------------------------------------------------------------

void Reader::unwrapVariant() {
    if (valid_ && dbus_message_iter_get_arg_type(&iter_) == DBUS_TYPE_VARIANT) {
        DBusMessageIter inner;
        dbus_message_iter_recurse(&iter_, &inner);
        iter_ = inner;
    }
}

template <typename Value, int kType>
std::optional<Value> Reader::basic() {
    unwrapVariant();
    if (!valid_ || dbus_message_iter_get_arg_type(&iter_) != kType) {
        return std::nullopt;
    }
    Value value{};
    dbus_message_iter_get_basic(&iter_, &value);
    next();
    return value;
}

std::optional<std::int32_t> Reader::int32() {
    return basic<dbus_int32_t, DBUS_TYPE_INT32>();
}

std::optional<std::uint32_t> Reader::uint32() {
    return basic<dbus_uint32_t, DBUS_TYPE_UINT32>();
}

std::optional<std::string> Reader::string() {
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

bool Reader::array(const std::function<void(Reader&)>& each) {
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

}  // namespace vurin::atspi
