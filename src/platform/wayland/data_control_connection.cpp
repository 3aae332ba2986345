#include "platform/wayland/data_control_connection.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>

#include "platform/linux/pipe_peer.h"
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

std::size_t slot(ClipboardSelection selection) {
    return selection == ClipboardSelection::primary ? 1 : 0;
}

}  // namespace

// What a call waits for: the event thread fills it in and lets the caller go.
struct DataControlConnection::Reply {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
    SelectionContents contents;

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

// The listeners: C callbacks that hand each event to the connection.
struct DataControlConnection::Events {
    static DataControlConnection& of(void* data) {
        return *static_cast<DataControlConnection*>(data);
    }

    static constexpr data_control::OfferListener offer{
        .offer = [](void* data, wl_proxy* offer,
                    const char* mimeType) { of(data).newOffers_[offer].emplace_back(mimeType); },
    };
    static constexpr data_control::DeviceListener device{
        .dataOffer =
            [](void* data, wl_proxy*, wl_proxy* offer) {
                of(data).newOffers_[offer];
                data_control::addListener(offer, &Events::offer, data);
            },
        .selection =
            [](void* data, wl_proxy*, wl_proxy* offer) {
                of(data).onSelection(ClipboardSelection::clipboard, offer);
            },
        .finished = [](void* data,
                       wl_proxy*) { of(data).end("合成器撤销了剪贴板设备(座位已不在)"); },
        .primarySelection =
            [](void* data, wl_proxy*, wl_proxy* offer) {
                of(data).onSelection(ClipboardSelection::primary, offer);
            },
    };
    static constexpr data_control::SourceListener source{
        .send = [](void* data, wl_proxy* source, const char* mimeType,
                   int32_t fd) { of(data).onSend(source, mimeType, fd); },
        .cancelled = [](void* data, wl_proxy* source) { of(data).onCancelled(source); },
    };
    static constexpr wl_callback_listener roundtrip{
        .done =
            [](void* data, wl_callback* callback, uint32_t) {
                auto& connection = of(data);
                const auto found = connection.roundtrips_.find(callback);
                if (found != connection.roundtrips_.end()) {
                    found->second->finish();
                    connection.roundtrips_.erase(found);
                }
                wl_callback_destroy(callback);
            },
    };

