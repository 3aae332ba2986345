#include "input/event_tap.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "input/trigger_key_names.h"
#include "support/fake_key_grab.h"
#include "support/language.h"
#include "support/testing.h"
#include "support/virtual_main_queue.h"

// The capture against a fake grab. What the X server decides (modifiers,
// auto-repeat as the server sends it, refusals, a lost connection) is tested
// against a real server in trigger_capture_desktop_test.cpp.
namespace vurin {
namespace {

constexpr int evdevF13 = 183, evdevA = 30, evdevEscape = 1, evdevCapsLock = 58;
constexpr int evdevRightAlt = 100, evdevLeftShift = 42, evdevPrint = 99;

class EventTapTest : public ::testing::Test {
  protected:
    void SetUp() override {
        applyUILang("zh");
        engine->onLongPressStart = [this] { gestures.push_back("longPressStart"); };
        engine->onSingleClick = [this] { gestures.push_back("singleClick"); };
        engine->onDoubleClick = [this] { gestures.push_back("doubleClick"); };
        tap->setEngine(engine);
        tap->setCallbacks(
            {.storeKeyCode = [this](std::int64_t key) { calls.push_back(std::to_string(key)); },
             .updateStatusIcon = [this] { calls.push_back("updateStatusIcon"); },
             .rebuildMenu = [this] { calls.push_back("rebuildMenu"); },
             .setTriggerKeyLabel = [this](const std::string& text) { calls.push_back(text); },
             .setStatusTitle = [this](const std::string& title) { calls.push_back(title); }});
    }
    void TearDown() override { setEvdevKeyNameLookup({}); }

    void click(int evdev) {
        grab->press(evdev);
        grab->release(evdev);
    }
    void detect(int evdev) {
        tap->startDetectKey();
        grab->press(evdev);
        queue->runPending();
    }

