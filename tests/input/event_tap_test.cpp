#include "input/event_tap.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "input/trigger_key_names.h"
#include "support/fake_key_grab.h"
#include "support/language.h"
#include "support/log.h"
#include "support/virtual_main_queue.h"

namespace vurin {
namespace {

constexpr int evdevF13 = 183;
constexpr int evdevA = 30;
constexpr int evdevEscape = 1;
constexpr int evdevCapsLock = 58;
constexpr int evdevRightAlt = 100;
constexpr int evdevLeftShift = 42;
constexpr int evdevPrint = 99;

class EventTapTest : public ::testing::Test {
  protected:
    void SetUp() override {
        applyUILang("zh");
        setLogObserver([this](const std::string& line) { logs.push_back(line); });
        engine->onLongPressStart = [this] { gestures.push_back("longPressStart"); };
        engine->onLongPressEnd = [this] { gestures.push_back("longPressEnd"); };
        engine->onSingleClick = [this] { gestures.push_back("singleClick"); };
        engine->onDoubleClick = [this] { gestures.push_back("doubleClick"); };
        tap->setEngine(engine);
        tap->setCallbacks(EventTap::Callbacks{
            .storeKeyCode =
                [this](std::int64_t code) { calls.push_back("store " + std::to_string(code)); },
            .updateStatusIcon = [this] { calls.push_back("updateStatusIcon"); },
            .rebuildMenu = [this] { calls.push_back("rebuildMenu"); },
            .setTriggerKeyLabel =
                [this](const std::string& text) { calls.push_back("label " + text); },
            .setStatusTitle =
                [this](const std::string& title) { calls.push_back("title " + title); },
        });
    }
    void TearDown() override {
        setLogObserver({});
        setEvdevKeyNameLookup({});
    }

