#include <gtest/gtest.h>

#include "app/event_tap_wiring.h"
#include "support/app_controller_fixture.h"

// The capture's logic against a fake grab, wired to a controller on fakes as main.cpp wires it.
namespace vurin::testing {
namespace {

using Lines = std::vector<std::string>;
constexpr int evdevF13 = 183, evdevA = 30, evdevCapsLock = 58, evdevRightAlt = 100;

// A grab whose key events the test plays in by hand, noting what the capture asks of it.
class FakeKeyGrab : public KeyGrab {
  public:
    KeyGrabResult start(int evdevCode, Handlers handlers) override {
        calls += "start " + std::to_string(evdevCode) + " ";
        running = true;
        onKey = std::move(handlers.onKey);
        return {};
    }
    bool isRunning() const override { return running; }
    void grabKey(int evdevCode) override { calls += "grab " + std::to_string(evdevCode) + " "; }
    void setKeyboardGrabbed(bool grabbed) override { calls += grabbed ? "keyboard " : "free "; }
    std::optional<std::string> keyName(int) const override { return std::nullopt; }
    void stop() override { calls += "stop "; }
    void press(int evdevCode) { onKey(KeyGrabEvent{evdevCode, true}); }
    void release(int evdevCode) { onKey(KeyGrabEvent{evdevCode, false}); }

    std::function<void(const KeyGrabEvent&)> onKey;
    bool running = false;
    std::string calls;
};

class EventTapTest : public AppControllerFixture {
  protected:
    void SetUp() override {
        AppControllerFixture::SetUp();
        wireEventTap(*tap, controller, [this](const std::string& text) { label = text; });
        launch();
        logs.clear();
    }
    void click(int evdev) {
        grab->press(evdev);
        grab->release(evdev);
    }

    std::shared_ptr<FakeKeyGrab> grab = std::make_shared<FakeKeyGrab>();
    std::shared_ptr<EventTap> tap = EventTap::create(queue, grab);
    std::string label;
};

// A key without a Linux key is not grabbed. Only the trigger reaches the engine, in order: two
// clicks in one burst stay a double click; a key held while the trigger is used has its release
// go elsewhere, so its next press is new. A grab whose connection was lost is started again.
TEST_F(EventTapTest, OnlyTheTriggerReachesTheEngineInOrder) {
    tap->setTapKeyCode(63);  // Fn
    EXPECT_FALSE(tap->setupEventTap());
    tap->setTapKeyCode(105);
    ASSERT_TRUE(tap->setupEventTap() && tap->setupEventTap());
    click(evdevA);
    grab->press(1000);  // no key code
    click(evdevF13);
    click(evdevF13);
    queue->advance(1.0);
    grab->press(evdevA);
    click(evdevF13);
    queue->advance(1.0);
    EXPECT_EQ(logs, (Lines{"❌ 触发键 Fn(键码 63)在此系统的键盘上没有对应的按键,无法捕获",
                           "✖ 双击(当前无可取消的任务)", "⏎ 单击(无待发送内容,忽略)"}));
    tap->setTapKeyCode(0);  // A
    grab->press(evdevA);
    queue->advance(0.5);
    EXPECT_EQ(controller->appState(), AppState::recording);
    grab->release(evdevA);
    grab->press(evdevA);
    controller.reset();  // the engine is gone before the press is delivered
    queue->runPending();
    grab->running = false;
    EXPECT_TRUE(tap->setupEventTap());
    EXPECT_EQ(grab->calls, "start 183 start 30 ");
}

// Detection takes the first real press (not a repeat, a release or Caps Lock) and holds the
// keyboard until its release.
TEST_F(EventTapTest, DetectionTakesTheFirstRealPress) {
    ASSERT_TRUE(tap->setupEventTap());
    grab->press(evdevA);  // held before detection starts: its auto-repeat is no choice
    tap->startDetectKey();
    grab->press(evdevA);
    click(evdevCapsLock);
    EXPECT_TRUE(tap->tapDetecting());
    grab->press(evdevRightAlt);
    click(evdevRightAlt);  // its auto-repeat, then the release ends the keyboard grab
    queue->runPending();
    EXPECT_EQ(grab->calls, "start 183 keyboard grab 100 free ");
    ASSERT_EQ(logs.size(), 4U);  // a modifier comes with two warnings
    EXPECT_EQ(logs[1], "🔑 触发键已设为 右 Option (键码 61)");
    EXPECT_EQ(loadConfig().keyCode, 61);
    EXPECT_EQ(shell->statusItem->title + menuTitles().at(0) + label,
              "🎙️状态:就绪(Key 61)当前:右 Option (键码 61)");
    EXPECT_EQ(controller->engine()->state(), GestureEngine::PressState::idle);

    grab->running = false;  // asked for before the grab starts: it takes the keyboard on start
    tap->startDetectKey();
    ASSERT_TRUE(tap->setupEventTap());
    EXPECT_TRUE(grab->calls.ends_with("free start 100 keyboard ")) << grab->calls;

    controller.reset();  // the wiring holds the controller weakly
    tap->startDetectKey();
    grab->press(99);  // Print: stored above the base
    queue->runPending();
}

}  // namespace
}  // namespace vurin::testing
