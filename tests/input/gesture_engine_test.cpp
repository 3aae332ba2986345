#include "input/gesture_engine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/virtual_main_queue.h"

namespace vurin {
namespace {

using State = GestureEngine::PressState;

struct Gesture {
    std::string name;
    double at;     // virtual seconds
    State seenAs;  // the engine's state while the callback ran

    // Virtual times are sums of decimal steps, so they are compared with a tolerance.
    bool operator==(const Gesture& other) const {
        return name == other.name && seenAs == other.seenAs && std::abs(at - other.at) < 1e-9;
    }
};

std::ostream& operator<<(std::ostream& out, const Gesture& gesture) {
    return out << gesture.name << "@" << gesture.at << "/state" << static_cast<int>(gesture.seenAs);
}

class GestureEngineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        record(engine->onLongPressStart, "longPressStart");
        record(engine->onLongPressEnd, "longPressEnd");
        record(engine->onSingleClick, "singleClick");
        record(engine->onDoubleClick, "doubleClick");
    }

    void record(std::function<void()>& callback, std::string name) {
        callback = [this, name] { gestures.push_back({name, queue->now(), engine->state()}); };
    }

    // A press of `heldFor` seconds starting now.
    void press(double heldFor) {
        engine->keyDown();
        queue->advance(heldFor);
        engine->keyUp();
    }

    std::vector<std::string> names() const {
        std::vector<std::string> result;
        for (const auto& gesture : gestures) {
            result.push_back(gesture.name);
        }
        return result;
    }

    std::shared_ptr<testing::VirtualMainQueue> queue =
        std::make_shared<testing::VirtualMainQueue>();
    std::shared_ptr<GestureEngine> engine = GestureEngine::create(queue);
    std::vector<Gesture> gestures;
};

// --- the transition table, one row at a time ---

TEST_F(GestureEngineTest, IdleDownPressesAndSchedulesOnlyTheLongPressDecision) {
    engine->keyDown();
    EXPECT_EQ(engine->state(), State::pressed);
    EXPECT_NE(engine->longPressWork(), nullptr);
    EXPECT_EQ(engine->clickWork(), nullptr);
    EXPECT_EQ(queue->pendingCount(), 1u);
    EXPECT_TRUE(gestures.empty());
}

TEST_F(GestureEngineTest, IdleUpIsAbsorbed) {
    engine->keyUp();
    EXPECT_EQ(engine->state(), State::idle);
    EXPECT_EQ(queue->pendingCount(), 0u);
    queue->advance(1.0);
    EXPECT_TRUE(gestures.empty());
}

TEST_F(GestureEngineTest, PressedDownIsIgnoredAndDoesNotRestartTheThreshold) {
    engine->keyDown();
    queue->advance(0.2);
    engine->keyDown();
    EXPECT_EQ(engine->state(), State::pressed);
    EXPECT_EQ(queue->pendingCount(), 1u);
    queue->advance(0.1);
    EXPECT_EQ(gestures, (std::vector<Gesture>{{"longPressStart", 0.3, State::longPressing}}));
}

TEST_F(GestureEngineTest, LongPressDecisionTurnsPressedIntoLongPressing) {
    engine->keyDown();
    queue->advance(0.3);
    EXPECT_EQ(engine->state(), State::longPressing);
    EXPECT_EQ(engine->longPressWork(), nullptr);
    EXPECT_EQ(gestures, (std::vector<Gesture>{{"longPressStart", 0.3, State::longPressing}}));
}

TEST_F(GestureEngineTest, PressedUpCancelsTheLongPressAndAwaitsASecondPress) {
    engine->keyDown();
    queue->advance(0.1);
    const auto longPress = engine->longPressWork();
    engine->keyUp();
    EXPECT_EQ(engine->state(), State::awaitingSecond);
    EXPECT_TRUE(longPress->isCancelled());
    EXPECT_EQ(engine->longPressWork(), nullptr);
    EXPECT_NE(engine->clickWork(), nullptr);
    queue->advance(0.2);  // past the original 0.3 s mark
    EXPECT_TRUE(gestures.empty());
}

