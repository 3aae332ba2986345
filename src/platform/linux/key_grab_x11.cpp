#include "platform/linux/key_grab_x11.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <utility>

#include "platform/linux/x11_connection.h"
#include "support/log.h"

namespace vurin {

namespace {

// X keycodes are evdev codes shifted by 8 (the xf86-input-evdev / libinput convention).
constexpr int evdevToXKeycode = 8;
// While the keyboard is wanted but another client holds it, retry this often (ms).
constexpr int keyboardGrabRetryMs = 100;

}  // namespace

// The capture thread's connection and grabs. Used on the capture thread only.
class X11KeyGrab::Session {
  public:
    KeyGrabResult open(const std::string& name, std::optional<int> evdevCode) {
        // Its protocol errors are recorded for the grab to read, and a broken connection only
        // sets lost() (the capture loop notices it) instead of exiting the process.
        connection_ = X11Connection::open(name);
        if (!connection_) {
            const char* fromEnvironment = std::getenv("DISPLAY");
            const std::string shown =
                name.empty() ? (fromEnvironment ? fromEnvironment : "") : name;
            return {KeyGrabStatus::unavailable,
                    "❌ 无法连接 X11 显示(DISPLAY=" + shown + "),触发键不可用"};
        }
        root_ = DefaultRootWindow(display());
        XDisplayKeycodes(display(), &minKeycode_, &maxKeycode_);
        enableDetectableAutoRepeat();
        return evdevCode ? grab(*evdevCode) : KeyGrabResult{};
    }

    KeyGrabResult grab(int evdevCode) {
        const int keycode = evdevCode + evdevToXKeycode;
        if (keycode < minKeycode_ || keycode > maxKeycode_) {
            return {KeyGrabStatus::refused, "❌ 触发键(X 键码 " + std::to_string(keycode) +
                                                ")不在此键盘的键码范围内,无法捕获"};
        }
        connection_->takeError();  // an earlier request's error is not this grab's
        // AnyModifier: a grab of only some modifier combinations lets Ctrl+key through.
        XGrabKey(display(), keycode, AnyModifier, root_, False, GrabModeAsync, GrabModeAsync);
        XSync(display(), False);
        if (lost()) {
            return connectionLost();
        }
        if (const int error = connection_->takeError(); error != 0) {
            // The old key stays grabbed: a refused change must not leave no trigger at all.
            if (keycode != grabbedKeycode_) {
                XUngrabKey(display(), keycode, AnyModifier, root_);
                XSync(display(), False);
            }
            return {KeyGrabStatus::refused,
                    "❌ 触发键(X 键码 " + std::to_string(keycode) +
                        ")已被其他程序占用,X 服务器拒绝了抓取" +
                        (error == BadAccess ? "" : "(X 错误 " + std::to_string(error) + ")")};
        }
        if (grabbedKeycode_ != 0 && grabbedKeycode_ != keycode) {
            XUngrabKey(display(), grabbedKeycode_, AnyModifier, root_);
            XFlush(display());
        }
        grabbedKeycode_ = keycode;
        return {};
    }

    std::optional<int> grabbedKey() const {
        return grabbedKeycode_ == 0 ? std::nullopt
                                    : std::optional<int>(grabbedKeycode_ - evdevToXKeycode);
    }

    // Takes or releases the whole keyboard; another client's active grab makes the take fail,
    // and the caller retries.
    void wantKeyboard(bool wanted) {
        keyboardWanted_ = wanted;
        if (wanted && !keyboardGrabbed_) {
            keyboardGrabbed_ = XGrabKeyboard(display(), root_, False, GrabModeAsync, GrabModeAsync,
                                             CurrentTime) == GrabSuccess;
        } else if (!wanted && keyboardGrabbed_) {
            XUngrabKeyboard(display(), CurrentTime);
            keyboardGrabbed_ = false;
        }
        XFlush(display());
    }

    bool awaitingKeyboard() const { return keyboardWanted_ && !keyboardGrabbed_; }

