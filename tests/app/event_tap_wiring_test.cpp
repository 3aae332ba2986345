#include "app/event_tap_wiring.h"

#include <gtest/gtest.h>

#include "config/config.h"
#include "support/app_controller_fixture.h"
#include "support/fake_key_grab.h"

namespace vurin::testing {
namespace {

class EventTapWiring : public AppControllerFixture {
  protected:
    void SetUp() override {
        AppControllerFixture::SetUp();
        controller->config().keyCode = 61;
        wireEventTap(*tap, controller);
        launch();
    }

    std::shared_ptr<FakeKeyGrab> grab = std::make_shared<FakeKeyGrab>();
    std::shared_ptr<EventTap> tap = EventTap::create(queue, grab);
};

TEST_F(EventTapWiring, TriggerFromTheConfigurationDrivesTheControllersEngine) {
    EXPECT_EQ(tap->tapKeyCode(), 61);
    ASSERT_TRUE(tap->setupEventTap());
    EXPECT_EQ(grab->startedWith, std::vector<int>{100});
    grab->press(100);
    queue->advance(0.5);
    EXPECT_EQ(controller->engine()->state(), GestureEngine::PressState::longPressing);
    grab->release(100);
    queue->runPending();
    EXPECT_EQ(controller->engine()->state(), GestureEngine::PressState::idle);
}

TEST_F(EventTapWiring, DetectionStoresTheKeyAndRestoresTheStatusItem) {
    ASSERT_TRUE(tap->setupEventTap());
    tap->startDetectKey();
    EXPECT_EQ(shell->statusItem->title, "⌨️");
    grab->press(1);  // Escape
    queue->runPending();
    EXPECT_EQ(controller->config().keyCode, 53);
    EXPECT_EQ(loadConfig().keyCode, 53);
    EXPECT_EQ(shell->statusItem->title, "🎙️");
    EXPECT_EQ(menuTitles().at(0), "状态:就绪(Key 53)");  // the fixture's display names
    EXPECT_TRUE(logged("🔑 触发键已设为 Escape (键码 53)"));
}

}  // namespace
}  // namespace vurin::testing
