#include "platform/linux/atspi_focus_tracker.h"

#include "platform/linux/atspi_bus.h"
#include "platform/linux/atspi_focus_search.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>

#include "support/log.h"

namespace vurin {

namespace {

using Clock = std::chrono::steady_clock;

// An unreachable bus is tried again at most this often, and only when a capture needs it.
constexpr auto kReconnectInterval = std::chrono::seconds(2);
// An application is searched again after this long: one that a search found no focus in, and
// one that sends no focus events, whose found element is then all there is to go by.
constexpr auto kSearchAgainAfter = std::chrono::seconds(5);
// The windows are asked again at most this often: a window whose program announces no change of
// its state (Qt's window given back the focus, or a program without accessibility) is found by
// asking, and a reading may come every few milliseconds during a paste.
constexpr auto kScanAgainAfter = std::chrono::milliseconds(250);

const char* const kFocusEvent = "object:state-changed:focused";
const char* const kFocusRule = "type='signal',interface='" ATSPI_DBUS_INTERFACE_EVENT_OBJECT
                               "',member='StateChanged',arg0='focused'";
// Windows say when they become the active one and when they stop being it.
const char* const kActiveEvent = "object:state-changed:active";
const char* const kActiveRule = "type='signal',interface='" ATSPI_DBUS_INTERFACE_EVENT_OBJECT
                                "',member='StateChanged',arg0='active'";
const char* const kNameRule = "type='signal',sender='" DBUS_SERVICE_DBUS
                              "',interface='" DBUS_INTERFACE_DBUS "',member='NameOwnerChanged'";

}  // namespace

class AtspiFocusTracker::Impl {
  public:
    Impl() : wake_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
        thread_ = std::thread([this] { run(); });
    }

