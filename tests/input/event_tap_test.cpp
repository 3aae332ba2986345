#include <gtest/gtest.h>

#include "app/event_tap_wiring.h"
#include "support/app_controller_fixture.h"

// The capture's logic against a fake grab, wired to a controller on fakes as main.cpp wires it.
namespace vurin::testing {
namespace {

using Lines = std::vector<std::string>;
constexpr int evdevF13 = 183, evdevF14 = 184, evdevA = 30, evdevCapsLock = 58, evdevRightAlt = 100;

// A grab whose key events the test plays in by hand (only while it runs), noting what the capture
// asks of it. It refuses the key `taken` and answers key changes at once (unless not `answers`).
class FakeKeyGrab : public KeyGrab {
  public:
    KeyGrabResult start(std::optional<int> evdevCode, Handlers handlers) override {
        calls += "start " + (evdevCode ? std::to_string(*evdevCode) : "-") + " ";
        if (!reachable || evdevCode == taken) {
            return {reachable ? KeyGrabStatus::refused : KeyGrabStatus::unavailable, "taken"};
        }
        running = true;
        key = evdevCode;
        this->handlers = std::move(handlers);
        return {};
    }
    bool isRunning() const override { return running; }
    std::optional<int> grabbedKey() const override { return running ? key : std::nullopt; }
    void grabKey(int evdevCode) override {
        calls += "grab " + std::to_string(evdevCode) + " ";
        const KeyGrabStatus status = !reachable           ? KeyGrabStatus::unavailable
                                     : evdevCode == taken ? KeyGrabStatus::refused
                                                          : KeyGrabStatus::ok;
        key = status == KeyGrabStatus::ok ? evdevCode : key;
        answers ? handlers.onKeyGrabbed(evdevCode, {status}) : void();
    }
    void setKeyboardGrabbed(bool grabbed) override { calls += grabbed ? "keyboard " : "free "; }
    std::optional<std::string> keyName(int) const override { return std::nullopt; }
    void stop() override {
        calls += "stop ";
        running = false;
    }
    void press(int evdevCode) { running ? handlers.onKey(KeyGrabEvent{evdevCode, true}) : void(); }
    void release(int evdevCode) {
        running ? handlers.onKey(KeyGrabEvent{evdevCode, false}) : void();
    }
    void lose() {
        running = false;
        handlers.onFailure({KeyGrabStatus::unavailable, "⚠️ lost"});
    }

    Handlers handlers;
    std::optional<int> key;
    bool running = false, reachable = true, answers = true;
    int taken = -1;
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

// The release of a trigger held when the connection broke never comes: the capture gives it, so
// the recording ends now instead of running to its limit and being pasted. Nothing is given
// when the trigger was up.
TEST_F(EventTapTest, ALostConnectionReleasesTheHeldTrigger) {
    ASSERT_TRUE(tap->setupEventTap());
    for (const bool held : {true, false}) {
        SCOPED_TRACE(held ? "held" : "up");
        grab->press(evdevF13);
        queue->advance(0.5);
        ASSERT_EQ(controller->appState(), AppState::recording);
        if (!held) {
            grab->release(evdevF13);
            queue->advance(0.1);
        }
        const AppState before = controller->appState();
        grab->lose();
        queue->advance(0.1);
        EXPECT_NE(controller->appState(), AppState::recording);
        if (!held) {
            EXPECT_EQ(controller->appState(), before);
        }
        queue->advance(70);
        EXPECT_TRUE(tap->setupEventTap());
    }
}

// Detection takes the first real press (not a repeat, a release or Caps Lock) and holds the
// keyboard until its release. A key the server refuses leaves the trigger and the configuration
// as they were and says so where the key is shown. Without a capture (Fn has no key here),
// detection runs on the keyboard alone and the key it finds is the capture's trigger.
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
    EXPECT_EQ(shell->statusItem->icon + menuTitles().at(0) + label,
              "idle状态:就绪(Key 61)当前:右 Option (键码 61)");
    EXPECT_EQ(controller->engine()->state(), GestureEngine::PressState::idle);

