// The trigger key grab against a real X server: the key reaches the gesture engine and no other
// client, whatever modifiers are held; auto-repeat is dropped; a key held by another client is
// refused; detection takes the next key. Keys are injected as raw keycodes through XTest on a
// connection of the test's own.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "input/event_tap.h"
#include "platform/linux/key_grab_x11.h"
#include "support/language.h"
#include "support/log.h"
#include "support/virtual_main_queue.h"

// Last: Xlib defines macros (None, Bool, Status) that clash with the headers above.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

extern char** environ;

namespace vurin {
namespace {

using namespace std::chrono_literals;

constexpr unsigned keycodeF13 = 191;  // evdev 183 + 8 (its keysym is XF86Tools, not F13)
constexpr unsigned keycodeA = 38;
constexpr unsigned keycodeLeftControl = 37;

// Polls `done` until it holds or the deadline passes.
bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 3s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

// A main queue that counts what the capture thread hands over.
class CountingQueue : public testing::VirtualMainQueue {
  public:
    void post(std::function<void()> block) override {
        ++posts;
        VirtualMainQueue::post(std::move(block));
    }
    std::atomic<int> posts{0};
};

// Counts the raw presses the server delivers to the grab, before the tap filters them.
class CountingGrab : public X11KeyGrab {
  public:
    KeyGrabResult start(int evdevCode, Handlers handlers) override {
        auto forward = std::move(handlers.onKey);
        handlers.onKey = [this, forward](const KeyGrabEvent& event) {
            if (event.pressed) {
                ++rawPresses;
            }
            forward(event);
        };
        return X11KeyGrab::start(evdevCode, std::move(handlers));
    }
    std::atomic<int> rawPresses{0};
};

// Another X client with a focused window that records the key events it is given.
class FocusedWindow {
  public:
    explicit FocusedWindow(Display* display) : display_(display) {
        window_ = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 200, 100, 0, 0, 0);
        XSelectInput(display, window_, KeyPressMask | KeyReleaseMask | StructureNotifyMask);
        XMapRaised(display, window_);
        XEvent event;
        do {
            XNextEvent(display, &event);
        } while (event.type != MapNotify);
        XSetInputFocus(display, window_, RevertToPointerRoot, CurrentTime);
        XSync(display, False);
    }
    ~FocusedWindow() {
        XDestroyWindow(display_, window_);
        XSync(display_, False);
    }

    // Keycodes of the presses received so far ("-" prefix for releases).
    std::vector<std::string> takeKeys() {
        XSync(display_, False);
        std::vector<std::string> keys;
        while (XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            if (event.type == KeyPress || event.type == KeyRelease) {
                keys.push_back((event.type == KeyRelease ? "-" : "") +
                               std::to_string(event.xkey.keycode));
            }
        }
        return keys;
    }