    std::shared_ptr<testing::VirtualMainQueue> queue =
        std::make_shared<testing::VirtualMainQueue>();
    std::shared_ptr<testing::FakeKeyGrab> grab = std::make_shared<testing::FakeKeyGrab>();
    std::shared_ptr<GestureEngine> engine = GestureEngine::create(queue);
    std::shared_ptr<EventTap> tap = EventTap::create(queue, grab);
    std::vector<std::string> gestures;
    std::vector<std::string> calls;
    std::vector<std::string> logs;
};

TEST_F(EventTapTest, SetupGrabsTheTriggerOnceAndRetriesAfterALostConnection) {
    EXPECT_TRUE(tap->setupEventTap());
    EXPECT_TRUE(tap->setupEventTap());
    EXPECT_EQ(grab->startedWith, std::vector<int>{evdevF13});

    grab->running = false;  // the connection was lost
    tap->setTapKeyCode(61);
    EXPECT_TRUE(tap->setupEventTap());
    EXPECT_EQ(grab->startedWith, (std::vector<int>{evdevF13, evdevRightAlt}));
}

TEST_F(EventTapTest, RefusedGrabFailsWithTheReasonInTheLog) {
    grab->nextStart = {KeyGrabStatus::refused, "grab refused line"};
    EXPECT_FALSE(tap->setupEventTap());
    EXPECT_EQ(logs, std::vector<std::string>{"grab refused line"});
    grab->nextStart = {};
    EXPECT_TRUE(tap->setupEventTap());
}

TEST_F(EventTapTest, KeyWithoutALinuxKeyCannotBeGrabbed) {
    tap->setTapKeyCode(63);  // Fn
    EXPECT_FALSE(tap->setupEventTap());
    EXPECT_TRUE(grab->startedWith.empty());
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs[0], "❌ 触发键 Fn(键码 63)在此系统的键盘上没有对应的按键,无法捕获");
}

TEST_F(EventTapTest, AutoRepeatIsDroppedAndTheReleaseEndsTheLongPress) {
    ASSERT_TRUE(tap->setupEventTap());
    grab->press(evdevF13);
    for (int repeat = 0; repeat < 20; ++repeat) {
        grab->press(evdevF13);
    }
    EXPECT_EQ(queue->pendingCount(), 1u);  // only the first press was handed on
    queue->advance(0.5);
    EXPECT_EQ(engine->state(), GestureEngine::PressState::longPressing);
    grab->release(evdevF13);
    queue->runPending();
    EXPECT_EQ(gestures, (std::vector<std::string>{"longPressStart", "longPressEnd"}));
    EXPECT_EQ(engine->state(), GestureEngine::PressState::idle);
}

TEST_F(EventTapTest, OtherKeysAreIgnoredAndOrderIsKept) {
    ASSERT_TRUE(tap->setupEventTap());
    grab->press(evdevA);
    grab->release(evdevA);
    EXPECT_EQ(queue->pendingCount(), 0u);

    // Two quick clicks delivered in one burst stay two clicks, in order: a double click.
    grab->press(evdevF13);
    grab->release(evdevF13);
    grab->press(evdevF13);
    grab->release(evdevF13);
    queue->advance(1.0);
    EXPECT_EQ(gestures, std::vector<std::string>{"doubleClick"});
}

TEST_F(EventTapTest, ATriggerPressedAgainAfterItsReleaseIsNotARepeat) {
    ASSERT_TRUE(tap->setupEventTap());
    grab->press(evdevA);  // held while the trigger is used; its release goes elsewhere
    grab->press(evdevF13);
    grab->release(evdevF13);
    queue->advance(1.0);
    EXPECT_EQ(gestures, std::vector<std::string>{"singleClick"});
    tap->setTapKeyCode(0);  // A
    grab->press(evdevA);
    queue->advance(0.5);
    EXPECT_EQ(engine->state(), GestureEngine::PressState::longPressing);
}

TEST_F(EventTapTest, EngineGoneBeforeTheBlockRunsIsHarmless) {
    ASSERT_TRUE(tap->setupEventTap());
    grab->press(evdevF13);
    engine.reset();
    queue->runPending();
    EXPECT_EQ(queue->pendingCount(), 0u);
}

TEST_F(EventTapTest, DetectionTakesTheFirstRealPress) {
    ASSERT_TRUE(tap->setupEventTap());
    tap->startDetectKey();
    EXPECT_TRUE(tap->tapDetecting());
    EXPECT_TRUE(grab->keyboardGrabbed);
    EXPECT_EQ(logs, std::vector<std::string>{"🔍 识别模式:请按一下你想用作触发键的按键…"});
    EXPECT_EQ(calls, std::vector<std::string>{"title ⌨️"});
    calls.clear();

    grab->release(evdevA);       // a release passes
    grab->press(evdevCapsLock);  // Caps Lock can never be the trigger
    grab->release(evdevCapsLock);
    EXPECT_TRUE(tap->tapDetecting());
    EXPECT_EQ(tap->tapKeyCode(), 105);

    grab->press(evdevEscape);
    EXPECT_FALSE(tap->tapDetecting());
    EXPECT_EQ(tap->tapKeyCode(), 53);
    EXPECT_EQ(grab->regrabs, std::vector<int>{evdevEscape});
    EXPECT_TRUE(grab->keyboardGrabbed);  // until the taken key is released
    grab->press(evdevEscape);            // its auto-repeat
    grab->release(evdevEscape);
    EXPECT_FALSE(grab->keyboardGrabbed);

    queue->runPending();
    EXPECT_EQ(calls, (std::vector<std::string>{"store 53", "updateStatusIcon", "rebuildMenu",
                                               "label 当前:Escape (键码 53)"}));
    EXPECT_EQ(logs.back(), "🔑 触发键已设为 Escape (键码 53)");
    EXPECT_TRUE(gestures.empty());  // the release of the taken key found the engine idle
    EXPECT_EQ(engine->state(), GestureEngine::PressState::idle);

    // The old trigger is an ordinary key now; the new one works.
    grab->press(evdevF13);
    grab->release(evdevF13);
    grab->press(evdevEscape);
    grab->release(evdevEscape);
    queue->advance(1.0);
    EXPECT_EQ(gestures, std::vector<std::string>{"singleClick"});
}

TEST_F(EventTapTest, DetectionRequestedBeforeTheGrabExistsTakesTheFirstPressAfterIt) {
    tap->startDetectKey();
    EXPECT_FALSE(grab->keyboardGrabbed);
    ASSERT_TRUE(tap->setupEventTap());
    EXPECT_TRUE(grab->keyboardGrabbed);
    grab->press(evdevA);
    EXPECT_EQ(tap->tapKeyCode(), 0);
}

TEST_F(EventTapTest, ARepeatOfAKeyHeldBeforeDetectionIsNotTaken) {
    ASSERT_TRUE(tap->setupEventTap());
    tap->setTapKeyCode(0);
    grab->press(evdevA);  // the trigger, held
    tap->startDetectKey();
    grab->press(evdevA);  // its auto-repeat
    EXPECT_TRUE(tap->tapDetecting());
    grab->press(evdevLeftShift);
    EXPECT_EQ(tap->tapKeyCode(), 56);
}

TEST_F(EventTapTest, ModifierTriggersAreLoggedWithTheirCost) {
    ASSERT_TRUE(tap->setupEventTap());
    tap->startDetectKey();
    grab->press(evdevRightAlt);
    queue->runPending();
    ASSERT_GE(logs.size(), 3u);
    EXPECT_EQ(logs[logs.size() - 3], "🔑 触发键已设为 右 Option (键码 61)");
    EXPECT_EQ(logs[logs.size() - 2],
              "⚠️ 修饰键作为触发键:按住它时整个键盘都交给 "
              "Vurin,与它同按的组合键不会到达其他程序");
    EXPECT_EQ(logs.back(),
              "⚠️ 右 Option 在许多键盘布局中是 "
              "AltGr,用作触发键后无法再用它输入重音字符");
}

TEST_F(EventTapTest, LinuxOnlyKeyIsStoredAboveTheBaseAndNamedByItsKeysym) {
    setEvdevKeyNameLookup([this](int evdev) { return grab->keyName(evdev); });
    ASSERT_TRUE(tap->setupEventTap());
    tap->startDetectKey();
    grab->press(evdevPrint);
    queue->runPending();
    EXPECT_EQ(tap->tapKeyCode(), 10099);
    EXPECT_EQ(logs.back(), "🔑 触发键已设为 Print (键码 10099)");
    grab->release(evdevPrint);
    grab->press(evdevPrint);
    queue->advance(0.5);
    EXPECT_EQ(gestures, std::vector<std::string>{"longPressStart"});
}

TEST_F(EventTapTest, DestroyingTheTapStopsTheGrab) {
    ASSERT_TRUE(tap->setupEventTap());
    tap.reset();
    EXPECT_EQ(grab->stops, 1);
    EXPECT_FALSE(grab->running);
}

}  // namespace
}  // namespace vurin
