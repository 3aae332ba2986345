#include "platform/linux/evdev_keyboard_watch.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/linux/evdev_key_reader.h"
#include "support/log.h"

namespace vurin {

namespace {

bool isEventNode(const std::string& name) {
    return name.starts_with("event");
}

}  // namespace

EvdevKeyboardWatch::EvdevKeyboardWatch(Devices devices) : devices_(std::move(devices)) {}

EvdevKeyboardWatch::~EvdevKeyboardWatch() {
    stop();
}

std::vector<std::string> EvdevKeyboardWatch::start(int evdevCode, Handlers handlers) {
    stop();
    evdevCode_ = evdevCode;
    handlers_ = std::move(handlers);
    {
        const std::lock_guard lock(mutex_);
        stopping_ = false;
    }
    // Watched before the folder is listed, so that a keyboard plugged in meanwhile is not missed.
    inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    const bool watching = inotify_ >= 0 && wake_ >= 0 &&
                          inotify_add_watch(inotify_, devices_.directory.c_str(),
                                            IN_CREATE | IN_ATTRIB | IN_MOVED_TO) >= 0;
    if (!watching) {
        log("⚠️ 无法监视 " + devices_.directory + " 的键盘插拔(" + std::strerror(errno) +
            "),之后接上的键盘不会被读取");
    }
    std::vector<std::string> paths;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(devices_.directory, error), end;
         !error && entry != end; entry.increment(error)) {
        if (isEventNode(entry->path().filename().string())) {
            paths.push_back(entry->path().string());
        }
    }
    std::sort(paths.begin(), paths.end());
    std::vector<std::string> sources;
    for (const std::string& path : paths) {
        if (std::optional<std::string> source = tryRead(path)) {
            sources.push_back(std::move(*source));
        }
    }
    if (watching) {
        follower_ = std::thread([this] { follow(); });
    }
    return sources;
}

void EvdevKeyboardWatch::stop() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    if (follower_.joinable()) {
        wake();
        follower_.join();
    }
    std::map<std::string, Reading> readers;
    {
        const std::lock_guard lock(mutex_);
        readers.swap(readers_);
        ended_.clear();
    }
    for (auto& [path, reading] : readers) {
        reading.reader->stop();
    }
    for (int* fd : {&inotify_, &wake_}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
}

void EvdevKeyboardWatch::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t wrote = write(wake_, &one, sizeof one);
}

// The source's name once its reader runs; nothing when the node is no keyboard to read (yet).
std::optional<std::string> EvdevKeyboardWatch::tryRead(const std::string& path) {
    {
        const std::lock_guard lock(mutex_);
        if (readers_.contains(path)) {
            return std::nullopt;
        }
    }
    const std::optional<std::string> name = devices_.probe(path, evdevCode_);
    if (!name) {
        return std::nullopt;
    }
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat opened {};
    fstat(fd, &opened);
    const std::string source = name->empty() ? path : path + " " + *name;
    auto reader = std::make_unique<EvdevKeyReader>();
    EvdevKeyReader::Handlers readerHandlers{
        .onKey = [onKey = handlers_.onKey,
                  source](const KeyGrabEvent& event) { onKey(source, event); },
        .onFailure =
            [this, onFailure = handlers_.onFailure, source, path,
             node = opened.st_ino](const KeyGrabResult& result) {
                {
                    const std::lock_guard lock(mutex_);
                    ended_.emplace_back(path, node);
                }
                if (wake_ >= 0) {
                    wake();
                }
                if (onFailure) {
                    onFailure(source, result);
                }
            }};
    if (reader->start(fd, path, evdevCode_, std::move(readerHandlers)).status !=
        KeyGrabStatus::ok) {
        return std::nullopt;
    }
    const std::lock_guard lock(mutex_);
    readers_[path] = Reading{source, std::move(reader), opened.st_ino};
    return source;
}

void EvdevKeyboardWatch::follow() {
    pthread_setname_np(pthread_self(), "vurin.keyboards");
    pollfd fds[2] = {{inotify_, POLLIN, 0}, {wake_, POLLIN, 0}};
    for (;;) {
        if (poll(fds, 2, -1) < 0 && errno != EINTR) {
            log(std::string("⚠️ 键盘插拔监视停止(poll:") + std::strerror(errno) + ")");
            return;
        }
        {
            const std::lock_guard lock(mutex_);
            if (stopping_) {
                return;
            }
        }
        if ((fds[1].revents & POLLIN) != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t got = read(wake_, &count, sizeof count);
            reapEnded();
        }
        if ((fds[0].revents & POLLIN) != 0) {
            onFolderEvents();
        }
    }
}

// A node that appears, or whose permissions change (udev grants access after creating it).
void EvdevKeyboardWatch::onFolderEvents() {
    alignas(inotify_event) char buffer[4096];
    for (ssize_t got; (got = read(inotify_, buffer, sizeof buffer)) > 0;) {
        for (char* at = buffer; at < buffer + got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            at += sizeof(inotify_event) + event->len;
            if (event->len == 0 || !isEventNode(event->name)) {
                continue;
            }
            const std::string path = devices_.directory + "/" + event->name;
            if (std::optional<std::string> source = tryRead(path); source && handlers_.onAdded) {
                handlers_.onAdded(*source);
            }
        }
    }
}

// Readers whose keyboard went are joined and dropped; another device already at the same path
// (its node made before this ran, so no later event tells of it) is tried at once.
void EvdevKeyboardWatch::reapEnded() {
    std::vector<std::pair<std::string, ino_t>> ended;
    std::vector<std::unique_ptr<EvdevKeyReader>> gone;
    {
        const std::lock_guard lock(mutex_);
        ended.swap(ended_);
        for (const auto& [path, node] : ended) {
            if (auto found = readers_.find(path); found != readers_.end()) {
                gone.push_back(std::move(found->second.reader));
                readers_.erase(found);
            }
        }
    }
    for (auto& reader : gone) {
        reader->stop();
    }
    for (const auto& [path, node] : ended) {
        struct stat now {};
        if (stat(path.c_str(), &now) != 0 || now.st_ino == node) {
            continue;
        }
        if (std::optional<std::string> source = tryRead(path); source && handlers_.onAdded) {
            handlers_.onAdded(*source);
        }
    }
}

}  // namespace vurin
