// The X11 key grab against a real X server: the trigger reaches the grab and no other client,
// whatever modifiers are held; auto-repeat shows as presses without releases; a key held by
// another client is refused; the whole keyboard can be taken and the grab moved; a lost server
// is reported and found again.
#include <gtest/gtest.h>
#include <signal.h>

#include <mutex>

#include "platform/linux/key_grab_x11.h"
#include "support/desktop_program.h"
#include "support/testing.h"
#include "support/xtest_typist.h"  // last: Xlib's macros clash with the headers above

namespace vurin::testing {
namespace {

using Lines = std::vector<std::string>;
constexpr unsigned kKeycodeA = 38, kKeycodeLeftControl = 37;
constexpr int kEvdevF13 = 183, kEvdevLeftControl = 29;

class TriggerCaptureDesktopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(typist.usable()) << "desktop tests need the headless session";
        XSelectInput(display, window, KeyPressMask | KeyReleaseMask | StructureNotifyMask);
        XMapRaised(display, window);
        for (XEvent event{}; event.type != MapNotify;) {
            XNextEvent(display, &event);
        }
        XSetInputFocus(display, window, RevertToPointerRoot, CurrentTime);
    }
    void TearDown() override {
        XDestroyWindow(display, window);
        XSync(display, False);
    }
    // What the grab delivers: "+191" for a press of X keycode 191, "-191" for its release, and
    // each failure's reason.
    KeyGrab::Handlers handlers() {
        const auto note = [this](std::string line) {
            std::lock_guard guard(lock);
            delivered.push_back(std::move(line));
        };
        return {.onKey =
                    [note](const KeyGrabEvent& event) {
                        note((event.pressed ? "+" : "-") + std::to_string(event.evdevCode + 8));
                    },
                .onFailure = [note](const KeyGrabResult& result) { note(result.reason); }};
    }
    Lines grabbed() {
        std::lock_guard guard(lock);
        return delivered;
    }
    bool grabbedCount(std::size_t count) {
        return eventually([&] { return grabbed().size() == count; });
    }
    // The key events our focused window received ("-" for releases).
    Lines windowKeys() {
        XSync(display, False);
        Lines keys;
        for (XEvent event; XPending(display) > 0;) {
            XNextEvent(display, &event);
            if (event.type == KeyPress || event.type == KeyRelease) {
                keys.push_back((event.type == KeyRelease ? "-" : "") +
                               std::to_string(event.xkey.keycode));
            }
        }
        return keys;
    }
    bool keyboardTaken() {
        const int result = XGrabKeyboard(display, DefaultRootWindow(display), False, GrabModeAsync,
                                         GrabModeAsync, CurrentTime);
        if (result == GrabSuccess) {
            XUngrabKeyboard(display, CurrentTime);
        }
        XSync(display, False);
        return result == AlreadyGrabbed;
    }

    XTestTypist typist;
    Display* display = typist.display();
    Window window =
        display ? XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 200, 100, 0, 0, 0)
                : 0;
    std::mutex lock;
    Lines delivered;
    X11KeyGrab grab;
};

TEST_F(TriggerCaptureDesktopTest, TriggerReachesTheGrabAndNoOtherClient) {
    ASSERT_EQ(grab.start(kEvdevF13, handlers()).status, KeyGrabStatus::ok);
    EXPECT_EQ(grab.keyName(99), "Print");  // the keymap's names
    typist.tap(kKeycodeA);                 // ordinary keys reach the window
    EXPECT_EQ(windowKeys(), (Lines{"38", "-38"}));
    // Xvfb repeats a key held through XTest after its repeat delay (660 ms by default).
    typist.key(kKeycodeF13, true);
    ASSERT_TRUE(eventually([&] { return grabbed().size() >= 3; }));
    typist.key(kKeycodeF13, false);
    ASSERT_TRUE(eventually([&] { return grabbed().back() == "-191"; }));
    Lines presses = grabbed();
    presses.pop_back();
    EXPECT_EQ(presses, Lines(presses.size(), "+191"));
    // With Ctrl held the trigger is still swallowed; only Ctrl reaches the window.
    typist.key(kKeycodeLeftControl, true);
    typist.tap(kKeycodeF13);
    typist.key(kKeycodeLeftControl, false);
    ASSERT_TRUE(grabbedCount(presses.size() + 3));
    EXPECT_EQ(windowKeys(), (Lines{"37", "-37"}));
}