TEST_F(GestureEngineTest, LongPressingDownIsIgnored) {
    engine->keyDown();
    queue->advance(0.5);
    engine->keyDown();
    engine->keyDown();
    EXPECT_EQ(engine->state(), State::longPressing);
    EXPECT_EQ(names(), std::vector<std::string>{"longPressStart"});
}

TEST_F(GestureEngineTest, LongPressingUpEndsTheLongPressWithoutAClick) {
    press(0.7);
    EXPECT_EQ(engine->state(), State::idle);
    queue->advance(1.0);
    EXPECT_EQ(gestures, (std::vector<Gesture>{{"longPressStart", 0.3, State::longPressing},
                                              {"longPressEnd", 0.7, State::idle}}));
    EXPECT_EQ(queue->pendingCount(), 0u);
}

TEST_F(GestureEngineTest, ClickDecisionTurnsAwaitingSecondIntoASingleClick) {
    press(0.1);
    queue->advance(0.25);
    EXPECT_EQ(engine->state(), State::idle);
    EXPECT_EQ(engine->clickWork(), nullptr);
    EXPECT_EQ(gestures, (std::vector<Gesture>{{"singleClick", 0.35, State::idle}}));
}

TEST_F(GestureEngineTest, AwaitingSecondDownCancelsTheClick) {
    press(0.1);
    const auto click = engine->clickWork();
    queue->advance(0.1);
    engine->keyDown();
    EXPECT_EQ(engine->state(), State::secondPressed);
    EXPECT_TRUE(click->isCancelled());
    EXPECT_EQ(engine->clickWork(), nullptr);
    EXPECT_EQ(engine->longPressWork(), nullptr);
    queue->advance(1.0);
    EXPECT_TRUE(gestures.empty());
}

TEST_F(GestureEngineTest, AwaitingSecondUpDropsTheClick) {
    press(0.1);
    engine->keyUp();
    EXPECT_EQ(engine->state(), State::idle);
    queue->advance(1.0);
    EXPECT_TRUE(gestures.empty());
}

TEST_F(GestureEngineTest, SecondPressedDownIsIgnored) {
    press(0.1);
    engine->keyDown();
    queue->advance(0.1);
    engine->keyDown();
    EXPECT_EQ(engine->state(), State::secondPressed);
    EXPECT_EQ(engine->longPressWork(), nullptr) << "no long press during a second press";
    EXPECT_EQ(engine->clickWork(), nullptr);
    EXPECT_TRUE(gestures.empty());
}

TEST_F(GestureEngineTest, SecondPressedUpIsADoubleClick) {
    press(0.1);
    queue->advance(0.1);
    press(0.1);
    EXPECT_EQ(engine->state(), State::idle);
    queue->advance(1.0);
    EXPECT_EQ(gestures, (std::vector<Gesture>{{"doubleClick", 0.3, State::idle}}));
}

// --- timing boundaries ---

TEST_F(GestureEngineTest, ShortPressIsOneClickExactlyOneWindowAfterRelease) {
    press(0.29);
    queue->advance(0.249);
    EXPECT_TRUE(gestures.empty());
    EXPECT_EQ(engine->state(), State::awaitingSecond);
    queue->advance(0.001);
    ASSERT_EQ(gestures.size(), 1u);
    EXPECT_EQ(gestures[0].name, "singleClick");
    EXPECT_DOUBLE_EQ(gestures[0].at, 0.54);
    queue->advance(5.0);
    EXPECT_EQ(gestures.size(), 1u);
}

TEST_F(GestureEngineTest, PressJustUnderThresholdIsNotALongPress) {
    press(0.2999);
    queue->advance(1.0);
    EXPECT_EQ(names(), std::vector<std::string>{"singleClick"});
}