    // The next key event already received, if any. Keymap changes refresh the key names.
    bool nextKeyEvent(KeyGrabEvent& out) {
        while (!lost() && XPending(display()) > 0) {
            XEvent event;
            XNextEvent(display(), &event);
            if (event.type == KeyPress || event.type == KeyRelease) {
                out.evdevCode = static_cast<int>(event.xkey.keycode) - evdevToXKeycode;
                out.pressed = event.type == KeyPress;
                return true;
            }
            if (event.type == MappingNotify) {
                XRefreshKeyboardMapping(&event.xmapping);
                keyNamesChanged_ = true;
            }
        }
        return false;
    }

    bool hasQueuedEvents() const { return XQLength(display()) > 0; }
    bool takeKeyNamesChanged() { return std::exchange(keyNamesChanged_, false); }
    bool lost() const { return connection_->lost(); }
    int fd() const { return ConnectionNumber(display()); }

    KeyGrabResult connectionLost() const {
        return {KeyGrabStatus::unavailable,
                "⚠️ 与 X11 显示的连接已断开,触发键暂不可用;正在自动重连"};
    }

    std::map<int, std::string> keyNames() const {
        std::map<int, std::string> names;
        const int count = maxKeycode_ - minKeycode_ + 1;
        int perKeycode = 0;
        KeySym* keysyms =
            XGetKeyboardMapping(display(), static_cast<KeyCode>(minKeycode_), count, &perKeycode);
        if (!keysyms) {
            return names;
        }
        for (int index = 0; index < count; ++index) {
            const KeySym keysym = keysyms[index * perKeycode];
            const char* name = keysym == NoSymbol ? nullptr : XKeysymToString(keysym);
            if (name) {
                names[minKeycode_ + index - evdevToXKeycode] = name;
            }
        }
        XFree(keysyms);
        return names;
    }

  private:
    // Auto-repeat then shows as repeated presses without releases, which the caller can drop.
    void enableDetectableAutoRepeat() {
        Bool supported = False;
        XkbSetDetectableAutoRepeat(display(), True, &supported);
        // The server does not change, but sessions come and go (the permission poll's trial
        // grabs, reconnections): say it once per process.
        static std::atomic<bool> warned = false;
        if (!supported && !warned.exchange(true)) {
            log("⚠️ X "
                "服务器不支持可检测的自动重复,按住触发键可能被当作多次按下");
        }
    }

    Display* display() const { return connection_->display(); }

    std::unique_ptr<X11Connection> connection_;
    Window root_ = 0;
    int minKeycode_ = 8;
    int maxKeycode_ = 255;
    int grabbedKeycode_ = 0;
    bool keyboardWanted_ = false;
    bool keyboardGrabbed_ = false;
    bool keyNamesChanged_ = false;
};

X11KeyGrab::X11KeyGrab(std::string displayName) : displayName_(std::move(displayName)) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        wakeRead_ = fds[0];
        wakeWrite_ = fds[1];
    }
}

X11KeyGrab::~X11KeyGrab() {
    stop();
    if (wakeRead_ >= 0) {
        close(wakeRead_);
        close(wakeWrite_);
    }
}

KeyGrabResult X11KeyGrab::start(std::optional<int> evdevCode, Handlers handlers) {
    if (running_.load()) {
        return {};
    }
    if (thread_.joinable()) {
        thread_.join();  // a capture thread whose connection was lost
    }
    if (wakeRead_ < 0) {
        return {KeyGrabStatus::unavailable, "❌ 无法创建触发键捕获线程的唤醒管道"};
    }
    {
        std::lock_guard guard(lock_);
        requestedKey_.reset();
        keyboardWanted_ = false;
        stopRequested_ = false;
    }
    std::promise<KeyGrabResult> started;
    std::future<KeyGrabResult> result = started.get_future();
    thread_ =
        std::thread(&X11KeyGrab::run, this, evdevCode, std::move(handlers), std::move(started));
    KeyGrabResult outcome = result.get();
    if (outcome.status != KeyGrabStatus::ok) {
        thread_.join();
    }
    return outcome;
}

bool X11KeyGrab::isRunning() const {
    return running_.load();
}

