// The real executable on the headless sway: it picks the Wayland platform, and its trigger comes
// from a sway binding that runs `vurin --trigger` on a virtual keyboard's F13, or from the
// desktop's global shortcut (the portal's stand-in desktop).
#include <gtest/gtest.h>

#include "support/private_files.h"
#include "support/vurin_under_test.h"
#include "support/wayland_session.h"

namespace vurin::testing {
namespace {

// Vurin as a Wayland client in a home of its own; the desktop binds `binding` ("" nothing).
struct WaylandVurin {
    explicit WaylandVurin(const std::string& binding) {
        if (!session) {
            return;
        }
        for (const auto& [name, value] : session->environment()) {
            value ? environment.set(name, *value) : environment.unset(name);
        }
        EXPECT_TRUE(binding.empty() ? session->portalControl("SetBinding", {""})
                                    : session->portalControl("ResetBinding"));
        EXPECT_TRUE(vurin.launch());
    }
    ~WaylandVurin() {
        if (session) {
            session->portalControl("ResetBinding");
        }
    }

    std::optional<WaylandSession> session = WaylandSession::join();
    ScratchFolder folder;
    ScopedEnvironment environment;
    VurinUnderTest vurin{folder / "", environment};
};

TEST(WaylandDictationTest, ALongPressThroughASwayBindingRecordsAndStopsAndTwoClicksCancel) {
    WaylandVurin wayland("");
    ASSERT_TRUE(wayland.session) << "no Wayland session (scripts/test-session)";
    const VurinUnderTest& vurin = wayland.vurin;
    for (const char* line : {"🖥️ 会话:Wayland(WAYLAND_DISPLAY=/", "虚拟键盘协议 ✅",
                             "剪贴板:data-control(", "触发键靠合成器绑定(vurin --trigger)",
                             "✅ 本地 whisper-server 就绪", "✅ 本地润色已预热就绪"}) {
        ASSERT_TRUE(vurin.waitFor(line)) << line << "\n" << vurin.log();
    }
    WaylandSession& session = *wayland.session;
    const std::string program = session.shareExecutable(VURIN_EXECUTABLE);
    ASSERT_TRUE(session.swaymsg("bindsym F13 exec " + program + " --trigger press"));
    ASSERT_TRUE(session.swaymsg("bindsym --release F13 exec " + program + " --trigger release"));

    ASSERT_TRUE(session.typeKey("F13", true));
    ASSERT_TRUE(vurin.waitFor("🔴 录音中")) << vurin.log();
    EXPECT_TRUE(vurin.speak());
    ASSERT_TRUE(session.typeKey("F13", false));
    EXPECT_TRUE(vurin.waitFor("⏹ 录音结束")) << vurin.log();
    // Nothing can paste on Wayland yet, and the log says so.
    EXPECT_TRUE(vurin.waitFor("❌ 没有可注入的前台应用,已阻止粘贴")) << vurin.log();
    // Two quick clicks from one virtual keyboard, 80 ms apart: each runs its own `vurin
    // --trigger`, and they must still arrive in order and within the double-click window.
    EXPECT_EQ(std::system("wtype -P F13 -s 80 -p F13 -s 80 -P F13 -s 80 -p F13"), 0);
    EXPECT_TRUE(vurin.waitFor("✖ 双击(当前无可取消的任务)")) << vurin.log();
    EXPECT_TRUE(session.swaymsg("unbindsym F13") && session.swaymsg("unbindsym --release F13"));
}

TEST(WaylandDictationTest, TheDesktopsGlobalShortcutIsTheTriggerAndABindingThenCountsNot) {
    WaylandVurin wayland("-");
    ASSERT_TRUE(wayland.session) << "no Wayland session (scripts/test-session)";
    VurinUnderTest& vurin = wayland.vurin;
    ASSERT_TRUE(vurin.waitFor("✅ 触发键:桌面全局快捷键「")) << vurin.log();
    ASSERT_TRUE(wayland.session->portalControl("Activate", {"dictate"}, 1));
    ASSERT_TRUE(vurin.waitFor("🔴 录音中")) << vurin.log();
    EXPECT_TRUE(vurin.speak());
    ASSERT_TRUE(wayland.session->portalControl("Deactivate", {"dictate"}, 1));
    EXPECT_TRUE(vurin.waitFor("⏹ 录音结束")) << vurin.log();
    // The same key bound in the compositor as well would make every click two.
    EXPECT_EQ(vurin.run("--trigger press").first, 0);
    EXPECT_TRUE(vurin.waitFor(
        "ℹ️ 收到 vurin --trigger,但触发键现在来自桌面全局快捷键"));
    EXPECT_EQ(vurin.terminate(), 0) << vurin.log();
}

}  // namespace
}  // namespace vurin::testing