TEST_F(GestureEngineTest, PressHeldForThresholdStartsWhileHeldAndEndsAtRelease) {
    engine->keyDown();
    queue->advance(0.3);
    EXPECT_EQ(names(), std::vector<std::string>{"longPressStart"});
    queue->advance(2.0);
    EXPECT_EQ(gestures.size(), 1u);
    engine->keyUp();
    queue->advance(1.0);
    EXPECT_EQ(gestures, (std::vector<Gesture>{{"longPressStart", 0.3, State::longPressing},
                                              {"longPressEnd", 2.3, State::idle}}));
}

TEST_F(GestureEngineTest, SecondPressWithinTheWindowIsOneDoubleClickAtSecondRelease) {
    press(0.1);
    queue->advance(0.24);
    press(0.05);
    queue->advance(1.0);
    ASSERT_EQ(gestures.size(), 1u);
    EXPECT_EQ(gestures[0].name, "doubleClick");
    EXPECT_DOUBLE_EQ(gestures[0].at, 0.39);
}

TEST_F(GestureEngineTest, SecondPressAfterTheWindowGivesTwoSingleClicks) {
    press(0.1);
    queue->advance(0.26);
    press(0.1);
    queue->advance(1.0);
    ASSERT_EQ(names(), (std::vector<std::string>{"singleClick", "singleClick"}));
    EXPECT_DOUBLE_EQ(gestures[0].at, 0.35);
    EXPECT_DOUBLE_EQ(gestures[1].at, 0.71);
}

TEST_F(GestureEngineTest, SecondPressExactlyAtTheWindowEndIsANewPress) {
    press(0.1);
    queue->advance(0.25);  // the click decision is due now and runs first
    press(0.1);
    queue->advance(1.0);
    EXPECT_EQ(names(), (std::vector<std::string>{"singleClick", "singleClick"}));
}

TEST_F(GestureEngineTest, HeldSecondPressReportsNothingUntilReleaseThenDoubleClick) {
    press(0.1);
    queue->advance(0.1);
    engine->keyDown();
    queue->advance(3.0);  // far beyond both the threshold and the window
    EXPECT_TRUE(gestures.empty());
    EXPECT_EQ(engine->state(), State::secondPressed);
    engine->keyUp();
    queue->advance(1.0);
    EXPECT_EQ(gestures, (std::vector<Gesture>{{"doubleClick", 3.2, State::idle}}));
}

TEST_F(GestureEngineTest, AutoRepeatedDownsChangeNothingInAnyHeldState) {
    // Long press with repeats before and after the threshold.
    engine->keyDown();
    for (int i = 0; i < 10; ++i) {
        queue->advance(0.05);
        engine->keyDown();
    }
    engine->keyUp();
    // Double click whose second press repeats.
    press(0.1);
    queue->advance(0.1);
    engine->keyDown();
    for (int i = 0; i < 10; ++i) {
        queue->advance(0.05);
        engine->keyDown();
    }
    engine->keyUp();
    queue->advance(1.0);
    EXPECT_EQ(names(), (std::vector<std::string>{"longPressStart", "longPressEnd", "doubleClick"}));
}

TEST_F(GestureEngineTest, PressAfterTheClickRanStartsFromIdle) {
    press(0.1);
    queue->advance(0.3);
    EXPECT_EQ(names(), std::vector<std::string>{"singleClick"});
    engine->keyDown();
    EXPECT_EQ(engine->state(), State::pressed);
    queue->advance(0.3);
    engine->keyUp();
    EXPECT_EQ(names(), (std::vector<std::string>{"singleClick", "longPressStart", "longPressEnd"}));
}

// --- lost and stray events ---

TEST_F(GestureEngineTest, LostUpBecomesALongPressEndedByTheNextUp) {
    engine->keyDown();
    // The up was lost; the user presses again much later.
    queue->advance(5.0);
    engine->keyDown();
    EXPECT_EQ(engine->state(), State::longPressing);
    engine->keyUp();
    queue->advance(1.0);
    EXPECT_EQ(gestures, (std::vector<Gesture>{{"longPressStart", 0.3, State::longPressing},
                                              {"longPressEnd", 5.0, State::idle}}));
}

