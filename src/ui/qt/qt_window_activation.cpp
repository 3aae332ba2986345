#include "ui/qt/qt_window_activation.h"

#include <xcb/xcb.h>

#include <qpa/qplatformnativeinterface.h>
#include <QGuiApplication>
#include <QPointer>
#include <QWidget>
#include <QWindow>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "platform/wayland/xdg_activation.h"

namespace vurin {

namespace {

bool onWayland() {
    return QGuiApplication::platformName().startsWith("wayland");
}

xcb_connection_t* xcbConnection() {
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t* connection, const char* name) {
    const auto cookie =
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    const xcb_atom_t value = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return value;
}

xcb_window_t rootOf(xcb_connection_t* connection) {
    return xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
}

// The moment of the user's click that a startup id carries after "_TIME" (0 when none).
std::uint32_t timestampOf(const std::string& startupId) {
    const auto at = startupId.rfind("_TIME");
    if (at == std::string::npos) {
        return 0;
    }
    std::uint32_t value = 0;
    for (std::size_t i = at + 5; i < startupId.size() && std::isdigit(startupId[i]); ++i) {
        value = value * 10 + static_cast<std::uint32_t>(startupId[i] - '0');
    }
    return value;
}

// The startup-notification message that ends the launch `startupId`: sent to the root window
// in pieces of 20 bytes, from a window of this client made for the purpose.
void sendStartupRemove(xcb_connection_t* connection, const std::string& startupId) {
    std::string message = "remove: ID=\"";
    for (const char c : startupId) {
        if (c == '"' || c == '\\') {
            message += '\\';
        }
        message += c;
    }
    message += '"';
    message += '\0';
    const xcb_window_t root = rootOf(connection);
    const xcb_window_t sender = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, sender, root, -100, -100, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    const xcb_atom_t begin = atom(connection, "_NET_STARTUP_INFO_BEGIN");
    const xcb_atom_t more = atom(connection, "_NET_STARTUP_INFO");
    for (std::size_t offset = 0; offset < message.size(); offset += 20) {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 8;
        event.window = sender;
        event.type = offset == 0 ? begin : more;
        std::memcpy(event.data.data8, message.data() + offset,
                    std::min<std::size_t>(20, message.size() - offset));
        xcb_send_event(connection, 0, root, XCB_EVENT_MASK_PROPERTY_CHANGE,
                       reinterpret_cast<const char*>(&event));
    }
    xcb_destroy_window(connection, sender);
    xcb_flush(connection);
}

// What a pager sends when the user picks a window, with the time of the launcher's click: the
// window manager weighs it against the user's last input in the window in front.
void requestActiveWindow(xcb_connection_t* connection, xcb_window_t window,
                         std::uint32_t timestamp) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom(connection, "_NET_ACTIVE_WINDOW");
    event.data.data32[0] = 1;  // from an application
    event.data.data32[1] = timestamp;
    xcb_send_event(connection, 0, rootOf(connection),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(connection);
}

bool activateWaylandWindow(QWindow* window, const std::string& token) {
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    if (!native || !window) {
        return false;
    }
    auto* display = static_cast<wl_display*>(native->nativeResourceForIntegration("wl_display"));
    auto* surface = static_cast<wl_surface*>(native->nativeResourceForWindow("surface", window));
    return activateWaylandSurface(display, surface, token);
}

// The compositor takes a token for a surface it shows: a window just shown is activated once it
// is first exposed.
class ActivateWhenExposed : public QObject {
  public:
    ActivateWhenExposed(QWindow* window, std::string token)
        : QObject(window), window_(window), token_(std::move(token)) {
        window->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window_ && event->type() == QEvent::Expose && window_->isExposed()) {
            activateWaylandWindow(window_, token_);
            deleteLater();
        }
        return false;
    }

  private:
    QPointer<QWindow> window_;
    std::string token_;
};

}  // namespace

void activateWithToken(QWidget* window, const std::string& token) {
    window->raise();
    window->activateWindow();
    if (token.empty()) {
        return;
    }
    if (onWayland()) {
        QWindow* handle = window->windowHandle();
        if (handle && handle->isExposed()) {
            activateWaylandWindow(handle, token);
        } else if (handle) {
            new ActivateWhenExposed(handle, token);
        }
    } else if (xcb_connection_t* connection = xcbConnection()) {
        requestActiveWindow(connection, static_cast<xcb_window_t>(window->winId()),
                            timestampOf(token));
        sendStartupRemove(connection, token);
    }
}

void completeStartup(const std::string& token) {
    if (token.empty() || onWayland()) {
        return;
    }
    if (xcb_connection_t* connection = xcbConnection()) {
        sendStartupRemove(connection, token);
    }
}

}  // namespace vurin
