// The real executable on the headless sway: it picks the Wayland platform, its trigger comes
// from a sway binding that runs `vurin --trigger` on a virtual keyboard's F13 (or from the
// desktop's global shortcut), and it pastes into foot and a GTK field through data-control and
// its own virtual keyboard, or types the text where the compositor hides data-control.
#include <gtest/gtest.h>

#include "injection/desktop_apps.h"
#include "platform/wayland/data_control_clipboard.h"
#include "support/vurin_under_test.h"
#include "support/wayland_session.h"

namespace vurin::testing {
namespace {

using Items = std::vector<ClipboardItem>;
const Items kUserClipboard = {ClipboardItem{.values = {{"text/plain", "mine"},
                                                       {"text/html", "<b>mine</b>"},
                                                       {"application/x-vurin-test", "\1\2"}}}};
const Items kUserPrimary = {ClipboardItem{.values = {{"text/plain", "selected"}}}};

// Vurin as a Wayland client in a home of its own. The desktop binds `binding` ("" nothing:
// the trigger then comes from the sway binding); `typed`: the display without data-control.
struct WaylandVurin {
    explicit WaylandVurin(const std::string& binding, bool typed = false) {
        if (!session) {
            return;
        }
        display = session->environment(typed).at("WAYLAND_DISPLAY").value_or("");
        for (const auto& [name, value] : session->environment(typed)) {
            value ? environment.set(name, *value) : environment.unset(name);
        }
        environment.set("GDK_BACKEND", "wayland");
        EXPECT_TRUE(binding.empty() ? session->portalControl("SetBinding", {""})
                                    : session->portalControl("ResetBinding"));
        const std::string program = session->shareExecutable(VURIN_EXECUTABLE);
        EXPECT_TRUE(
            session->swaymsg("bindsym --no-repeat F13 exec " + program + " --trigger press") &&
            session->swaymsg("bindsym --release F13 exec " + program + " --trigger release"));
        EXPECT_TRUE(vurin.launch());
        EXPECT_TRUE(vurin.waitFor("✅ 本地 whisper-server 就绪") &&
                    vurin.waitFor("✅ 本地润色已预热就绪"))
            << vurin.log();
    }
    ~WaylandVurin() {
        if (session) {
            session->portalControl("ResetBinding");
            session->swaymsg("unbindsym --no-repeat F13") &&
                session->swaymsg("unbindsym --release F13");
        }
    }
    // A foot terminal titled `title` whose input line goes to the file of that name.
    std::unique_ptr<DesktopProgram> foot(const std::string& title) {
        return std::make_unique<DesktopProgram>(std::vector<std::string>{
            "env", "WAYLAND_DISPLAY=" + display, "foot", "--title", title, "sh", "-c",
            "stty -echo; exec cat > '" + (folder / title).string() + "'"});
    }
    // `criteria` in sway's words ("title=first"): a window may be mapped after its program
    // says it is ready.
    bool focus(const std::string& criteria) {
        return eventually([&] { return session->swaymsg("[" + criteria + "] focus"); });
    }
    // A virtual keyboard of its own: sway drops the first keys of a keyboard it has only just
    // seen, so it waits a moment before the first.
    bool keys(const std::string& wtypeArguments) {
        const std::string command =
            "WAYLAND_DISPLAY='" + display + "' wtype -s 150 " + wtypeArguments;
        return std::system(command.c_str()) == 0;
    }
    // A long press of F13 while the sentence plays, until the `times`-th paste is confirmed.
    bool dictate(const std::string& app, int times) {
        return session->typeKey("F13", true) && vurin.waitFor("🔴 录音中", times) && vurin.speak() &&
               session->typeKey("F13", false) &&
               vurin.waitFor("📋 已粘贴到「" + app + "」,目标确认成功", times);
    }
    bool click() { return keys("-P F13 -s 80 -p F13"); }
    bool doubleClick() { return keys("-P F13 -s 80 -p F13 -s 80 -P F13 -s 80 -p F13"); }