    ~Impl() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wakeUp();
        thread_.join();
        close(wake_);
    }

    std::optional<Focus> focusIn(int pid, std::chrono::milliseconds wait) {
        std::unique_lock lock(mutex_);
        if (const Answer answer = lookup(pid); answer.known) {
            return answer.focus;
        }
        const auto asked = Clock::now();
        if (const auto last = searchedAt_.find(pid);
            last != searchedAt_.end() && asked - last->second < kSearchAgainAfter) {
            return lookup(pid).focus;
        }
        searchesWanted_.try_emplace(pid, asked);
        wakeUp();
        if (!address_) {  // searched once the bus is reached; this capture goes without
            connectWanted_ = true;
            return std::nullopt;
        }
        cv_.wait_for(lock, wait, [&] {
            const auto done = searchedAt_.find(pid);
            return stopping_ || lookup(pid).known ||
                   (done != searchedAt_.end() && done->second >= asked);
        });
        return lookup(pid).focus;
    }

    std::optional<Focus> known(const AccessibleElementRef& element) {
        std::lock_guard lock(mutex_);
        const auto app = apps_.find(element.busName);
        if (app == apps_.end() || app->second.element != element) {
            return std::nullopt;
        }
        return Focus{element, app->second.role};
    }

    std::optional<ActiveWindow> lastActivatedWindow(std::chrono::milliseconds wait, bool known) {
        std::unique_lock lock(mutex_);
        if (auto window = latestWindow(); window && known) {
            return window;
        }
        const auto asked = Clock::now();
        if (asked - scannedAt_ >= kScanAgainAfter && address_) {
            scanWanted_ = true;
            wakeUp();
            cv_.wait_for(lock, wait, [&] { return stopping_ || scannedAt_ >= asked; });
        }
        return latestWindow();
    }

    int focusedProcess(Clock::time_point since) {
        std::lock_guard lock(mutex_);
        const AppFocus* latest = nullptr;
        for (const auto& [name, app] : apps_) {
            if (app.element && app.gainedAt > since &&
                (!latest || app.gainedAt > latest->gainedAt)) {
                latest = &app;
            }
        }
        return latest ? latest->pid : 0;
    }

    std::optional<std::string> address() {
        std::lock_guard lock(mutex_);
        return address_;
    }

  private:
    // What the tracker knows of one application (one connection to the bus).
    struct AppFocus {
        int pid = 0;
        bool heard = false;  // it sent a focus event: its record is the truth from then on
        std::optional<AccessibleElementRef> element;
        std::optional<std::string> role;
        std::uint64_t sequence = 0;  // when the element was last set
        Clock::time_point gainedAt;  // when an event gave the element (never for a found one)
        Clock::time_point foundAt;   // when a search found it
        std::optional<AccessibleElementRef> window;  // its window that became active last
        std::uint64_t windowSequence = 0;
        Clock::time_point windowSince;
    };
    struct Answer {
        bool known = false;
        std::optional<Focus> focus;
    };

    // Under the lock: the window whose activation was heard (or found) last and not taken back.
    std::optional<ActiveWindow> latestWindow() const {
        const AppFocus* latest = nullptr;
        for (const auto& [name, app] : apps_) {
            if (app.window && (!latest || app.windowSequence > latest->windowSequence)) {
                latest = &app;
            }
        }
        if (!latest) {
            return std::nullopt;
        }
        return ActiveWindow{*latest->window, latest->pid, latest->windowSince};
    }

    // Under the lock.
    Answer lookup(int pid) const {
        Answer answer;
        const AppFocus* latest = nullptr;
        const auto now = Clock::now();
        for (const auto& [name, app] : apps_) {
            if (app.pid != pid) {
                continue;
            }
            answer.known =
                answer.known || app.heard || (app.element && now - app.foundAt < kSearchAgainAfter);
            if (app.element && (!latest || app.sequence > latest->sequence)) {
                latest = &app;
            }
        }
        if (latest) {
            answer.focus = Focus{*latest->element, latest->role};
        }
        return answer;
    }

    void wakeUp() {
        cv_.notify_all();
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = write(wake_, &one, sizeof one);
    }

    void run() {
        for (;;) {
            if (!connection_ && !waitForConnectionAttempt()) {
                break;
            }
            if (!connection_) {
                connect();
                continue;
            }
            serveSearches();
            scanWindows();
            readMessages();
            if (!connection_->connected()) {
                lose();
                continue;
            }
            if (!waitForTraffic()) {
                break;
            }
        }
        connection_.reset();
    }

    // False once the tracker stops.
    bool waitForConnectionAttempt() {
        std::unique_lock lock(mutex_);
        while (!stopping_ && !(connectWanted_ && Clock::now() >= nextAttempt_)) {
            if (connectWanted_) {
                cv_.wait_until(lock, nextAttempt_);
            } else {
                cv_.wait(lock);
            }
        }
        return !stopping_;
    }

    void connect() {
        const auto address = atspi::busAddress();
        auto connection = address ? atspi::Connection::open(*address) : nullptr;
        if (connection && !subscribe(*connection)) {
            connection.reset();
        }
        std::lock_guard lock(mutex_);
        connectWanted_ = false;
        if (!connection) {
            nextAttempt_ = Clock::now() + kReconnectInterval;
            if (!reportedUnreachable_) {
                log("⚠️ "
                    "无障碍总线(AT-SPI)不可用,暂时无法读取输入焦点;需要时会重试");
                reportedUnreachable_ = true;
            }
            return;
        }
        if (reportedUnreachable_) {
            log("✅ 已连接无障碍总线(AT-SPI)");
            reportedUnreachable_ = false;
        }
        address_ = address;
        connection_ = std::move(connection);
        scanWanted_ = true;
    }

    // The rules are added without waiting for the bus's answer (a waiting call has no time-out
    // of its own); the registration that follows them is answered after them.
    static bool subscribe(atspi::Connection& connection) {
        connection.keepIncoming();
        dbus_bus_add_match(connection.bus(), kFocusRule, nullptr);
        dbus_bus_add_match(connection.bus(), kActiveRule, nullptr);
        dbus_bus_add_match(connection.bus(), kNameRule, nullptr);
        return registerListener(connection);
    }

    // Focus events reach only listeners the registry knows of: applications ask it which
    // events anyone wants and stay silent otherwise. A registry that restarts knows none.
    static bool registerListener(atspi::Connection& connection) {
        const auto registerEvent = [&](const char* event) {
            return connection.call({ATSPI_DBUS_NAME_REGISTRY, ATSPI_DBUS_PATH_REGISTRY},
                                   ATSPI_DBUS_INTERFACE_REGISTRY, "RegisterEvent",
                                   [&](DBusMessage* message) {
                                       dbus_message_append_args(message, DBUS_TYPE_STRING, &event,
                                                                DBUS_TYPE_INVALID);
                                   }) != nullptr;
        };
        return registerEvent(kFocusEvent) && registerEvent(kActiveEvent);
    }

    void lose() {
        connection_.reset();
        std::lock_guard lock(mutex_);
        log("⚠️ 无障碍总线(AT-SPI)连接已断开;需要时会重连");
        apps_.clear();
        searchedAt_.clear();
        scannedAt_ = {};
        address_.reset();
        nextAttempt_ = Clock::now() + kReconnectInterval;
        reportedUnreachable_ = true;
    }

    // False once the tracker stops.
    bool waitForTraffic() {
        DBusConnection* bus = connection_->bus();
        dbus_connection_flush(bus);
        int fd = -1;
        if (dbus_connection_get_dispatch_status(bus) == DBUS_DISPATCH_DATA_REMAINS ||
            !dbus_connection_get_unix_fd(bus, &fd)) {
            return true;
        }
        pollfd fds[] = {{fd, POLLIN, 0}, {wake_, POLLIN, 0}};
        // Without an event descriptor, requests and the stop are noticed by polling.
        poll(fds, 2, wake_ < 0 ? 100 : -1);
        std::uint64_t count = 0;
        [[maybe_unused]] const auto read = ::read(wake_, &count, sizeof count);
        std::lock_guard lock(mutex_);
        return !stopping_;
    }

    void readMessages() {
        DBusConnection* bus = connection_->bus();
        dbus_connection_read_write(bus, 0);
        while (DBusMessage* raw = dbus_connection_pop_message(bus)) {
            const atspi::Message message{raw};
            if (dbus_message_is_signal(raw, ATSPI_DBUS_INTERFACE_EVENT_OBJECT, "StateChanged")) {
                atspi::Reader reader(raw);
                const auto minor = reader.string();
                const auto gained = reader.int32();
                const char* sender = dbus_message_get_sender(raw);
                const char* path = dbus_message_get_path(raw);
                if (minor == "focused" && gained && sender && path) {
                    focusChanged({sender, path}, *gained != 0);
                } else if (minor == "active" && gained && sender && path) {
                    windowActivated({sender, path}, *gained != 0);
                }
            } else if (dbus_message_is_signal(raw, DBUS_INTERFACE_DBUS, "NameOwnerChanged")) {
                atspi::Reader reader(raw);
                const auto name = reader.string();
                reader.string();
                const auto owner = reader.string();
                if (name && owner && owner->empty()) {
                    std::lock_guard lock(mutex_);
                    apps_.erase(*name);
                } else if (name == ATSPI_DBUS_NAME_REGISTRY && owner) {
                    registerListener(*connection_);
                }
            }
        }
    }

    // Only this thread writes `apps_`, so it reads it without the lock.
    int processOf(const std::string& busName) {
        if (const auto app = apps_.find(busName); app != apps_.end() && app->second.pid > 0) {
            return app->second.pid;
        }
        const int pid = connection_->processOf(busName);
        std::lock_guard lock(mutex_);
        apps_[busName].pid = pid;
        return pid;
    }

    // Our own elements are served by the main thread, which may be the one waiting.
    std::optional<std::string> roleOf(const AccessibleElementRef& element, int pid) {
        return pid == getpid() ? std::nullopt : connection_->role(element);
    }

    void focusChanged(const AccessibleElementRef& element, bool gained) {
        const int pid = processOf(element.busName);
        const AppFocus& app = apps_.at(element.busName);  // processOf made the record
        std::optional<std::string> role;
        if (gained) {  // GTK repeats its events: the role is read once per element
            role = app.element == element ? app.role : roleOf(element, pid);
        }
        std::lock_guard lock(mutex_);
        AppFocus& changed = apps_[element.busName];
        changed.heard = true;
        if (gained) {
            changed.element = element;
            changed.role = std::move(role);
            changed.sequence = ++sequence_;
            changed.gainedAt = Clock::now();
        } else if (changed.element == element) {
            changed.element.reset();
            changed.role.reset();
        }
    }

    void windowActivated(const AccessibleElementRef& window, bool gained) {
        processOf(window.busName);  // makes the record
        std::lock_guard lock(mutex_);
        AppFocus& app = apps_[window.busName];
        if (gained) {
            app.window = window;
            app.windowSequence = ++sequence_;
            app.windowSince = Clock::now();
        } else if (app.window == window) {
            app.window.reset();
        }
    }

    // Applications that were in front before the tracker listened sent no activation: their
    // windows are asked for their state.
    void scanWindows() {
        {
            std::lock_guard lock(mutex_);
            if (!scanWanted_) {
                return;
            }
            scanWanted_ = false;
        }
        atspi::SearchBudget budget{stopping_};
        const auto applications =
            connection_->children({ATSPI_DBUS_NAME_REGISTRY, ATSPI_DBUS_PATH_ROOT});
        std::optional<AccessibleElementRef> found;
        for (const AccessibleElementRef& application :
             applications.value_or(std::vector<AccessibleElementRef>{})) {
            // Our own windows are served by the main thread, which may be the one waiting.
            if (found || budget.over() || processOf(application.busName) == getpid()) {
                continue;
            }
            bool unanswered = false;
            for (const AccessibleElementRef& window :
                 connection_->children(application, &unanswered)
                     .value_or(std::vector<AccessibleElementRef>{})) {
                const auto states = connection_->states(window, &unanswered);
                if (states && atspi::has(*states, ATSPI_STATE_ACTIVE)) {
                    found = window;
                    break;
                }
            }
        }
        std::lock_guard lock(mutex_);
        if (budget.over()) {  // a scan cut short knows nothing new
        } else if (found) {
            AppFocus& app = apps_[found->busName];
            if (app.window != found) {
                app.window = found;
                app.windowSequence = ++sequence_;
                app.windowSince = Clock::now();
            }
        } else {
            // No window of an application on the bus is active: one without accessibility is.
            for (auto& [name, app] : apps_) {
                if (app.pid != getpid()) {
                    app.window.reset();
                }
            }
        }
        scannedAt_ = Clock::now();
        cv_.notify_all();
    }

    void serveSearches() {
        std::map<int, Clock::time_point> wanted;
        {
            std::lock_guard lock(mutex_);
            wanted.swap(searchesWanted_);
        }
        for (const auto& [pid, askedAt] : wanted) {
            if (!stillWanted(pid, askedAt)) {
                continue;
            }
            search(pid);
            std::lock_guard lock(mutex_);
            searchedAt_[pid] = Clock::now();
        }
        if (!wanted.empty()) {
            cv_.notify_all();
        }
    }

    // A capture that asked while a search of its application ran has that search's answer:
    // another walk would only hold back the events that came meanwhile.
    bool stillWanted(int pid, Clock::time_point askedAt) {
        std::lock_guard lock(mutex_);
        const auto last = searchedAt_.find(pid);
        return !lookup(pid).known && (last == searchedAt_.end() || last->second < askedAt);
    }

    // Events that arrive meanwhile wait in the connection's queue and are applied after the
    // result, so a newer focus wins.
    void search(int pid) {
        atspi::SearchBudget budget{stopping_};
        const auto applications =
            connection_->children({ATSPI_DBUS_NAME_REGISTRY, ATSPI_DBUS_PATH_ROOT});
        for (const AccessibleElementRef& application :
             applications.value_or(std::vector<AccessibleElementRef>{})) {
            if (budget.over() || processOf(application.busName) != pid) {
                continue;
            }
            if (auto found = atspi::focusedElementUnder(*connection_, application, budget)) {
                auto role = roleOf(*found, pid);
                std::lock_guard lock(mutex_);
                AppFocus& app = apps_[application.busName];
                app.element = std::move(found);
                app.role = std::move(role);
                app.sequence = ++sequence_;
                app.foundAt = Clock::now();
                return;
            }
        }
        if (budget.over()) {  // a search cut short keeps what an earlier one found
            return;
        }
        std::lock_guard lock(mutex_);
        for (auto& [name, app] : apps_) {
            if (app.pid == pid && !app.heard) {
                app.element.reset();
                app.role.reset();
            }
        }
    }

    const int wake_;
    std::thread thread_;
    std::unique_ptr<atspi::Connection> connection_;  // the tracker thread's only

    std::mutex mutex_;
    std::condition_variable cv_;
    std::atomic<bool> stopping_ = false;  // set under the lock, read by searches without it
    bool connectWanted_ = true;
    bool reportedUnreachable_ = false;
    Clock::time_point nextAttempt_{};
    std::optional<std::string> address_;
    std::map<std::string, AppFocus> apps_;  // by bus name
    std::uint64_t sequence_ = 0;
    std::map<int, Clock::time_point> searchesWanted_;  // with the time first asked
    std::map<int, Clock::time_point> searchedAt_;
    bool scanWanted_ = false;
    Clock::time_point scannedAt_{};
};

AtspiFocusTracker::AtspiFocusTracker() : impl_(std::make_unique<Impl>()) {}
AtspiFocusTracker::~AtspiFocusTracker() = default;

std::optional<AtspiFocusTracker::Focus> AtspiFocusTracker::focusIn(int pid,
                                                                   std::chrono::milliseconds wait) {
    return impl_->focusIn(pid, wait);
}

std::optional<AtspiFocusTracker::Focus> AtspiFocusTracker::known(
    const AccessibleElementRef& element) {
    return impl_->known(element);
}

std::optional<AtspiFocusTracker::ActiveWindow> AtspiFocusTracker::lastActivatedWindow(
    std::chrono::milliseconds wait) {
    return impl_->lastActivatedWindow(wait, true);
}

std::optional<AtspiFocusTracker::ActiveWindow> AtspiFocusTracker::scannedActiveWindow(
    std::chrono::milliseconds wait) {
    return impl_->lastActivatedWindow(wait, false);
}

int AtspiFocusTracker::focusedProcess(std::chrono::steady_clock::time_point since) {
    return impl_->focusedProcess(since);
}

std::optional<std::string> AtspiFocusTracker::address() {
    return impl_->address();
}

}  // namespace vurin
