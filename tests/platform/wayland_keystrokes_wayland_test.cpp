#include <gtest/gtest.h>

#include <fstream>

#include "platform/linux/remote_desktop_keystrokes.h"
#include "platform/wayland/virtual_keyboard_keystrokes.h"
#include "support/desktop_program.h"
#include "support/keystroke_requests.h"
#include "support/testing.h"
#include "support/wayland_session.h"

// Each Wayland keystroke path types into foot running `cat` on a raw terminal: the file holds the
// bytes that arrived, in order. RemoteDesktop goes through the real xdg-desktop-portal.
namespace vurin::testing {
namespace {

bool startAnswers(const char* response) {  // the stand-in desktop's answer to Start
    DesktopProgram call({"gdbus", "call", "-e", "-d",
                         "org.freedesktop.impl.portal.desktop.vurintest.RemoteDesktop", "-o",
                         "/com/vurin/test/RemoteDesktop", "-m",
                         "com.vurin.test.RemoteDesktop.SetStartResponse", response});
    return eventually([&] { return call.exitStatus() == 0; });
}

TEST(WaylandKeystrokesTest, StrokesAndTextArriveInOrderOnEveryPath) {
    std::optional<WaylandSession> session = WaylandSession::join();
    ASSERT_TRUE(session);
    ScopedEnvironment environment;
    environment.set("WAYLAND_DISPLAY", *session->environment().at("WAYLAND_DISPLAY"));
    const auto file = session->sharedFolder() / "typed";
    DesktopProgram primary({"wl-copy", "--primary", "--foreground", "P"});
    DesktopProgram clipboard({"wl-copy", "--foreground", "C"});
    DesktopProgram foot({"foot", "--app-id=vurin-keys", "sh", "-c",
                         "stty raw -echo && exec cat >" + file.string()});
    ASSERT_TRUE(eventually([&] { return std::filesystem::exists(file); }));
    ASSERT_TRUE(
        eventually([&] { return session->swaymsg("[app_id=vurin-keys con_id=__focused__] nop"); },
                   std::chrono::seconds(20)));
    std::string text = "héllo wörld ✓ ";
    for (char32_t c = U'一'; c < U'一' + 300; ++c) {  // more keys than one keymap holds, then \n
        text += {char(0xE0 | c >> 12), char(0x80 | (c >> 6 & 0x3F)), char(0x80 | (c & 0x3F))};
    }
    const std::vector<std::pair<std::function<bool(KeystrokeSender&)>, std::string>> steps = {
        {[](auto& s) { return sendAndWait(s, Keystroke::pasteControlV).complete(); }, "\x16"},
        // Shift+Insert pastes the primary selection, Ctrl+Shift+V the clipboard.
        {[](auto& s) { return sendAndWait(s, Keystroke::pasteShiftInsert).complete(); }, "P"},
        {[](auto& s) { return sendAndWait(s, Keystroke::pasteControlShiftV).complete(); }, "C"},
        {[](auto& s) { return sendAndWait(s, Keystroke::returnKey).complete(); }, "\r"},
        {[](auto& s) { return sendAndWait(s, Keystroke::backspace, 2).complete(); }, "\x7f\x7f"},
        {[&](auto& s) { return typeAndWait(s, text + "\n").complete(); }, text + "\r"},
    };
    std::unique_ptr<KeystrokeSender> paths[] = {VirtualKeyboardKeystrokes::open(),
                                                std::make_unique<RemoteDesktopKeystrokes>()};
    const auto typed = [&] {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    std::string expected;
    for (const auto& keys : paths) {
        ASSERT_TRUE(keys);
        for (const auto& [act, arrives] : steps) {
            EXPECT_TRUE(act(*keys));
            expected += arrives;
            eventually([&] { return typed() == expected; });
            ASSERT_EQ(typed(), expected);
        }
    }
}

TEST(RemoteDesktopKeystrokesTest, DeclinedOnceThenRefusedWithoutAsking) {
    ASSERT_TRUE(startAnswers("1"));
    LogCapture log;
    RemoteDesktopKeystrokes keys;
    EXPECT_EQ(sendAndWait(keys, Keystroke::returnKey).sent, 0U);
    EXPECT_EQ(keys.state(), RemoteDesktopKeystrokes::State::denied);
    EXPECT_EQ(sendAndWait(keys, Keystroke::returnKey).sent, 0U);
    EXPECT_EQ(log.countContaining("用户拒绝了键盘控制请求"), 1U) << "asked once";
    EXPECT_EQ(log.countContaining("用户拒绝了键盘控制,按键未发送"), 1U);
    EXPECT_TRUE(startAnswers("0"));
}

}  // namespace
}  // namespace vurin::testing
