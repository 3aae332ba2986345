// The controller and the real injector together: who logs, who plays and who changes state.
#include <gtest/gtest.h>

#include <algorithm>

#include "injection/paste_injector.h"
#include "support/app_controller_fixture.h"
#include "support/fake_desktop.h"

namespace vurin::testing {
namespace {

class PasteThroughController : public AppControllerFixture {
  protected:
    PasteThroughController() { injectorInUse = paste; }
    void SetUp() override {
        AppControllerFixture::SetUp();
        focus->focusApp("gedit", "Gedit", 100, "/field/1");
        launch();
    }
    // A dictation whose result arrives for pasting.
    void dictate() {
        pressLong();
        release();
        finishRecording(makeRecordingFile(), 1.0);
        ASSERT_TRUE(runner->lastHooks.has_value());
        runner->lastHooks->inject("hello");
    }
    long played(const std::string& cue) const {
        return std::count(sound->played.begin(), sound->played.end(), cue);
    }
    void expectIdle() {
        EXPECT_EQ(controller->appState(), AppState::idle);
        EXPECT_FALSE(controller->pending().has_value());
    }

    std::shared_ptr<FakeFocusReader> focus = std::make_shared<FakeFocusReader>();
    std::shared_ptr<FakeKeystrokeSender> keys = std::make_shared<FakeKeystrokeSender>();
    std::shared_ptr<PasteInjector> paste = std::make_shared<PasteInjector>(
        queue, focus, std::make_shared<FakeClipboard>(), keys, [](std::chrono::microseconds) {});
};

struct AfterPaste {
    const char* name;
    bool focusMoved, doubleClick;
    std::vector<Keystroke> keys;  // after Ctrl+V
    std::string logged, cue;
};

class AConfirmedPaste : public PasteThroughController,
                        public ::testing::WithParamInterface<AfterPaste> {};

TEST_P(AConfirmedPaste, WaitsForTheTriggerThenEndsWithOneLineAndOneCue) {
    dictate();
    queue->advance(0.15);
    EXPECT_EQ(controller->appState(), AppState::pendingSend);
    ASSERT_TRUE(controller->pending().has_value());
    EXPECT_EQ(controller->pending()->text, "hello");
    EXPECT_EQ(countLog("📋 已粘贴到「gedit」,目标确认成功"), 1);
    const AfterPaste& row = GetParam();
    const long cues = played(row.cue);
    if (row.focusMoved) {
        focus->focusApp("firefox", "firefox", 200, "/entry");
    }
    row.doubleClick ? doubleClick() : singleClick();
    auto expected = row.keys;
    expected.insert(expected.begin(), Keystroke::pasteControlV);
    EXPECT_EQ(keys->posted, expected);
    EXPECT_EQ(countLog(row.logged), 1);
    EXPECT_EQ(played(row.cue), cues + 1);
    expectIdle();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AConfirmedPaste,
    ::testing::Values(
        AfterPaste("Sent", false, false, {Keystroke::returnKey}, "⏎ 已发送到「gedit」", "Tink"),
        AfterPaste("NotSentAfterAFocusChange", true, false, {},
                   "⏎ 未发送(焦点已从「gedit」切到「firefox」,请手动确认后回车)", "Bottle"),
        AfterPaste("TakenBackByADoubleClick", false, true, std::vector(5, Keystroke::backspace),
                   "✖ 已取消,删除刚插入的 5 个字(AX 无法校验,按插入末尾处理)", "Bottle")),
    [](const auto& info) { return info.param.name; });

TEST_F(PasteThroughController, ACancelBeforeTheConfirmationLeavesNoPending) {
    dictate();
    queue->advance(0.05);
    controller->cancel();
    queue->advance(0.1);
    expectIdle();
    EXPECT_EQ(countLog("📋 已粘贴到「gedit」,目标确认成功"), 0);
    queue->advance(0.3);
    EXPECT_EQ(countLog("📋 剪贴板已还原"), 1);
}

TEST_F(PasteThroughController, ABlockedPasteReturnsToIdleWithOneErrorCue) {
    focus->front.reset();
    dictate();
    expectIdle();
    EXPECT_EQ(countLog("❌ 没有可注入的前台应用,已阻止粘贴"), 1);
    EXPECT_EQ(played("Basso"), 1);
}

}  // namespace
}  // namespace vurin::testing
