#include "injection/paste_injector.h"

#include <gtest/gtest.h>

#include "injection/focus_verification.h"
#include "injection/paste_keystroke.h"
#include "support/app_fakes.h"
#include "support/fake_desktop.h"
#include "support/sound.h"
#include "support/testing.h"
#include "support/virtual_main_queue.h"

namespace vurin::testing {
namespace {

using Items = std::vector<ClipboardItem>;
using Lines = std::vector<std::string>;
constexpr auto kClipboard = ClipboardSelection::clipboard;
constexpr auto kPrimary = ClipboardSelection::primary;
const Items kRich = {
    ClipboardItem{.values = {{"text/plain", "hello"},
                             {"text/html", "<b>hello</b>"},
                             {"image/png", std::string("\x89PNG\r\n\x1a\n\0\xff", 10)}}},
    ClipboardItem{},
    ClipboardItem{.values = {{"application/x-custom", std::string("\0\1\2", 3)}}},
};
const std::string kConfirmed = "📋 已粘贴到「gedit」,目标确认成功";
const std::string kRestored = "📋 剪贴板已还原";
const std::string kSkipped = "⚠️ 剪贴板在还原前被其他程序修改,跳过还原";

Items text(const std::string& value) {
    return {FakeClipboard::textItem(value)};
}

class PasteInjectorTest : public ::testing::Test {
  public:
    // What happens around a paste, for the tables.
    void nothing() {}
    void copy() { clipboard->copyByOtherProgram(kClipboard, text("copied")); }
    void select() { clipboard->copyByOtherProgram(kPrimary, text("newly selected")); }
    void emptyClipboard() { clipboard->copyByOtherProgram(kClipboard, {}); }
    void cancel() { host->cancel(); }
    void dropHost() { host.reset(); }
    void copyAndPasteAgain() {
        copy();
        inject("second");
    }
    void noFrontApplication() { focus->front.reset(); }
    void moveFocusAtTheSecondReading() {
        focus->onFrontmostRead = [this](int read) {
            if (read == 2) {
                focus->focusApp("firefox", "firefox", 200, "/entry");
            }
        };
    }
    void failKeystrokes() { keys->succeeds = false; }
    void failTerminalKeystrokes() {
        focusTerminal();
        failKeystrokes();
    }

  protected:
    using T = PasteInjectorTest;
    using Action = void (T::*)();

    void SetUp() override { fresh(); }
    void TearDown() override { installSoundOutput(nullptr, nullptr); }
    // Everything anew, gedit in front; the clipboard and the primary selection hold the
    // user's content.
    void fresh() {
        queue = std::make_shared<VirtualMainQueue>();
        focus = std::make_shared<FakeFocusReader>();
        clipboard = std::make_shared<FakeClipboard>();
        keys = std::make_shared<FakeKeystrokeSender>();
        host = std::make_shared<FakeInjectionHost>();
        sound->played.clear();
        pauses.clear();
        logs.clear();
        injector = std::make_shared<PasteInjector>(
            queue, focus, clipboard, keys, [this](std::chrono::microseconds pause) {
                pauses.push_back(std::to_string(pause.count()) + "us after " +
                                 std::to_string(keys->posted.size()));
            });
        installSoundOutput(sound, queue);
        focus->focusApp("gedit", "Gedit", 100, "/field/1");
        clipboard->copyByOtherProgram(kClipboard, kRich);
        clipboard->copyByOtherProgram(kPrimary, text("selected"));
    }
    void focusTerminal() { focus->focusApp("xterm", "XTerm", 300); }
    void inject(const std::string& text) { injector->inject(text, host); }
    // Moves the virtual clock to `seconds` after the start.
    void at(double seconds) { queue->advance(seconds - queue->now()); }
    PendingInjection pendingIn(const std::string& text) {
        return PendingInjection{.text = text, .target = *currentInjectionTarget(*focus)};
    }

