#include "platform/wayland/data_control_clipboard.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "platform/wayland/data_control_protocol.h"
#include "support/log.h"

namespace vurin {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The event thread never blocks, so a call waits this long only when the compositor does not
// answer at all.
constexpr auto kCompositorLimit = 1s;
// A program that stops reading what we offered (hung, or gone without closing) is given up.
constexpr auto kSendLimit = 5s;

// Set beside text Vurin writes, so that clipboard managers (Klipper and the ones that follow
// its convention) keep dictations out of their history.
constexpr char kPasswordManagerHint[] = "x-kde-passwordManagerHint";
// Text as X11 programs offer it through Qt, and as wl-copy offers it: every reader finds a
// type it asks for.
constexpr const char* kTextTypes[] = {"text/plain;charset=utf-8", "text/plain", "UTF8_STRING",
                                      "TEXT", "STRING"};

std::size_t slot(ClipboardSelection selection) {
    return selection == ClipboardSelection::primary ? 1 : 0;
}

// What a call from the main thread waits for: the event thread fills it in.
struct Reply {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
    std::shared_ptr<const ClipboardItem> own;
    std::vector<std::pair<std::string, int>> pipes;  // (format, read end)

    ~Reply() {
        for (const auto& [format, fd] : pipes) {
            close(fd);
        }
    }
    void finish() {
        {
            std::lock_guard guard(mutex);
            done = true;
        }
        changed.notify_all();
    }
    bool wait() {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, kCompositorLimit, [this] { return done; });
    }
};

// Bytes of one format on their way to a program that reads our selection.
struct PendingSend {
    int fd = -1;
    std::shared_ptr<const ClipboardItem> item;  // keeps `bytes` alive after the source is gone
    const std::string* bytes = nullptr;
    std::size_t written = 0;
    Clock::time_point lastProgress;
};

// Reads every format's pipe at once (the owner may serve them in any order): once no byte has
// come for `limit`, the owner is taken to hang; the formats it finished are kept, the others
// are not.
std::vector<std::optional<std::string>> readPipes(
    const std::vector<std::pair<std::string, int>>& pipes, std::chrono::milliseconds limit) {
    std::vector<std::optional<std::string>> read(pipes.size(), std::string());
    std::vector<bool> open(pipes.size(), true);
    std::size_t openCount = pipes.size();
    auto lastProgress = Clock::now();
    char buffer[65536];
    while (openCount > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            lastProgress + limit - Clock::now());
        if (left.count() <= 0) {
            break;
        }
        std::vector<pollfd> polled;
        std::vector<std::size_t> which;
        for (std::size_t i = 0; i < pipes.size(); ++i) {
            if (open[i]) {
                polled.push_back({.fd = pipes[i].second, .events = POLLIN, .revents = 0});
                which.push_back(i);
            }
        }
        const int ready = poll(polled.data(), polled.size(), static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR) {
            break;
        }
        for (std::size_t k = 0; ready > 0 && k < polled.size(); ++k) {
            if (polled[k].revents == 0) {
                continue;
            }
            const std::size_t i = which[k];
            const ssize_t got = ::read(polled[k].fd, buffer, sizeof buffer);
            if (got > 0) {
                read[i]->append(buffer, static_cast<std::size_t>(got));
                lastProgress = Clock::now();
            } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
                if (got < 0) {
                    read[i].reset();
                }
                open[i] = false;
                --openCount;
            }
        }
    }
    for (std::size_t i = 0; i < pipes.size(); ++i) {
        if (open[i]) {
            read[i].reset();
        }
    }
    return read;
}

}  // namespace

struct DataControlClipboard::Connection {
    const data_control::Protocol* protocol = nullptr;
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_seat* seat = nullptr;
    wl_proxy* manager = nullptr;
    wl_proxy* device = nullptr;
    bool primary = false;
    std::chrono::milliseconds formatLimit{300};

    // The rest is the event thread's (before it starts: connect's).
    struct Selection {
        wl_proxy* offer = nullptr;
        std::vector<std::string> types;
        // Ours while the compositor has not cancelled it.
        wl_proxy* ownSource = nullptr;
        std::shared_ptr<const ClipboardItem> ownItem;
    };
    Selection selections[2];
    std::map<wl_proxy*, std::vector<std::string>> newOffers;
    std::map<wl_proxy*, std::shared_ptr<const ClipboardItem>> sources;
    std::map<wl_callback*, std::shared_ptr<Reply>> roundtrips;
    std::vector<PendingSend> sends;
    std::atomic<std::int64_t> changes[2] = {0, 0};

