#include <gtest/gtest.h>

#include <algorithm>

#include "injection/paste_injector.h"
#include "support/app_controller_fixture.h"
#include "support/fake_desktop.h"

namespace vurin::testing {
namespace {

// The controller and the real injector together: who logs, who plays and who changes state.
class PasteThroughController : public AppControllerFixture {
  protected:
    PasteThroughController() { injectorInUse = paste; }

    void SetUp() override {
        AppControllerFixture::SetUp();
        focus->focusApp("gedit", "Gedit", 100, "/field/1");
        launch();
    }

    // A dictation whose result arrives for pasting.
    void dictate(const std::string& text) {
        pressLong();
        release();
        finishRecording(makeRecordingFile(), 1.0);
        ASSERT_TRUE(runner->lastHooks.has_value());
        runner->lastHooks->inject(text);
    }
    int played(const std::string& name) const {
        return static_cast<int>(std::count(sound->played.begin(), sound->played.end(), name));
    }

    std::shared_ptr<FakeFocusReader> focus = std::make_shared<FakeFocusReader>();
    std::shared_ptr<FakeClipboard> clipboard = std::make_shared<FakeClipboard>();
    std::shared_ptr<FakeKeystrokeSender> keys = std::make_shared<FakeKeystrokeSender>();
    std::shared_ptr<PasteInjector> paste = std::make_shared<PasteInjector>(
        queue, focus, clipboard, keys, [](std::chrono::microseconds) {});
};

TEST_F(PasteThroughController, ConfirmedPasteWaitsForSendAndAClickSendsIt) {
    dictate("hello");
    queue->advance(0.15);
    EXPECT_EQ(controller->appState(), AppState::pendingSend);
    ASSERT_TRUE(controller->pending().has_value());
    EXPECT_EQ(controller->pending()->text, "hello");
    EXPECT_EQ(countLog("📋 已粘贴到「gedit」,目标确认成功"), 1);

    singleClick();
    EXPECT_EQ(keys->posted, (std::vector{Keystroke::pasteControlV, Keystroke::returnKey}));
    EXPECT_EQ(countLog("⏎ 已发送到「gedit」"), 1);
    EXPECT_EQ(played("Tink"), 1);
    EXPECT_EQ(controller->appState(), AppState::idle);
    EXPECT_FALSE(controller->pending().has_value());
}

TEST_F(PasteThroughController, SendAfterAFocusChangeDropsThePendingOnce) {
    dictate("hello");
    queue->advance(0.15);
    const int bottles = played("Bottle");
    focus->focusApp("firefox", "firefox", 200, "/entry");
    singleClick();
    EXPECT_EQ(keys->posted, std::vector{Keystroke::pasteControlV});
    EXPECT_EQ(countLog("⏎ 未发送(焦点已从「gedit」切到「firefox」,请手动确认后回车)"), 1);
    EXPECT_EQ(played("Bottle"), bottles + 1);
    EXPECT_EQ(controller->appState(), AppState::idle);
    EXPECT_FALSE(controller->pending().has_value());
}

TEST_F(PasteThroughController, DoubleClickTakesThePasteBackOut) {
    dictate("hello");
    queue->advance(0.15);
    const int bottles = played("Bottle");
    doubleClick();
    EXPECT_EQ(std::count(keys->posted.begin(), keys->posted.end(), Keystroke::backspace), 5);
    EXPECT_EQ(countLog("✖ 已取消,删除刚插入的 5 个字(AX 无法校验,按插入末尾处理)"), 1);
    EXPECT_EQ(played("Bottle"), bottles + 1);
    EXPECT_EQ(controller->appState(), AppState::idle);
    EXPECT_FALSE(controller->pending().has_value());
}

TEST_F(PasteThroughController, CancelBeforeTheConfirmationLeavesNoPending) {
    dictate("hello");
    queue->advance(0.05);
    controller->cancel();
    queue->advance(0.1);
    EXPECT_FALSE(controller->pending().has_value());
    EXPECT_EQ(controller->appState(), AppState::idle);
    EXPECT_EQ(countLog("📋 已粘贴到「gedit」,目标确认成功"), 0);
    queue->advance(0.3);
    EXPECT_EQ(countLog("📋 剪贴板已还原"), 1);
}

TEST_F(PasteThroughController, BlockedPasteReturnsToIdleWithOneErrorCue) {
    focus->front.reset();
    dictate("hello");
    EXPECT_EQ(controller->appState(), AppState::idle);
    EXPECT_EQ(countLog("❌ 没有可注入的前台应用,已阻止粘贴"), 1);
    EXPECT_EQ(played("Basso"), 1);
}

}  // namespace
}  // namespace vurin::testing
