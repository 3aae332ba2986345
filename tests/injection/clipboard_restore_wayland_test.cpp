// The restore after a paste follows the target's read on sway's data-control, against
// wl-clipboard's programs.
#include "injection/clipboard_reads.h"
#include "platform/wayland/data_control_clipboard.h"
#include "support/wayland_session.h"

namespace vurin::testing {
namespace {

class ClipboardRestoreWaylandTest : public ::testing::TestWithParam<ClipboardReadRow> {};

TEST_P(ClipboardRestoreWaylandTest, FollowsTheTargetsRead) {
    std::optional<WaylandSession> session = WaylandSession::join();
    ASSERT_TRUE(session) << "no Wayland session (scripts/test-session)";
    ScopedEnvironment environment;
    environment.set("WAYLAND_DISPLAY", *session->environment().at("WAYLAND_DISPLAY"));
    ensureQtApplication();
    std::string why;
    const std::shared_ptr<Clipboard> clipboard = DataControlClipboard::connect(&why);
    ASSERT_TRUE(clipboard) << why;
    checkRestoreFollowsTheRead(GetParam(), clipboard, wlClipboardReaders());
}

INSTANTIATE_TEST_SUITE_P(Reads, ClipboardRestoreWaylandTest,
                         ::testing::ValuesIn(kClipboardReadRows), clipboardReadRowName);

}  // namespace
}  // namespace vurin::testing