    LogCapture logs;
    std::shared_ptr<VirtualMainQueue> queue;
    std::shared_ptr<FakeFocusReader> focus;
    std::shared_ptr<FakeClipboard> clipboard;
    std::shared_ptr<FakeKeystrokeSender> keys;
    std::shared_ptr<FakeSoundOutput> sound = std::make_shared<FakeSoundOutput>();
    std::shared_ptr<FakeInjectionHost> host;
    std::shared_ptr<PasteInjector> injector;
    Lines pauses;
};

TEST_F(PasteInjectorTest, PastesWithControlVConfirmsAt120msAndRestoresTheRichClipboardAt400ms) {
    Items atPaste;
    keys->onPost = [&](Keystroke) { atPaste = clipboard->contents(kClipboard); };
    inject("你好");
    EXPECT_EQ(keys->posted, std::vector{Keystroke::pasteControlV});
    EXPECT_EQ(atPaste, text("你好"));
    EXPECT_EQ(host->attempt, 1);
    at(0.119);
    EXPECT_TRUE(host->calls.empty());  // nothing changes state before the confirmation
    at(0.121);
    ASSERT_EQ(host->calls, Lines{"confirmed"});
    EXPECT_EQ(host->pending->text, "你好");
    EXPECT_EQ(host->pending->target.appName, "gedit");
    EXPECT_EQ(host->pending->target.focusedElement, FakeFocusReader::element("/field/1"));
    at(0.399);
    EXPECT_EQ(clipboard->contents(kClipboard), text("你好"));
    EXPECT_EQ(logs.lines(), Lines{kConfirmed});
    at(0.401);
    EXPECT_EQ(clipboard->contents(kClipboard), kRich);
    EXPECT_EQ(logs.lines(), (Lines{kConfirmed, kRestored}));
    EXPECT_TRUE(sound->played.empty());
    // An ordinary paste never touches the primary selection.
    EXPECT_EQ(clipboard->reads[kPrimary], 0);
    EXPECT_EQ(clipboard->changeCount(kPrimary), 1);
}

TEST_F(PasteInjectorTest, TheRestorePutsBackEachSelectionUnlessItChangedMeanwhile) {
    const std::string inXterm = "📋 已粘贴到「xterm」,目标确认成功";
    const Items selected = text("selected");
    struct Case {
        const char* name;
        bool terminal;
        double when;  // 0: before the paste
        Action meanwhile;
        Items clipboard, primary;
        Lines logged;
    } const cases[] = {
        Case("empty clipboard", false, 0, &T::emptyClipboard, {}, selected,
             {kConfirmed, kRestored}),
        Case("a copy", false, 0.3, &T::copy, text("copied"), selected, {kConfirmed, kSkipped}),
        Case("a cancel before the confirmation", false, 0.05, &T::cancel, kRich, selected,
             {kRestored}),
        Case("a host that is gone", false, 0.05, &T::dropHost, kRich, selected, {kRestored}),
        Case("a copy between two pastes", false, 0.1, &T::copyAndPasteAgain, text("copied"),
             selected, {kConfirmed, kSkipped, kRestored}),
        Case("a terminal's both selections", true, 0, &T::nothing, kRich, selected,
             {inXterm, kRestored}),
        Case("a terminal's new selection", true, 0.3, &T::select, kRich, text("newly selected"),
             {inXterm, kRestored}),
        Case("a terminal's new copy", true, 0.3, &T::copy, text("copied"), selected,
             {inXterm, kSkipped}),
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        fresh();
        if (row.terminal) {
            focusTerminal();
        }
        if (row.when == 0) {
            (this->*row.meanwhile)();
        }
        inject("text");
        at(row.when);
        if (row.when > 0) {
            (this->*row.meanwhile)();
        }
        at(0.6);
        EXPECT_EQ(clipboard->contents(kClipboard), row.clipboard);
        EXPECT_EQ(clipboard->contents(kPrimary), row.primary);
        EXPECT_EQ(logs.lines(), row.logged);
        if (host) {  // confirmed exactly when its line was logged
            EXPECT_EQ(host->calls, row.logged[0] == kRestored ? Lines{} : Lines{"confirmed"});
        }
    }
}

TEST_F(PasteInjectorTest, ATerminalGetsShiftInsertWithTheTextInBothSelections) {
    focusTerminal();
    Items atPaste;
    keys->onPost = [&](Keystroke) {
        atPaste = clipboard->contents(kClipboard);
        atPaste.push_back(clipboard->contents(kPrimary).at(0));
    };
    inject("ls -la");
    EXPECT_EQ(keys->posted, std::vector{Keystroke::pasteShiftInsert});
    EXPECT_EQ(atPaste, Items(2, FakeClipboard::textItem("ls -la")));
}

TEST_F(PasteInjectorTest, OfTwoPastesLessThanTheConfirmationApartOnlyTheSecondIsConfirmed) {
    inject("first");
    at(0.1);
    inject("second");
    EXPECT_EQ(host->attempt, 2);
    at(0.2);  // the first's confirmation is due, but stale
    EXPECT_TRUE(host->calls.empty());
    at(0.221);
    EXPECT_EQ(host->calls, Lines{"confirmed"});
    EXPECT_EQ(host->pending->text, "second");
    at(0.401);  // the second paste moved the count on
    EXPECT_EQ(logs.lines(), (Lines{kConfirmed, kSkipped}));
    EXPECT_EQ(clipboard->contents(kClipboard), text("second"));
    at(0.501);  // the user's own content comes back, not the first dictation
    EXPECT_EQ(logs.lines(), (Lines{kConfirmed, kSkipped, kRestored}));
    EXPECT_EQ(clipboard->contents(kClipboard), kRich);
}

TEST_F(PasteInjectorTest, SwitchingApplicationsBeforeTheConfirmationAbandonsThePending) {
    inject("text");
    at(0.05);
    focus->focusApp("firefox", "firefox", 200, "/entry");
    at(0.121);
    EXPECT_EQ(host->calls, Lines{"ended"});
    EXPECT_EQ(logs.lines(),
              Lines{"⚠️ 已投递粘贴,但焦点已从「gedit」切到「firefox」;"
                    "为避免误发送,不会进入待发送状态"});
    EXPECT_EQ(sound->played, Lines{"Bottle"});
    at(0.401);
    EXPECT_EQ(clipboard->contents(kClipboard), kRich);
}

TEST_F(PasteInjectorTest, ABlockedOrFailedPasteEndsAtOnceWithTheClipboardAsItWas) {
    struct Case {
        Action setUp;
        std::string logged;
        Lines played;
        int attempts;
    } const cases[] = {
        Case(&T::noFrontApplication, "❌ 没有可注入的前台应用,已阻止粘贴", {"Basso"}, 0),
        Case(&T::moveFocusAtTheSecondReading, "❌ 输入焦点在准备粘贴时发生变化,已阻止注入",
             {"Basso"}, 0),
        Case(&T::failKeystrokes, "❌ 合成 Ctrl+V 失败,已还原剪贴板", {}, 1),
        Case(&T::failTerminalKeystrokes, "❌ 合成 Shift+Insert 失败,已还原剪贴板", {}, 1),
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.logged);
        fresh();
        (this->*row.setUp)();
        inject("text");
        EXPECT_EQ(logs.lines(), Lines{row.logged});
        EXPECT_EQ(sound->played, row.played);
        EXPECT_EQ(host->calls, Lines{"ended"});
        EXPECT_EQ(host->attempt, row.attempts);
        EXPECT_TRUE(keys->posted.empty());
        EXPECT_EQ(clipboard->contents(kClipboard), kRich);
        EXPECT_EQ(clipboard->contents(kPrimary), text("selected"));
        EXPECT_EQ(queue->pendingCount(), 0U);
    }
}

TEST_F(PasteInjectorTest, AFailedReturnKeystrokeIsReportedWithoutACue) {
    keys->succeeds = false;
    EXPECT_EQ(injector->sendReturn(pendingIn("hello")), SendOutcome::keystrokeFailed);
    EXPECT_EQ(logs.lines(), Lines{"❌ 合成回车失败"});
    EXPECT_TRUE(sound->played.empty());
}

TEST_F(PasteInjectorTest, UndoDeletesOneBackspacePerGraphemeAndSaysWhetherItCouldVerify) {
    const std::string unverified = "✖ 已取消,删除刚插入的 3 个字(AX 无法校验,按插入末尾处理)";
    struct Case {
        std::optional<std::string> field;  // absent: the field shows no text
        long caret, selected;              // a negative caret: none to read
        std::string text;
        std::size_t backspaces;
        std::string logged;
    } const cases[] = {
        // "好👍🏽": two characters, five UTF-16 code units, after "你".
        {"你好👍🏽", 6, 0, "好👍🏽", 2, "✖ 已取消,并删除刚插入的 2 个字"},
        {"abc", 3, 0, "", 0, "✖ 已取消,并删除刚插入的 0 个字"},
        {std::nullopt, 4, 0, "abc", 3, unverified},
        {"xabc", 4, 1, "abc", 3, unverified},
        {"xabc", 3, 0, "abc", 3, unverified},
        {"xabc", 5, 0, "abc", 3, unverified},
        {"xabc", -1, 0, "abc", 3, unverified},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.field.value_or("no text") + " @" + std::to_string(row.caret));
        fresh();
        if (row.field) {
            focus->setField("/field/1", *row.field, row.caret, row.selected);
        }
        if (row.caret < 0) {
            focus->ranges.clear();
        }
        injector->undoInsertedText(pendingIn(row.text));
        EXPECT_EQ(keys->posted, std::vector(row.backspaces, Keystroke::backspace));
        Lines eachPause;
        for (std::size_t stroke = 1; stroke <= row.backspaces; ++stroke) {
            eachPause.push_back("1500us after " + std::to_string(stroke));
        }
        EXPECT_EQ(pauses, eachPause);
        EXPECT_EQ(logs.lines(), Lines{row.logged});
        EXPECT_TRUE(sound->played.empty()) << "the controller plays the cancel cue";
    }
    fresh();
    const PendingInjection pending = pendingIn("abc");
    focus->focusApp("gedit", "Gedit", 100, "/field/2");
    injector->undoInsertedText(pending);
    EXPECT_TRUE(keys->posted.empty());
    focusTerminal();  // no element: xterm is never on the accessibility bus
    injector->undoInsertedText(pendingIn("abc"));
    EXPECT_EQ(keys->posted.size(), 3u);
    EXPECT_EQ(logs.lines(),
              (Lines{"✖ 已取消(当前输入焦点已变化,输入框文本请手动删除)", unverified}));
}

TEST_F(PasteInjectorTest, EmptyTextIsPastedAndConfirmed) {
    inject("");
    EXPECT_EQ(clipboard->contents(kClipboard), text(""));
    at(0.401);
    ASSERT_TRUE(host->pending.has_value());
    EXPECT_EQ(host->pending->text, "");
}

TEST(PasteKeystroke, TerminalsAreKnownByTheirWindowClassInAnyCase) {
    for (const char* terminal : {"XTerm", "xterm", "Gnome-terminal", "konsole", "kitty",
                                 "Alacritty", "org.wezfurlong.wezterm", "foot", "Tilix",
                                 "Terminator", "Xfce4-terminal", "URxvt", "st-256color"}) {
        EXPECT_TRUE(isTerminalEmulator(std::string(terminal))) << terminal;
    }
    for (const char* other : {"Gedit", "firefox", "", "xterm ", "xterminal", "kate"}) {
        EXPECT_FALSE(isTerminalEmulator(std::string(other))) << other;
    }
    EXPECT_FALSE(isTerminalEmulator(std::nullopt));
}

}  // namespace
}  // namespace vurin::testing