TEST_F(GestureEngineTest, LostUpDuringSecondPressStillEndsAsDoubleClick) {
    press(0.1);
    engine->keyDown();
    queue->advance(4.0);
    engine->keyDown();
    engine->keyUp();
    EXPECT_EQ(names(), std::vector<std::string>{"doubleClick"});
}

TEST_F(GestureEngineTest, StrayUpDoesNotShortenTheNextDoubleClickWindow) {
    press(0.1);       // click decision due at 0.35
    engine->keyUp();  // stray up drops that click
    queue->advance(0.05);
    press(0.05);  // released at 0.2; its own decision is due at 0.45
    queue->advance(0.2);
    EXPECT_TRUE(gestures.empty()) << "the dropped click must not fire at 0.35";
    EXPECT_EQ(engine->state(), State::awaitingSecond);
    press(0.05);  // second press inside the window: a double click
    queue->advance(1.0);
    EXPECT_EQ(names(), std::vector<std::string>{"doubleClick"});
}

// --- callbacks and lifetime ---

TEST_F(GestureEngineTest, DefaultAndEmptyCallbacksDoNothing) {
    auto bare = GestureEngine::create(queue);
    bare->onDoubleClick = nullptr;
    bare->keyDown();
    queue->advance(0.4);
    bare->keyUp();
    bare->keyDown();
    bare->keyUp();
    queue->advance(1.0);
    bare->keyDown();
    bare->keyUp();
    bare->keyDown();
    bare->keyUp();
    EXPECT_EQ(bare->state(), State::idle);
}

TEST_F(GestureEngineTest, CallbackMayPressAgainFromInsideTheClick) {
    engine->onSingleClick = [this] {
        gestures.push_back({"singleClick", queue->now(), engine->state()});
        engine->keyDown();
    };
    press(0.1);
    queue->advance(0.25);
    EXPECT_EQ(engine->state(), State::pressed);
    queue->advance(0.3);
    EXPECT_EQ(names(), (std::vector<std::string>{"singleClick", "longPressStart"}));
}

TEST_F(GestureEngineTest, CallbackMayReleaseTheLastOwnerOfTheEngine) {
    std::weak_ptr<GestureEngine> weak = engine;
    int started = 0;
    engine->onLongPressStart = [this, &started] {
        ++started;
        engine.reset();
    };
    engine->keyDown();
    queue->advance(0.3);
    EXPECT_EQ(started, 1);
    EXPECT_TRUE(weak.expired());
}

TEST_F(GestureEngineTest, DestroyedEngineLeavesPendingBlocksHarmless) {
    // One engine with a pending long-press decision, one with a pending click decision.
    engine->keyDown();
    auto other = GestureEngine::create(queue);
    int otherClicks = 0;
    other->onSingleClick = [&otherClicks] { ++otherClicks; };
    other->keyDown();
    other->keyUp();
    std::weak_ptr<GestureEngine> weakEngine = engine;
    std::weak_ptr<GestureEngine> weakOther = other;
    engine.reset();
    other.reset();
    EXPECT_TRUE(weakEngine.expired()) << "the queue must not keep the engine alive";
    EXPECT_TRUE(weakOther.expired());
    // Two live decisions plus the cancelled long-press block of `other`.
    EXPECT_EQ(queue->pendingCount(), 3u);
    queue->advance(1.0);
    EXPECT_TRUE(gestures.empty());
    EXPECT_EQ(otherClicks, 0);
    EXPECT_EQ(queue->pendingCount(), 0u);
}

TEST_F(GestureEngineTest, EnginesDoNotShareState) {
    auto other = GestureEngine::create(queue);
    other->keyDown();
    press(0.1);
    queue->advance(1.0);
    EXPECT_EQ(names(), std::vector<std::string>{"singleClick"});
    EXPECT_EQ(other->state(), State::longPressing);
}

}  // namespace
}  // namespace vurin
