#include "injection/paste_injector.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "injection/focus_verification.h"
#include "support/app_fakes.h"
#include "support/fake_desktop.h"
#include "support/log.h"
#include "support/sound.h"
#include "support/virtual_main_queue.h"

namespace vurin {
namespace {

using testing::FakeClipboard;
using testing::FakeFocusReader;
using testing::FakeInjectionHost;
using testing::FakeKeystrokeSender;

constexpr auto kClipboard = ClipboardSelection::clipboard;
constexpr auto kPrimary = ClipboardSelection::primary;

const std::vector<ClipboardItem> kRichContent = {
    ClipboardItem{.values = {{"text/plain", "hello"},
                             {"text/html", "<b>hello</b>"},
                             {"image/png", std::string("\x89PNG\r\n\x1a\n\0\xff", 10)}}},
    ClipboardItem{},
    ClipboardItem{.values = {{"application/x-custom", std::string("\0\1\2", 3)}}},
};

class PasteInjectorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setLogObserver([this](const std::string& line) { logs.push_back(line); });
        installSoundOutput(sound, queue);
        focus->focusApp("gedit", "Gedit", 100, "/field/1");
        clipboard->copyByOtherProgram(kClipboard, kRichContent);
        clipboard->copyByOtherProgram(kPrimary, {FakeClipboard::textItem("selected words")});
    }
    void TearDown() override {
        setLogObserver({});
        installSoundOutput(nullptr, nullptr);
    }

    void focusTerminal() { focus->focusApp("xterm", "XTerm", 300); }
    void inject(const std::string& text) { injector->inject(text, host); }
    bool logged(const std::string& line) const { return count(line) > 0; }
    int count(const std::string& line) const {
        return static_cast<int>(std::count(logs.begin(), logs.end(), line));
    }
    PendingInjection pendingIn(const std::string& text) {
        return PendingInjection{.text = text, .target = *currentInjectionTarget(*focus)};
    }

    std::shared_ptr<testing::VirtualMainQueue> queue =
        std::make_shared<testing::VirtualMainQueue>();
    std::shared_ptr<FakeFocusReader> focus = std::make_shared<FakeFocusReader>();
    std::shared_ptr<FakeClipboard> clipboard = std::make_shared<FakeClipboard>();
    std::shared_ptr<FakeKeystrokeSender> keys = std::make_shared<FakeKeystrokeSender>();
    std::shared_ptr<testing::FakeSoundOutput> sound = std::make_shared<testing::FakeSoundOutput>();
    std::shared_ptr<FakeInjectionHost> host = std::make_shared<FakeInjectionHost>();
    std::vector<std::string> pauses;
    std::shared_ptr<PasteInjector> injector = std::make_shared<PasteInjector>(
        queue, focus, clipboard, keys, [this](std::chrono::microseconds pause) {
            pauses.push_back(std::to_string(pause.count()) + "us after " +
                             std::to_string(keys->posted.size()));
        });
    std::vector<std::string> logs;
};

TEST_F(PasteInjectorTest, PastesWithControlVConfirmsAndRestoresTheRichClipboard) {
    std::vector<ClipboardItem> atPaste;
    keys->onPost = [&](Keystroke) { atPaste = clipboard->contents(kClipboard); };
    inject("你好");
    EXPECT_EQ(keys->posted, std::vector{Keystroke::pasteControlV});
    EXPECT_EQ(atPaste, std::vector{FakeClipboard::textItem("你好")});
    EXPECT_EQ(host->attempt, 1);
    EXPECT_TRUE(host->calls.empty());  // nothing changes state before the confirmation

    queue->advance(0.1);
    EXPECT_FALSE(host->pending.has_value());
    queue->advance(0.05);
    ASSERT_TRUE(host->pending.has_value());
    EXPECT_EQ(host->pending->text, "你好");
    EXPECT_EQ(host->pending->target.appName, "gedit");
    EXPECT_EQ(host->pending->target.focusedElement, FakeFocusReader::element("/field/1"));
    EXPECT_EQ(logs, std::vector<std::string>{"📋 已粘贴到「gedit」,目标确认成功"});

    queue->advance(0.2);
    EXPECT_EQ(clipboard->contents(kClipboard), std::vector{FakeClipboard::textItem("你好")});
    queue->advance(0.1);
    EXPECT_EQ(clipboard->contents(kClipboard), kRichContent);
    EXPECT_EQ(logs.back(), "📋 剪贴板已还原");
    EXPECT_TRUE(sound->played.empty());
    // An ordinary paste never reads or writes the primary selection.
    EXPECT_EQ(clipboard->reads[kPrimary], 0);
    EXPECT_EQ(clipboard->textWrites[kPrimary], 0);
    EXPECT_EQ(clipboard->restores[kPrimary], 0);
}

