#include "injection/paste_injector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "injection/focus_verification.h"
#include "injection/paste_keystroke.h"
#include "support/fake_desktop.h"
#include "support/log.h"
#include "support/sound.h"
#include "support/virtual_main_queue.h"

namespace vurin::testing {
namespace {

using Items = std::vector<ClipboardItem>;
constexpr auto kClipboard = ClipboardSelection::clipboard;
constexpr auto kPrimary = ClipboardSelection::primary;
// The user's clipboard: several items and formats, binary bytes included.
const Items kRich = {
    ClipboardItem{.values = {{"text/plain", "hello"}, {"image/png", std::string("\x89PNG\0", 5)}}},
    ClipboardItem{.values = {{"application/x-custom", std::string("\0\1", 2)}}},
};

// Records everything the injector does (strokes with both selections as they are pasted, host
// calls, log lines, cues, pauses), stamped with the virtual time in milliseconds.
class PasteInjectorTest : public ::testing::Test, public SoundOutput {
  public:
    bool play(const std::string& name, float) override {
        note("cue " + name);
        return true;
    }

  protected:
    void TearDown() override {
        installSoundOutput(nullptr, nullptr);
        setLogObserver(nullptr);
    }
    // Gedit in front, the user's content in both selections, a paste of "a" pending.
    void fresh() {
        queue = std::make_shared<VirtualMainQueue>();
        focus = std::make_shared<FakeFocusReader>();
        clipboard = std::make_shared<FakeClipboard>();
        keys = std::make_shared<FakeKeystrokeSender>();
        host = std::make_shared<FakeInjectionHost>();
        trace.clear();
        injector = std::make_shared<PasteInjector>(queue, focus, clipboard, keys);
        installSoundOutput(std::shared_ptr<SoundOutput>(std::shared_ptr<void>(), this), queue);
        host->record = [this](const std::string& what) { note(what); };
        setLogObserver(host->record);
        keys->onPost = [this](Keystroke key) {
            const std::string names[] = {"Ctrl+V", "Shift+Insert", "Ctrl+Shift+V", "Return",
                                         "BackSpace"};
            const bool paste = key <= Keystroke::pasteControlShiftV;
            note(names[static_cast<int>(key)] + (paste ? " " + held() : ""));
        };
        keys->onType = [this](const std::string& text) { note("type " + text); };
        focus->focusApp("gedit", "Gedit", 100, "/field/1");
        clipboard->copyByOtherProgram(kClipboard, kRich);
        clipboard->copyByOtherProgram(kPrimary, {FakeClipboard::textItem("selected")});
        pending = {.text = "a", .target = *currentInjectionTarget(*focus)};
    }
    void note(const std::string& what) {
        trace += (trace.empty() ? "" : ", ") + std::to_string(std::lround(queue->now() * 1000)) +
                 " " + what;
    }
    // "clipboard|primary"
    std::string held() {
        const auto text = [this](ClipboardSelection selection) {
            const Items& items = clipboard->contents(selection);
            return items == kRich ? "rich" : items.at(0).values.at(0).second;
        };
        return text(kClipboard) + "|" + text(kPrimary);
    }
    void copy(ClipboardSelection selection, const std::string& text) {
        clipboard->copyByOtherProgram(selection, {FakeClipboard::textItem(text)});
    }