TEST_F(TriggerCaptureDesktopTest, KeyHeldByAnotherClientIsRefusedUntilReleased) {
    XGrabKey(display, kKeycodeF13, AnyModifier, DefaultRootWindow(display), False, GrabModeAsync,
             GrabModeAsync);
    XSync(display, False);
    const KeyGrabResult refused = grab.start(kEvdevF13, handlers());
    EXPECT_EQ(refused.status, KeyGrabStatus::refused);
    EXPECT_EQ(refused.reason, "❌ 触发键(X 键码 191)已被其他程序占用,X 服务器拒绝了抓取");
    EXPECT_FALSE(grab.isRunning());
    XUngrabKey(display, kKeycodeF13, AnyModifier, DefaultRootWindow(display));
    XSync(display, False);
    ASSERT_EQ(grab.start(kEvdevF13, handlers()).status, KeyGrabStatus::ok);
    // A second grab of our own is refused the same way while the first holds the key.
    EXPECT_EQ(X11KeyGrab().start(kEvdevF13, handlers()).status, KeyGrabStatus::refused);
}

TEST_F(TriggerCaptureDesktopTest, TheWholeKeyboardAndAMovedGrab) {
    ASSERT_EQ(grab.start(kEvdevF13, handlers()).status, KeyGrabStatus::ok);
    grab.setKeyboardGrabbed(true);
    // The keyboard grab is asynchronous: once it is active, another client cannot take the
    // keyboard. (A probe that wins the race makes the capture thread retry its grab.)
    ASSERT_TRUE(eventually([&] { return keyboardTaken(); }));
    typist.tap(kKeycodeLeftControl);
    ASSERT_TRUE(grabbedCount(2));
    grab.grabKey(kEvdevLeftControl);
    grab.setKeyboardGrabbed(false);
    ASSERT_TRUE(eventually([&] { return !keyboardTaken(); }));
    typist.tap(kKeycodeF13);  // an ordinary key again
    typist.tap(kKeycodeLeftControl);
    ASSERT_TRUE(grabbedCount(4));
    EXPECT_EQ(grabbed(), (Lines{"+37", "-37", "+37", "-37"}));
    EXPECT_EQ(windowKeys(), (Lines{"191", "-191"}));
}

// An X server of the test's own (Xvfb picks a free display), so it can be taken away under a
// running grab.
std::unique_ptr<DesktopProgram> startXvfb(std::string& display) {
    auto server = std::make_unique<DesktopProgram>(
        Lines{"sh", "-c", "exec Xvfb " + display + " -displayfd 1 -nolisten tcp 2>/dev/null"});
    if (server->waitForLine([&](const std::string& number) { return !number.empty(); })) {
        display = ":" + server->output().substr(0, server->output().find('\n'));
    }
    return server;
}

TEST_F(TriggerCaptureDesktopTest, LostConnectionIsReportedAndRetriedOnTheNextStart) {
    std::string name;
    auto server = startXvfb(name);
    ASSERT_FALSE(name.empty()) << "could not start Xvfb";
    X11KeyGrab own(name);
    ASSERT_EQ(own.start(kEvdevF13, handlers()).status, KeyGrabStatus::ok);
    kill(server->pid(), SIGTERM);  // the process must survive this: Xlib's default would exit()
    ASSERT_TRUE(server->waitForExit(std::chrono::seconds(10)));
    ASSERT_TRUE(grabbedCount(1));
    EXPECT_EQ(grabbed(), Lines{"⚠️ 与 X11 "
                               "显示的连接已断开,触发键暂不可用;下次完成输入设置时会重新连接"});
    EXPECT_FALSE(own.isRunning());
    EXPECT_EQ(own.start(kEvdevF13, handlers()).reason,
              "❌ 无法连接 X11 显示(DISPLAY=" + name + "),触发键不可用");
    const std::string again = name;  // a server back on the same display is picked up
    server = startXvfb(name);
    ASSERT_EQ(name, again);
    EXPECT_EQ(own.start(kEvdevF13, handlers()).status, KeyGrabStatus::ok);
    own.stop();
}

}  // namespace
}  // namespace vurin::testing