TEST_F(PasteInjectorTest, AnEmptyClipboardIsEmptyAgainAfterTheRestore) {
    clipboard->copyByOtherProgram(kClipboard, {});
    inject("text");
    queue->advance(0.4);
    EXPECT_TRUE(clipboard->contents(kClipboard).empty());
    EXPECT_EQ(clipboard->restores[kClipboard], 1);
    EXPECT_TRUE(logged("📋 剪贴板已还原"));
}

TEST_F(PasteInjectorTest, ACopyBeforeTheRestoreIsKept) {
    inject("text");
    queue->advance(0.3);
    const std::vector<ClipboardItem> copied = {FakeClipboard::textItem("copied by the user")};
    clipboard->copyByOtherProgram(kClipboard, copied);
    queue->advance(0.1);
    EXPECT_EQ(clipboard->contents(kClipboard), copied);
    EXPECT_TRUE(logged("⚠️ 剪贴板在还原前被其他程序修改,跳过还原"));
    EXPECT_FALSE(logged("📋 剪贴板已还原"));
}

TEST_F(PasteInjectorTest, NoFrontApplicationBlocksThePasteAndLeavesTheClipboard) {
    focus->front.reset();
    inject("text");
    EXPECT_EQ(logs, std::vector<std::string>{"❌ 没有可注入的前台应用,已阻止粘贴"});
    EXPECT_EQ(sound->played, std::vector<std::string>{"Basso"});
    EXPECT_EQ(host->calls, std::vector<std::string>{"ended"});
    EXPECT_EQ(host->attempt, 0);
    EXPECT_TRUE(keys->posted.empty());
    EXPECT_EQ(clipboard->contents(kClipboard), kRichContent);
    EXPECT_EQ(clipboard->textWrites[kClipboard] + clipboard->restores[kClipboard], 0);
    EXPECT_EQ(queue->pendingCount(), 0U);
}

TEST_F(PasteInjectorTest, FocusChangingBetweenTheTwoReadingsBlocksThePaste) {
    focus->onFrontmostRead = [this](int read) {
        if (read == 2) {
            focus->focusApp("firefox", "firefox", 200, "/entry");
        }
    };
    inject("text");
    EXPECT_EQ(logs, std::vector<std::string>{"❌ 输入焦点在准备粘贴时发生变化,已阻止注入"});
    EXPECT_EQ(sound->played, std::vector<std::string>{"Basso"});
    EXPECT_EQ(host->calls, std::vector<std::string>{"ended"});
    EXPECT_EQ(host->attempt, 0);
    EXPECT_TRUE(keys->posted.empty());
    EXPECT_EQ(clipboard->textWrites[kClipboard], 0);
}

TEST_F(PasteInjectorTest, AFailedPasteKeystrokeRestoresAtOnceWithoutASound) {
    keys->succeeds = false;
    inject("text");
    EXPECT_EQ(logs, std::vector<std::string>{"❌ 合成 Ctrl+V 失败,已还原剪贴板"});
    EXPECT_EQ(clipboard->contents(kClipboard), kRichContent);
    EXPECT_EQ(host->calls, std::vector<std::string>{"ended"});
    queue->advance(1.0);
    EXPECT_EQ(logs.size(), 1U);
    EXPECT_TRUE(sound->played.empty());
}

