// The real executable on GNOME Shell 43 with the desktop's own portal: GNOME 43 has no global
// shortcuts portal and no data-control, so the trigger is the custom shortcut Vurin adds from its
// settings window (pressed once to start and once to end, through mutter as real input), and
// the text is typed through the RemoteDesktop portal once its dialog was answered.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include "support/gnome_session.h"
#include "support/vurin_under_test.h"

namespace vurin::testing {
namespace {

constexpr int kF13 = 183;  // XF86Tools, which GNOME's own settings hold until Vurin's takes it

// Vurin as a launcher starts it, with a transcript of `spoken`. Its settings window opens (GNOME
// has no tray); a screen reader's press on "Add XF86Tools" adds the shortcut, which GNOME runs
// from its next login on (gsd-media-keys grabs its own keys as it starts).
struct GnomeVurin {
    explicit GnomeVurin(const std::string& spoken) {
        if (!gnome.joined()) {
            return;
        }
        environment.set("VURIN_STAND_IN_TRANSCRIPT", spoken);
        // Qt 6.4 joins the accessibility bus only when asked through the session bus.
        environment.set("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
        environment.unset("AT_SPI_BUS_ADDRESS");
        EXPECT_TRUE(vurin.launch({}, DesktopSession::inAppScope("com.vurin.app", {})));
        EXPECT_TRUE(vurin.waitFor("触发方式:按一下开始,再按一下结束(GNOME 的自定义快捷键") &&
                    vurin.waitFor("✅ 本地 whisper-server 就绪") &&
                    vurin.waitFor("✅ 本地润色已预热就绪"))
            << vurin.log();
        EXPECT_TRUE(runToEnd(
            {VURIN_SESSION_SCRIPTS "/accessibility", "press", "Vurin", "20", "Add XF86Tools"},
            std::chrono::seconds(25)));
        EXPECT_TRUE(
            vurin.waitFor("⌨️ 已添加 GNOME 快捷键:XF86Tools → vurin --trigger toggle"))
            << vurin.log();
        EXPECT_TRUE(DesktopSession::sessionCommand("restart-media-keys"));
    }
    ~GnomeVurin() {
        vurin.run("--trigger cancel");  // nothing left recording for the next test
    }
    bool tap() { return gnome.key(kF13, true) && gnome.key(kF13, false); }
    // Pressed to start and again to end, the sentence played between; the first asks for
    // consent, answered meanwhile.
    bool dictate(int times, bool consent = false) {
        return tap() && vurin.waitFor("🔴 录音中", times) && (!consent || gnome.shareWhenAsked()) &&
               vurin.speak() && tap();
    }

    GnomeSession gnome;
    ScratchFolder folder;
    ScopedEnvironment environment;
    VurinUnderTest vurin{folder / "", environment};
};

TEST(GnomeDictationTest, TheAddedShortcutTogglesTheTextIsTypedAndASwitchBlocksTheSend) {
    GnomeVurin gnome("um please add a unit test for the parser");
    ASSERT_TRUE(gnome.gnome.joined());
    const auto field = gnome.gnome.gtkField("");
    ASSERT_TRUE(field && gnome.gnome.activate(field->pid()));
    ASSERT_TRUE(gnome.dictate(1, true)) << gnome.vurin.log();
    ASSERT_TRUE(gnome.vurin.waitFor("📋 已粘贴到「python3」,目标确认成功")) << gnome.vurin.log();
    EXPECT_EQ(DesktopSession::fieldText(field->pid()), VurinUnderTest::polished);
    const auto terminal = gnome.gnome.foot("exec cat");
    ASSERT_TRUE(terminal && gnome.gnome.activate(terminal->pid()));
    EXPECT_EQ(gnome.vurin.run("--trigger send").first, 0);
    EXPECT_TRUE(gnome.vurin.waitFor("⏎ 未发送(焦点已切到一个没有无障碍信息的窗口"))
        << gnome.vurin.log();
}

// GNOME's keyboard map types no Chinese through the portal: the text goes as far as the first
// such character, says so, and what arrived is what a cancel takes back. A portal that restarts
// costs one more consent, and the next dictation works.
TEST(GnomeDictationTest, ChineseStopsTheTypingHonestlyAndThePortalComesBack) {
    GnomeVurin gnome("um please add 单元测试 for the parser");
    ASSERT_TRUE(gnome.gnome.joined());
    const auto field = gnome.gnome.gtkField("");
    ASSERT_TRUE(field && gnome.gnome.activate(field->pid()));
    ASSERT_TRUE(gnome.dictate(1, true)) << gnome.vurin.log();
    ASSERT_TRUE(gnome.vurin.waitFor("这个桌面的键盘布局打不出「单」")) << gnome.vurin.log();
    ASSERT_TRUE(gnome.vurin.waitFor("目标确认成功")) << gnome.vurin.log();
    const std::optional<std::string> arrived = DesktopSession::fieldText(field->pid());
    EXPECT_EQ(arrived, "Please add ");
    EXPECT_EQ(gnome.vurin.run("--trigger cancel").first, 0);
    EXPECT_TRUE(gnome.vurin.waitFor("✖ 已取消,并删除刚插入的 11 个字")) << gnome.vurin.log();
    EXPECT_TRUE(eventually([&] { return DesktopSession::fieldText(field->pid()) == ""; }));

    ASSERT_TRUE(DesktopSession::sessionCommand("restart-portal"));
    ASSERT_TRUE(gnome.gnome.activate(field->pid()));
    ASSERT_TRUE(gnome.dictate(2, true)) << gnome.vurin.log();
    EXPECT_TRUE(gnome.vurin.waitFor("目标确认成功", 2)) << gnome.vurin.log();
}

}  // namespace
}  // namespace vurin::testing
