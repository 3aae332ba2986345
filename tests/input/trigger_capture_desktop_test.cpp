// The X11 key grab and permission probe against the session's X server and one of the test's own.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <mutex>

#include "platform/x11/key_grab_x11.h"
#include "platform/x11/permission_probe_x11.h"
#include "support/desktop_program.h"
#include "support/testing.h"
#include "support/xtest_typist.h"  // last: Xlib's macros clash with the headers above
// clang-format off
#include <X11/extensions/XRes.h>
// clang-format on

namespace vurin::testing {
namespace {

// What reaches a grab: "+38" for a press of X keycode 38, "-38" for its release, each failure
// and each refused key change.
struct Journal {
    std::mutex lock;
    std::string text;
    void note(const std::string& line) {
        std::lock_guard guard(lock);
        text += line + " ";
    }
    KeyGrab::Handlers handlers() {
        return {.onKey =
                    [this](const KeyGrabEvent& key) {
                        note((key.pressed ? "+" : "-") + std::to_string(key.evdevCode + 8));
                    },
                .onKeyGrabbed =
                    [this](int, const KeyGrabResult& result) {
                        if (result.status != KeyGrabStatus::ok) {
                            note(result.reason);
                        }
                    },
                .onFailure = [this](const KeyGrabResult& result) { note(result.reason); }};
    }
    bool reads(const std::string& expected) {
        return eventually([&] {
            std::lock_guard guard(lock);
            return text == expected;
        });
    }
};

// The probe's trial grab is given back and sees ours; a second grab of the key is refused.
TEST(TriggerCaptureDesktopTest, RefusalsAndMissingServices) {
    constexpr int kF13 = 183;
    X11PermissionProbe probe, nowhere(":99");
    EXPECT_EQ(probe.keyGrab(kF13), KeyGrabAccess::granted);
    X11KeyGrab grab;
    ASSERT_EQ(grab.start(kF13, {}).status, KeyGrabStatus::ok);
    EXPECT_EQ(probe.keyGrab(kF13), KeyGrabAccess::taken);
    EXPECT_EQ(X11KeyGrab().start(kF13, {}).reason,
              "❌ 触发键(X 键码 191)已被其他程序占用,X 服务器拒绝了抓取");
    EXPECT_EQ(X11KeyGrab(":99").start(kF13, {}).reason,
              "❌ 无法连接 X11 显示(DISPLAY=:99),触发键不可用");
    EXPECT_EQ(nowhere.syntheticInput(), SyntheticInputAccess::noDisplay);
    EXPECT_EQ(nowhere.keyGrab(kF13), KeyGrabAccess::noDisplay);
    ScopedEnvironment environment;
    environment.set("AT_SPI_BUS_ADDRESS", "unix:path=/nonexistent/vurin-test-bus");
    EXPECT_FALSE(probe.accessibilityBusReachable());
}

// A key another client holds is refused and F13 stays ours. The whole keyboard, taken once
// another client lets it go, reaches the grab until released; a key outside the keyboard is
// refused, and the trigger moves to another key (F13 goes by).
TEST(TriggerCaptureDesktopTest, KeyboardTakenAndTriggerMoved) {
    constexpr unsigned kA = 38, kLeftControl = 37;
    XTestTypist typist;
    ASSERT_TRUE(typist.usable()) << "desktop tests need the session";
    const auto grabKeyboard = [display = typist.display()](bool keep) {  // true: held elsewhere
        const int taken = XGrabKeyboard(display, DefaultRootWindow(display), False, GrabModeAsync,
                                        GrabModeAsync, CurrentTime);
        if (!keep) {
            XUngrabKeyboard(display, CurrentTime);
        }
        XSync(display, False);
        return taken == AlreadyGrabbed;
    };
    Journal journal;
    X11KeyGrab grab;
    ASSERT_EQ(grab.start(183, journal.handlers()).status, KeyGrabStatus::ok);
    X11KeyGrab other;
    ASSERT_EQ(other.start(184, {}).status, KeyGrabStatus::ok);
    grab.grabKey(184);
    std::string taken = "❌ 触发键(X 键码 192)已被其他程序占用,X 服务器拒绝了抓取 ";
    ASSERT_TRUE(journal.reads(taken));
    typist.tap(kKeycodeF13);  // still ours
    ASSERT_TRUE(journal.reads(taken += "+191 -191 "));
    EXPECT_EQ(grab.grabbedKey(), 183);
    ASSERT_FALSE(grabKeyboard(true));  // now another client holds the keyboard
    grab.setKeyboardGrabbed(true);
    // Refused twice: the second refusal comes after the keyboard was tried while held.
    const std::string refused = "❌ 触发键(X 键码 308)不在此键盘的键码范围内,无法捕获 ";
    for (const std::string& journalled : {taken + refused, taken + refused + refused}) {
        grab.grabKey(300);
        ASSERT_TRUE(journal.reads(journalled));
    }
    grabKeyboard(false);  // the grab's retry then takes it
    ASSERT_TRUE(eventually([&] { return grabKeyboard(false); }));
    typist.tap(kA);
    grab.grabKey(kLeftControl - 8);
    grab.setKeyboardGrabbed(false);
    ASSERT_TRUE(eventually([&] { return !grabKeyboard(false); }));
    typist.tap(kKeycodeF13);
    typist.tap(kLeftControl);
    EXPECT_TRUE(journal.reads(taken + refused + refused + "+38 -38 +37 -37 "));
}

// An X server of the test's own is taken away under a running grab, which reports it and lives
// on (Xlib's default would exit()); one back on the same display is taken by the next start.
// While the server does not answer, a start gives up after a second and a stop does not wait;
// the attempt goes on and a later start takes it.
TEST(TriggerCaptureDesktopTest, ALostServerIsReportedAndRetriedOnTheNextStart) {
    const std::string number = std::to_string(100 + getpid() % 800), name = ":" + number;
    std::unique_ptr<DesktopProgram> server;
    const auto startXvfb = [&] {
        server = std::make_unique<DesktopProgram>(std::vector<std::string>{
            "sh", "-c", "exec Xvfb " + name + " -displayfd 1 -nolisten tcp 2>/dev/null"});
        return server->waitForLine(number);
    };
    ASSERT_TRUE(startXvfb()) << "display " << name << " is taken";
    Journal journal;
    X11KeyGrab own(name);
    ASSERT_EQ(own.start(183, journal.handlers()).status, KeyGrabStatus::ok);
    // The server's clients but the asking one. The stopped attempt must have ended before the
    // server goes: Xlib exits the process when a connection breaks while it is being opened.
    const auto clients = [&] {
        Display* display = XOpenDisplay(name.c_str());
        int count = 0;
        XResClient* list = nullptr;
        if (display != nullptr && XResQueryClients(display, &count, &list) != 0) {
            XFree(list);
        }
        if (display != nullptr) {
            XCloseDisplay(display);
        }
        return count - 1;
    };
    const int before = clients();
    X11KeyGrab slow(name), stopped(name);
    kill(server->pid(), SIGSTOP);
    EXPECT_EQ(slow.start(184, {}).reason,
              "❌ X11 显示(DISPLAY=" + name + ")1 秒内没有应答,触发键暂不可用");
    EXPECT_EQ(stopped.start(185, {}).status, KeyGrabStatus::unavailable);
    stopped.stop();
    kill(server->pid(), SIGCONT);
    EXPECT_TRUE(eventually([&] { return slow.start(184, {}).status == KeyGrabStatus::ok; }));
    ASSERT_TRUE(eventually([&] { return clients() == before + 1; })) << before << " " << clients();
    kill(server->pid(), SIGTERM);
    EXPECT_TRUE(journal.reads(
        "⚠️ 与 X11 显示的连接已断开,触发键暂不可用;正在自动重连 "));
    EXPECT_FALSE(own.isRunning());
    ASSERT_TRUE(eventually([&] { return server->exitStatus().has_value(); }));
    ASSERT_TRUE(startXvfb());
    EXPECT_EQ(own.start(183, {}).status, KeyGrabStatus::ok);
}

}  // namespace
}  // namespace vurin::testing