TEST_F(PasteInjectorTest, AFailedTerminalPasteRestoresBothSelections) {
    focusTerminal();
    keys->succeeds = false;
    inject("text");
    EXPECT_EQ(logs, std::vector<std::string>{"❌ 合成 Shift+Insert 失败,已还原剪贴板"});
    EXPECT_EQ(clipboard->contents(kClipboard), kRichContent);
    EXPECT_EQ(clipboard->contents(kPrimary),
              std::vector{FakeClipboard::textItem("selected words")});
}

TEST_F(PasteInjectorTest, SwitchingApplicationsBeforeTheConfirmationAbandonsThePending) {
    inject("text");
    queue->advance(0.05);
    focus->focusApp("firefox", "firefox", 200, "/entry");
    queue->advance(0.1);
    EXPECT_EQ(host->calls, std::vector<std::string>{"ended"});
    EXPECT_FALSE(host->pending.has_value());
    EXPECT_EQ(logs, std::vector<std::string>{
                        "⚠️ 已投递粘贴,但焦点已从「gedit」切到「firefox」;"
                        "为避免误发送,不会进入待发送状态"});
    EXPECT_EQ(sound->played, std::vector<std::string>{"Bottle"});
    queue->advance(0.3);
    EXPECT_EQ(clipboard->contents(kClipboard), kRichContent);
}

TEST_F(PasteInjectorTest, TwoPastesApartLessThanTheConfirmationConfirmOnlyTheSecond) {
    inject("first");
    queue->advance(0.1);
    inject("second");
    EXPECT_EQ(host->attempt, 2);
    queue->advance(0.1);  // 0.12 s after the first: stale
    EXPECT_TRUE(host->calls.empty());
    queue->advance(0.05);
    EXPECT_EQ(host->calls, std::vector<std::string>{"confirmed"});
    EXPECT_EQ(host->pending->text, "second");
    EXPECT_EQ(count("📋 已粘贴到「gedit」,目标确认成功"), 1);

    queue->advance(0.2);  // 0.4 s after the first: the second paste moved the count on
    EXPECT_EQ(logs.back(), "⚠️ 剪贴板在还原前被其他程序修改,跳过还原");
    EXPECT_EQ(clipboard->contents(kClipboard), std::vector{FakeClipboard::textItem("second")});
    queue->advance(0.1);
    // The user's own content comes back, not the first dictation.
    EXPECT_EQ(logs.back(), "📋 剪贴板已还原");
    EXPECT_EQ(clipboard->contents(kClipboard), kRichContent);
}

TEST_F(PasteInjectorTest, ACopyBetweenTwoPastesIsWhatTheSecondRestores) {
    inject("first");
    queue->advance(0.1);
    const std::vector<ClipboardItem> copied = {FakeClipboard::textItem("copied")};
    clipboard->copyByOtherProgram(kClipboard, copied);
    inject("second");
    queue->advance(0.5);
    EXPECT_EQ(clipboard->contents(kClipboard), copied);
}

TEST_F(PasteInjectorTest, CancelDuringTheConfirmationWindowPreventsThePending) {
    inject("text");
    queue->advance(0.05);
    host->cancel();
    queue->advance(0.1);
    EXPECT_TRUE(host->calls.empty());
    EXPECT_TRUE(logs.empty());
    queue->advance(0.25);
    EXPECT_EQ(logs, std::vector<std::string>{"📋 剪贴板已还原"});
    EXPECT_EQ(clipboard->contents(kClipboard), kRichContent);
}

TEST_F(PasteInjectorTest, AHostThatIsGoneIsLeftAloneButTheClipboardStillComesBack) {
    inject("text");
    host.reset();
    queue->advance(0.4);
    EXPECT_EQ(logs, std::vector<std::string>{"📋 剪贴板已还原"});
    EXPECT_EQ(clipboard->contents(kClipboard), kRichContent);
}

