#include "platform/x11/key_grab_x11.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <utility>

#include "platform/x11/x11_connection.h"
#include "support/log.h"

namespace vurin {

namespace {

// X keycodes are evdev codes shifted by 8 (the xf86-input-evdev / libinput convention).
constexpr int evdevToXKeycode = 8;
// While the keyboard is wanted but another client holds it, retry this often (ms).
constexpr int keyboardGrabRetryMs = 100;
// The longest a start waits for the server to connect and answer the grab.
constexpr std::chrono::seconds startWait{1};

std::string shownDisplay(const std::string& name) {
    const char* fromEnvironment = std::getenv("DISPLAY");
    return name.empty() ? (fromEnvironment ? fromEnvironment : "") : name;
}

}  // namespace

// The capture thread's connection and grabs. Used on the capture thread only.
class X11KeyGrab::Session {
  public:
    KeyGrabResult open(const std::string& name, std::optional<int> evdevCode) {
        // Its protocol errors are recorded for the grab to read, and a broken connection only
        // sets lost() (the capture loop notices it) instead of exiting the process.
        connection_ = X11Connection::open(name);
        if (!connection_) {
            return {KeyGrabStatus::unavailable,
                    "❌ 无法连接 X11 显示(DISPLAY=" + shownDisplay(name) + "),触发键不可用"};
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

// What the capture thread shares with the grab: the requests, the key names and the wake pipe.
struct X11KeyGrab::Capture {
    Capture() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
            wakeRead = fds[0];
            wakeWrite = fds[1];
        }
    }
    ~Capture() {
        if (wakeRead >= 0) {
            close(wakeRead);
            close(wakeWrite);
        }
    }

    void wake() const {
        if (wakeWrite >= 0) {
            const char byte = 1;
            [[maybe_unused]] const ssize_t ignored = write(wakeWrite, &byte, 1);  // full: awake
        }
    }
    void takeRequests(std::optional<int>& key, bool& keyboard, bool& stop) {
        std::lock_guard guard(lock);
        key = std::exchange(requestedKey, std::nullopt);
        keyboard = keyboardWanted;
        stop = stopRequested;
    }
    bool stopping() const {
        std::lock_guard guard(lock);
        return stopRequested;
    }
    void setKeyNames(std::map<int, std::string> names) {
        std::lock_guard guard(lock);
        keyNames = std::move(names);
    }
    void setGrabbedKey(std::optional<int> evdevCode) {
        std::lock_guard guard(lock);
        grabbedKey = evdevCode;
    }

    std::atomic<bool> running{false};
    int wakeRead = -1;
    int wakeWrite = -1;
    mutable std::mutex lock;  // guards the rest
    std::optional<int> requestedKey;
    bool keyboardWanted = false;
    bool stopRequested = false;
    std::map<int, std::string> keyNames;
    std::optional<int> grabbedKey;
};

X11KeyGrab::X11KeyGrab(std::string displayName)
    : displayName_(std::move(displayName)), capture_(std::make_shared<Capture>()) {}

X11KeyGrab::~X11KeyGrab() {
    stop();
}

std::shared_ptr<X11KeyGrab::Capture> X11KeyGrab::capture() const {
    std::lock_guard guard(captureLock_);
    return capture_;
}

KeyGrabResult X11KeyGrab::start(std::optional<int> evdevCode, Handlers handlers) {
    const std::shared_ptr<Capture> capture = this->capture();
    // Read before `running`, which a capture sets before it reports.
    const bool settled = starting_.valid() &&
                         starting_.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    if (capture->running.load()) {
        starting_ = {};  // perhaps a start that timed out and then succeeded
        return {};
    }
    if (settled) {
        starting_ = {};  // a start that timed out and has failed or been lost since: stale
    }
    if (!starting_.valid()) {
        if (thread_.joinable()) {
            thread_.join();  // a capture thread whose connection was lost
        }
        if (capture->wakeRead < 0) {
            return {KeyGrabStatus::unavailable, "❌ 无法创建触发键捕获线程的唤醒管道"};
        }
        {
            std::lock_guard guard(capture->lock);
            capture->requestedKey.reset();
            capture->keyboardWanted = false;
            capture->stopRequested = false;
        }
        std::promise<KeyGrabResult> started;
        starting_ = started.get_future();
        thread_ = std::thread(&X11KeyGrab::run, capture, displayName_, evdevCode,
                              std::move(handlers), std::move(started));
    }
    // A server that does not answer (hung, or far away over TCP) must not freeze the caller. The
    // attempt goes on, and the next start waits for it again rather than open another one.
    if (starting_.wait_for(startWait) != std::future_status::ready) {
        return {KeyGrabStatus::unavailable, "❌ X11 显示(DISPLAY=" + shownDisplay(displayName_) +
                                                ")1 秒内没有应答,触发键暂不可用"};
    }
    KeyGrabResult outcome = starting_.get();
    if (outcome.status != KeyGrabStatus::ok) {
        thread_.join();
    }
    return outcome;
}

bool X11KeyGrab::isRunning() const {
    return capture()->running.load();
}

std::optional<int> X11KeyGrab::grabbedKey() const {
    const std::shared_ptr<Capture> capture = this->capture();
    std::lock_guard guard(capture->lock);
    return capture->running.load() ? capture->grabbedKey : std::nullopt;
}

void X11KeyGrab::grabKey(int evdevCode) {
    const std::shared_ptr<Capture> capture = this->capture();
    {
        std::lock_guard guard(capture->lock);
        capture->requestedKey = evdevCode;
    }
    capture->wake();
}

void X11KeyGrab::setKeyboardGrabbed(bool grabbed) {
    const std::shared_ptr<Capture> capture = this->capture();
    {
        std::lock_guard guard(capture->lock);
        capture->keyboardWanted = grabbed;
    }
    capture->wake();
}

std::optional<std::string> X11KeyGrab::keyName(int evdevCode) const {
    const std::shared_ptr<Capture> capture = this->capture();
    std::lock_guard guard(capture->lock);
    auto found = capture->keyNames.find(evdevCode);
    if (found == capture->keyNames.end()) {
        return std::nullopt;
    }
    return found->second;
}

void X11KeyGrab::stop() {
    const std::shared_ptr<Capture> capture = this->capture();
    {
        std::lock_guard guard(capture->lock);
        capture->stopRequested = true;
    }
    capture->wake();
    const bool connecting = starting_.valid() && starting_.wait_for(std::chrono::seconds(0)) !=
                                                     std::future_status::ready;
    starting_ = {};
    if (!thread_.joinable()) {
        return;
    }
    // A thread still waiting for the server, or the last owner gone inside a handler: the thread
    // ends by itself, and the next start gets a capture of its own.
    if (connecting || thread_.get_id() == std::this_thread::get_id()) {
        thread_.detach();
        auto fresh = std::make_shared<Capture>();
        {
            std::lock_guard guard(capture->lock);
            fresh->keyNames = capture->keyNames;
        }
        std::lock_guard guard(captureLock_);
        capture_ = std::move(fresh);
    } else {
        thread_.join();
    }
}

void X11KeyGrab::run(std::shared_ptr<Capture> capture, std::string displayName,
                     std::optional<int> evdevCode, Handlers handlers,
                     std::promise<KeyGrabResult> started) {
    pthread_setname_np(pthread_self(), "vurin.eventtap");
    Session session;
    if (KeyGrabResult opened = session.open(displayName, evdevCode);
        opened.status != KeyGrabStatus::ok) {
        started.set_value(std::move(opened));
        return;
    }
    if (capture->stopping()) {
        return;  // stopped while the server was slow to answer: nobody waits any more
    }
    capture->setKeyNames(session.keyNames());
    capture->setGrabbedKey(session.grabbedKey());
    capture->running.store(true);
    started.set_value({});

    // Requests are applied after every event, so a key taken by detection is grabbed before the
    // next event is looked at.
    auto applyRequests = [&] {
        std::optional<int> key;
        bool keyboardWanted = false;
        bool stop = false;
        capture->takeRequests(key, keyboardWanted, stop);
        if (stop) {
            return false;
        }
        if (key) {
            const KeyGrabResult grabbed = session.grab(*key);
            capture->setGrabbedKey(session.grabbedKey());
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
            capture->setKeyNames(session.keyNames());
        }
        if (!keepRunning || session.lost() || !(keepRunning = applyRequests())) {
            break;
        }
        if (session.hasQueuedEvents()) {
            continue;
        }
        pollfd fds[2] = {{session.fd(), POLLIN, 0}, {capture->wakeRead, POLLIN, 0}};
        poll(fds, 2, session.awaitingKeyboard() ? keyboardGrabRetryMs : -1);
        char drain[64];
        while (read(capture->wakeRead, drain, sizeof drain) > 0) {
        }
    }
    capture->running.store(false);
    if (session.lost() && handlers.onFailure) {
        handlers.onFailure(session.connectionLost());
    }
}

}  // namespace vurin