    std::mutex mutex;  // guards jobs and ended
    std::deque<std::function<void()>> jobs;
    bool ended = false;
    std::atomic<bool> stopping = false;
    int wake = -1;
    std::thread thread;

    ~Connection();
    bool post(std::function<void()> job);
    void run();
    bool turn();
    void end(const std::string& why);
    void onSelection(ClipboardSelection selection, wl_proxy* offer);
    void onSend(wl_proxy* source, const char* mimeType, int fd);
    void onCancelled(wl_proxy* source);
    void serveSends(const std::vector<pollfd>& polled, std::size_t first);
    void roundtrip(const std::shared_ptr<Reply>& reply);
};

namespace {

using Connection = DataControlClipboard::Connection;

Connection& of(void* data) {
    return *static_cast<Connection*>(data);
}

const data_control::OfferListener kOfferListener{
    .offer = [](void* data, wl_proxy* offer,
                const char* mimeType) { of(data).newOffers[offer].emplace_back(mimeType); },
};

const data_control::DeviceListener kDeviceListener{
    .dataOffer =
        [](void* data, wl_proxy*, wl_proxy* offer) {
            of(data).newOffers[offer];
            data_control::addListener(offer, &kOfferListener, data);
        },
    .selection =
        [](void* data, wl_proxy*, wl_proxy* offer) {
            of(data).onSelection(ClipboardSelection::clipboard, offer);
        },
    .finished = [](void* data, wl_proxy*) { of(data).end("合成器撤销了剪贴板设备(座位已不在)"); },
    .primarySelection =
        [](void* data, wl_proxy*, wl_proxy* offer) {
            of(data).onSelection(ClipboardSelection::primary, offer);
        },
};

const data_control::SourceListener kSourceListener{
    .send = [](void* data, wl_proxy* source, const char* mimeType,
               int32_t fd) { of(data).onSend(source, mimeType, fd); },
    .cancelled = [](void* data, wl_proxy* source) { of(data).onCancelled(source); },
};

const wl_callback_listener kRoundtripListener{
    .done =
        [](void* data, wl_callback* callback, uint32_t) {
            auto& connection = of(data);
            const auto found = connection.roundtrips.find(callback);
            if (found != connection.roundtrips.end()) {
                found->second->finish();
                connection.roundtrips.erase(found);
            }
            wl_callback_destroy(callback);
        },
};

struct Globals {
    std::uint32_t seat = 0;
    std::uint32_t managers[2] = {0, 0};
    std::uint32_t versions[2] = {0, 0};
};

const wl_registry_listener kRegistryListener{
    .global =
        [](void* data, wl_registry*, uint32_t name, const char* interface, uint32_t version) {
            auto& globals = *static_cast<Globals*>(data);
            if (std::strcmp(interface, wl_seat_interface.name) == 0 && globals.seat == 0) {
                globals.seat = name;
            }
            for (std::size_t i = 0; i < 2; ++i) {
                if (std::strcmp(interface, data_control::kProtocols[i].name) == 0) {
                    globals.managers[i] = name;
                    globals.versions[i] = version;
                }
            }
        },
    .global_remove = [](void*, wl_registry*, uint32_t) {},
};

}  // namespace

Connection::~Connection() {
    for (PendingSend& send : sends) {
        close(send.fd);
    }
    for (auto& [callback, reply] : roundtrips) {
        wl_callback_destroy(callback);
        reply->finish();
    }
    for (auto& [offer, types] : newOffers) {
        data_control::destroyOffer(offer);
    }
    for (Selection& selection : selections) {
        if (selection.offer != nullptr) {
            data_control::destroyOffer(selection.offer);
        }
    }
    for (auto& [source, item] : sources) {
        data_control::destroySource(source);
    }
    if (device != nullptr) {
        data_control::destroyDevice(device);
    }
    if (manager != nullptr) {
        data_control::destroyManager(manager);
    }
    if (seat != nullptr) {
        wl_seat_destroy(seat);
    }
    if (registry != nullptr) {
        wl_registry_destroy(registry);
    }
    if (display != nullptr) {
        wl_display_disconnect(display);
    }
    if (wake >= 0) {
        close(wake);
    }
}

