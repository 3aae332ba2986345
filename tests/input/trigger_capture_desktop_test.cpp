// The X11 key grab against a real X server.
#include <gtest/gtest.h>
#include <signal.h>

#include <regex>

#include "platform/linux/key_grab_x11.h"
#include "support/desktop_program.h"
#include "support/testing.h"
#include "support/xtest_typist.h"  // last: Xlib's macros clash with the headers above

namespace vurin::testing {
namespace {

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
        const auto note = [this](const std::string& line) {
            std::lock_guard guard(lock);
            delivered += line + " ";
        };
        return {.onKey =
                    [note](const KeyGrabEvent& event) {
                        note((event.pressed ? "+" : "-") + std::to_string(event.evdevCode + 8));
                    },
                .onFailure = [note](const KeyGrabResult& result) { note(result.reason); }};
    }
    bool grabbed(const std::string& pattern) {  // waits until what was delivered matches
        return eventually([&] {
            std::lock_guard guard(lock);
            return std::regex_match(delivered, std::regex(pattern));
        });
    }
    // The key events our focused window received ("-" for releases).
    std::string windowKeys() {
        XSync(display, False);
        std::string keys;
        for (XEvent event; XPending(display) > 0;) {
            XNextEvent(display, &event);
            if (event.type == KeyPress || event.type == KeyRelease) {
                keys += (event.type == KeyRelease ? "-" : "") + std::to_string(event.xkey.keycode) +
                        " ";
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
    std::string delivered;
    X11KeyGrab grab;
};

// A key another client holds is refused; the trigger reaches the grab and no other client,
// whatever modifiers are held; the whole keyboard can be taken and the grab moved.
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
    typist.key(kKeycodeLeftControl, true);
    typist.tap(kKeycodeF13);
    typist.key(kKeycodeLeftControl, false);
    EXPECT_TRUE(grabbed(R"(\+191 -191 )"));
    EXPECT_EQ(windowKeys(), "38 -38 37 -37 ");
    grab.setKeyboardGrabbed(true);
    ASSERT_TRUE(eventually([&] { return keyboardTaken(); }));  // the grab is asynchronous
    typist.tap(kKeycodeA);
    grab.grabKey(kKeycodeLeftControl - 8);
    grab.setKeyboardGrabbed(false);
    ASSERT_TRUE(eventually([&] { return !keyboardTaken(); }));
    typist.tap(kKeycodeF13);
    typist.tap(kKeycodeLeftControl);
    EXPECT_TRUE(grabbed(R"(\+191 -191 \+38 -38 \+37 -37 )"));
    EXPECT_EQ(windowKeys(), "191 -191 ");
}

// Auto-repeat shows as presses without releases.
TEST_F(TriggerCaptureDesktopTest, AutoRepeatIsDetectable) {
    ASSERT_EQ(grab.start(kEvdevF13, handlers()).status, KeyGrabStatus::ok);
    typist.key(kKeycodeF13, true);  // Xvfb repeats a key held through XTest after 660 ms
    EXPECT_TRUE(grabbed(R"((\+191 ){3,})"));
    typist.key(kKeycodeF13, false);
    EXPECT_TRUE(grabbed(R"((\+191 ){3,}-191 )"));
}

// An X server of the test's own (Xvfb picks a free display) is taken away under a running grab;
// one back on the same display is picked up by the next start.
TEST_F(TriggerCaptureDesktopTest, ALostConnectionIsReportedAndRetriedOnTheNextStart) {
    std::string name;
    const auto startXvfb = [&] {
        auto server = std::make_unique<DesktopProgram>(std::vector<std::string>{
            "sh", "-c", "exec Xvfb " + name + " -displayfd 1 -nolisten tcp 2>/dev/null"});
        EXPECT_TRUE(server->waitForLine([](const std::string& line) { return !line.empty(); }));
        name = ":" + server->output().substr(0, server->output().find('\n'));
        return server;
    };
    auto server = startXvfb();
    X11KeyGrab own(name);
    ASSERT_EQ(own.start(kEvdevF13, handlers()).status, KeyGrabStatus::ok);
    kill(server->pid(), SIGTERM);  // the process must survive this: Xlib's default would exit()
    EXPECT_TRUE(
        grabbed("⚠️ 与 X11 "
                "显示的连接已断开,触发键暂不可用;下次完成输入设置时会重新连接 "));
    EXPECT_FALSE(own.isRunning());
    EXPECT_TRUE(eventually([&] { return server->exitStatus().has_value(); }));
    EXPECT_EQ(own.start(kEvdevF13, handlers()).reason,
              "❌ 无法连接 X11 显示(DISPLAY=" + name + "),触发键不可用");
    server = startXvfb();
    EXPECT_EQ(own.start(kEvdevF13, handlers()).status, KeyGrabStatus::ok);
}

}  // namespace
}  // namespace vurin::testing
