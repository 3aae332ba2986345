// The trigger key grab against a real X server: the key reaches the gesture engine and no other
// client, whatever modifiers are held; auto-repeat is dropped; a key held by another client is
// refused; detection takes the next key; a lost server is reported and found again.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "input/event_tap.h"
#include "platform/linux/key_grab_x11.h"
#include "support/desktop_program.h"
#include "support/language.h"
#include "support/testing.h"
#include "support/virtual_main_queue.h"
#include "support/xtest_typist.h"  // last: Xlib's macros clash with the headers above

namespace vurin {
namespace {

using testing::eventually;
using testing::kKeycodeF13;
constexpr unsigned kKeycodeA = 38, kKeycodeLeftControl = 37;

// Counts what the capture thread hands to the main queue.
class CountingQueue : public testing::VirtualMainQueue {
  public:
    void post(std::function<void()> block) override {
        ++posts;
        VirtualMainQueue::post(std::move(block));
    }
    std::atomic<int> posts{0};
};

// Counts the raw events the server delivers, each once the tap has handled it.
class CountingGrab : public X11KeyGrab {
  public:
    using X11KeyGrab::X11KeyGrab;
    KeyGrabResult start(int evdevCode, Handlers handlers) override {
        handlers.onKey = [this, forward = std::move(handlers.onKey)](const KeyGrabEvent& event) {
            forward(event);
            ++(event.pressed ? presses : releases);
        };
        return X11KeyGrab::start(evdevCode, std::move(handlers));
    }
    std::atomic<int> presses{0}, releases{0};
};

class TriggerCaptureDesktopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(typist.usable()) << "desktop tests need the headless session";
        applyUILang("zh");
        Display* display = typist.display();
        window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 200, 100, 0, 0, 0);
        XSelectInput(display, window, KeyPressMask | KeyReleaseMask | StructureNotifyMask);
        XMapRaised(display, window);
        XEvent event;
        do {
            XNextEvent(display, &event);
        } while (event.type != MapNotify);
        XSetInputFocus(display, window, RevertToPointerRoot, CurrentTime);
        XSync(display, False);
        engine->onLongPressStart = [this] { gestures.push_back("longPressStart"); };
        engine->onLongPressEnd = [this] { gestures.push_back("longPressEnd"); };
        engine->onSingleClick = [this] { gestures.push_back("singleClick"); };
        tap->setEngine(engine);
    }
    void TearDown() override {
        tap->stop();
        XDestroyWindow(typist.display(), window);
        XSync(typist.display(), False);
    }

    // The key events our focused window received ("-" for releases).
    std::vector<std::string> windowKeys() {
        XSync(typist.display(), False);
        std::vector<std::string> keys;
        while (XPending(typist.display()) > 0) {
            XEvent event;
            XNextEvent(typist.display(), &event);
            if (event.type == KeyPress || event.type == KeyRelease) {
                keys.push_back((event.type == KeyRelease ? "-" : "") +
                               std::to_string(event.xkey.keycode));
            }
        }
        return keys;
    }
    bool keyboardTaken() {
        Display* display = typist.display();
        const int result = XGrabKeyboard(display, DefaultRootWindow(display), False, GrabModeAsync,
                                         GrabModeAsync, CurrentTime);
        if (result == GrabSuccess) {
            XUngrabKeyboard(display, CurrentTime);
        }
        XSync(display, False);
        return result == AlreadyGrabbed;
    }

    testing::XTestTypist typist;
    Window window = 0;
    testing::LogCapture log;
    std::shared_ptr<CountingQueue> queue = std::make_shared<CountingQueue>();
    std::shared_ptr<CountingGrab> grab = std::make_shared<CountingGrab>();
    std::shared_ptr<GestureEngine> engine = GestureEngine::create(queue);
    std::shared_ptr<EventTap> tap = EventTap::create(queue, grab);
    std::vector<std::string> gestures;
};

TEST_F(TriggerCaptureDesktopTest, TriggerReachesTheEngineAndNoOtherClient) {
    ASSERT_TRUE(tap->setupEventTap());
    typist.tap(kKeycodeA);  // ordinary keys reach the window
    EXPECT_EQ(windowKeys(), (std::vector<std::string>{"38", "-38"}));

    typist.key(kKeycodeF13, true);
    ASSERT_TRUE(eventually([&] { return queue->posts == 1; }));
    queue->advance(0.5);
    EXPECT_EQ(gestures, std::vector<std::string>{"longPressStart"});
    typist.key(kKeycodeF13, false);
    ASSERT_TRUE(eventually([&] { return queue->posts == 2; }));
    queue->runPending();
    EXPECT_EQ(gestures, (std::vector<std::string>{"longPressStart", "longPressEnd"}));
    EXPECT_TRUE(windowKeys().empty());

    // With Ctrl held the trigger is still swallowed; only Ctrl reaches the window.
    typist.key(kKeycodeLeftControl, true);
    typist.tap(kKeycodeF13);
    typist.key(kKeycodeLeftControl, false);
    ASSERT_TRUE(eventually([&] { return queue->posts == 4; }));
    EXPECT_EQ(windowKeys(), (std::vector<std::string>{"37", "-37"}));
}

