#include "support/kde_session.h"

#include "platform/desktop_session_smoke.h"

namespace vurin::testing {
namespace {

TEST(KdeSessionTest, FakeInputReachesTheActivatedWindowAndTheConsentDialogIsAnswered) {
    KdeSession kde;
    expectRealInputAndConsent(kde, [&] { return kde.qtField(""); });
}

}  // namespace
}  // namespace vurin::testing