bool Connection::post(std::function<void()> job) {
    {
        std::lock_guard guard(mutex);
        if (ended) {
            return false;
        }
        jobs.push_back(std::move(job));
    }
    const std::uint64_t one = 1;
    return ::write(wake, &one, sizeof one) == sizeof one;
}

void Connection::onSelection(ClipboardSelection which, wl_proxy* offer) {
    Selection& selection = selections[slot(which)];
    if (selection.offer != nullptr) {
        data_control::destroyOffer(selection.offer);
    }
    selection.offer = offer;
    selection.types.clear();
    if (const auto found = newOffers.find(offer); found != newOffers.end()) {
        selection.types = std::move(found->second);
        newOffers.erase(found);
    }
    ++changes[slot(which)];
}

void Connection::onSend(wl_proxy* source, const char* mimeType, int fd) {
    const auto found = sources.find(source);
    if (found != sources.end()) {
        for (const auto& [format, bytes] : found->second->values) {
            if (format == mimeType) {
                fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
                sends.push_back({.fd = fd,
                                 .item = found->second,
                                 .bytes = &bytes,
                                 .lastProgress = Clock::now()});
                return;
            }
        }
    }
    close(fd);  // a format we did not offer: the reader gets nothing
}

void Connection::onCancelled(wl_proxy* source) {
    for (Selection& selection : selections) {
        if (selection.ownSource == source) {
            selection.ownSource = nullptr;
            selection.ownItem.reset();
        }
    }
    sources.erase(source);
    data_control::destroySource(source);
}

void Connection::roundtrip(const std::shared_ptr<Reply>& reply) {
    wl_callback* callback = wl_display_sync(display);
    if (callback == nullptr) {
        reply->finish();
        return;
    }
    roundtrips[callback] = reply;
    wl_callback_add_listener(callback, &kRoundtripListener, this);
}

void Connection::serveSends(const std::vector<pollfd>& polled, std::size_t first) {
    const auto now = Clock::now();
    std::vector<PendingSend> left;
    bool brokenPipe = false;
    for (std::size_t i = 0; i < sends.size(); ++i) {
        PendingSend& send = sends[i];
        bool finished = false;
        if (first + i < polled.size() && polled[first + i].revents != 0) {
            const ssize_t wrote = ::write(send.fd, send.bytes->data() + send.written,
                                          send.bytes->size() - send.written);
            if (wrote > 0) {
                send.written += static_cast<std::size_t>(wrote);
                send.lastProgress = now;
            } else if (errno != EAGAIN && errno != EINTR) {
                brokenPipe = brokenPipe || errno == EPIPE;
                finished = true;  // the reader went away
            }
        }
        if (send.written == send.bytes->size()) {
            finished = true;
        } else if (now - send.lastProgress > kSendLimit) {
            log("⚠️ 读取剪贴板的程序 5 秒没有读取,停止向它发送");
            finished = true;
        }
        if (finished) {
            close(send.fd);
        } else {
            left.push_back(std::move(send));
        }
    }
    sends = std::move(left);
    if (!brokenPipe) {
        return;
    }
    // A reader that closed its end raised SIGPIPE, blocked in this thread: consume it.
    sigset_t pipeOnly;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    const timespec none{};
    while (sigtimedwait(&pipeOnly, nullptr, &none) == SIGPIPE) {
    }
}

void Connection::end(const std::string& why) {
    std::deque<std::function<void()>> left;
    {
        std::lock_guard guard(mutex);
        if (ended) {
            return;
        }
        ended = true;
        left.swap(jobs);
    }
    if (!why.empty()) {
        log("⚠️ Wayland 剪贴板(data-control)不再可用:" + why);
    }
    // Whoever waits is let go: the jobs run against a connection that sends nothing any more.
    for (auto& job : left) {
        job();
    }
    for (auto& [callback, reply] : roundtrips) {
        reply->finish();
    }
}

