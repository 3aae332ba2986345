#include "platform/wayland/foreign_toplevel_watch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>

#include "platform/wayland/reconnect_wait.h"
#include "support/log.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

namespace vurin {

namespace {

constexpr const char* kManager = "zwlr_foreign_toplevel_manager_v1";
constexpr std::uint32_t kNewestKnownVersion = 3;  // `parent` is the only thing 3 adds

}  // namespace

// Everything on the watch's thread: the connection and what the compositor said about each
// window. Only `done` makes a window's new title, app id and state count.
struct ForeignToplevelWatch::Connection {
    struct Window {
        Connection* connection;
        ForeignToplevelWatch::Toplevel now;
        ForeignToplevelWatch::Toplevel pending;
        bool activated = false;
        bool pendingActivated = false;
    };

    ForeignToplevelWatch* watch;
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    zwlr_foreign_toplevel_manager_v1* manager = nullptr;
    std::map<zwlr_foreign_toplevel_handle_v1*, std::unique_ptr<Window>> windows;
    Window* active = nullptr;
    wl_callback* sync = nullptr;
    bool listed = false;  // the first list is complete: changes are news from then on
    bool absent = false;  // the compositor offers no such protocol
    bool finished = false;

    ~Connection() {
        if (sync) {
            wl_callback_destroy(sync);
        }
        for (const auto& [callback, generation] : roundTrips) {
            wl_callback_destroy(callback);
        }
        for (const auto& [handle, window] : windows) {
            zwlr_foreign_toplevel_handle_v1_destroy(handle);
        }
        if (manager) {
            zwlr_foreign_toplevel_manager_v1_destroy(manager);
        }
        if (registry) {
            wl_registry_destroy(registry);
        }
        if (display) {
            wl_display_disconnect(display);
        }
    }

    ForeignToplevelWatch::Reading reading() const {
        ForeignToplevelWatch::Reading reading{.following = true};
        if (active) {
            reading.active = active->now;
        }
        return reading;
    }

    void changed() {
        if (listed) {
            watch->publish(reading());
        }
    }

    // -- a round trip a reader asked for: every event sent before it has been handled --------

    std::map<wl_callback*, std::uint64_t> roundTrips;  // the generation each one answers

    void roundTrip(std::uint64_t generation) {
        wl_callback* callback = wl_display_sync(display);
        wl_callback_add_listener(callback, &kFreshListener, this);
        roundTrips[callback] = generation;
    }
    static void freshDone(void* data, wl_callback* callback, std::uint32_t) {
        auto* self = static_cast<Connection*>(data);
        const std::uint64_t generation = self->roundTrips[callback];
        self->roundTrips.erase(callback);
        wl_callback_destroy(callback);
        self->watch->answer(generation);
    }
    static constexpr wl_callback_listener kFreshListener{.done = freshDone};

    // -- start-up: the globals, then the windows as the manager first lists them -----------

    enum class Step { globals, windows } step = Step::globals;

    void syncAfter(Step next) {
        step = next;
        sync = wl_display_sync(display);
        wl_callback_add_listener(sync, &kSyncListener, this);
    }
    static void syncDone(void* data, wl_callback*, std::uint32_t) {
        auto* self = static_cast<Connection*>(data);
        wl_callback_destroy(self->sync);
        self->sync = nullptr;
        if (!self->manager) {
            self->absent = true;
        } else if (self->step == Step::globals) {
            self->syncAfter(Step::windows);  // the manager lists its windows when bound
        } else {
            self->listed = true;
            self->watch->publish(self->reading());
        }
    }
    static constexpr wl_callback_listener kSyncListener{.done = syncDone};

    // -- registry ---------------------------------------------------------------------------

