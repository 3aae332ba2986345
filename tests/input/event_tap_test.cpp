#include "input/event_tap.h"

#include <gtest/gtest.h>

#include "app/event_tap_wiring.h"
#include "config/config.h"
#include "input/trigger_key_names.h"
#include "support/app_controller_fixture.h"
#include "support/fake_key_grab.h"

// The capture's logic against a fake grab, wired to a controller on fakes as main.cpp wires it;
// what the X server does is tested in trigger_capture_desktop_test.cpp.
namespace vurin::testing {
namespace {

using Lines = std::vector<std::string>;
constexpr int evdevF13 = 183, evdevA = 30, evdevEscape = 1, evdevCapsLock = 58;
constexpr int evdevRightAlt = 100, evdevLeftShift = 42, evdevPrint = 99;
const std::string kSingleClick = "⏎ 单击(无待发送内容,忽略)";
const std::string kDoubleClick = "✖ 双击(当前无可取消的任务)";

class EventTapTest : public AppControllerFixture {
  protected:
    void SetUp() override {
        AppControllerFixture::SetUp();
        std::filesystem::remove(configURL());
        wireEventTap(*tap, controller, [this](const std::string& text) { label = text; });
        launch();
        logs.clear();
    }
    void click(int evdev) {
        grab->press(evdev);
        grab->release(evdev);
    }
    void detect(int evdev) {
        tap->startDetectKey();
        grab->press(evdev);
        queue->runPending();
    }

    std::shared_ptr<FakeKeyGrab> grab = std::make_shared<FakeKeyGrab>();
    std::shared_ptr<EventTap> tap = EventTap::create(queue, grab);
    std::string label;
};

TEST_F(EventTapTest, SetupStartsOneGrabAndAnotherOnceTheFirstHasEnded) {
    tap->setTapKeyCode(63);  // Fn: no Linux key
    EXPECT_FALSE(tap->setupEventTap());
    EXPECT_EQ(logs, Lines{"❌ 触发键 Fn(键码 63)在此系统的键盘上没有对应的按键,无法捕获"});
    tap->setTapKeyCode(105);
    EXPECT_TRUE(tap->setupEventTap());
    EXPECT_TRUE(tap->setupEventTap());
    grab->running = false;  // the connection was lost
    tap->setTapKeyCode(61);
    EXPECT_TRUE(tap->setupEventTap());
    EXPECT_EQ(grab->startedWith, (std::vector<int>{evdevF13, evdevRightAlt}));
    tap.reset();
    EXPECT_EQ(grab->stops, 1);
}

TEST_F(EventTapTest, OnlyTheTriggerReachesTheEngineInOrder) {
    ASSERT_TRUE(tap->setupEventTap());
    const auto pending = queue->pendingCount();
    click(evdevA);
    grab->press(1000);  // no key code
    EXPECT_EQ(queue->pendingCount(), pending);
    click(evdevF13);  // two clicks in one burst stay two, in order: a double click
    click(evdevF13);
    queue->advance(1.0);
    // A key held while the trigger is used has its release go elsewhere: its next press is new.
    grab->press(evdevA);
    click(evdevF13);
    queue->advance(1.0);
    EXPECT_EQ(logs, (Lines{kDoubleClick, kSingleClick}));
    tap->setTapKeyCode(0);  // A
    grab->press(evdevA);
    queue->advance(0.5);
    EXPECT_EQ(controller->appState(), AppState::recording);
    grab->release(evdevA);
    grab->press(evdevA);
    controller.reset();  // the engine is gone before the press is delivered
    queue->runPending();
}

TEST_F(EventTapTest, DetectionTakesTheFirstRealPressAndHoldsTheKeyboardUntilItsRelease) {
    tap->startDetectKey();  // before the grab: the keyboard is taken once it starts
    EXPECT_EQ(shell->statusItem->title, "⌨️");
    EXPECT_FALSE(grab->keyboardGrabbed);
    ASSERT_TRUE(tap->setupEventTap());
    EXPECT_TRUE(grab->keyboardGrabbed);
    grab->release(evdevA);  // a release passes; Caps Lock can never be the trigger
    click(evdevCapsLock);
    EXPECT_TRUE(tap->tapDetecting());
    grab->press(evdevEscape);
    EXPECT_FALSE(tap->tapDetecting());
    EXPECT_EQ(grab->regrabs, std::vector<int>{evdevEscape});
    click(evdevEscape);  // its auto-repeat, then the release ends the keyboard grab
    EXPECT_FALSE(grab->keyboardGrabbed);
    queue->runPending();
    EXPECT_EQ(logs, (Lines{"🔍 识别模式:请按一下你想用作触发键的按键…",
                           "🔑 触发键已设为 Escape (键码 53)"}));
    EXPECT_EQ(loadConfig().keyCode, 53);
    EXPECT_EQ(shell->statusItem->title, "🎙️");
    EXPECT_EQ(menuTitles().at(0), "状态:就绪(Key 53)");  // the fixture's display names
    EXPECT_EQ(label, "当前:Escape (键码 53)");
    EXPECT_EQ(controller->engine()->state(), GestureEngine::PressState::idle);

    grab->press(evdevA);  // a key held before detection starts: its auto-repeat is no choice
    tap->startDetectKey();
    grab->press(evdevA);
    EXPECT_TRUE(tap->tapDetecting());
    controller.reset();  // the wiring holds the controller weakly
    detect(evdevLeftShift);
    EXPECT_EQ(tap->tapKeyCode(), 56);
}

TEST_F(EventTapTest, ModifierAndLinuxOnlyTriggers) {
    setEvdevKeyNameLookup([](int) { return std::optional<std::string>("Print"); });
    ASSERT_TRUE(tap->setupEventTap());
    detect(evdevRightAlt);
    grab->release(evdevRightAlt);
    detect(evdevPrint);  // stored above the base, named by its keysym
    setEvdevKeyNameLookup({});
    EXPECT_EQ(
        std::vector<std::string>(logs.begin() + 1, logs.end()),
        (Lines{"🔑 触发键已设为 右 Option (键码 61)",
               "⚠️ 修饰键作为触发键:按住它时整个键盘都交给 "
               "Vurin,与它同按的组合键不会到达其他程序",
               "⚠️ 右 Option 在许多键盘布局中是 "
               "AltGr,用作触发键后无法再用它输入重音字符",
               "🔍 识别模式:请按一下你想用作触发键的按键…", "🔑 触发键已设为 Print (键码 10099)"}));
    grab->release(evdevPrint);
    grab->press(evdevPrint);
    queue->advance(0.5);
    EXPECT_EQ(controller->appState(), AppState::recording);
}

}  // namespace
}  // namespace vurin::testing