    testing::LogCapture log;
    std::shared_ptr<testing::VirtualMainQueue> queue =
        std::make_shared<testing::VirtualMainQueue>();
    std::shared_ptr<testing::FakeKeyGrab> grab = std::make_shared<testing::FakeKeyGrab>();
    std::shared_ptr<GestureEngine> engine = GestureEngine::create(queue);
    std::shared_ptr<EventTap> tap = EventTap::create(queue, grab);
    std::vector<std::string> gestures;
    std::vector<std::string> calls;
};

TEST_F(EventTapTest, SetupStartsOneGrabAndAnotherOnceTheFirstHasEnded) {
    EXPECT_TRUE(tap->setupEventTap());
    EXPECT_TRUE(tap->setupEventTap());
    grab->running = false;  // the connection was lost
    tap->setTapKeyCode(61);
    EXPECT_TRUE(tap->setupEventTap());
    EXPECT_EQ(grab->startedWith, (std::vector<int>{evdevF13, evdevRightAlt}));
    tap.reset();
    EXPECT_EQ(grab->stops, 1);
}

TEST_F(EventTapTest, AKeyCodeWithoutALinuxKeyIsNotGrabbed) {
    tap->setTapKeyCode(63);  // Fn
    EXPECT_FALSE(tap->setupEventTap());
    EXPECT_TRUE(grab->startedWith.empty());
    EXPECT_EQ(log.lines(), std::vector<std::string>{
                               "❌ 触发键 Fn(键码 63)在此系统的键盘上没有对应的按键,无法捕获"});
}

TEST_F(EventTapTest, OnlyTheTriggerReachesTheEngineInOrder) {
    ASSERT_TRUE(tap->setupEventTap());
    click(evdevA);
    EXPECT_EQ(queue->pendingCount(), 0u);
    click(evdevF13);  // two clicks in one burst stay two, in order: a double click
    click(evdevF13);
    queue->advance(1.0);
    // A key held while the trigger is used has its release go elsewhere: its next
    // press is new.
    grab->press(evdevA);
    click(evdevF13);
    queue->advance(1.0);
    tap->setTapKeyCode(0);  // A
    grab->press(evdevA);
    queue->advance(0.5);
    EXPECT_EQ(gestures, (std::vector<std::string>{"doubleClick", "singleClick", "longPressStart"}));
    grab->press(evdevF13);
    engine.reset();  // gone before the press is delivered
    queue->runPending();
    EXPECT_EQ(queue->pendingCount(), 0u);
}

TEST_F(EventTapTest, DetectionTakesTheFirstRealPressAndHoldsTheKeyboardUntilItsRelease) {
    ASSERT_TRUE(tap->setupEventTap());
    tap->startDetectKey();
    EXPECT_TRUE(grab->keyboardGrabbed);
    EXPECT_EQ(log.lines(), std::vector<std::string>{"🔍 识别模式:请按一下你想用作触发键的按键…"});
    grab->release(evdevA);  // a release passes; Caps Lock can never be the trigger
    click(evdevCapsLock);
    EXPECT_TRUE(tap->tapDetecting());
    grab->press(evdevEscape);
    EXPECT_FALSE(tap->tapDetecting());
    EXPECT_EQ(tap->tapKeyCode(), 53);
    EXPECT_EQ(grab->regrabs, std::vector<int>{evdevEscape});
    click(evdevEscape);  // its auto-repeat, then the release ends the keyboard grab
    EXPECT_FALSE(grab->keyboardGrabbed);
    queue->runPending();
    EXPECT_EQ(calls, (std::vector<std::string>{"⌨️", "53", "updateStatusIcon", "rebuildMenu",
                                               "当前:Escape (键码 53)"}));
    EXPECT_EQ(log.lines().back(), "🔑 触发键已设为 Escape (键码 53)");
    EXPECT_TRUE(gestures.empty());
    EXPECT_EQ(engine->state(), GestureEngine::PressState::idle);
}

TEST_F(EventTapTest, DetectionBeforeTheGrabAndARepeatOfAKeyHeldBeforeIt) {
    tap->startDetectKey();
    EXPECT_FALSE(grab->keyboardGrabbed);
    ASSERT_TRUE(tap->setupEventTap());
    EXPECT_TRUE(grab->keyboardGrabbed);
    grab->press(evdevA);
    EXPECT_EQ(tap->tapKeyCode(), 0);
    grab->release(evdevA);

    grab->press(evdevA);  // the trigger, held
    tap->startDetectKey();
    grab->press(evdevA);  // its auto-repeat
    EXPECT_TRUE(tap->tapDetecting());
    grab->press(evdevLeftShift);
    EXPECT_EQ(tap->tapKeyCode(), 56);
}

TEST_F(EventTapTest, ModifierAndLinuxOnlyTriggers) {
    setEvdevKeyNameLookup([this](int evdev) { return grab->keyName(evdev); });
    ASSERT_TRUE(tap->setupEventTap());
    detect(evdevRightAlt);
    const auto lines = log.lines();
    EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()),
              (std::vector<std::string>{
                  "🔑 触发键已设为 右 Option (键码 61)",
                  "⚠️ 修饰键作为触发键:按住它时整个键盘都交给 "
                  "Vurin,与它同按的组合键不会到达其他程序",
                  "⚠️ 右 Option 在许多键盘布局中是 "
                  "AltGr,用作触发键后无法再用它输入重音字符"}));
    grab->release(evdevRightAlt);
    detect(evdevPrint);  // stored above the base, named by its keysym
    EXPECT_EQ(tap->tapKeyCode(), 10099);
    EXPECT_EQ(log.lines().back(), "🔑 触发键已设为 Print (键码 10099)");
    grab->release(evdevPrint);
    grab->press(evdevPrint);
    queue->advance(0.5);
    EXPECT_EQ(gestures, std::vector<std::string>{"longPressStart"});
}

}  // namespace
}  // namespace vurin