    static void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                       std::uint32_t version) {
        auto* self = static_cast<Connection*>(data);
        if (self->manager || std::strcmp(interface, kManager) != 0) {
            return;
        }
        self->manager = static_cast<zwlr_foreign_toplevel_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_foreign_toplevel_manager_v1_interface,
                             std::min(version, kNewestKnownVersion)));
        zwlr_foreign_toplevel_manager_v1_add_listener(self->manager, &kManagerListener, self);
    }
    static void globalRemove(void*, wl_registry*, std::uint32_t) {}
    static constexpr wl_registry_listener kRegistryListener{.global = global,
                                                            .global_remove = globalRemove};

    // -- manager ----------------------------------------------------------------------------

    static void toplevel(void* data, zwlr_foreign_toplevel_manager_v1*,
                         zwlr_foreign_toplevel_handle_v1* handle) {
        auto* self = static_cast<Connection*>(data);
        auto window = std::make_unique<Window>(Window{.connection = self});
        window->now.id = window->pending.id = ++self->watch->lastId_;
        zwlr_foreign_toplevel_handle_v1_add_listener(handle, &kWindowListener, window.get());
        self->windows.emplace(handle, std::move(window));
    }
    static void managerFinished(void* data, zwlr_foreign_toplevel_manager_v1*) {
        static_cast<Connection*>(data)->finished = true;
    }
    static constexpr zwlr_foreign_toplevel_manager_v1_listener kManagerListener{
        .toplevel = toplevel, .finished = managerFinished};

    // -- windows ----------------------------------------------------------------------------

    static void title(void* data, zwlr_foreign_toplevel_handle_v1*, const char* title) {
        static_cast<Window*>(data)->pending.title = title ? title : "";
    }
    static void appId(void* data, zwlr_foreign_toplevel_handle_v1*, const char* appId) {
        static_cast<Window*>(data)->pending.appId = appId ? appId : "";
    }
    static void output(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
    static void state(void* data, zwlr_foreign_toplevel_handle_v1*, wl_array* states) {
        auto* window = static_cast<Window*>(data);
        window->pendingActivated = false;
        const auto* values = static_cast<const std::uint32_t*>(states->data);
        for (std::size_t index = 0; index < states->size / sizeof(std::uint32_t); ++index) {
            if (values[index] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED) {
                window->pendingActivated = true;
            }
        }
    }
    static void done(void* data, zwlr_foreign_toplevel_handle_v1*) {
        auto* window = static_cast<Window*>(data);
        Connection* self = window->connection;
        if (window->pendingActivated && !window->activated) {
            window->pending.activatedAt = std::chrono::steady_clock::now();
        }
        window->now = window->pending;
        window->activated = window->pendingActivated;
        // The window that loses the keyboard may say so after the one that gains it.
        if (window->activated) {
            self->active = window;
        } else if (self->active == window) {
            self->active = nullptr;
        }
        self->changed();
    }
    static void closed(void* data, zwlr_foreign_toplevel_handle_v1* handle) {
        auto* window = static_cast<Window*>(data);
        Connection* self = window->connection;
        if (self->active == window) {
            self->active = nullptr;
            self->changed();
        }
        self->windows.erase(handle);
        zwlr_foreign_toplevel_handle_v1_destroy(handle);
    }
    static void parent(void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {}
    static constexpr zwlr_foreign_toplevel_handle_v1_listener kWindowListener{
        .title = title,
        .app_id = appId,
        .output_enter = output,
        .output_leave = output,
        .state = state,
        .done = done,
        .closed = closed,
        .parent = parent};
};

ForeignToplevelWatch::ForeignToplevelWatch()
    : wake_(eventfd(0, EFD_CLOEXEC)), ask_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (wake_ < 0 || ask_ < 0) {
        log("❌ 前台窗口跟踪:无法创建 eventfd(" + std::string(std::strerror(errno)) +
            "),前台应用只按无障碍焦点(AT-SPI)判断");
        publish({});
        return;
    }
    thread_ = std::thread([this] { run(); });
}

