#include "phone/phone_remote_wiring.h"

#include <gtest/gtest.h>

#include "support/app_controller_fixture.h"

namespace vurin {
namespace {

using PhoneRemoteWiringTest = testing::AppControllerFixture;

TEST_F(PhoneRemoteWiringTest, HooksReachTheLiveConfigAndTheGestureEngine) {
    PhoneRemoteHooks hooks = phoneRemoteHooksFor(controller, shell);
    EXPECT_EQ(hooks.config(), &controller->config());
    hooks.keyDown();
    EXPECT_EQ(controller->engine()->state(), GestureEngine::PressState::pressed);
    hooks.keyUp();
    EXPECT_NE(controller->engine()->state(), GestureEngine::PressState::pressed);
    EXPECT_NE(controller->engine()->state(), GestureEngine::PressState::longPressing);
}

TEST_F(PhoneRemoteWiringTest, HooksDoNothingOnceTheControllerIsGone) {
    PhoneRemoteHooks hooks = phoneRemoteHooksFor(controller, shell);
    controller.reset();
    EXPECT_EQ(hooks.config(), nullptr);
    hooks.keyDown();
    hooks.keyUp();
    hooks.rebuildMenu();
}

}  // namespace
}  // namespace vurin
