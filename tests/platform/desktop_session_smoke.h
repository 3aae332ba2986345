#pragma once
// What the kde and gnome tests stand on, proved the same way on both desktops: keys sent as real
// input reach the window the fixture activated (a terminal without accessibility, then a text
// field read back over AT-SPI), and the portal's consent dialog is answered as a person would,
// after which the portal's keys arrive too.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include "platform/linux/remote_desktop_keystrokes.h"
#include "support/desktop_session.h"
#include "support/keystroke_requests.h"
#include "support/private_files.h"
#include "support/testing.h"

namespace vurin::testing {

inline void expectRealInputAndConsent(
    DesktopSession& desktop, const std::function<std::unique_ptr<DesktopProgram>()>& field) {
    ASSERT_TRUE(desktop.joined());
    ScratchFolder folder;
    const auto typed = folder / "typed";
    const auto tap = [&](int code) { return desktop.key(code, true) && desktop.key(code, false); };
    const auto terminal = desktop.foot("stty -echo; exec cat > " + typed.string());
    // A new window takes the focus once it is mapped.
    ASSERT_TRUE(terminal && eventually([&] { return tap(KEY_ENTER) && !contentOf(typed).empty(); },
                                       std::chrono::seconds(20)));
    const auto text = field();
    ASSERT_TRUE(text && desktop.activate(text->pid()));
    ASSERT_TRUE(desktop.activate(terminal->pid()) && tap(KEY_A) && tap(KEY_ENTER));
    EXPECT_TRUE(eventually([&] { return contentOf(typed).ends_with("a\n"); })) << contentOf(typed);
    ASSERT_TRUE(desktop.activate(text->pid()) && tap(KEY_H) && tap(KEY_I));
    EXPECT_TRUE(eventually([&] { return desktop.fieldText(text->pid()) == "hi"; }))
        << desktop.fieldText(text->pid()).value_or("(none)");

    // Without an app id KDE asks nobody (it only shows a notification).
    ASSERT_TRUE(DesktopSession::enterAppScope("com.vurin.app"));
    RemoteDesktopKeystrokes portal;
    portal.prepare();
    ASSERT_TRUE(desktop.shareWhenAsked());
    ASSERT_TRUE(desktop.activate(text->pid()));
    EXPECT_TRUE(typeAndWait(portal, " there").complete());
    EXPECT_TRUE(eventually([&] { return desktop.fieldText(text->pid()) == "hi there"; }))
        << desktop.fieldText(text->pid()).value_or("(none)");
}

}  // namespace vurin::testing