    std::optional<WaylandSession> session = WaylandSession::join();
    std::string display;
    ScratchFolder folder;
    ScopedEnvironment environment;
    VurinUnderTest vurin{folder / "", environment};
};

TEST(WaylandDictationTest, PastedIntoFootWithTheClipboardBackThenSentUndoneAndBlockedByASwitch) {
    WaylandVurin wayland("");
    ASSERT_TRUE(wayland.session) << "no Wayland session (scripts/test-session)";
    for (const char* line : {"🖥️ 会话:Wayland(WAYLAND_DISPLAY=/", "(使用:虚拟键盘协议)",
                             "剪贴板:data-control(", "触发键靠合成器绑定(vurin --trigger)"}) {
        EXPECT_TRUE(wayland.vurin.waitFor(line)) << line << "\n" << wayland.vurin.log();
    }
    std::string why;
    const auto user = DataControlClipboard::connect(&why);
    ASSERT_TRUE(user) << why;
    user->replace(ClipboardSelection::clipboard, kUserClipboard);
    user->replace(ClipboardSelection::primary, kUserPrimary);
    const auto first = wayland.foot("first"), second = wayland.foot("second");
    // sway gives the focus to a window as it maps: both must be there before the first has it.
    ASSERT_TRUE(wayland.focus("title=second") && wayland.focus("title=first"));

    ASSERT_TRUE(wayland.dictate("foot", 1)) << wayland.vurin.log();
    ASSERT_TRUE(wayland.vurin.waitFor("📋 剪贴板已还原")) << wayland.vurin.log();
    EXPECT_EQ(user->items(ClipboardSelection::clipboard), std::optional(kUserClipboard));
    EXPECT_EQ(user->items(ClipboardSelection::primary), std::optional(kUserPrimary));
    ASSERT_TRUE(wayland.click());
    ASSERT_TRUE(wayland.vurin.waitFor("⏎ 已发送到「foot」")) << wayland.vurin.log();
    // Undone in the terminal's line, so the next one sent is a line of its own.
    ASSERT_TRUE(wayland.dictate("foot", 2)) << wayland.vurin.log();
    ASSERT_TRUE(wayland.doubleClick());
    ASSERT_TRUE(wayland.vurin.waitFor("✖ 已取消,删除刚插入的")) << wayland.vurin.log();
    ASSERT_TRUE(wayland.dictate("foot", 3) && wayland.click()) << wayland.vurin.log();
    ASSERT_TRUE(wayland.vurin.waitFor("⏎ 已发送到「foot」", 2)) << wayland.vurin.log();
    const std::string line = std::string(VurinUnderTest::polished) + "\n";
    EXPECT_TRUE(eventually([&] { return contentOf(wayland.folder / "first") == line + line; }))
        << contentOf(wayland.folder / "first");

    ASSERT_TRUE(wayland.dictate("foot", 4)) << wayland.vurin.log();
    ASSERT_TRUE(wayland.focus("title=second"));
    ASSERT_TRUE(wayland.click());
    EXPECT_TRUE(wayland.vurin.waitFor("⏎ 未发送(焦点已切到「foot」的另一个窗口,请手动确认后回车)"))
        << wayland.vurin.log();
    EXPECT_EQ(wayland.vurin.terminate(), 0) << wayland.vurin.log();
}

TEST(WaylandDictationTest, AGtkFieldGetsTheTextAndADoubleClickTakesItBackOut) {
    WaylandVurin wayland("");
    ASSERT_TRUE(wayland.session) << "no Wayland session (scripts/test-session)";
    const auto field = startGtkEntries(wayland.folder, {""});
    ASSERT_TRUE(field);
    ASSERT_TRUE(wayland.focus("pid=" + std::to_string(field->pid())));
    ASSERT_TRUE(wayland.dictate("python3", 1)) << wayland.vurin.log();
    ASSERT_TRUE(wayland.doubleClick());
    // Checked in the field over the accessibility bus before anything was deleted.
    EXPECT_TRUE(wayland.vurin.waitFor("✖ 已取消,并删除刚插入的")) << wayland.vurin.log();
}

TEST(WaylandDictationTest, WithoutDataControlTheTextIsTypedAndTheClipboardLeftAlone) {
    WaylandVurin wayland("", true);
    ASSERT_TRUE(wayland.session) << "no Wayland session (scripts/test-session)";
    EXPECT_TRUE(wayland.vurin.waitFor(":文字逐字输入,剪贴板不动")) << wayland.vurin.log();
    std::string why;
    ScopedEnvironment realDisplay;  // the clipboard as the user's other programs see it
    realDisplay.set("WAYLAND_DISPLAY",
                    wayland.session->environment().at("WAYLAND_DISPLAY").value());
    const auto user = DataControlClipboard::connect(&why);
    ASSERT_TRUE(user) << why;
    user->replace(ClipboardSelection::clipboard, kUserClipboard);
    const std::int64_t changes = user->changeCount(ClipboardSelection::clipboard);
    const auto target = wayland.foot("typed");
    ASSERT_TRUE(wayland.focus("title=typed"));
    ASSERT_TRUE(wayland.dictate("foot", 1)) << wayland.vurin.log();
    ASSERT_TRUE(wayland.click());
    EXPECT_TRUE(eventually([&] {
        return contentOf(wayland.folder / "typed") == std::string(VurinUnderTest::polished) + "\n";
    })) << contentOf(wayland.folder / "typed")
        << wayland.vurin.log();
    EXPECT_EQ(user->changeCount(ClipboardSelection::clipboard), changes);
    EXPECT_EQ(user->items(ClipboardSelection::clipboard), std::optional(kUserClipboard));
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