std::optional<int> X11KeyGrab::grabbedKey() const {
    std::lock_guard guard(lock_);
    return running_.load() ? grabbedKey_ : std::nullopt;
}

void X11KeyGrab::grabKey(int evdevCode) {
    {
        std::lock_guard guard(lock_);
        requestedKey_ = evdevCode;
    }
    wake();
}

void X11KeyGrab::setKeyboardGrabbed(bool grabbed) {
    {
        std::lock_guard guard(lock_);
        keyboardWanted_ = grabbed;
    }
    wake();
}

std::optional<std::string> X11KeyGrab::keyName(int evdevCode) const {
    std::lock_guard guard(lock_);
    auto found = keyNames_.find(evdevCode);
    if (found == keyNames_.end()) {
        return std::nullopt;
    }
    return found->second;
}

void X11KeyGrab::stop() {
    {
        std::lock_guard guard(lock_);
        stopRequested_ = true;
    }
    wake();
    if (!thread_.joinable()) {
        return;
    }
    if (thread_.get_id() == std::this_thread::get_id()) {
        thread_.detach();  // the last owner went away inside a handler: the loop ends on return
    } else {
        thread_.join();
    }
}

void X11KeyGrab::wake() {
    if (wakeWrite_ >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t ignored = write(wakeWrite_, &byte, 1);  // full pipe: awake
    }
}

bool X11KeyGrab::takeRequests(std::optional<int>& grabKey, bool& keyboardWanted, bool& stop) {
    std::lock_guard guard(lock_);
    grabKey = std::exchange(requestedKey_, std::nullopt);
    keyboardWanted = keyboardWanted_;
    stop = stopRequested_;
    return true;
}

void X11KeyGrab::setKeyNames(std::map<int, std::string> names) {
    std::lock_guard guard(lock_);
    keyNames_ = std::move(names);
}

void X11KeyGrab::setGrabbedKey(std::optional<int> evdevCode) {
    std::lock_guard guard(lock_);
    grabbedKey_ = evdevCode;
}

void X11KeyGrab::run(std::optional<int> evdevCode, Handlers handlers,
                     std::promise<KeyGrabResult> started) {
    pthread_setname_np(pthread_self(), "vurin.eventtap");
    Session session;
    if (KeyGrabResult opened = session.open(displayName_, evdevCode);
        opened.status != KeyGrabStatus::ok) {
        started.set_value(std::move(opened));
        return;
    }
    setKeyNames(session.keyNames());
    setGrabbedKey(session.grabbedKey());
    running_.store(true);
    started.set_value({});

    // Requests are applied after every event, so a key taken by detection is grabbed before the
    // next event is looked at.
    auto applyRequests = [&] {
        std::optional<int> key;
        bool keyboardWanted = false;
        bool stop = false;
        takeRequests(key, keyboardWanted, stop);
        if (stop) {
            return false;
        }
        if (key) {
            const KeyGrabResult grabbed = session.grab(*key);
            setGrabbedKey(session.grabbedKey());
            if (handlers.onKeyGrabbed) {
                handlers.onKeyGrabbed(*key, grabbed);
            }
        }
        session.wantKeyboard(keyboardWanted);
        return true;
    };

    bool keepRunning = true;
    while (keepRunning && !session.lost()) {
        KeyGrabEvent event;
        while (keepRunning && session.nextKeyEvent(event)) {
            if (handlers.onKey) {
                handlers.onKey(event);
            }
            keepRunning = applyRequests();
        }
        if (session.takeKeyNamesChanged()) {
            setKeyNames(session.keyNames());
        }
        if (!keepRunning || session.lost() || !(keepRunning = applyRequests())) {
            break;
        }
        if (session.hasQueuedEvents()) {
            continue;
        }
        pollfd fds[2] = {{session.fd(), POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        poll(fds, 2, session.awaitingKeyboard() ? keyboardGrabRetryMs : -1);
        char drain[64];
        while (read(wakeRead_, drain, sizeof drain) > 0) {
        }
    }
    running_.store(false);
    if (session.lost() && handlers.onFailure) {
        handlers.onFailure(session.connectionLost());
    }
}

}  // namespace vurin
