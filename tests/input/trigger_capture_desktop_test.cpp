// The X11 key grab and permission probe against a real X server.
#include <gtest/gtest.h>
#include <signal.h>

#include "platform/linux/key_grab_x11.h"
#include "platform/linux/permission_probe_x11.h"
#include "support/desktop_program.h"
#include "support/testing.h"
#include "support/xtest_typist.h"  // last: Xlib's macros clash with the headers above

namespace vurin::testing {
namespace {

constexpr unsigned kKeycodeA = 38, kKeycodeLeftControl = 37;
constexpr int kEvdevF13 = 183;

class TriggerCaptureDesktopTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(typist.usable()) << "desktop tests need the session"; }
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
    bool grabbed(const std::string& events) {
        return eventually([&] {
            std::lock_guard guard(lock);
            return delivered == events;
        });
    }
    bool keyboardTaken() {
        Display* display = typist.display();
        const int taken = XGrabKeyboard(display, DefaultRootWindow(display), False, GrabModeAsync,
                                        GrabModeAsync, CurrentTime);
        XUngrabKeyboard(display, CurrentTime);
        XSync(display, False);
        return taken == AlreadyGrabbed;
    }

    XTestTypist typist;
    std::mutex lock;
    std::string delivered;
    X11KeyGrab grab;
};

// The probe's trial grab is given back, and sees ours; a second grab of the key is refused. The
// trigger, with a modifier held, and the whole keyboard while it is taken reach the grab, which
// detection then moves to the key it found.
TEST_F(TriggerCaptureDesktopTest, ProbeGrabKeyboardAndMove) {
    X11PermissionProbe probe, nowhere(":99");
    EXPECT_EQ(probe.syntheticInput(), SyntheticInputAccess::granted);
    EXPECT_EQ(probe.keyGrab(kEvdevF13), KeyGrabAccess::granted);
    EXPECT_EQ(nowhere.syntheticInput(), SyntheticInputAccess::noDisplay);
    EXPECT_EQ(nowhere.keyGrab(kEvdevF13), KeyGrabAccess::noDisplay);
    ASSERT_EQ(grab.start(kEvdevF13, handlers()).status, KeyGrabStatus::ok);
    EXPECT_EQ(probe.keyGrab(kEvdevF13), KeyGrabAccess::taken);
    EXPECT_EQ(X11KeyGrab().start(kEvdevF13, handlers()).reason,
              "❌ 触发键(X 键码 191)已被其他程序占用,X 服务器拒绝了抓取");
    typist.key(kKeycodeLeftControl, true);
    typist.tap(kKeycodeF13);
    typist.key(kKeycodeLeftControl, false);
    grab.setKeyboardGrabbed(true);
    ASSERT_TRUE(eventually([&] { return keyboardTaken(); }));  // the grab is asynchronous
    typist.tap(kKeycodeA);
    grab.grabKey(kKeycodeLeftControl - 8);
    grab.setKeyboardGrabbed(false);
    ASSERT_TRUE(eventually([&] { return !keyboardTaken(); }));
    typist.tap(kKeycodeF13);
    typist.tap(kKeycodeLeftControl);
    EXPECT_TRUE(grabbed("+191 -191 +38 -38 +37 -37 "));
    EXPECT_TRUE(probe.accessibilityBusReachable());
    ScopedEnvironment environment;
    environment.set("AT_SPI_BUS_ADDRESS", "unix:path=/nonexistent/vurin-test-bus");
    EXPECT_FALSE(probe.accessibilityBusReachable());
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