TEST_F(PasteInjectorTest, EmptyTextIsPastedConfirmedAndUndoneWithZeroCharacters) {
    std::vector<ClipboardItem> atPaste;
    keys->onPost = [&](Keystroke) { atPaste = clipboard->contents(kClipboard); };
    focus->setField("/field/1", "abc", 3);
    inject("");
    EXPECT_EQ(atPaste, std::vector{FakeClipboard::textItem("")});
    queue->advance(0.4);
    ASSERT_TRUE(host->pending.has_value());
    EXPECT_EQ(host->pending->text, "");
    EXPECT_EQ(clipboard->contents(kClipboard), kRichContent);

    keys->posted.clear();
    injector->undoInsertedText(*host->pending);
    EXPECT_TRUE(keys->posted.empty());
    EXPECT_EQ(logs.back(), "✖ 已取消,并删除刚插入的 0 个字");
}

TEST_F(PasteInjectorTest, TerminalGetsShiftInsertWithTheTextInBothSelections) {
    focusTerminal();
    std::vector<ClipboardItem> clipboardAtPaste;
    std::vector<ClipboardItem> primaryAtPaste;
    keys->onPost = [&](Keystroke) {
        clipboardAtPaste = clipboard->contents(kClipboard);
        primaryAtPaste = clipboard->contents(kPrimary);
    };
    inject("ls -la");
    EXPECT_EQ(keys->posted, std::vector{Keystroke::pasteShiftInsert});
    EXPECT_EQ(clipboardAtPaste, std::vector{FakeClipboard::textItem("ls -la")});
    EXPECT_EQ(primaryAtPaste, std::vector{FakeClipboard::textItem("ls -la")});
    queue->advance(0.15);
    ASSERT_TRUE(host->pending.has_value());
    EXPECT_EQ(host->pending->target.appName, "xterm");
    queue->advance(0.25);
    EXPECT_EQ(clipboard->contents(kClipboard), kRichContent);
    EXPECT_EQ(clipboard->contents(kPrimary),
              std::vector{FakeClipboard::textItem("selected words")});
    EXPECT_EQ(count("📋 剪贴板已还原"), 1);
}

TEST_F(PasteInjectorTest, EachTerminalSelectionIsRestoredByItsOwnChangeCount) {
    focusTerminal();
    inject("one");
    const std::vector<ClipboardItem> selected = {FakeClipboard::textItem("newly selected")};
    clipboard->copyByOtherProgram(kPrimary, selected);
    queue->advance(0.4);
    EXPECT_EQ(clipboard->contents(kPrimary), selected);
    EXPECT_EQ(clipboard->contents(kClipboard), kRichContent);
    EXPECT_EQ(logs.back(), "📋 剪贴板已还原");

    inject("two");
    const std::vector<ClipboardItem> copied = {FakeClipboard::textItem("copied")};
    clipboard->copyByOtherProgram(kClipboard, copied);
    queue->advance(0.4);
    EXPECT_EQ(clipboard->contents(kClipboard), copied);
    EXPECT_EQ(clipboard->contents(kPrimary), selected);
    EXPECT_EQ(logs.back(), "⚠️ 剪贴板在还原前被其他程序修改,跳过还原");
}

TEST_F(PasteInjectorTest, SendPostsReturnIntoTheSameTarget) {
    const PendingInjection pending = pendingIn("hello");
    EXPECT_EQ(injector->sendReturn(pending), SendOutcome::sent);
    EXPECT_EQ(keys->posted, std::vector{Keystroke::returnKey});
    EXPECT_EQ(logs, std::vector<std::string>{"⏎ 已发送到「gedit」"});
    EXPECT_EQ(sound->played, std::vector<std::string>{"Tink"});
}

