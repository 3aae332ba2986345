// The restore after a paste follows the target's read on KWin's data-control, against
// wl-clipboard's programs.
#include "injection/clipboard_reads.h"
#include "platform/wayland/data_control_clipboard.h"
#include "support/kde_session.h"

namespace vurin::testing {
namespace {

class ClipboardRestoreKdeTest : public ::testing::TestWithParam<ClipboardReadRow> {};

TEST_P(ClipboardRestoreKdeTest, FollowsTheTargetsRead) {
    KdeSession kde;
    ASSERT_TRUE(kde.joined());
    ensureQtApplication();
    std::string why;
    const std::shared_ptr<Clipboard> clipboard = DataControlClipboard::connect(&why);
    ASSERT_TRUE(clipboard) << why;
    checkRestoreFollowsTheRead(GetParam(), clipboard, wlClipboardReaders());
}

INSTANTIATE_TEST_SUITE_P(Reads, ClipboardRestoreKdeTest, ::testing::ValuesIn(kClipboardReadRows),
                         clipboardReadRowName);

}  // namespace
}  // namespace vurin::testing