    std::shared_ptr<VirtualMainQueue> queue;
    std::shared_ptr<FakeFocusReader> focus;
    std::shared_ptr<FakeClipboard> clipboard;
    std::shared_ptr<FakeKeystrokeSender> keys;
    std::shared_ptr<FakeInjectionHost> host;
    std::shared_ptr<PasteInjector> injector;
    PendingInjection pending;
    std::string trace;
    // What a row's script can do ("name@milliseconds", at 0 without a time).
    const std::map<std::string, std::function<void()>> actions = {
        {"paste", [this] { injector->inject("text", host); }},
        {"pasteAgain", [this] { injector->inject("second", host); }},
        {"pasteLines", [this] { injector->inject("one\r\ntwo\tthree\n", host); }},
        {"copy", [this] { copy(kClipboard, "copied"); }},
        {"lateCopy",
         [this] { clipboard->copyUnnoticed(kClipboard, {FakeClipboard::textItem("copied")}); }},
        {"ahead", [this] { injector->textComing(); }},
        {"select", [this] { copy(kPrimary, "new"); }},
        {"cancel", [this] { ++host->attempt; }},
        {"dropHost", [this] { host.reset(); }},
        {"typed",
         [this] { injector = std::make_shared<PasteInjector>(queue, focus, nullptr, keys); }},
        {"terminal", [this] { focus->focusApp("xterm", "XTerm", 300); }},
        {"firefox", [this] { focus->focusApp("firefox", "firefox", 200, "/entry"); }},
        // A Wayland terminal: a window and an app id, no process, no accessibility.
        {"foot",
         [this] {
             focus->front = FrontApplication{
                 .name = "foot", .classID = "foot", .windowID = 5, .identifiedByWindow = true};
             focus->focused.reset();
         }},
        // A window nothing is known of (kitty where only the accessibility bus names windows).
        {"kitty",
         [this] {
             focus->front = FrontApplication{.name = "无法识别的窗口", .unverifiable = true};
             focus->focused.reset();
         }},
        {"capture", [this] { pending.target = currentInjectionTarget(*focus).value(); }},
        {"accessible", [this] { focus->front->processID = 300; }},
        {"classless", [this] { focus->front->classID.reset(); }},
        {"noFront", [this] { focus->front.reset(); }},
        {"pidless", [this] { focus->front->processID = 0; }},
        {"unnamed", [this] { focus->front->name = ""; }},
        {"nameless", [this] { focus->front = FrontApplication{.processID = 100}; }},
        {"otherClass", [this] { focus->front->classID = "Other"; }},
        {"otherWindow", [this] { focus->front->windowID = 7; }},
        {"elementGone", [this] { focus->focused.reset(); }},
        {"moveAtTheSecondReading",
         [this] {
             focus->onFrontmostRead = [this](int read) {
                 if (read == 2) {
                     focus->front.reset();
                 }
             };
         }},
        {"failKeys", [this] { keys->delivers = 0; }},
        {"partKeys", [this] { keys->delivers = 1; }},
        {"unmapped", [this] { keys->why = "布局打不出「e」"; }},
        // The keys take a while (a portal asks the user first); a press comes in meanwhile.
        {"slowKeys", [this] { keys->holdsAnswers = true; }},
        {"answer",
         [this] {
             for (auto& [outcome, done] : std::exchange(keys->held, {})) {
                 done(outcome);
             }
         }},
        {"press", [this] { queue->post([this] { note("down"); }); }},
        {"noPrimary", [this] { clipboard->primary = false; }},
        // A clipboard that tells of each read of Vurin's text (and, when it can, the reader).
        {"reporting",
         [this] {
             clipboard->reporting = true;
             injector = std::make_shared<PasteInjector>(queue, focus, clipboard, keys);
         }},
        {"read", [this] { clipboard->readBy(kClipboard, "text/plain;charset=utf-8", 100); }},
        {"readTargets", [this] { clipboard->readBy(kClipboard, "TARGETS", 100); }},
        {"managerRead", [this] { clipboard->readBy(kClipboard, "text/plain", 999); }},
        {"anonymousRead", [this] { clipboard->readBy(kClipboard, "text/plain", 0); }},
        {"manager", [this] { clipboard->everyWriteReader = 0; }},
        {"namedManager", [this] { clipboard->everyWriteReader = 999; }},
        {"quit", [this] { injector->finish(); }},
        {"refuseWrites", [this] { clipboard->refusesWrites = true; }},
        {"unreadable", [this] { clipboard->unreadable.insert(kClipboard); }},
        {"unreadablePrimary", [this] { clipboard->unreadable.insert(kPrimary); }},
        {"down", [this] { clipboard->up = false; }},
        // A key goes down whenever the clipboard waits, the wait runs the main queue, and the key
        // comes up right after it.
        {"keyWhileWaiting",
         [this] {
             clipboard->whileWaiting = [this] {
                 queue->post([this] { note("down"); });
                 queue->runPending();
                 queue->post([this] { note("up"); });
             };
         }},
        {"send",
         [this] {
             injector->sendReturn(pending, [this](SendOutcome outcome) {
                 const char* outcomes[] = {"sent", "target changed", "keystroke failed"};
                 note(outcomes[static_cast<int>(outcome)]);
             });
         }},
        {"undo", [this] { injector->undoInsertedText(pending); }},
        // Two graphemes, five UTF-16 units, right before the caret.
        {"emoji",
         [this] {
             focus->setField("/field/1", "你好👍🏽", 6);
             pending.text = "好👍🏽";
         }},
        {"selection", [this] { focus->setField("/field/1", "xa", 2, 1); }},
        {"otherText", [this] { focus->setField("/field/1", "ab", 2); }},
        {"noCaret", [this] { focus->texts["/field/1"] = "xa"; }},
        {"caretBefore", [this] { focus->setField("/field/1", "", 0); }},
        {"caretBeyond", [this] { focus->setField("/field/1", "a", 5); }},
        {"noElement", [this] { pending.target.focusedElement.reset(); }},
        {"otherField", [this] { focus->focusApp("gedit", "Gedit", 100, "/field/2"); }},
    };
};

TEST_F(PasteInjectorTest, PasteConfirmRestoreSendAndUndoOnTheVirtualClock) {
    const std::string restored = "📋 剪贴板已还原";
    const std::string skipped = "⚠️ 剪贴板在还原前被其他程序修改,跳过还原";
    const auto pastedInto = [&](const std::string& app, const std::string& restore) {
        return "120 confirmed text, 120 📋 已粘贴到「" + app + "」,目标确认成功, 400 " + restore;
    };
    const std::string pasted = "0 Ctrl+V text|selected, ";
    const std::string again = ", 100 Ctrl+V second|selected, 220 confirmed second, 220 " +
                              std::string("📋 已粘贴到「gedit」,目标确认成功, 500 ") + restored;
    const std::string blocked = ", 0 ended, 0 cue Basso";
    const std::string confirmed = "120 confirmed text, 120 📋 已粘贴到「gedit」,目标确认成功";
    const std::string timedOut =
        "⚠️ 目标程序 5 秒内没有读取粘贴的文字,按时还原剪贴板";
    const std::string incomplete =
        "⚠️ "
        "剪贴板内容无法完整读取,为免丢失,不借用剪贴板,改为逐字输入";
    const std::string typedInto = "120 confirmed text, 120 📋 已粘贴到「gedit」,目标确认成功";
    const auto notSent = [](const std::string& reason) {
        return "0 ⏎ 未发送(" + reason + ",请手动确认后回车), 0 cue Bottle, 0 target changed";
    };
    const std::string unverified =
        "0 BackSpace, 0 ✖ 已取消,删除刚插入的 1 个字(AX 无法校验,按插入末尾处理)";
    // Each row: a script, then the trace and (when they differ from the user's) both selections.
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"paste", pasted + pastedInto("gedit", restored)},
        {"unnamed paste", pasted + pastedInto("Gedit", restored)},
        {"nameless paste", pasted + pastedInto("未知应用", restored)},
        {"paste copy@300", pasted + pastedInto("gedit", skipped) + " => copied|selected"},
        {"paste cancel@50", pasted + "400 " + restored},
        {"paste dropHost@50", pasted + "400 " + restored},
        // A second paste first brings back what the first borrowed, then saves that.
        {"paste pasteAgain@100", pasted + "100 " + restored + again},
        {"paste copy@100 pasteAgain@100",
         pasted + "100 " + skipped + again + " => copied|selected"},
        {"paste firefox@50",
         pasted + "120 ended, 120 ⚠️ 已投递粘贴,但焦点已从「gedit」切到" +
             "「firefox」;为避免误发送,不会进入待发送状态, 120 cue Bottle, " + "400 " + restored},
        {"terminal paste", "0 Shift+Insert text|text, " + pastedInto("xterm", restored)},
        {"terminal paste select@300",
         "0 Shift+Insert text|text, " + pastedInto("xterm", restored) + " => rich|new"},
        {"noFront paste", "0 ❌ 没有可注入的前台应用,已阻止粘贴" + blocked},
        {"pidless paste", "0 ❌ 没有可注入的前台应用,已阻止粘贴" + blocked},
        {"moveAtTheSecondReading paste", "0 ❌ 输入焦点在准备粘贴时发生变化,已阻止注入" + blocked},
        {"keyWhileWaiting paste", "0 Ctrl+V text|selected, 0 down, 0 up, " +
                                      pastedInto("gedit", restored) + ", 400 down, 400 up"},
        {"failKeys paste", "0 ❌ 合成 Ctrl+V 失败,已还原剪贴板, 0 ended"},
        {"refuseWrites paste", "0 ❌ 剪贴板写入失败,没有粘贴, 0 ended"},
        // A clipboard that could not be put back whole, or is down, is not borrowed: typed.
        {"unreadable paste", "0 " + incomplete + ", 0 type text, " + typedInto},
        {"unreadablePrimary paste", "0 Ctrl+V text|selected, " + pastedInto("gedit", restored)},
        {"unreadablePrimary terminal paste", "0 " + incomplete + ", 0 type text, " +
                                                 "120 confirmed text, 120 📋 已粘贴到「xterm」," +
                                                 "目标确认成功"},
        // Read while the services work, the user's clipboard is not read again at the paste,
        // unless it changed since, or might have (a notice still on its way).
        {"ahead unreadable paste", pasted + pastedInto("gedit", restored)},
        {"ahead copy paste", pasted + pastedInto("gedit", restored) + " => copied|selected"},
        {"ahead lateCopy paste", pasted + pastedInto("gedit", restored) + " => copied|selected"},
        {"ahead lateCopy unreadable paste",
         "0 " + incomplete + ", 0 type text, " + typedInto + " => copied|selected"},
        {"down paste",
         "0 ⚠️ 剪贴板暂时不可用(正在重新连接),改为逐字输入, 0 type text, " +
             typedInto},
        // No clipboard to borrow: typed, confirmed the same way, the clipboard never touched.
        {"typed paste copy@300", "0 type text, 120 confirmed text, 120 📋 已粘贴到「gedit」," +
                                     std::string("目标确认成功 => copied|selected")},
        {"typed failKeys paste", "0 type text, 0 ❌ 逐字输入失败,文字没有送达, 0 ended"},
        // What arrived of a text typed in part is what a click sends and a double click removes.
        {"typed partKeys paste",
         "0 type text, 0 ⚠️ 逐字输入中断:4 个字只送达了前 1 个, " +
             std::string("120 confirmed t, 120 📋 已粘贴到「gedit」,目标确认成功")},
        // A press during the wait for the keys is handled after them.
        {"slowKeys paste press@50 answer@80",
         "0 Ctrl+V text|selected, 80 down, 200 confirmed text, 200 📋 "
         "已粘贴到「gedit」,目标确认成功, " +
             std::string("480 ") + restored},
        {"noPrimary foot paste", "0 Ctrl+Shift+V text|selected, " + pastedInto("foot", restored)},
        // Where reads are reported, the clipboard comes back 50 ms after the target's read of
        // the text, or after 5 s without one; a clipboard manager's read does not count, by its
        // process where the reader is named, by coming before the keystroke where not.
        {"reporting paste read@1500", pasted + confirmed + ", 1550 " + restored},
        {"reporting paste readTargets@200 managerRead@300 read@1500",
         pasted + confirmed + ", 1550 " + restored},
        {"reporting manager paste anonymousRead@1500", pasted + confirmed + ", 1550 " + restored},
        // Seen reading before a keystroke, a reader is known for what it is after the next one.
        {"reporting foot namedManager paste pasteAgain@1000 managerRead@1100 anonymousRead@1500",
         "0 Shift+Insert text|text, 120 confirmed text, 120 📋 已粘贴到「foot」,目标确认成功, "
         "1000 " +
             restored +
             ", 1000 Shift+Insert second|second, 1120 confirmed second, 1120 📋 已粘贴到「foot」," +
             "目标确认成功, 1550 " + restored},
        {"reporting paste", pasted + confirmed + ", 5000 " + timedOut + ", 5000 " + restored},
        {"reporting paste read@100 read@140", pasted + "120 confirmed text, 120 📋 已粘贴到" +
                                                  std::string("「gedit」,目标确认成功, 190 ") +
                                                  restored},
        {"reporting paste copy@1000 read@1500",
         pasted + confirmed + ", 1550 " + skipped + " => copied|selected"},
        // A new dictation while the clipboard is lent first brings it back; so does quitting.
        {"reporting paste pasteAgain@1000",
         pasted + confirmed + ", 1000 " + restored + ", 1000 Ctrl+V second|selected, 1120 " +
             "confirmed second, 1120 📋 已粘贴到「gedit」,目标确认成功, 6000 " + timedOut +
             ", 6000 " + restored},
        {"reporting paste quit@1000", pasted + confirmed + ", 1000 " + restored},
        // Typed, a line break would be a Return (a message sent half-way), a tab leaves the field.
        {"typed pasteLines", "0 type one two three , 120 confirmed one two three , 120 📋 已粘贴到" +
                                 std::string("「gedit」,目标确认成功")},
        {"send", "0 Return, 0 ⏎ 已发送到「gedit」, 0 cue Tink, 0 sent"},
        {"failKeys send", "0 ❌ 合成回车失败, 0 keystroke failed"},
        {"firefox send", notSent("焦点已从「gedit」切到「firefox」")},
        {"foot paste", "0 Shift+Insert text|text, " + pastedInto("foot", restored)},
        {"foot classless paste", "0 ❌ 没有可注入的前台应用,已阻止粘贴" + blocked},
        // A process is compared only when both sides know it.
        {"foot capture accessible send", "0 Return, 0 ⏎ 已发送到「foot」, 0 cue Tink, 0 sent"},
        {"foot capture otherWindow send", notSent("焦点已切到「foot」的另一个窗口")},
        {"foot capture firefox send", notSent("焦点已从「foot」切到「firefox」")},
        {"noFront send", notSent("当前没有可确认的文本输入焦点")},
        // It gets the text (Shift+Insert pastes in fields and terminals alike), never a send.
        {"kitty paste",
         "0 Shift+Insert text|text, 120 ended, 120 ⚠️ "
         "已投递粘贴,但前台窗口没有无障碍信息," +
             std::string("无法确认它还是原来的目标;为避免误发送,不会进入待发送状态, 400 ") +
             restored},
        {"noPrimary kitty paste",
         "0 Ctrl+V text|selected, 120 ended, 120 ⚠️ "
         "已投递粘贴,但前台窗口没有无障碍信息," +
             std::string("无法确认它还是原来的目标;为避免误发送,不会进入待发送状态, 400 ") +
             restored},
        {"kitty send", notSent("焦点已切到一个没有无障碍信息的窗口")},
        {"otherClass send", notSent("前台应用已变化")},
        {"otherWindow send", notSent("焦点已切到「gedit」的另一个窗口")},
        {"elementGone send", notSent("当前输入焦点不可确认")},
        {"emoji undo", "0 BackSpace, 0 BackSpace, 0 ✖ 已取消,并删除刚插入的 2 个字"},
        {"emoji partKeys undo",
         "0 BackSpace, 0 ✖ 已取消,但刚插入的 2 个字只删除了 1 个(按键没有全部送达,其余请手动删除)"},
        {"undo", unverified},
        {"selection undo", unverified},
        {"otherText undo", unverified},
        {"caretBefore undo", unverified},
        {"caretBeyond undo", unverified},
        {"noCaret undo", unverified},
        {"noElement undo", unverified},  // a target without an element accepts any field
        {"otherField undo", "0 ✖ 已取消(当前输入焦点已变化,输入框文本请手动删除)"},
    };
    for (const auto& [script, expected] : rows) {
        SCOPED_TRACE(script);
        fresh();
        std::istringstream steps(script);
        for (std::string step; steps >> step;) {
            const auto at = step.find('@');
            queue->advance((at == std::string::npos ? 0 : std::stoi(step.substr(at + 1)) / 1000.0) -
                           queue->now());
            actions.at(step.substr(0, at))();
        }
        queue->advance(7 - queue->now());
        EXPECT_EQ(trace + (held() == "rich|selected" ? "" : " => " + held()), expected);
    }
}

// Wayland terminals are known by their app id alone: there is no WM_CLASS to fall back on.
TEST(PasteKeystrokeTest, TerminalsAreKnownByTheirWaylandAppIds) {
    std::istringstream appIds(
        "foot footclient kitty Alacritty org.wezfurlong.wezterm com.mitchellh.ghostty "
        "org.gnome.Terminal org.gnome.Ptyxis org.kde.konsole");
    for (std::string appId; appIds >> appId;) {
        SCOPED_TRACE(appId);
        EXPECT_EQ(pasteKeystrokeFor({.bundleID = appId}).keystroke, Keystroke::pasteShiftInsert);
    }
}

}  // namespace
}  // namespace vurin::testing