TEST_F(PasteInjectorTest, SendAfterSwitchingApplicationsPostsNothing) {
    const PendingInjection pending = pendingIn("hello");
    focus->focusApp("firefox", "firefox", 200, "/entry");
    EXPECT_EQ(injector->sendReturn(pending), SendOutcome::targetChanged);
    EXPECT_TRUE(keys->posted.empty());
    EXPECT_EQ(logs, std::vector<std::string>{
                        "⏎ 未发送(焦点已从「gedit」切到「firefox」,请手动确认后回车)"});
    EXPECT_EQ(sound->played, std::vector<std::string>{"Bottle"});
}

TEST_F(PasteInjectorTest, AFailedReturnKeystrokeIsReportedWithoutASound) {
    keys->succeeds = false;
    EXPECT_EQ(injector->sendReturn(pendingIn("hello")), SendOutcome::keystrokeFailed);
    EXPECT_EQ(logs, std::vector<std::string>{"❌ 合成回车失败"});
    EXPECT_TRUE(sound->played.empty());
}

TEST_F(PasteInjectorTest, UndoDeletesOneBackspacePerGraphemeWithAPauseAfterEach) {
    // "好👍🏽": two characters, five UTF-16 code units; the field holds "你" before them.
    const std::string text = "好👍🏽";
    focus->setField("/field/1", "你" + text, 6);
    const PendingInjection pending = pendingIn(text);
    EXPECT_TRUE(injector->canSafelyDeleteInsertedText(pending));
    injector->undoInsertedText(pending);
    EXPECT_EQ(keys->posted, std::vector(2, Keystroke::backspace));
    EXPECT_EQ(pauses, (std::vector<std::string>{"1500us after 1", "1500us after 2"}));
    EXPECT_EQ(logs, std::vector<std::string>{"✖ 已取消,并删除刚插入的 2 个字"});
    // The controller plays the cancel cue, not the injector.
    EXPECT_TRUE(sound->played.empty());
}

TEST_F(PasteInjectorTest, UndoOfAnUnverifiableFieldStillDeletesAndSaysSo) {
    const std::string unverified = "✖ 已取消,删除刚插入的 3 个字(AX 无法校验,按插入末尾处理)";
    // The field exposes no text.
    injector->undoInsertedText(pendingIn("abc"));
    EXPECT_EQ(keys->posted.size(), 3U);
    EXPECT_EQ(logs.back(), unverified);

    // No focused element at all (xterm never joins the accessibility bus).
    focusTerminal();
    injector->undoInsertedText(pendingIn("abc"));
    EXPECT_EQ(keys->posted.size(), 6U);
    EXPECT_EQ(logs.back(), unverified);
}

TEST_F(PasteInjectorTest, UndoCheckNeedsABareCaretRightAfterTheText) {
    focus->setField("/field/1", "xabc", 4, 1);
    EXPECT_FALSE(injector->canSafelyDeleteInsertedText(pendingIn("abc")));
    focus->setField("/field/1", "xabc", 3);
    EXPECT_FALSE(injector->canSafelyDeleteInsertedText(pendingIn("abc")));
    focus->setField("/field/1", "xabc", 5);
    EXPECT_FALSE(injector->canSafelyDeleteInsertedText(pendingIn("abc")));
    focus->texts.erase("/field/1");
    EXPECT_FALSE(injector->canSafelyDeleteInsertedText(pendingIn("abc")));
    focus->setField("/field/1", "xabc", 4);
    focus->ranges.erase("/field/1");
    EXPECT_FALSE(injector->canSafelyDeleteInsertedText(pendingIn("abc")));
    focus->setField("/field/1", "xabc", 4);
    EXPECT_TRUE(injector->canSafelyDeleteInsertedText(pendingIn("abc")));
}

TEST_F(PasteInjectorTest, UndoAfterTheFocusMovedDeletesNothing) {
    const PendingInjection pending = pendingIn("abc");
    focus->focusApp("gedit", "Gedit", 100, "/field/2");
    injector->undoInsertedText(pending);
    EXPECT_TRUE(keys->posted.empty());
    EXPECT_EQ(logs, std::vector<std::string>{"✖ 已取消(当前输入焦点已变化,输入框文本请手动删除)"});
}

}  // namespace
}  // namespace vurin