// One pass: the compositor's events, our queued requests, the readers of our selections.
bool Connection::turn() {
    while (wl_display_prepare_read(display) != 0) {
        if (wl_display_dispatch_pending(display) < 0) {
            return false;
        }
    }
    std::deque<std::function<void()>> ready;
    {
        std::lock_guard guard(mutex);
        ready.swap(jobs);
    }
    for (auto& job : ready) {
        job();
    }
    bool flushed = wl_display_flush(display) >= 0;
    if (!flushed && errno != EAGAIN) {
        wl_display_cancel_read(display);
        return false;
    }
    std::vector<pollfd> polled{{.fd = wl_display_get_fd(display),
                                .events = static_cast<short>(POLLIN | (flushed ? 0 : POLLOUT)),
                                .revents = 0},
                               {.fd = wake, .events = POLLIN, .revents = 0}};
    for (const PendingSend& send : sends) {
        polled.push_back({.fd = send.fd, .events = POLLOUT, .revents = 0});
    }
    const int timeout = sends.empty() ? -1 : 1000;
    if (poll(polled.data(), polled.size(), timeout) < 0 && errno != EINTR) {
        wl_display_cancel_read(display);
        return false;
    }
    if ((polled[0].revents & (POLLIN | POLLERR | POLLHUP)) != 0) {
        if (wl_display_read_events(display) < 0) {
            return false;
        }
    } else {
        wl_display_cancel_read(display);
    }
    if (wl_display_dispatch_pending(display) < 0) {
        return false;
    }
    if ((polled[1].revents & POLLIN) != 0) {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = ::read(wake, &count, sizeof count);
    }
    serveSends(polled, 2);
    return true;
}

void Connection::run() {
    // Writing to a reader that has gone raises SIGPIPE; here it becomes EPIPE.
    sigset_t pipeOnly;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeOnly, nullptr);
    while (!stopping) {
        if (!turn()) {
            const int error = wl_display_get_error(display);
            end(std::string("与合成器的连接断开(") + std::strerror(error != 0 ? error : errno) +
                ")");
            return;
        }
    }
    end("");
}

std::unique_ptr<DataControlClipboard> DataControlClipboard::connect(
    std::string* why, std::chrono::milliseconds formatLimit) {
    const auto fail = [why](std::string reason) {
        if (why != nullptr) {
            *why = std::move(reason);
        }
        return nullptr;
    };
    auto connection = std::make_unique<Connection>();
    connection->formatLimit = formatLimit;
    connection->display = wl_display_connect(nullptr);
    if (connection->display == nullptr) {
        const char* name = std::getenv("WAYLAND_DISPLAY");
        return fail(std::string("连不上 Wayland 合成器(WAYLAND_DISPLAY=") + (name ? name : "") +
                    "):" + std::strerror(errno));
    }
    Globals globals;
    connection->registry = wl_display_get_registry(connection->display);
    wl_registry_add_listener(connection->registry, &kRegistryListener, &globals);
    if (wl_display_roundtrip(connection->display) < 0) {
        return fail("Wayland 合成器没有应答");
    }
    for (std::size_t i = 0; i < 2 && connection->protocol == nullptr; ++i) {
        if (globals.managers[i] != 0) {
            const data_control::Protocol& protocol = data_control::kProtocols[i];
            const std::uint32_t version = std::min(globals.versions[i], protocol.version);
            connection->protocol = &protocol;
            connection->primary = version >= protocol.primaryVersion;
            connection->manager = static_cast<wl_proxy*>(wl_registry_bind(
                connection->registry, globals.managers[i], protocol.manager, version));
        }
    }
    if (connection->protocol == nullptr) {
        return fail(
            "合成器不提供 data-control(ext_data_control_manager_v1、"
            "zwlr_data_control_manager_v1)");
    }
    if (globals.seat == 0) {
        return fail("合成器没有座位(wl_seat)");
    }
    connection->seat = static_cast<wl_seat*>(
        wl_registry_bind(connection->registry, globals.seat, &wl_seat_interface, 1));
    connection->device =
        data_control::getDevice(connection->manager, *connection->protocol, connection->seat);
    data_control::addListener(connection->device, &kDeviceListener, connection.get());
    // The selections as they are now arrive before the first call.
    if (wl_display_roundtrip(connection->display) < 0 || connection->ended) {
        return fail("Wayland 合成器没有交出剪贴板设备");
    }
    connection->wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (connection->wake < 0) {
        return fail(std::string("eventfd:") + std::strerror(errno));
    }
    Connection* running = connection.get();
    connection->thread = std::thread([running] { running->run(); });
    return std::unique_ptr<DataControlClipboard>(new DataControlClipboard(std::move(connection)));
}

DataControlClipboard::DataControlClipboard(std::unique_ptr<Connection> connection)
    : connection_(std::move(connection)) {}

DataControlClipboard::~DataControlClipboard() {
    connection_->stopping = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t wrote = ::write(connection_->wake, &one, sizeof one);
    connection_->thread.join();
}