    // The globals open() looks for.
    struct Globals {
        std::uint32_t seat = 0;
        std::uint32_t managers[2] = {0, 0};
        std::uint32_t versions[2] = {0, 0};
    };
    static constexpr wl_registry_listener registry{
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
};

SelectionContents::SelectionContents(SelectionContents&& other) noexcept
    : own(std::move(other.own)), pipes(std::move(other.pipes)), offered(other.offered) {
    other.pipes.clear();
}

SelectionContents::~SelectionContents() {
    for (const auto& [format, fd] : pipes) {
        close(fd);
    }
}

std::unique_ptr<DataControlConnection> DataControlConnection::open(std::string* why, Ended onEnded,
                                                                   Read onRead) {
    const auto fail = [why](std::string reason) {
        if (why != nullptr) {
            *why = std::move(reason);
        }
        return nullptr;
    };
    std::unique_ptr<DataControlConnection> connection(new DataControlConnection);
    DataControlConnection& c = *connection;
    c.display_ = wl_display_connect(nullptr);
    if (c.display_ == nullptr) {
        const char* name = std::getenv("WAYLAND_DISPLAY");
        return fail(std::string("连不上 Wayland 合成器(WAYLAND_DISPLAY=") + (name ? name : "") +
                    "):" + std::strerror(errno));
    }
    Events::Globals globals;
    c.registry_ = wl_display_get_registry(c.display_);
    wl_registry_add_listener(c.registry_, &Events::registry, &globals);
    if (wl_display_roundtrip(c.display_) < 0) {
        return fail("Wayland 合成器没有应答");
    }
    for (std::size_t i = 0; i < 2 && c.protocol_ == nullptr; ++i) {
        if (globals.managers[i] != 0) {
            const data_control::Protocol& protocol = data_control::kProtocols[i];
            const std::uint32_t version = std::min(globals.versions[i], protocol.version);
            c.protocol_ = &protocol;
            c.primary_ = version >= protocol.primaryVersion;
            c.manager_ = static_cast<wl_proxy*>(
                wl_registry_bind(c.registry_, globals.managers[i], protocol.manager, version));
        }
    }
    if (c.protocol_ == nullptr) {
        return fail(
            "合成器不提供 data-control(ext_data_control_manager_v1、"
            "zwlr_data_control_manager_v1)");
    }
    if (globals.seat == 0) {
        return fail("合成器没有座位(wl_seat)");
    }
    c.seat_ =
        static_cast<wl_seat*>(wl_registry_bind(c.registry_, globals.seat, &wl_seat_interface, 1));
    c.device_ = data_control::getDevice(c.manager_, *c.protocol_, c.seat_);
    data_control::addListener(c.device_, &Events::device, &c);
    // The selections as they are now arrive before the first call.
    if (wl_display_roundtrip(c.display_) < 0 || c.ended_) {
        return fail("Wayland 合成器没有交出剪贴板设备");
    }
    c.wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (c.wake_ < 0) {
        return fail(std::string("eventfd:") + std::strerror(errno));
    }
    // Its listener points at `globals` on this stack: a global announced later (a seat added)
    // must not reach it from the event thread.
    wl_registry_destroy(c.registry_);
    c.registry_ = nullptr;
    c.onEnded_ = std::move(onEnded);
    c.onRead_ = std::move(onRead);
    c.thread_ = std::thread([&c] { c.run(); });
    return connection;
}

DataControlConnection::~DataControlConnection() {
    if (thread_.joinable()) {
        stopping_ = true;
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t wrote = ::write(wake_, &one, sizeof one);
        thread_.join();
    }
    for (PendingSend& send : sends_) {
        close(send.fd);
    }
    for (auto& [callback, reply] : roundtrips_) {
        wl_callback_destroy(callback);
    }
    for (auto& [offer, types] : newOffers_) {
        data_control::destroyOffer(offer);
    }
    for (Selection& selection : selections_) {
        if (selection.offer != nullptr) {
            data_control::destroyOffer(selection.offer);
        }
    }
    for (auto& [source, item] : sources_) {
        data_control::destroySource(source);
    }
    if (device_ != nullptr) {
        data_control::destroyDevice(device_);
    }
    if (manager_ != nullptr) {
        data_control::destroyManager(manager_);
    }
    if (seat_ != nullptr) {
        wl_seat_destroy(seat_);
    }
    if (registry_ != nullptr) {
        wl_registry_destroy(registry_);
    }
    if (display_ != nullptr) {
        wl_display_disconnect(display_);
    }
    if (wake_ >= 0) {
        close(wake_);
    }
}

std::int64_t DataControlConnection::changeCount(ClipboardSelection selection) const {
    return changes_[slot(selection)];
}

std::optional<SelectionContents> DataControlConnection::request(ClipboardSelection selection,
                                                                std::size_t formatLimit) {
    auto reply = std::make_shared<Reply>();
    const bool posted = post([this, reply, selection, formatLimit] {
        const Selection& current = selections_[slot(selection)];
        reply->contents.offered = current.types.size();
        if (current.ownSource != nullptr) {
            reply->contents.own = current.ownItem;  // our own bytes, as we wrote them
            reply->contents.offered = 0;
        } else if (current.offer != nullptr && current.types.size() <= formatLimit) {
            for (const std::string& type : current.types) {
                int ends[2];
                if (pipe2(ends, O_CLOEXEC) != 0) {
                    continue;
                }
                data_control::receive(current.offer, type.c_str(), ends[1]);
                close(ends[1]);  // the request carries its own copy
                reply->contents.pipes.emplace_back(type, ends[0]);
            }
        }
        reply->finish();
    });
    if (!posted || !reply->wait()) {
        return std::nullopt;
    }
    return std::move(reply->contents);
}

bool DataControlConnection::set(ClipboardSelection selection,
                                std::shared_ptr<const ClipboardItem> item, bool reportReads,
                                int likelyReader) {
    auto reply = std::make_shared<Reply>();
    const bool posted = post([this, reply, selection, item, reportReads, likelyReader] {
        wl_proxy* source = nullptr;
        if (item && !item->values.empty()) {
            source = data_control::createSource(manager_, *protocol_);
        }
        if (source != nullptr) {
            data_control::addListener(source, &Events::source, this);
            for (const auto& [format, bytes] : item->values) {
                data_control::offer(source, format.c_str());
            }
            sources_[source] = item;
        }
        data_control::setSelection(device_, source, selection == ClipboardSelection::primary);
        Selection& current = selections_[slot(selection)];
        current.ownSource = source;
        current.ownItem = source != nullptr ? item : nullptr;
        current.reportReads = reportReads;
        current.likelyReader = likelyReader;
        roundtrip(reply);
    });
    if (posted && !reply->wait()) {
        log("⚠️ 合成器 1 秒内没有确认剪贴板写入");
        return false;
    }
    return posted;
}

bool DataControlConnection::sync() {
    auto reply = std::make_shared<Reply>();
    return post([this, reply] { roundtrip(reply); }) && reply->wait();
}

bool DataControlConnection::post(std::function<void()> job) {
    {
        std::lock_guard guard(mutex_);
        if (ended_) {
            return false;
        }
        jobs_.push_back(std::move(job));
    }
    const std::uint64_t one = 1;
    return ::write(wake_, &one, sizeof one) == sizeof one;
}

void DataControlConnection::onSelection(ClipboardSelection which, wl_proxy* offer) {
    Selection& selection = selections_[slot(which)];
    if (selection.offer != nullptr) {
        data_control::destroyOffer(selection.offer);
    }
    selection.offer = offer;
    selection.types.clear();
    if (const auto found = newOffers_.find(offer); found != newOffers_.end()) {
        selection.types = std::move(found->second);
        newOffers_.erase(found);
    }
    ++changes_[slot(which)];
}

void DataControlConnection::onSend(wl_proxy* source, const char* mimeType, int fd) {
    const auto found = sources_.find(source);
    if (found != sources_.end()) {
        for (const auto& [format, bytes] : found->second->values) {
            if (format == mimeType) {
                // Looked up before a byte goes out: a quick reader may have ended after them.
                int reader = -1;
                for (const ClipboardSelection which :
                     {ClipboardSelection::clipboard, ClipboardSelection::primary}) {
                    const Selection& selection = selections_[slot(which)];
                    if (onRead_ && selection.ownSource == source && selection.reportReads) {
                        if (reader < 0) {
                            // The paste's target where it is known, else whoever read the
                            // last dictation: most are said into the same program.
                            reader = pipePeerProcess(fd, {selection.likelyReader, lastReader_});
                            lastReader_ = reader > 0 ? reader : lastReader_;
                        }
                        onRead_(which, format, reader);
                    }
                }
                fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
                sends_.push_back({.fd = fd,
                                  .item = found->second,
                                  .bytes = &bytes,
                                  .lastProgress = Clock::now()});
                return;
            }
        }
    }
    close(fd);  // a format we did not offer: the reader gets nothing
}

void DataControlConnection::onCancelled(wl_proxy* source) {
    for (Selection& selection : selections_) {
        if (selection.ownSource == source) {
            selection.ownSource = nullptr;
            selection.ownItem.reset();
        }
    }
    sources_.erase(source);
    data_control::destroySource(source);
}

void DataControlConnection::roundtrip(const std::shared_ptr<Reply>& reply) {
    wl_callback* callback = wl_display_sync(display_);
    if (callback == nullptr) {
        reply->finish();
        return;
    }
    roundtrips_[callback] = reply;
    wl_callback_add_listener(callback, &Events::roundtrip, this);
}

void DataControlConnection::serveSends(const std::vector<pollfd>& polled, std::size_t first) {
    const auto now = Clock::now();
    std::vector<PendingSend> left;
    bool brokenPipe = false;
    for (std::size_t i = 0; i < sends_.size(); ++i) {
        PendingSend& send = sends_[i];
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
        } else if (!finished && now - send.lastProgress > kSendLimit) {
            log("⚠️ 读取剪贴板的程序 5 秒没有读取,停止向它发送");
            finished = true;
        }
        if (finished) {
            close(send.fd);
        } else {
            left.push_back(std::move(send));
        }
    }
    sends_ = std::move(left);
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

void DataControlConnection::end(const std::string& why) {
    std::deque<std::function<void()>> left;
    {
        std::lock_guard guard(mutex_);
        if (ended_) {
            return;
        }
        ended_ = true;
        left.swap(jobs_);
    }
    if (!why.empty() && onEnded_) {
        onEnded_(why);
    } else if (!why.empty()) {
        log("⚠️ Wayland 剪贴板(data-control)不再可用:" + why);
    }
    // Whoever waits is let go: the jobs run against a connection that sends nothing any more.
    for (auto& job : left) {
        job();
    }
    for (auto& [callback, reply] : roundtrips_) {
        reply->finish();
    }
}

// One pass: the compositor's events, the calls' requests, the readers of our selections.
bool DataControlConnection::turn() {
    while (wl_display_prepare_read(display_) != 0) {
        if (wl_display_dispatch_pending(display_) < 0) {
            return false;
        }
    }
    std::deque<std::function<void()>> ready;
    {
        std::lock_guard guard(mutex_);
        ready.swap(jobs_);
    }
    for (auto& job : ready) {
        job();
    }
    const bool flushed = wl_display_flush(display_) >= 0;
    if (!flushed && errno != EAGAIN) {
        wl_display_cancel_read(display_);
        return false;
    }
    std::vector<pollfd> polled{{.fd = wl_display_get_fd(display_),
                                .events = static_cast<short>(POLLIN | (flushed ? 0 : POLLOUT)),
                                .revents = 0},
                               {.fd = wake_, .events = POLLIN, .revents = 0}};
    for (const PendingSend& send : sends_) {
        polled.push_back({.fd = send.fd, .events = POLLOUT, .revents = 0});
    }
    const int timeout = sends_.empty() ? -1 : 1000;
    if (poll(polled.data(), polled.size(), timeout) < 0 && errno != EINTR) {
        wl_display_cancel_read(display_);
        return false;
    }
    if ((polled[0].revents & (POLLIN | POLLERR | POLLHUP)) != 0) {
        if (wl_display_read_events(display_) < 0) {
            return false;
        }
    } else {
        wl_display_cancel_read(display_);
    }
    if (wl_display_dispatch_pending(display_) < 0) {
        return false;
    }
    if ((polled[1].revents & POLLIN) != 0) {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = ::read(wake_, &count, sizeof count);
    }
    serveSends(polled, 2);
    return true;
}

void DataControlConnection::run() {
    // Writing to a reader that has gone raises SIGPIPE; here it becomes EPIPE.
    sigset_t pipeOnly;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeOnly, nullptr);
    while (!stopping_) {
        if (!turn()) {
            const int error = wl_display_get_error(display_);
            end(std::string("与合成器的连接断开(") + std::strerror(error != 0 ? error : errno) +
                ")");
            return;
        }
    }
    end("");
}

}  // namespace vurin
