// Paste, confirmation, restore and undo with the real parts of the desktop: X11 focus and
// AT-SPI, the Qt clipboard, XTest keystrokes and Qt's event loop as the main queue, against a
// real xterm and a real GTK entry.
#include <gtest/gtest.h>

#include "injection/desktop_apps.h"
#include "injection/paste_injector.h"
#include "platform/linux/focus_reader_x11.h"
#include "platform/linux/keystrokes_xtest.h"
#include "platform/linux/selection_probe_x11.h"
#include "support/fake_desktop.h"
#include "ui/qt/qt_clipboard.h"
#include "ui/qt/qt_main_queue.h"

namespace vurin::testing {
namespace {

constexpr auto kClipboard = ClipboardSelection::clipboard;
constexpr auto kPrimary = ClipboardSelection::primary;

class PasteInjectorDesktopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ensureQtApplication();
        auto probe = std::make_shared<X11SelectionProbe>();
        injector_ = std::make_shared<PasteInjector>(
            std::make_shared<QtMainQueue>(QCoreApplication::instance()), focus_,
            std::make_shared<QtClipboard>([probe](ClipboardSelection selection) {
                return probe->ownerAnswers(selection, std::chrono::milliseconds(300));
            }),
            std::make_shared<XTestKeystrokeSender>());
    }
    // Waits for the clipboard's restore, which comes after the confirmation.
    bool restored(const std::string& line = "📋 剪贴板已还原") {
        return serveUntil([&] { return logs_.count(line) == 1; });
    }
    std::string logText() const {
        std::string all;
        for (const auto& line : logs_.lines()) {
            all += line + "\n";
        }
        return all;
    }

    ScratchFolder folder_;
    LogCapture logs_;
    std::shared_ptr<X11FocusReader> focus_ = std::make_shared<X11FocusReader>();
    std::shared_ptr<PasteInjector> injector_;
    std::shared_ptr<FakeInjectionHost> host_ = std::make_shared<FakeInjectionHost>();
};

TEST_F(PasteInjectorDesktopTest, XtermGetsShiftInsertAndBothSelectionsComeBack) {
    const auto received = folder_ / "received";
    // Non-canonical input: cat gets the pasted bytes without waiting for a line end.
    auto xterm = startXterm("stty -icanon -echo; exec cat > '" + received.string() + "'");
    ASSERT_TRUE(xterm);
    ASSERT_TRUE(waitUntilFront(*focus_, xterm->pid()));
    ASSERT_TRUE(serveUntil([&] { return std::filesystem::exists(received); }));
    auto copied = foreignCopy(folder_, kClipboard, {{"text/plain", "copied earlier"}});
    auto selected = foreignCopy(folder_, kPrimary, {{"text/plain", "selected words"}});
    ASSERT_TRUE(copied && selected);

    injector_->inject("run the tests", host_);
    EXPECT_TRUE(serveUntil([&] { return readFile(received) == "run the tests"; }))
        << readFile(received).value_or("(nothing)");
    ASSERT_TRUE(restored()) << logText();
    ASSERT_TRUE(host_->pending) << logText();
    EXPECT_EQ(host_->pending->target.appName, "xterm");
    EXPECT_EQ(logs_.count("📋 已粘贴到「xterm」,目标确认成功"), 1u) << logText();
    // Both selections hold what they held before, though their first owners are gone.
    copied.reset();
    selected.reset();
    EXPECT_EQ(foreignPaste(folder_, kClipboard, "text/plain"), "copied earlier");
    EXPECT_EQ(foreignPaste(folder_, kPrimary, "text/plain"), "selected words");
}

TEST_F(PasteInjectorDesktopTest, ControlVPastesIntoAGtkEntryAndBackspacesTakeItOutAgain) {
    auto gtk = startGtkEntries(folder_, {"say: "});
    ASSERT_TRUE(gtk);
    ASSERT_TRUE(waitUntilFront(*focus_, gtk->pid()));
    std::optional<AccessibleElementRef> field;
    ASSERT_TRUE(serveUntil([&] { return (field = focus_->focusedElement()).has_value(); }));
    auto before = foreignCopy(folder_, kClipboard, {{"text/plain", "before"}});
    ASSERT_TRUE(before);

    const std::string dictated = "hello 😀 wörld";
    injector_->inject(dictated, host_);
    EXPECT_TRUE(serveUntil([&] { return focus_->textOf(*field) == "say: " + dictated; }))
        << focus_->textOf(*field).value_or("(unreadable)");
    ASSERT_TRUE(restored()) << logText();
    ASSERT_TRUE(host_->pending) << logText();
    EXPECT_EQ(foreignPaste(folder_, kClipboard, "text/plain"), "before");

    // One BackSpace per grapheme, the caret checked through AT-SPI first.
    injector_->undoInsertedText(*host_->pending);
    EXPECT_TRUE(serveUntil([&] { return focus_->textOf(*field) == "say: "; }))
        << focus_->textOf(*field).value_or("(unreadable)");
    EXPECT_EQ(logs_.count("✖ 已取消,并删除刚插入的 13 个字"), 1u) << logText();
}

}  // namespace
}  // namespace vurin::testing
