// The restore after a paste follows the target's read on X11: every reader is named by the X
// server (X-Resource), so a clipboard manager never passes for the target.
#include "injection/clipboard_reads.h"
#include "platform/x11/selection_probe_x11.h"
#include "ui/qt/qt_clipboard.h"

namespace vurin::testing {
namespace {

using namespace std::chrono_literals;

class ClipboardRestoreDesktopTest : public ::testing::TestWithParam<ClipboardReadRow> {};

TEST_P(ClipboardRestoreDesktopTest, FollowsTheTargetsRead) {
    ensureQtApplication();
    ScratchFolder folder;
    X11SelectionProbe probe;
    const auto clipboard = std::make_shared<QtClipboard>(  // wired as the application wires it
        [&](ClipboardSelection which) { return probe.ownerAnswers(which, 300ms); }, 1000ms,
        [&](std::uint32_t window) { return probe.requestorProcess(window); });
    const auto helper = [](std::vector<std::string> argv, bool input = false) {
        argv.insert(argv.begin(), VURIN_QT_DESKTOP_HELPER);
        auto program = std::make_unique<DesktopProgram>(argv, input);
        return program->waitForLine("ready") ? std::move(program) : nullptr;
    };
    const ClipboardReaders readers{
        .slowPaster =
            [&](int delayMs) {
                return helper({"paste", "clipboard", std::to_string(delayMs)}, true);
            },
        .manager =
            [&] {
                return helper({"watch", "clipboard"});
            },
        .copy =
            [](const std::string& text) {
                return foreignCopy(ClipboardSelection::clipboard, {{"text/plain", text}});
            },
        .text = [&] { return foreignPaste(folder, ClipboardSelection::clipboard, "text/plain"); },
        .pasterNamed = true,
    };
    checkRestoreFollowsTheRead(GetParam(), clipboard, readers);
}

INSTANTIATE_TEST_SUITE_P(Reads, ClipboardRestoreDesktopTest,
                         ::testing::ValuesIn(kClipboardReadRows), clipboardReadRowName);

}  // namespace
}  // namespace vurin::testing
