// The X11 key grab against a real X server.
#include <gtest/gtest.h>
#include <signal.h>

#include "platform/linux/key_grab_x11.h"
#include "support/desktop_program.h"
#include "support/testing.h"
#include "support/xtest_typist.h"  // last: Xlib's macros clash with the headers above

namespace vurin::testing {
namespace {

using Lines = std::vector<std::string>;
constexpr unsigned kKeycodeA = 38, kKeycodeLeftControl = 37;
constexpr int kEvdevF13 = 183;

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
    void TearDown() override { XDestroyWindow(display, window); }
    // Notes "+191" for a press of X keycode 191, "-191" for its release, and each failure.
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
        const int taken = XGrabKeyboard(display, DefaultRootWindow(display), False, GrabModeAsync,
                                        GrabModeAsync, CurrentTime);
        XUngrabKeyboard(display, CurrentTime);
        XSync(display, False);
        return taken == AlreadyGrabbed;
    }

    XTestTypist typist;
    Display* display = typist.display();
    Window window =
        display ? XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 9, 9, 0, 0, 0) : 0;
    std::mutex lock;
    Lines delivered;
    X11KeyGrab grab;
};

// The trigger reaches the grab and no other client, whatever modifiers are held; auto-repeat
// shows as presses without releases; a key another client holds is refused.
TEST_F(TriggerCaptureDesktopTest, TheTriggerIsSwallowed) {
    XGrabKey(display, kKeycodeF13, AnyModifier, DefaultRootWindow(display), False, GrabModeAsync,
             GrabModeAsync);
    XSync(display, False);
    EXPECT_EQ(grab.start(kEvdevF13, handlers()).reason,
              "❌ 触发键(X 键码 191)已被其他程序占用,X 服务器拒绝了抓取");
    XUngrabKey(display, kKeycodeF13, AnyModifier, DefaultRootWindow(display));
    XSync(display, False);
    ASSERT_EQ(grab.start(kEvdevF13, handlers()).status, KeyGrabStatus::ok);
    EXPECT_EQ(X11KeyGrab().start(kEvdevF13, handlers()).status, KeyGrabStatus::refused);
    EXPECT_EQ(grab.keyName(99), "Print");
    typist.tap(kKeycodeA);
    typist.key(kKeycodeF13, true);  // Xvfb repeats a key held through XTest after 660 ms
    ASSERT_TRUE(eventually([&] { return grabbed().size() >= 3; }));
    typist.key(kKeycodeF13, false);
    typist.key(kKeycodeLeftControl, true);
    typist.tap(kKeycodeF13);
    typist.key(kKeycodeLeftControl, false);
    ASSERT_TRUE(eventually([&] {
        const Lines events = grabbed();
        return std::count(events.begin(), events.end(), "-191") == 2;
    }));
    Lines expected(grabbed().size() - 3, "+191");
    expected.insert(expected.end(), {"-191", "+191", "-191"});
    EXPECT_EQ(grabbed(), expected);
    EXPECT_EQ(windowKeys(), (Lines{"38", "-38", "37", "-37"}));
}

// Detection takes the whole keyboard, then moves the grab to the key it found.
TEST_F(TriggerCaptureDesktopTest, TheWholeKeyboardAndAMovedGrab) {
    ASSERT_EQ(grab.start(kEvdevF13, handlers()).status, KeyGrabStatus::ok);
    grab.setKeyboardGrabbed(true);
    ASSERT_TRUE(eventually([&] { return keyboardTaken(); }));  // the grab is asynchronous
    typist.tap(kKeycodeLeftControl);
    ASSERT_TRUE(eventually([&] { return grabbed().size() == 2; }));
    grab.grabKey(29);  // Left Control
    grab.setKeyboardGrabbed(false);
    ASSERT_TRUE(eventually([&] { return !keyboardTaken(); }));
    typist.tap(kKeycodeF13);
    typist.tap(kKeycodeLeftControl);
    ASSERT_TRUE(eventually([&] { return grabbed().size() == 4; }));
    EXPECT_EQ(grabbed(), (Lines{"+37", "-37", "+37", "-37"}));
    EXPECT_EQ(windowKeys(), (Lines{"191", "-191"}));
}

// An X server of the test's own (Xvfb picks a free display) is taken away under a running grab;
// one back on the same display is picked up by the next start.
TEST_F(TriggerCaptureDesktopTest, ALostConnectionIsReportedAndRetriedOnTheNextStart) {
    std::string name;
    const auto startXvfb = [&] {
        auto server = std::make_unique<DesktopProgram>(
            Lines{"sh", "-c", "exec Xvfb " + name + " -displayfd 1 -nolisten tcp 2>/dev/null"});
        EXPECT_TRUE(server->waitForLine([](const std::string& line) { return !line.empty(); }));
        name = ":" + server->output().substr(0, server->output().find('\n'));
        return server;
    };
    auto server = startXvfb();
    X11KeyGrab own(name);
    ASSERT_EQ(own.start(kEvdevF13, handlers()).status, KeyGrabStatus::ok);
    kill(server->pid(), SIGTERM);  // the process must survive this: Xlib's default would exit()
    ASSERT_TRUE(server->waitForExit(std::chrono::seconds(10)));
    ASSERT_TRUE(eventually([&] { return !own.isRunning(); }));
    EXPECT_EQ(grabbed(), Lines{"⚠️ 与 X11 "
                               "显示的连接已断开,触发键暂不可用;下次完成输入设置时会重新连接"});
    EXPECT_EQ(own.start(kEvdevF13, handlers()).reason,
              "❌ 无法连接 X11 显示(DISPLAY=" + name + "),触发键不可用");
    server = startXvfb();
    EXPECT_EQ(own.start(kEvdevF13, handlers()).status, KeyGrabStatus::ok);
    own.stop();
}

}  // namespace
}  // namespace vurin::testing
