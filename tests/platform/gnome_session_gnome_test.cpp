#include "support/gnome_session.h"

#include "platform/desktop_session_smoke.h"

namespace vurin::testing {
namespace {

TEST(GnomeSessionTest, MutterKeysReachTheActivatedWindowAndTheConsentDialogIsAnswered) {
    GnomeSession gnome;
    expectRealInputAndConsent(gnome, [&] { return gnome.gtkField(""); });
}

}  // namespace
}  // namespace vurin::testing