std::string DataControlClipboard::protocol() const {
    return connection_->protocol->name;
}

bool DataControlClipboard::hasPrimarySelection() const {
    return connection_->primary;
}

std::int64_t DataControlClipboard::changeCount(ClipboardSelection selection) const {
    return connection_->changes[slot(selection)];
}

std::vector<ClipboardItem> DataControlClipboard::items(ClipboardSelection selection) {
    if (selection == ClipboardSelection::primary && !connection_->primary) {
        return {};
    }
    auto reply = std::make_shared<Reply>();
    Connection* connection = connection_.get();
    const bool posted = connection->post([connection, reply, selection] {
        const Connection::Selection& current = connection->selections[slot(selection)];
        if (current.ownSource != nullptr) {
            reply->own = current.ownItem;  // our own bytes, as we wrote them
        } else if (current.offer != nullptr) {
            for (const std::string& type : current.types) {
                int ends[2];
                if (pipe2(ends, O_CLOEXEC) != 0) {
                    continue;
                }
                data_control::receive(current.offer, type.c_str(), ends[1]);
                close(ends[1]);
                reply->pipes.emplace_back(type, ends[0]);
            }
        }
        reply->finish();
    });
    if (!posted || !reply->wait()) {
        return {};
    }
    if (reply->own) {
        return {*reply->own};
    }
    const std::vector<std::optional<std::string>> read =
        readPipes(reply->pipes, connection->formatLimit);
    ClipboardItem item;
    std::string skipped;
    for (std::size_t i = 0; i < read.size(); ++i) {
        if (read[i]) {
            item.values.emplace_back(reply->pipes[i].first, std::move(*read[i]));
        } else {
            skipped += (skipped.empty() ? "" : "、") + reply->pipes[i].first;
        }
    }
    if (!skipped.empty()) {
        log("⚠️ " +
            std::string(selection == ClipboardSelection::primary ? "主选区" : "剪贴板") +
            "的所有者 " + std::to_string(connection->formatLimit.count()) +
            " 毫秒内没有交出这些格式,快照里不含它们:" + skipped);
    }
    if (item.values.empty()) {
        return {};
    }
    return {std::move(item)};
}

void DataControlClipboard::replace(ClipboardSelection selection,
                                   const std::vector<ClipboardItem>& items) {
    // A Wayland selection holds one item: further items add the formats the first did not have.
    ClipboardItem merged;
    for (const ClipboardItem& item : items) {
        for (const auto& value : item.values) {
            const bool known =
                std::any_of(merged.values.begin(), merged.values.end(),
                            [&value](const auto& kept) { return kept.first == value.first; });
            if (!known) {
                merged.values.push_back(value);
            }
        }
    }
    write(selection, std::move(merged));
}

void DataControlClipboard::writeText(ClipboardSelection selection, const std::string& text) {
    ClipboardItem item;
    for (const char* type : kTextTypes) {
        item.values.emplace_back(type, text);
    }
    item.values.emplace_back(kPasswordManagerHint, "secret");
    write(selection, std::move(item));
}

// One set_selection replaces the selection whole, so it is not cleared first (that would be a
// change of its own). Returns once the compositor has announced it back to us.
void DataControlClipboard::write(ClipboardSelection selection, ClipboardItem item) {
    if (selection == ClipboardSelection::primary && !connection_->primary) {
        return;
    }
    auto reply = std::make_shared<Reply>();
    auto bytes = std::make_shared<const ClipboardItem>(std::move(item));
    Connection* connection = connection_.get();
    const bool posted = connection->post([connection, reply, selection, bytes] {
        wl_proxy* source = nullptr;
        if (!bytes->values.empty()) {
            source = data_control::createSource(connection->manager, *connection->protocol);
        }
        if (source != nullptr) {
            data_control::addListener(source, &kSourceListener, connection);
            for (const auto& [format, value] : bytes->values) {
                data_control::offer(source, format.c_str());
            }
            connection->sources[source] = bytes;
        }
        data_control::setSelection(connection->device, source,
                                   selection == ClipboardSelection::primary);
        Connection::Selection& current = connection->selections[slot(selection)];
        current.ownSource = source;
        current.ownItem = source != nullptr ? bytes : nullptr;
        connection->roundtrip(reply);
    });
    if (posted && !reply->wait()) {
        log("⚠️ 合成器 1 秒内没有确认剪贴板写入");
    }
}

}  // namespace vurin