TEST_F(TriggerCaptureDesktopTest, AutoRepeatGivesOneDownAndOneUp) {
    ASSERT_TRUE(tap->setupEventTap());
    typist.key(kKeycodeF13, true);
    // Xvfb repeats a key held through XTest after its repeat delay (660 ms by default).
    EXPECT_TRUE(eventually([&] { return grab->presses >= 3; }));
    typist.key(kKeycodeF13, false);
    ASSERT_TRUE(eventually([&] { return grab->releases == 1; }));
    EXPECT_EQ(queue->posts, 2);
    queue->advance(1.0);
    EXPECT_EQ(gestures, std::vector<std::string>{"singleClick"});  // virtual time: a click
    EXPECT_TRUE(windowKeys().empty());
}

TEST_F(TriggerCaptureDesktopTest, KeyHeldByAnotherClientIsRefusedUntilReleased) {
    Display* other = typist.display();
    XGrabKey(other, kKeycodeF13, AnyModifier, DefaultRootWindow(other), False, GrabModeAsync,
             GrabModeAsync);
    XSync(other, False);
    EXPECT_FALSE(tap->setupEventTap());
    EXPECT_EQ(log.count("❌ 触发键(X 键码 191)已被其他程序占用,X 服务器拒绝了抓取"), 1u);
    EXPECT_FALSE(grab->isRunning());

    // A second capture of our own is refused the same way while the first holds the key.
    XUngrabKey(other, kKeycodeF13, AnyModifier, DefaultRootWindow(other));
    XSync(other, False);
    ASSERT_TRUE(tap->setupEventTap());
    EXPECT_FALSE(EventTap::create(queue, std::make_shared<X11KeyGrab>())->setupEventTap());
    EXPECT_TRUE(grab->isRunning());
}

TEST_F(TriggerCaptureDesktopTest, DetectionTakesTheNextKey) {
    ASSERT_TRUE(tap->setupEventTap());
    tap->startDetectKey();
    // The keyboard grab is asynchronous: once it is active, another client cannot take the
    // keyboard. (A probe that wins the race makes the capture thread retry its grab.)
    ASSERT_TRUE(eventually([&] { return keyboardTaken(); }));
    typist.tap(kKeycodeLeftControl);
    ASSERT_TRUE(eventually([&] { return grab->releases == 1; }));
    EXPECT_EQ(tap->tapKeyCode(), 59);
    EXPECT_FALSE(tap->tapDetecting());
    queue->runPending();
    EXPECT_EQ(log.count("🔑 触发键已设为 左 Control (键码 59)"), 1u);
    EXPECT_TRUE(windowKeys().empty());  // neither the press nor the release leaked

    // Left Control is the trigger now; F13 is an ordinary key again.
    ASSERT_TRUE(eventually([&] { return !keyboardTaken(); }));
    const int before = queue->posts;
    typist.tap(kKeycodeF13);
    EXPECT_EQ(windowKeys(), (std::vector<std::string>{"191", "-191"}));
    typist.tap(kKeycodeLeftControl);
    ASSERT_TRUE(eventually([&] { return queue->posts == before + 2; }));
    EXPECT_TRUE(windowKeys().empty());
}

// An X server of the test's own (display empty: Xvfb picks a free one), so it can be taken away
// under a running grab.
std::unique_ptr<testing::DesktopProgram> startXvfb(std::string& display) {
    auto server = std::make_unique<testing::DesktopProgram>(std::vector<std::string>{
        "sh", "-c", "exec Xvfb " + display + " -displayfd 1 -nolisten tcp 2>/dev/null"});
    if (server->waitForLine(std::regex(R"(^\d+$)"))) {
        display = ":" + server->output().substr(0, server->output().find('\n'));
    }
    return server;
}

TEST_F(TriggerCaptureDesktopTest, LostConnectionIsReportedAndRetriedOnTheNextSetup) {
    std::string display;
    auto server = startXvfb(display);
    ASSERT_FALSE(display.empty()) << "could not start Xvfb";
    auto privateGrab = std::make_shared<X11KeyGrab>(display);
    auto privateTap = EventTap::create(queue, privateGrab);
    ASSERT_TRUE(privateTap->setupEventTap());

    kill(server->pid(), SIGTERM);  // the process must survive this: Xlib's default would exit()
    ASSERT_TRUE(server->waitForExit(std::chrono::seconds(10)));
    ASSERT_TRUE(eventually([&] { return !privateGrab->isRunning(); }));
    EXPECT_TRUE(
        log.waitFor("⚠️ 与 X11 "
                    "显示的连接已断开,触发键暂不可用;下次完成输入设置时会重新连接"));
    EXPECT_FALSE(privateTap->setupEventTap());
    EXPECT_EQ(log.count("❌ 无法连接 X11 显示(DISPLAY=" + display + "),触发键不可用"), 1u);

    // A server back on the same display is picked up by the next setup.
    const std::string again = display;
    server = startXvfb(display);
    ASSERT_EQ(display, again);
    EXPECT_TRUE(privateTap->setupEventTap());
    EXPECT_TRUE(privateGrab->isRunning());
    privateTap->stop();
}

}  // namespace
}  // namespace vurin
