#include "support/kde_session.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include "platform/linux/remote_desktop_keystrokes.h"
#include "support/testing.h"

// What the kde tests stand on: KWin's fake input is real input to whatever has the focus, and
// the portal's consent dialog is answered as a person would, after which its keys arrive too.
namespace vurin::testing {
namespace {

TEST(KdeSessionTest, FakeInputTypesIntoAQtFieldAndTheConsentDialogIsAnswered) {
    KdeSession kde;
    ASSERT_TRUE(kde.joined());
    const auto field = kde.qtField("");
    ASSERT_TRUE(field && kde.activate(field->pid()));
    for (const int code : {KEY_H, KEY_I}) {
        ASSERT_TRUE(kde.key(code, true) && kde.key(code, false));
    }
    EXPECT_TRUE(eventually([&] { return kde.fieldText(field->pid()) == "hi"; }));

    // Without an app id KDE asks nobody: it only tells, in a notification.
    ASSERT_TRUE(KdeSession::enterAppScope("com.vurin.app"));
    RemoteDesktopKeystrokes portal;
    portal.prepare();
    ASSERT_TRUE(kde.shareWhenAsked());
    ASSERT_TRUE(kde.activate(field->pid()));
    EXPECT_TRUE(portal.typeText(" there"));
    EXPECT_TRUE(eventually([&] {
        return kde.fieldText(field->pid()).value_or("").ends_with("there");
    })) << kde.fieldText(field->pid()).value_or("(none)");
}

}  // namespace
}  // namespace vurin::testing
