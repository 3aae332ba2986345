// The real executable on KWin 5.27 with the desktop's own portal: its trigger is the global
// shortcut KDE registers for it (the F13 key, XF86Tools, pressed through KWin's fake input), the
// text is pasted through KWin's data-control and the RemoteDesktop portal's Ctrl+V or
// Shift+Insert after the consent dialog was answered, and the user's clipboard comes back.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include "platform/wayland/data_control_clipboard.h"
#include "support/kde_session.h"
#include "support/vurin_under_test.h"

namespace vurin::testing {
namespace {

constexpr int kF13 = 183;  // XF86Tools in the usual keyboard map
using Items = std::vector<ClipboardItem>;
const Items kUserClipboard = {ClipboardItem{.values = {{"text/plain", "mine"},
                                                       {"text/html", "<b>mine</b>"},
                                                       {"application/x-vurin-test", "\1\2"}}}};

// Vurin started as a launcher starts it (its app scope names it to the portal), its consent
// given at the first recording.
struct KdeVurin {
    KdeVurin() {
        if (!kde.joined()) {
            return;
        }
        EXPECT_TRUE(vurin.launch({}, DesktopSession::inAppScope("com.vurin.app", {})));
        EXPECT_TRUE(vurin.waitFor("✅ 触发键:桌面全局快捷键「") &&
                    vurin.waitFor("✅ 本地 whisper-server 就绪") &&
                    vurin.waitFor("✅ 本地润色已预热就绪"))
            << vurin.log();
    }
    bool tap(int times = 1) {
        for (int i = 0; i < times; ++i) {
            if (!kde.key(kF13, true) || !kde.key(kF13, false)) {
                return false;
            }
        }
        return true;
    }
    // A long press while the sentence plays; the first asks for consent, answered meanwhile.
    bool dictate(int times, bool consent = false) {
        return kde.key(kF13, true) && vurin.waitFor("🔴 录音中", times) &&
               (!consent || kde.shareWhenAsked()) && vurin.speak() && kde.key(kF13, false);
    }

    // The user's copy in the clipboard, through a data-control connection of its own.
    std::unique_ptr<DataControlClipboard> userCopy() {
        std::string why;
        auto user = DataControlClipboard::connect(&why);
        EXPECT_TRUE(user) << why;
        if (user) {
            user->replace(ClipboardSelection::clipboard, kUserClipboard);
        }
        return user;
    }

    KdeSession kde;
    ScratchFolder folder;
    ScopedEnvironment environment;
    VurinUnderTest vurin{folder / "", environment};
};

TEST(KdeDictationTest, PastedIntoAQtFieldThenSentUndoneAndBlockedByASwitchToATerminal) {
    KdeVurin kde;
    ASSERT_TRUE(kde.kde.joined());
    const auto user = kde.userCopy();
    ASSERT_TRUE(user);
    const auto field = kde.kde.qtField("say: ");
    ASSERT_TRUE(field && kde.kde.activate(field->pid()));
    const std::string said = "say: " + std::string(VurinUnderTest::polished);

    ASSERT_TRUE(kde.dictate(1, true)) << kde.vurin.log();
    ASSERT_TRUE(kde.vurin.waitFor("目标确认成功")) << kde.vurin.log();
    EXPECT_TRUE(eventually([&] { return DesktopSession::fieldText(field->pid()) == said; }))
        << DesktopSession::fieldText(field->pid()).value_or("(none)");
    ASSERT_TRUE(kde.vurin.waitFor("📋 剪贴板已还原")) << kde.vurin.log();
    EXPECT_EQ(user->items(ClipboardSelection::clipboard), kUserClipboard);
    ASSERT_TRUE(kde.tap());
    EXPECT_TRUE(field->waitForLine("return " + said)) << kde.vurin.log();

    ASSERT_TRUE(kde.dictate(2) && kde.vurin.waitFor("目标确认成功", 2)) << kde.vurin.log();
    ASSERT_TRUE(kde.tap(2));
    EXPECT_TRUE(kde.vurin.waitFor("✖ 已取消,并删除刚插入的")) << kde.vurin.log();
    EXPECT_TRUE(eventually([&] { return DesktopSession::fieldText(field->pid()) == said; }));

    // A window without accessibility in front before the click: nothing is sent there.
    ASSERT_TRUE(kde.dictate(3) && kde.vurin.waitFor("目标确认成功", 3)) << kde.vurin.log();
    const auto terminal = kde.kde.foot("exec cat");
    ASSERT_TRUE(terminal && kde.kde.activate(terminal->pid()) && kde.tap());
    EXPECT_TRUE(kde.vurin.waitFor("⏎ 未发送(焦点已切到一个没有无障碍信息的窗口"))
        << kde.vurin.log();
    EXPECT_EQ(kde.vurin.terminate(), 0) << kde.vurin.log();
}

// foot has no accessibility: the text goes in with Shift+Insert from both selections, the
// clipboard comes back, and no send is offered. A portal that restarts costs one more consent,
// and the next dictation works.
TEST(KdeDictationTest, PastedIntoATerminalAndAfterThePortalRestarted) {
    KdeVurin kde;
    ASSERT_TRUE(kde.kde.joined());
    const auto user = kde.userCopy();
    ASSERT_TRUE(user);
    const auto typed = kde.folder / "typed";
    // Raw: the pasted line reaches `cat` without a Return, which nobody may send here.
    const auto terminal = kde.kde.foot("stty raw -echo; exec cat > '" + typed.string() + "'");
    ASSERT_TRUE(terminal && kde.kde.activate(terminal->pid()));

    ASSERT_TRUE(kde.dictate(1, true)) << kde.vurin.log();
    EXPECT_TRUE(kde.vurin.waitFor("⚠️ 已投递粘贴,但前台窗口没有无障碍信息"))
        << kde.vurin.log();
    EXPECT_TRUE(eventually([&] { return contentOf(typed) == VurinUnderTest::polished; }))
        << contentOf(typed);
    ASSERT_TRUE(kde.vurin.waitFor("📋 剪贴板已还原")) << kde.vurin.log();
    EXPECT_EQ(user->items(ClipboardSelection::clipboard), kUserClipboard);

    ASSERT_TRUE(DesktopSession::sessionCommand("restart-portal"));
    ASSERT_TRUE(kde.vurin.waitFor("✅ 触发键:桌面全局快捷键「", 2)) << kde.vurin.log();
    ASSERT_TRUE(kde.dictate(2, true)) << kde.vurin.log();
    EXPECT_TRUE(eventually([&] {
        return contentOf(typed) == std::string(VurinUnderTest::polished) + VurinUnderTest::polished;
    })) << kde.vurin.log();
}

}  // namespace
}  // namespace vurin::testing
