#include <gio/gio.h>

#include <string_view>

#include "platform/linux/global_shortcuts_run.h"
#include "support/log.h"

// The portal's requests (a call, then its Response on a Request object) and the open session.
namespace vurin {

using namespace shortcuts_portal;
using portal::messageOf;
using portal::remoteErrorName;
using portal::sessionBusAddress;

namespace {

GlobalShortcutsBinding bindingIn(GVariant* shortcuts) {
    GlobalShortcutsBinding binding;
    if (!shortcuts || !g_variant_is_of_type(shortcuts, G_VARIANT_TYPE("a(sa{sv})"))) {
        return binding;
    }
    GVariantIter iter;
    g_variant_iter_init(&iter, shortcuts);
    const gchar* id = nullptr;
    GVariant* properties = nullptr;
    while (g_variant_iter_next(&iter, "(&s@a{sv})", &id, &properties)) {
        if (std::string_view(id) == GlobalShortcutsPortal::shortcutId) {
            binding.bound = true;
            const gchar* trigger = nullptr;
            if (g_variant_lookup(properties, "trigger_description", "&s", &trigger)) {
                binding.triggerDescription = trigger;
            }
        }
        g_variant_unref(properties);
    }
    return binding;
}

}  // namespace

std::string GlobalShortcutsPortal::Run::expectResponse(Step what, guint timeoutS) {
    const std::string token = "vurin" + std::to_string(++tokens);
    step = what;
    requestPath = portal::requestPath(bus, token);
    responseSubscription = subscribeResponse(requestPath);
    requestTimeout = addTimeout(timeoutS * 1000, [](gpointer data) -> gboolean {
        auto* run = static_cast<Run*>(data);
        run->requestTimeout = 0;
        run->requestTimedOut();
        return G_SOURCE_REMOVE;
    });
    return token;
}

guint GlobalShortcutsPortal::Run::subscribeResponse(const std::string& path) {
    return subscribe(portalName, requestInterface, "Response", path.c_str(), nullptr,
                     [](GDBusConnection*, const gchar*, const gchar* path, const gchar*,
                        const gchar*, GVariant* parameters,
                        gpointer data) { static_cast<Run*>(data)->responded(path, parameters); });
}

void GlobalShortcutsPortal::Run::clearRequest() {
    unsubscribe(responseSubscription);
    unsubscribe(returnedSubscription);
    removeTimeout(requestTimeout);
    step = Step::none;
    requestPath.clear();
    returnedPath.clear();
}

void GlobalShortcutsPortal::Run::requestSent(GVariant* reply, GError* error) {
    const Step sent = sentSteps.front();
    sentSteps.pop_front();
    if (sent != step) {
        return;
    }
    // A backend without ListShortcuts is asked to bind straight away.
    if (!reply && sent == Step::listShortcuts) {
        clearRequest();
        bindShortcuts();
        return;
    }
    if (!reply) {
        const std::string reason = std::string("调用 ") + stepName() + " 失败:" + messageOf(error);
        clearRequest();
        finishStart(PortalStatus::failed, reason);
        return;
    }
    const gchar* handle = nullptr;
    g_variant_get(reply, "(&o)", &handle);
    if (handle != requestPath && returnedPath.empty()) {
        returnedPath = handle;
        returnedSubscription = subscribeResponse(returnedPath);
    }
}

void GlobalShortcutsPortal::Run::requestTimedOut() {
    const guint waited = step == Step::bindShortcuts ? bindTimeoutS : createSessionTimeoutS;
    const std::string reason = "桌面门户 " + std::to_string(waited) + " 秒内没有回应 " + stepName();
    send(requestPath.c_str(), requestInterface, "Close", nullptr);
    clearRequest();
    finishStart(PortalStatus::failed, reason);
}

void GlobalShortcutsPortal::Run::responded(const gchar* path, GVariant* parameters) {
    if (closing || step == Step::none || (path != requestPath && path != returnedPath)) {
        return;
    }
    guint32 response = 2;
    GVariant* results = nullptr;
    g_variant_get(parameters, "(u@a{sv})", &response, &results);
    const Step what = step;
    const std::string name = stepName();
    clearRequest();
    if (response != 0 && what == Step::listShortcuts) {
        bindShortcuts();
    } else if (response != 0) {
        finishStart(PortalStatus::failed, response == 1 ? "用户取消了 " + name
                                                        : "桌面门户拒绝了 " + name + "(响应 " +
                                                              std::to_string(response) + ")");
    } else if (what == Step::createSession) {
        sessionCreated(results);
    } else if (what == Step::listShortcuts) {
        shortcutsListed(results);
    } else {
        shortcutsBound(results);
    }
    g_variant_unref(results);
}

void GlobalShortcutsPortal::Run::sendRequest(const char* method, GVariant* parameters) {
    sentSteps.push_back(step);
    call(portalPath, shortcutsInterface, method, parameters, G_VARIANT_TYPE("(o)"),
         answeredBy<&Run::requestSent>);
}

GVariant* GlobalShortcutsPortal::Run::shortcutsVariant() const {
    GVariantBuilder properties;
    g_variant_builder_init(&properties, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&properties, "{sv}", "description",
                          g_variant_new_string(description.c_str()));
    g_variant_builder_add(&properties, "{sv}", "preferred_trigger",
                          g_variant_new_string(preferredTrigger.c_str()));
    GVariantBuilder shortcuts;
    g_variant_builder_init(&shortcuts, G_VARIANT_TYPE("a(sa{sv})"));
    g_variant_builder_add(&shortcuts, "(sa{sv})", shortcutId, &properties);
    return g_variant_builder_end(&shortcuts);
}

// KDE's backend (Plasma 5.27) registers a program's shortcuts with its shortcut service only from
// the `shortcuts` option of CreateSession, under the app id joined with the session token: the
// token is always the same, so that a key the user gives it in System Settings stays across
// runs. Other backends ignore the option.
void GlobalShortcutsPortal::Run::createSession() {
    const std::string token = expectResponse(Step::createSession, createSessionTimeoutS);
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    g_variant_builder_add(&options, "{sv}", "session_handle_token",
                          g_variant_new_string(sessionToken.c_str()));
    g_variant_builder_add(&options, "{sv}", "shortcuts", shortcutsVariant());
    sendRequest("CreateSession", g_variant_new("(a{sv})", &options));
}

void GlobalShortcutsPortal::Run::sessionCreated(GVariant* results) {
    sessionHandle = portal::sessionHandleOf(results);
    if (sessionHandle.empty()) {
        finishStart(PortalStatus::failed, "CreateSession 的回应里没有会话");
        return;
    }
    subscribeSession();
    const std::string token = expectResponse(Step::listShortcuts, createSessionTimeoutS);
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    sendRequest("ListShortcuts", g_variant_new("(oa{sv})", sessionHandle.c_str(), &options));
}

void GlobalShortcutsPortal::Run::shortcutsListed(GVariant* results) {
    GVariant* shortcuts = g_variant_lookup_value(results, "shortcuts", nullptr);
    const bool bound = bindingIn(shortcuts).bound;
    if (shortcuts) {
        g_variant_unref(shortcuts);
    }
    if (bound) {
        shortcutsBound(results);
    } else {
        bindShortcuts();
    }
}

void GlobalShortcutsPortal::Run::bindShortcuts() {
    const std::string token = expectResponse(Step::bindShortcuts, bindTimeoutS);
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    sendRequest("BindShortcuts", g_variant_new("(o@a(sa{sv})sa{sv})", sessionHandle.c_str(),
                                               shortcutsVariant(), "", &options));
}

void GlobalShortcutsPortal::Run::shortcutsBound(GVariant* results) {
    GVariant* shortcuts = g_variant_lookup_value(results, "shortcuts", nullptr);
    const GlobalShortcutsBinding binding = bindingIn(shortcuts);
    if (shortcuts) {
        g_variant_unref(shortcuts);
    }
    sessionOpen = true;
    impl.sessionOpen = true;
    PortalStartResult result{binding.bound ? PortalStatus::bound : PortalStatus::notBound, binding,
                             binding.bound ? "" : "桌面没有为听写快捷键绑定按键", version};
    startReported = true;
    notify(handlers.onStarted, result);
}

void GlobalShortcutsPortal::Run::subscribeSession() {
    subscriptions.push_back(subscribe(portalName, sessionInterface, "Closed", sessionHandle.c_str(),
                                      nullptr,
                                      [](GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                         const gchar*, GVariant*, gpointer data) {
                                          auto* run = static_cast<Run*>(data);
                                          if (!run->closing) {
                                              run->ended("桌面关闭了快捷键会话");
                                          }
                                      }));
    for (const char* member : {"Activated", "Deactivated"}) {
        subscriptions.push_back(subscribe(
            portalName, shortcutsInterface, member, portalPath, nullptr,
            [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* signal,
               GVariant* parameters,
               gpointer data) { static_cast<Run*>(data)->triggered(signal, parameters); }));
    }
    subscriptions.push_back(
        subscribe(portalName, shortcutsInterface, "ShortcutsChanged", portalPath, nullptr,
                  [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                     GVariant* parameters,
                     gpointer data) { static_cast<Run*>(data)->shortcutsChanged(parameters); }));
}

void GlobalShortcutsPortal::Run::triggered(const gchar* signal, GVariant* parameters) {
    if (closing || !sessionOpen ||
        !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(osta{sv})"))) {
        return;
    }
    const gchar* session = nullptr;
    const gchar* id = nullptr;
    g_variant_get(parameters, "(&o&sta{sv})", &session, &id, nullptr, nullptr);
    if (session == sessionHandle && std::string_view(id) == shortcutId) {
        notify(handlers.onTrigger, std::string_view(signal) == "Activated");
    }
}

void GlobalShortcutsPortal::Run::shortcutsChanged(GVariant* parameters) {
    if (closing || !sessionOpen ||
        !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(oa(sa{sv}))"))) {
        return;
    }
    const gchar* session = nullptr;
    GVariant* shortcuts = nullptr;
    g_variant_get(parameters, "(&o@a(sa{sv}))", &session, &shortcuts);
    const GlobalShortcutsBinding binding = bindingIn(shortcuts);
    g_variant_unref(shortcuts);
    if (session == sessionHandle) {
        notify(handlers.onBindingChanged, binding);
    }
}

void GlobalShortcutsPortal::Run::configured(GVariant* reply, GError* error) {
    if (!reply) {
        log("⚠️ 无法打开桌面的快捷键设置(ConfigureShortcuts):" + messageOf(error));
    }
}

void GlobalShortcutsPortal::Run::configure() {
    if (closing || !sessionOpen) {
        return;
    }
    call(portalPath, shortcutsInterface, "ConfigureShortcuts",
         g_variant_new("(osa{sv})", sessionHandle.c_str(), "", nullptr), nullptr,
         answeredBy<&Run::configured>);
}

}  // namespace vurin
