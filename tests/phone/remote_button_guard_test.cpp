#include "phone/remote_button_guard.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/virtual_main_queue.h"

namespace vurin {
namespace {

class RemoteButtonGuardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        guard->onDown = [this] { calls.push_back("down@" + std::to_string(queue->now())); };
        guard->onUp = [this] { calls.push_back("up@" + std::to_string(queue->now())); };
    }

    std::shared_ptr<testing::VirtualMainQueue> queue =
        std::make_shared<testing::VirtualMainQueue>();
    std::shared_ptr<RemoteButtonGuard> guard = RemoteButtonGuard::create(queue);
    std::vector<std::string> calls;
};

TEST_F(RemoteButtonGuardTest, RepeatedPressIsOneDownAndReleaseWithoutPressIsNothing) {
    EXPECT_EQ(guard->maxHoldDuration(), 61.0);
    guard->release();
    guard->forceRelease();
    EXPECT_TRUE(calls.empty());
    guard->press();
    guard->press();
    EXPECT_TRUE(guard->isPressed());
    guard->release();
    guard->release();
    EXPECT_FALSE(guard->isPressed());
    EXPECT_EQ(calls, (std::vector<std::string>{"down@0.000000", "up@0.000000"}));
}

TEST_F(RemoteButtonGuardTest, PressHeldPastMaxIsReleasedAt61Seconds) {
    guard->press();
    queue->advance(60.999);
    EXPECT_TRUE(guard->isPressed());
    queue->advance(0.001);
    EXPECT_FALSE(guard->isPressed());
    ASSERT_EQ(calls.size(), 2U);
    EXPECT_EQ(calls[1], "up@61.000000");
    // The real release arriving later is ignored.
    guard->release();
    EXPECT_EQ(calls.size(), 2U);
}

TEST_F(RemoteButtonGuardTest, ReleaseCancelsTheAutomaticRelease) {
    guard->press();
    queue->advance(10);
    guard->release();
    // A new press at 30 s gets its own full 61 s; the first press's timer must not cut it short.
    queue->advance(20);
    guard->press();
    queue->advance(60);
    EXPECT_TRUE(guard->isPressed());
    queue->advance(1);
    EXPECT_EQ(calls, (std::vector<std::string>{"down@0.000000", "up@10.000000", "down@30.000000",
                                               "up@91.000000"}));
}

TEST_F(RemoteButtonGuardTest, ForceReleaseEndsAPressAtOnce) {
    guard->press();
    queue->advance(5);
    guard->forceRelease();
    EXPECT_EQ(calls.back(), "up@5.000000");
    queue->advance(100);
    EXPECT_EQ(calls.size(), 2U);
}

TEST_F(RemoteButtonGuardTest, AutomaticReleaseOfADestroyedGuardDoesNothing) {
    guard->press();
    guard.reset();
    queue->advance(61);
    EXPECT_EQ(calls.size(), 1U);
}

}  // namespace
}  // namespace vurin