ForeignToplevelWatch::~ForeignToplevelWatch() {
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        if (write(wake_, &one, sizeof one) != sizeof one) {
            log("⚠️ 前台窗口跟踪:无法通知其线程停止:" +
                std::string(std::strerror(errno)));
        }
        thread_.join();
    }
    for (const int fd : {wake_, ask_}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

ForeignToplevelWatch::Reading ForeignToplevelWatch::read(std::chrono::milliseconds firstListWait,
                                                         std::chrono::milliseconds freshWait) {
    std::unique_lock lock(mutex_);
    listed_.wait_for(lock, firstListWait, [this] { return reading_.has_value(); });
    if (reading_ && reading_->following) {
        // A window switched to just before a keystroke must not pass for the old one.
        const std::uint64_t generation = ++asked_;
        const std::uint64_t one = 1;
        if (write(ask_, &one, sizeof one) == sizeof one) {
            listed_.wait_for(lock, freshWait,
                             [&] { return answered_ >= generation || !reading_->following; });
        }
    }
    return reading_.value_or(Reading{});
}

void ForeignToplevelWatch::answer(std::uint64_t generation) {
    {
        const std::lock_guard lock(mutex_);
        answered_ = std::max(answered_, generation);
    }
    listed_.notify_all();
}

void ForeignToplevelWatch::publish(Reading reading) {
    {
        const std::lock_guard lock(mutex_);
        reading_ = std::move(reading);
    }
    listed_.notify_all();
}

void ForeignToplevelWatch::run() {
    ReconnectWait wait;
    bool lost = false;
    for (;;) {
        const Ended ended = follow(lost);
        if (ended == Ended::stopped) {
            return;
        }
        publish({});
        if (ended == Ended::absent) {
            log(std::string("ℹ️ 合成器不提供 ") + kManager +
                ":前台应用只按无障碍焦点(AT-SPI)判断,同一程序的两个窗口无法区分");
            return;
        }
        if (ended == Ended::finished) {
            log("⚠️ "
                "前台窗口跟踪:合成器停止了窗口列表,此后前台应用只按无障碍焦点(AT-SPI)判断");
            return;
        }
        lost = true;
        if (waitForStop(wait.current())) {
            return;
        }
        wait.failed();
    }
}

bool ForeignToplevelWatch::waitForStop(std::chrono::milliseconds wait) {
    pollfd stop{wake_, POLLIN, 0};
    return poll(&stop, 1, static_cast<int>(wait.count())) > 0;
}

// One connection's life. `again`: an earlier one was lost, and its loss was said.
ForeignToplevelWatch::Ended ForeignToplevelWatch::follow(bool again) {
    Connection connection{.watch = this};
    connection.display = wl_display_connect(nullptr);
    if (!connection.display) {
        if (!again) {
            log("⚠️ 前台窗口跟踪:连不上 Wayland 合成器(" +
                std::string(std::strerror(errno)) + "),前台应用只按无障碍焦点(AT-SPI)判断;" +
                "在后台重试");
        }
        return Ended::lost;
    }
    connection.registry = wl_display_get_registry(connection.display);
    wl_registry_add_listener(connection.registry, &Connection::kRegistryListener, &connection);
    connection.syncAfter(Connection::Step::globals);
    bool listedSaid = false;
    // No call here waits for the compositor: a hung one must not hold up the stop.
    pollfd fds[] = {
        {wl_display_get_fd(connection.display), POLLIN, 0}, {wake_, POLLIN, 0}, {ask_, POLLIN, 0}};
    while (!connection.finished && !connection.absent) {
        if (again && connection.listed && !listedSaid) {
            listedSaid = true;
            log("✅ 前台窗口跟踪:已重新连上合成器,窗口列表恢复");
        }
        wl_display_flush(connection.display);
        if (poll(fds, 3, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[1].revents != 0) {
            return Ended::stopped;  // nothing to say
        }
        if (fds[2].revents != 0) {
            std::uint64_t count = 0;
            if (::read(ask_, &count, sizeof count) == sizeof count) {
                std::uint64_t generation = 0;
                {
                    const std::lock_guard lock(mutex_);
                    generation = asked_;
                }
                connection.roundTrip(generation);
            }
        }
        if (fds[0].revents != 0 && wl_display_dispatch(connection.display) < 0) {
            break;
        }
    }
    if (connection.absent) {
        return Ended::absent;
    }
    if (connection.finished) {
        return Ended::finished;
    }
    // Said once per loss: the tries that follow fail without a word until one succeeds.
    if (!again || listedSaid) {
        log("❌ 前台窗口跟踪:与 Wayland 合成器的连接断开(" +
            std::string(std::strerror(wl_display_get_error(connection.display))) +
            "),其间前台应用只按无障碍焦点(AT-SPI)判断;在后台重新连接");
    }
    return Ended::lost;
}

}  // namespace vurin
