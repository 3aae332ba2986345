#include "input/gesture_engine.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "support/virtual_main_queue.h"

namespace vurin::testing {
namespace {

using State = GestureEngine::PressState;

class GestureEngineTest : public ::testing::Test {
  protected:
    void SetUp() override { fresh(); }
    // Notes each gesture as "name@virtual-seconds", the state already updated.
    void fresh() {
        engine = GestureEngine::create(queue);
        gestures.clear();
        const auto note = [this](const char* name, State expected) {
            return [this, name, expected] {
                EXPECT_EQ(engine->state(), expected) << name;
                char at[32];
                std::snprintf(at, sizeof at, "@%g", queue->now());
                gestures += (gestures.empty() ? "" : " ") + (name + std::string(at));
            };
        };
        engine->onLongPressStart = note("start", State::longPressing);
        engine->onLongPressEnd = note("end", State::idle);
        engine->onSingleClick = note("click", State::idle);
        engine->onDoubleClick = note("double", State::idle);
    }
    // D key down, U key up (D@t, U@t: one that happened at virtual time t), N no click callback, X
    // the engine goes, a number advances the clock by that many seconds, =x checks the state (i
    // idle, p pressed, L long-pressing, a awaiting a second press, s second press) and that exactly
    // the decision of that state is pending: the long press while pressed, the click while awaiting
    // a second press.
    void play(const std::string& script) {
        std::istringstream steps(script);
        for (std::string step; steps >> step;) {
            if (step[0] == 'D' || step[0] == 'U') {
                const double at = step.size() > 2 ? std::stod(step.substr(2)) : queue->now();
                step[0] == 'D' ? engine->keyDown(at) : engine->keyUp(at);
            } else if (step == "N") {
                engine->onSingleClick = nullptr;
            } else if (step == "X") {
                engine.reset();
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

    std::shared_ptr<VirtualMainQueue> queue = std::make_shared<VirtualMainQueue>();
    std::shared_ptr<GestureEngine> engine;
    std::string gestures;
};

// The 0.3 s long-press threshold and the 0.25 s double-click window, exact on the virtual clock.
TEST_F(GestureEngineTest, Transitions) {
    const struct {
        const char *name, *script, *gestures;
    } cases[] = {
        {"up while idle is absorbed", "U =i 1", ""},
        {"no callback; no engine left for a decision", "N D .1 U 1 D X 1", ""},
        {"long press ends at the release", "D .7 D D =L U =i 1", "start@0.3 end@0.7"},
        {"just under the threshold", "D .2999 U =a .2 =a 1", "click@0.5499"},
        {"click exactly one window after the release", "D .29 U .249 =a .001 =i 5", "click@0.54"},
        {"second down cancels the click", "D .1 U .1 D =s 1 =s", ""},
        {"double click", "D .1 U .24 D .05 U 1", "double@0.39"},
        {"second press after the window", "D .1 U .26 D .1 U 1", "click@0.35 click@0.71"},
        {"second press at the window's end", "D .1 U .25 D .1 U 1", "click@0.35 click@0.7"},
        {"auto-repeat in every held state", "D .2 D .2 D U .1 D .1 U .1 D .2 D .2 D U 1",
         "start@0.3 end@0.4 double@1.1"},
        {"press after the click ran", "D .1 U .3 D =p .3 U", "click@0.35 start@0.7 end@0.7"},
        {"stray up cancels the dropped click's block", "D .1 U U .05 D .05 U .2 =a D .05 U 1",
         "double@0.45"},
        {"a released short press cancels its long-press block", "D .1 U .05 D .05 U .05 D .5 U",
         "double@0.2 start@0.55 end@0.75"},
        // Events that reach the engine late, together (a paste held the main queue).
        {"a 0.4 s press is a long press", ".9 D@0 U@.4 =i D .1 U 1",
         "start@0.9 end@0.9 click@1.25"},
        {"a 0.1 s press is a click", ".9 D@0 U@.1 =a 1", "click@0.9"},
        {"a double click", ".9 D@0 U@.1 D@.3 U@.4 1", "double@0.9"},
        {"two clicks", ".6 D@0 U@.1 D@.5 U 1", "click@0.6 click@0.85"},
        {"decisions due from the event's time", ".5 D@.4 .3 U .1 D@.8 U@.85 1",
         "start@0.7 end@0.8 click@1.1"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        queue = std::make_shared<VirtualMainQueue>();
        fresh();
        play(test.script);
        EXPECT_EQ(gestures, test.gestures);
    }
}

}  // namespace
}  // namespace vurin::testing
