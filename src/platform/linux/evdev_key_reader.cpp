#include "platform/linux/evdev_key_reader.h"

#include <fcntl.h>
#include <linux/input.h>
#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

namespace vurin {

struct EvdevKeyReader::Reader {
    ~Reader() {
        for (const int fd : {source, wakeRead, wakeWrite}) {
            if (fd >= 0) {
                close(fd);
            }
        }
    }

    void run() {
        pthread_setname_np(pthread_self(), "vurin.evdev");
        pollfd fds[2] = {{source, POLLIN, 0}, {wakeRead, POLLIN, 0}};
        for (;;) {
            if (poll(fds, 2, -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return fail("poll: " + std::string(std::strerror(errno)));
            }
            if (fds[1].revents != 0 || stopping.load()) {
                return;
            }
            if (fds[0].revents == 0) {
                continue;
            }
            const ssize_t count = read(source, buffer + filled, sizeof buffer - filled);
            if (count < 0 && (errno == EINTR || errno == EAGAIN)) {
                continue;
            }
            if (count <= 0) {
                return fail(count == 0 ? std::string("已关闭") : std::strerror(errno));
            }
            filled += static_cast<std::size_t>(count);
            decodeWholeRecords();
        }
    }

    // A pipe may hand over part of a record: the rest waits in the buffer for the next read.
    void decodeWholeRecords() {
        std::size_t offset = 0;
        for (; filled - offset >= sizeof(input_event); offset += sizeof(input_event)) {
            input_event event;
            std::memcpy(&event, buffer + offset, sizeof event);
            decode(event);
        }
        std::memmove(buffer, buffer + offset, filled - offset);
        filled -= offset;
    }

    void decode(const input_event& event) {
        if (event.type == EV_SYN && event.code == SYN_DROPPED) {
            dropped = true;
        } else if (event.type == EV_SYN && event.code == SYN_REPORT && dropped) {
            dropped = false;
            if (keyDown && deviceSaysUp()) {
                report(false);
            }
        } else if (!dropped && event.type == EV_KEY && event.code == key) {
            report(event.value != 0);  // 1 press, 2 auto-repeat: a press again, as on X11
        }
    }

    // Only a real device can say; anything else (a pipe) keeps the last known state.
    bool deviceSaysUp() const {
        constexpr std::size_t bitsPerWord = sizeof(unsigned long) * CHAR_BIT;
        unsigned long keys[KEY_MAX / bitsPerWord + 1] = {};
        if (ioctl(source, EVIOCGKEY(sizeof keys), keys) < 0) {
            return false;
        }
        return (keys[key / bitsPerWord] & (1UL << (key % bitsPerWord))) == 0;
    }

    void report(bool pressed) {
        keyDown = pressed;
        if (handlers.onKey) {
            handlers.onKey(KeyGrabEvent{.evdevCode = key, .pressed = pressed});
        }
    }

    void fail(const std::string& what) {
        if (!stopping.load() && handlers.onFailure) {
            handlers.onFailure(
                {KeyGrabStatus::unavailable, "键盘设备 " + name + " 读取结束(" + what + ")"});
        }
    }

    int source = -1;
    int wakeRead = -1;
    int wakeWrite = -1;
    std::string name;
    int key = 0;
    Handlers handlers;
    std::atomic<bool> stopping{false};
    char buffer[sizeof(input_event) * 64];
    std::size_t filled = 0;
    bool keyDown = false;
    bool dropped = false;
};

EvdevKeyReader::EvdevKeyReader() = default;

EvdevKeyReader::~EvdevKeyReader() {
    stop();
}

KeyGrabResult EvdevKeyReader::start(int fd, std::string source, int evdevCode, Handlers handlers) {
    auto reader = std::make_unique<Reader>();
    reader->source = fd;
    reader->name = std::move(source);
    if (reader_) {
        return {KeyGrabStatus::unavailable, "❌ evdev 触发键已在读取 " + reader_->name};
    }
    int wake[2];
    if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        return {KeyGrabStatus::unavailable, "❌ 无法创建 evdev 触发键读取线程的唤醒管道"};
    }
    reader->wakeRead = wake[0];
    reader->wakeWrite = wake[1];
    reader->key = evdevCode;
    reader->handlers = std::move(handlers);
    reader_ = std::move(reader);
    thread_ = std::thread(&Reader::run, reader_.get());
    return {};
}

void EvdevKeyReader::stop() {
    if (!reader_) {
        return;
    }
    reader_->stopping.store(true);
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = write(reader_->wakeWrite, &byte, 1);
    thread_.join();
    reader_.reset();
}

}  // namespace vurin