  private:
    Display* display_;
    Window window_;
};

class TriggerCaptureDesktopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "desktop tests need the headless session";
        applyUILang("zh");
        typist.reset(XOpenDisplay(nullptr));
        observer.reset(XOpenDisplay(nullptr));
        ASSERT_TRUE(typist && observer);
        int event = 0, error = 0, major = 0, minor = 0;
        ASSERT_TRUE(XTestQueryExtension(typist.get(), &event, &error, &major, &minor));
        setLogObserver([this](const std::string& line) {
            std::lock_guard guard(logLock);
            logs.push_back(line);
        });
        window = std::make_unique<FocusedWindow>(observer.get());
        engine->onLongPressStart = [this] { gestures.push_back("longPressStart"); };
        engine->onLongPressEnd = [this] { gestures.push_back("longPressEnd"); };
        engine->onSingleClick = [this] { gestures.push_back("singleClick"); };
        tap->setEngine(engine);
    }
    void TearDown() override {
        tap->stop();
        window.reset();
        setLogObserver({});
    }

    void key(unsigned keycode, bool press) {
        XTestFakeKeyEvent(typist.get(), keycode, press ? True : False, CurrentTime);
        XSync(typist.get(), False);
    }
    void tapKey(unsigned keycode) {
        key(keycode, true);
        key(keycode, false);
    }
    bool keyboardHeldByAnotherClient() {
        Display* display = observer.get();
        const int result = XGrabKeyboard(display, DefaultRootWindow(display), False, GrabModeAsync,
                                         GrabModeAsync, CurrentTime);
        if (result == GrabSuccess) {
            XUngrabKeyboard(display, CurrentTime);
        }
        XSync(display, False);
        return result == AlreadyGrabbed;
    }
    bool logged(const std::string& part) {
        std::lock_guard guard(logLock);
        for (const std::string& line : logs) {
            if (line.find(part) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    DisplayPtr typist;
    DisplayPtr observer;
    std::unique_ptr<FocusedWindow> window;
    std::shared_ptr<CountingQueue> queue = std::make_shared<CountingQueue>();
    std::shared_ptr<CountingGrab> grab = std::make_shared<CountingGrab>();
    std::shared_ptr<GestureEngine> engine = GestureEngine::create(queue);
    std::shared_ptr<EventTap> tap = EventTap::create(queue, grab);
    std::vector<std::string> gestures;
    std::mutex logLock;
    std::vector<std::string> logs;
};

TEST_F(TriggerCaptureDesktopTest, TriggerReachesTheEngineAndNoOtherClient) {
    ASSERT_TRUE(tap->setupEventTap());
    tapKey(keycodeA);  // the observer does get ordinary keys
    EXPECT_EQ(window->takeKeys(), (std::vector<std::string>{"38", "-38"}));

    key(keycodeF13, true);
    ASSERT_TRUE(waitUntil([&] { return queue->posts == 1; }));
    queue->runPending();
    queue->advance(0.5);
    EXPECT_EQ(gestures, std::vector<std::string>{"longPressStart"});
    key(keycodeF13, false);
    ASSERT_TRUE(waitUntil([&] { return queue->posts == 2; }));
    queue->runPending();
    EXPECT_EQ(gestures, (std::vector<std::string>{"longPressStart", "longPressEnd"}));
    EXPECT_TRUE(window->takeKeys().empty());

    // With Ctrl held the trigger is still swallowed; only Ctrl reaches the window.
    key(keycodeLeftControl, true);
    tapKey(keycodeF13);
    key(keycodeLeftControl, false);
    ASSERT_TRUE(waitUntil([&] { return queue->posts == 4; }));
    EXPECT_EQ(window->takeKeys(), (std::vector<std::string>{"37", "-37"}));
}

TEST_F(TriggerCaptureDesktopTest, AutoRepeatGivesOneDownAndOneUp) {
    ASSERT_TRUE(tap->setupEventTap());
    key(keycodeF13, true);
    // Xvfb repeats a key held through XTest after its repeat delay (660 ms by default).
    EXPECT_TRUE(waitUntil([&] { return grab->rawPresses >= 3; }, 3s));
    key(keycodeF13, false);
    ASSERT_TRUE(waitUntil([&] { return queue->posts == 2; }));
    std::this_thread::sleep_for(50ms);  // nothing further may arrive
    EXPECT_EQ(queue->posts, 2);
    queue->runPending();
    queue->advance(1.0);
    EXPECT_EQ(gestures, std::vector<std::string>{"singleClick"});  // virtual time: a click
    EXPECT_TRUE(window->takeKeys().empty());
}

TEST_F(TriggerCaptureDesktopTest, KeyHeldByAnotherClientIsRefusedUntilReleased) {
    Window root = DefaultRootWindow(observer.get());
    XGrabKey(observer.get(), keycodeF13, AnyModifier, root, False, GrabModeAsync, GrabModeAsync);
    XSync(observer.get(), False);

    EXPECT_FALSE(tap->setupEventTap());
    EXPECT_TRUE(logged("❌ 触发键(X 键码 191)已被其他程序占用,X 服务器拒绝了抓取"));
    EXPECT_FALSE(grab->isRunning());

    // A second capture of our own is refused the same way while the first holds the key.
    XUngrabKey(observer.get(), keycodeF13, AnyModifier, root);
    XSync(observer.get(), False);
    ASSERT_TRUE(tap->setupEventTap());
    auto second = std::make_shared<X11KeyGrab>();
    auto secondTap = EventTap::create(queue, second);
    EXPECT_FALSE(secondTap->setupEventTap());
    EXPECT_TRUE(grab->isRunning());
}

TEST_F(TriggerCaptureDesktopTest, DetectionTakesTheNextKey) {
    ASSERT_TRUE(tap->setupEventTap());
    tap->startDetectKey();
    // The keyboard grab is asynchronous: once it is active, another client cannot take the
    // keyboard. (A probe that wins the race makes the capture thread retry its grab.)
    ASSERT_TRUE(waitUntil([&] { return keyboardHeldByAnotherClient(); }));
    tapKey(keycodeLeftControl);
    ASSERT_TRUE(waitUntil([&] { return tap->tapKeyCode() == 59; }));
    EXPECT_FALSE(tap->tapDetecting());
    // The detection result and the release of the taken key.
    ASSERT_TRUE(waitUntil([&] { return queue->posts == 2; }));
    queue->runPending();
    EXPECT_TRUE(logged("🔑 触发键已设为 左 Control (键码 59)"));
    EXPECT_TRUE(window->takeKeys().empty());  // neither the press nor the release leaked

    // Left Control is the trigger now; F13 is an ordinary key again.
    ASSERT_TRUE(waitUntil([&] { return !keyboardHeldByAnotherClient(); }));
    const int before = queue->posts;
    tapKey(keycodeF13);
    EXPECT_EQ(window->takeKeys(), (std::vector<std::string>{"191", "-191"}));
    tapKey(keycodeLeftControl);
    ASSERT_TRUE(waitUntil([&] { return queue->posts == before + 2; }));
    EXPECT_TRUE(window->takeKeys().empty());
}

// An X server of the test's own, so it can be taken away under a running grab.
class PrivateXServer {
  public:
    // `display` empty: Xvfb picks a free number.
    explicit PrivateXServer(const std::string& display = {}) {
        int fds[2];
        if (pipe(fds) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        char xvfb[] = "Xvfb";
        char displayfd[] = "-displayfd";
        char fd3[] = "3";
        char nolisten[] = "-nolisten";
        char tcp[] = "tcp";
        std::string chosen = display;
        std::vector<char*> argv{xvfb};
        if (!chosen.empty()) {
            argv.push_back(chosen.data());
        }
        for (char* argument : {displayfd, fd3, nolisten, tcp}) {
            argv.push_back(argument);
        }
        argv.push_back(nullptr);
        if (posix_spawnp(&pid_, "Xvfb", &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        readDisplayNumber(fds[0]);
        close(fds[0]);
    }
    ~PrivateXServer() { kill(); }

    const std::string& display() const { return display_; }
    void kill() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

  private:
    // Xvfb writes its display number once it accepts clients.
    void readDisplayNumber(int fd) {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        std::string number;
        while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
            pollfd ready{fd, POLLIN, 0};
            if (poll(&ready, 1, 100) <= 0) {
                continue;
            }
            char buffer[16];
            const ssize_t count = read(fd, buffer, sizeof buffer);
            if (count <= 0) {
                break;
            }
            number.append(buffer, static_cast<std::size_t>(count));
            if (number.find('\n') != std::string::npos) {
                display_ = ":" + number.substr(0, number.find('\n'));
                return;
            }
        }
    }

    pid_t pid_ = -1;
    std::string display_;
};

TEST_F(TriggerCaptureDesktopTest, LostConnectionIsReportedAndRetriedOnTheNextSetup) {
    auto server = std::make_unique<PrivateXServer>();
    ASSERT_FALSE(server->display().empty()) << "could not start Xvfb";
    auto privateGrab = std::make_shared<X11KeyGrab>(server->display());
    auto privateTap = EventTap::create(queue, privateGrab);
    ASSERT_TRUE(privateTap->setupEventTap());
    EXPECT_TRUE(privateGrab->isRunning());

    server->kill();  // the process must survive this: Xlib's default would exit()
    ASSERT_TRUE(waitUntil([&] { return !privateGrab->isRunning(); }));
    EXPECT_TRUE(waitUntil([&] {
        return logged(
            "⚠️ 与 X11 "
            "显示的连接已断开,触发键暂不可用;下次完成输入设置时会重新连接");
    }));

    EXPECT_FALSE(privateTap->setupEventTap());
    EXPECT_TRUE(logged("❌ 无法连接 X11 显示(DISPLAY=" + server->display() + "),触发键不可用"));

    // A server back on the same display is picked up by the next setup.
    PrivateXServer again(server->display());
    ASSERT_EQ(again.display(), server->display());
    EXPECT_TRUE(privateTap->setupEventTap());
    EXPECT_TRUE(privateGrab->isRunning());
    privateTap->stop();
}

}  // namespace
}  // namespace vurin
