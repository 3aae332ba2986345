// Paste, confirmation and clipboard restore with the real parts of the desktop: X11 focus and
// AT-SPI, the Qt clipboard, XTest keystrokes and Qt's event loop as the main queue, against
// a real xterm and a real GTK entry.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "injection/desktop_apps.h"
#include "injection/paste_injector.h"
#include "platform/linux/focus_reader_x11.h"
#include "platform/linux/keystrokes_xtest.h"
#include "platform/linux/selection_probe_x11.h"
#include "support/fake_desktop.h"
#include "support/log.h"
#include "ui/qt/qt_clipboard.h"
#include "ui/qt/qt_main_queue.h"

namespace vurin {
namespace {

using namespace std::chrono_literals;
using testing::DesktopProgram;
using testing::FakeInjectionHost;
using testing::ScratchFolder;
using testing::serveFor;
using testing::serveUntil;

constexpr auto kClipboard = ClipboardSelection::clipboard;
constexpr auto kPrimary = ClipboardSelection::primary;

class PasteInjectorDesktopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::ensureQtApplication();
        setLogObserver([this](const std::string& line) { logs_.push_back(line); });
        queue_ = std::make_shared<QtMainQueue>(QCoreApplication::instance());
        focus_ = std::make_shared<X11FocusReader>();
        auto probe = std::make_shared<X11SelectionProbe>();
        clipboard_ = std::make_shared<QtClipboard>([probe](ClipboardSelection selection) {
            return probe->ownerAnswers(selection, 300ms);
        });
        injector_ = std::make_shared<PasteInjector>(queue_, focus_, clipboard_,
                                                    std::make_shared<XTestKeystrokeSender>());
    }

    void TearDown() override {
        injector_.reset();
        serveFor(100ms);  // nothing of this test's may still be queued for the next one
        clipboard_.reset();
        setLogObserver({});
    }

    bool logged(const std::string& line) const {
        return std::find(logs_.begin(), logs_.end(), line) != logs_.end();
    }

    std::string logText() const {
        std::string all;
        for (const auto& line : logs_) {
            all += line + "\n";
        }
        return all;
    }

    ScratchFolder folder_;
    std::vector<std::string> logs_;
    std::shared_ptr<QtMainQueue> queue_;
    std::shared_ptr<X11FocusReader> focus_;
    std::shared_ptr<QtClipboard> clipboard_;
    std::shared_ptr<PasteInjector> injector_;
    std::shared_ptr<FakeInjectionHost> host_ = std::make_shared<FakeInjectionHost>();
};

TEST_F(PasteInjectorDesktopTest, XtermGetsShiftInsertAndBothSelectionsComeBack) {
    const auto received = folder_ / "received";
    auto xterm = testing::startXterm("stty -icanon -echo; exec cat > '" + received.string() + "'");
    ASSERT_TRUE(xterm);
    ASSERT_TRUE(testing::waitUntilFront(*focus_, xterm->pid()));
    ASSERT_TRUE(serveUntil([&] { return std::filesystem::exists(received); }));
    auto copied = testing::foreignCopy(folder_, kClipboard, {{"text/plain", "copied earlier"}});
    auto selected = testing::foreignCopy(folder_, kPrimary, {{"text/plain", "selected words"}});
    ASSERT_TRUE(copied && selected);

    injector_->inject("run the tests", host_);
    EXPECT_TRUE(serveUntil([&] { return testing::readFile(received) == "run the tests"; }))
        << testing::readFile(received).value_or("(nothing)");
    serveFor(600ms);  // past the confirmation and the restore

    ASSERT_TRUE(host_->pending) << logText();
    EXPECT_EQ(host_->pending->target.appName, "xterm");
    EXPECT_TRUE(logged("📋 已粘贴到「xterm」,目标确认成功")) << logText();
    EXPECT_TRUE(logged("📋 剪贴板已还原")) << logText();
    // Both selections hold what they held before, though their first owners are gone.
    copied.reset();
    selected.reset();
    EXPECT_EQ(testing::foreignPaste(folder_, kClipboard, "text/plain"), "copied earlier");
    EXPECT_EQ(testing::foreignPaste(folder_, kPrimary, "text/plain"), "selected words");
}

TEST_F(PasteInjectorDesktopTest, ACopyByAnotherProgramBeforeTheRestoreIsKept) {
    auto gtk = testing::startGtkEntries(folder_, {""});
    ASSERT_TRUE(gtk);
    ASSERT_TRUE(testing::waitUntilFront(*focus_, gtk->pid()));
    std::optional<AccessibleElementRef> field;
    ASSERT_TRUE(serveUntil([&] { return (field = focus_->focusedElement()).has_value(); }));
    auto before = testing::foreignCopy(folder_, kClipboard, {{"text/plain", "before"}});
    ASSERT_TRUE(before);

    injector_->inject("dictated", host_);
    ASSERT_TRUE(serveUntil([&] { return focus_->textOf(*field) == "dictated"; }, 3s));
    // Well inside the 0.4 s: the user copies something else.
    auto meanwhile =
        testing::foreignCopy(folder_, kClipboard, {{"text/plain", "copied meanwhile"}});
    ASSERT_TRUE(meanwhile);
    serveFor(600ms);

    EXPECT_TRUE(logged("⚠️ 剪贴板在还原前被其他程序修改,跳过还原"))
        << logText();
    EXPECT_EQ(testing::foreignPaste(folder_, kClipboard, "text/plain"), "copied meanwhile");
    EXPECT_TRUE(host_->pending);
}

TEST_F(PasteInjectorDesktopTest, SwitchingWindowsBeforeTheConfirmationNamesBothApplications) {
    const auto received = folder_ / "received";
    auto xterm = testing::startXterm("stty -icanon -echo; exec cat > '" + received.string() + "'");
    ASSERT_TRUE(xterm);
    ASSERT_TRUE(testing::waitUntilFront(*focus_, xterm->pid()));
    auto gtk = testing::startGtkEntries(folder_, {""});
    ASSERT_TRUE(gtk);
    ASSERT_TRUE(testing::waitUntilFront(*focus_, gtk->pid()));
    const auto gtkName = focus_->frontmostApplication()->name.value_or("?");

    injector_->inject("for the editor", host_);
    // No event is served until the other window is in front, so the 0.12 s confirmation
    // can only run afterwards.
    const std::string activate = "xdotool search --sync --class xterm windowactivate --sync";
    ASSERT_EQ(std::system(activate.c_str()), 0);
    serveFor(600ms);

    EXPECT_FALSE(host_->pending);
    EXPECT_TRUE(logged("⚠️ 已投递粘贴,但焦点已从「" + gtkName +
                       "」切到「xterm」;为避免误发送,不会进入待发送状态"))
        << logText();
}

}  // namespace
}  // namespace vurin