    logs.clear();
    grab->taken = evdevF14;
    tap->startDetectKey();
    click(evdevF14);
    queue->runPending();
    EXPECT_EQ(logs.back(), "❌ F14(键码 107)已被其他程序占用,不能作触发键;仍为 右 Option(键码 61)");
    EXPECT_EQ(shell->statusItem->icon + label, "idleF14 已被其他程序占用,仍为 右 Option");
    EXPECT_TRUE(loadConfig().keyCode == 61 && tap->holdsTrigger() && tap->setupEventTap());

    grab->running = false;
    tap->setTapKeyCode(63);
    EXPECT_FALSE(tap->setupEventTap());
    tap->startDetectKey();
    click(evdevA);
    queue->runPending();
    EXPECT_TRUE(tap->holdsTrigger() && tap->setupEventTap() && loadConfig().keyCode == 0);
    EXPECT_TRUE(grab->calls.ends_with("free start - keyboard grab 30 free ")) << grab->calls;

    controller.reset();  // the wiring holds the controller weakly
    tap->startDetectKey();
    grab->press(99);  // Print: stored above the base
    queue->runPending();
}

// Detection without a key ends after 15 s, freeing the keyboard and a capture made for it alone.
// A key taken while its grab was unanswered is asked of the capture that replaces it; a grab cut
// by a lost connection is no refusal. A lost connection is logged once and retried quietly 0.5 s
// later, each wait doubled up to 5 s; a trigger another program took meanwhile is retried on a
// capture without it until it is back.
TEST_F(EventTapTest, DetectionEndsAndALostConnectionComesBack) {
    grab->taken = evdevF13;
    EXPECT_FALSE(tap->setupEventTap());
    tap->startDetectKey();
    queue->advance(14.99);
    EXPECT_TRUE(tap->tapDetecting());
    queue->advance(0.01);
    EXPECT_EQ(shell->statusItem->icon + grab->calls, "idlestart 183 start - keyboard free stop ");
    tap->startDetectKey();
    grab->answers = false;
    click(evdevA);
    grab->answers = true;
    grab->taken = -1;
    EXPECT_TRUE(tap->setupEventTap());
    queue->runPending();
    EXPECT_EQ(shell->statusItem->icon + std::to_string(loadConfig().keyCode), "idle0");
    tap->startDetectKey();
    grab->reachable = false;
    click(evdevF14);
    grab->lose();
    queue->runPending();
    EXPECT_EQ(shell->statusItem->icon + label, "idle当前:A (键码 0)");
    grab->calls.clear();
    struct Try {
        double wait;
        bool reachable;
        int taken;
        std::string calls;
    };
    const Try tries[] = {{0.5, false, -1, "start 30 "}, {1, false, -1, "start 30 "},
                         {2, false, -1, "start 30 "},   {4, false, -1, "start 30 "},
                         {5, false, -1, "start 30 "},   {5, true, evdevA, "start 30 start - "},
                         {5, true, evdevA, "grab 30 "}, {5, true, -1, "grab 30 "}};
    for (const Try& next : tries) {
        SCOPED_TRACE(next.wait);
        grab->reachable = next.reachable;
        grab->taken = next.taken;
        const std::size_t before = grab->calls.size();
        queue->advance(next.wait - 0.01);
        EXPECT_EQ(grab->calls.size(), before);
        queue->advance(0.01);
        EXPECT_EQ(grab->calls.substr(before), next.calls);
    }
    const std::string calls = grab->calls;
    queue->advance(60);
    EXPECT_TRUE(tap->holdsTrigger() && grab->calls == calls);
    const std::string detect = "🔍 识别模式:请按一下你想用作触发键的按键…";
    EXPECT_EQ(logs,
              (Lines{"taken", detect,
                     "⌛ 识别模式 15 秒内没有按键,已结束并释放键盘;触发键仍为 F13(键码 105)", detect,
                     "🔑 触发键已设为 A (键码 0)", detect, "⚠️ lost",
                     "taken;已重新连上 X11 显示,每 5 秒重试一次", "✅ 触发键 A(键码 0)恢复可用"}));
}

}  // namespace
}  // namespace vurin::testing
