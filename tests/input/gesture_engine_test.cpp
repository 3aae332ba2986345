#include "input/gesture_engine.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>

#include "support/virtual_main_queue.h"

namespace vurin {
namespace {

using State = GestureEngine::PressState;

class GestureEngineTest : public ::testing::Test {
  protected:
    void SetUp() override { fresh(); }
    void fresh() {
        queue = std::make_shared<testing::VirtualMainQueue>();
        engine = GestureEngine::create(queue);
        gestures.clear();
        record(engine->onLongPressStart, "start", State::longPressing);
        record(engine->onLongPressEnd, "end", State::idle);
        record(engine->onSingleClick, "click", State::idle);
        record(engine->onDoubleClick, "double", State::idle);
    }

    // Each callback is noted as "name@virtual-seconds"; the state must already be
    // updated.
    void record(std::function<void()>& callback, std::string name, State expected) {
        callback = [this, name, expected] {
            EXPECT_EQ(engine->state(), expected) << name;
            char at[32];
            std::snprintf(at, sizeof at, "@%g", queue->now());
            gestures += (gestures.empty() ? "" : " ") + name + at;
        };
    }

    // D key down, U key up, a number advances the clock by that many seconds, #n
    // checks the queue's pending blocks, =x checks the state (i idle, p pressed,
    // L long-pressing, a awaiting a second press, s second press) and that
    // exactly the decision of that state is pending: the long press while
    // pressed, the click while awaiting a second press.
    void play(const std::string& script) {
        std::istringstream steps(script);
        for (std::string step; steps >> step;) {
            if (step == "D") {
                engine->keyDown();
            } else if (step == "U") {
                engine->keyUp();
            } else if (step[0] == '#') {
                EXPECT_EQ(queue->pendingCount(), std::stoul(step.substr(1))) << step;
            } else if (step[0] == '=') {
                const State state = State(std::string("ipLas").find(step[1]));
                EXPECT_EQ(engine->state(), state) << step;
                EXPECT_EQ(engine->longPressWork() != nullptr, state == State::pressed) << step;
                EXPECT_EQ(engine->clickWork() != nullptr, state == State::awaitingSecond) << step;
            } else {
                queue->advance(std::stod(step));
            }
        }
    }

    std::shared_ptr<testing::VirtualMainQueue> queue;
    std::shared_ptr<GestureEngine> engine;
    std::string gestures;
};

// The 0.3 s long-press threshold and the 0.25 s double-click window, on the
// virtual clock.
TEST_F(GestureEngineTest, Transitions) {
    const struct {
        const char* name;
        const char* script;
        const char* gestures;
    } cases[] = {
        {"down schedules only the long press", "D =p #1", ""},
        {"up while idle is absorbed", "U =i #0 1", ""},
        {"repeated down keeps the threshold", "D .2 D =p #1 .1 =L", "start@0.3"},
        {"long press ends at the release", "D .7 D D =L U =i 1 #0", "start@0.3 end@0.7"},
        {"held long", "D .3 =L 2 U", "start@0.3 end@2.3"},
        {"just under the threshold", "D .2999 U =a .2 =a 1", "click@0.5499"},
        {"click exactly one window after the release", "D .29 U .249 =a .001 =i 5", "click@0.54"},
        {"short up cancels the long press", "D .1 U =a .2 =a", ""},
        {"second down cancels the click", "D .1 U .1 D =s 1 =s", ""},
        {"stray up drops the click", "D .1 U U =i 1", ""},
        {"double click", "D .1 U .1 D .1 U =i 1", "double@0.3"},
        {"second press inside the window", "D .1 U .24 D .05 U 1", "double@0.39"},
        {"second press after the window", "D .1 U .26 D .1 U 1", "click@0.35 click@0.71"},
        {"second press at the window's end", "D .1 U .25 D .1 U 1", "click@0.35 click@0.7"},
        {"held second press", "D .1 U .1 D 3 D =s U 1", "double@3.2"},
        {"auto-repeat in every held state", "D .2 D .2 D U .1 D .1 U .1 D .2 D .2 D U 1",
         "start@0.3 end@0.4 double@1.1"},
        {"press after the click ran", "D .1 U .3 D =p .3 U", "click@0.35 start@0.7 end@0.7"},
        {"lost up: the next up ends it", "D 5 D =L U 1", "start@0.3 end@5"},
        {"lost up in a second press", "D .1 U D 4 D U", "double@4.1"},
        {"stray up cancels the dropped click's block", "D .1 U U .05 D .05 U .2 =a D .05 U 1",
         "double@0.45"},
        {"a released short press cancels its long-press block", "D .1 U .05 D .05 U .05 D .5 U",
         "double@0.2 start@0.55 end@0.75"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        fresh();
        play(test.script);
        EXPECT_EQ(gestures, test.gestures);
    }
}

TEST_F(GestureEngineTest, EmptyCallbacksDoNothing) {
    engine->onDoubleClick = nullptr;
    engine->onLongPressStart = engine->onLongPressEnd = engine->onSingleClick = nullptr;
    play("D .4 U D .1 U .1 D U 1 D U D U =i");
}

TEST_F(GestureEngineTest, CallbackMayPressAgainFromInsideTheClick) {
    engine->onSingleClick = [this] { engine->keyDown(); };
    play("D .1 U .25 =p .3 =L");
    EXPECT_EQ(gestures, "start@0.65");
}

TEST_F(GestureEngineTest, CallbackMayReleaseTheLastOwnerOfTheEngine) {
    const std::weak_ptr<GestureEngine> weak = engine;
    engine->onLongPressStart = [this] { engine.reset(); };
    engine->keyDown();
    queue->advance(0.3);
    EXPECT_TRUE(weak.expired());
}

TEST_F(GestureEngineTest, PendingDecisionsHoldNoEngineAndEnginesShareNoState) {
    auto other = GestureEngine::create(queue);
    other->keyDown();
    play("D .1 U 1");
    EXPECT_EQ(gestures, "click@0.35");
    EXPECT_EQ(other->state(), State::longPressing);

    engine->keyDown();  // a pending long press here, a pending click in `other`
    other->keyUp();
    other->keyDown();
    other->keyUp();
    const std::weak_ptr<GestureEngine> weakEngine = engine, weakOther = other;
    engine.reset();
    other.reset();
    EXPECT_TRUE(weakEngine.expired() && weakOther.expired());
    queue->advance(1.0);
    EXPECT_EQ(gestures, "click@0.35");
    EXPECT_EQ(queue->pendingCount(), 0u);
}

}  // namespace
}  // namespace vurin
