#include "support/gnome_session.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include "platform/linux/remote_desktop_keystrokes.h"
#include "support/testing.h"

// What the gnome tests stand on: keys through mutter's RemoteDesktop are real input to whatever
// has the focus, and the portal's consent dialog is answered as a person would, after which its
// keys arrive too.
namespace vurin::testing {
namespace {

TEST(GnomeSessionTest, MutterKeysTypeIntoAGtkFieldAndTheConsentDialogIsAnswered) {
    GnomeSession gnome;
    ASSERT_TRUE(gnome.joined());
    const auto field = gnome.gtkField("");
    ASSERT_TRUE(field && gnome.activate(field->pid()));
    for (const int code : {KEY_H, KEY_I}) {
        ASSERT_TRUE(gnome.key(code, true) && gnome.key(code, false));
    }
    EXPECT_TRUE(eventually([&] { return gnome.fieldText(field->pid()) == "hi"; }))
        << gnome.fieldText(field->pid()).value_or("(none)");

    ASSERT_TRUE(GnomeSession::enterAppScope("com.vurin.app"));
    RemoteDesktopKeystrokes portal;
    portal.prepare();
    ASSERT_TRUE(gnome.shareWhenAsked());
    ASSERT_TRUE(gnome.activate(field->pid()));
    EXPECT_TRUE(portal.typeText(" there"));
    EXPECT_TRUE(eventually([&] {
        return gnome.fieldText(field->pid()).value_or("").ends_with("there");
    })) << gnome.fieldText(field->pid()).value_or("(none)");
}

}  // namespace
}  // namespace vurin::testing
