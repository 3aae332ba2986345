// The X11 key grab and permission probe against the session's X server: the failures.
#include <gtest/gtest.h>

#include "platform/linux/key_grab_x11.h"
#include "platform/linux/permission_probe_x11.h"
#include "support/testing.h"

namespace vurin::testing {
namespace {

// The probe's trial grab is given back and sees ours; a second grab of the key is refused.
TEST(TriggerCaptureDesktopTest, RefusalsAndMissingServices) {
    constexpr int kF13 = 183;
    X11PermissionProbe probe, nowhere(":99");
    EXPECT_EQ(probe.keyGrab(kF13), KeyGrabAccess::granted);
    X11KeyGrab grab;
    ASSERT_EQ(grab.start(kF13, {}).status, KeyGrabStatus::ok);
    EXPECT_EQ(probe.keyGrab(kF13), KeyGrabAccess::taken);
    EXPECT_EQ(X11KeyGrab().start(kF13, {}).reason,
              "❌ 触发键(X 键码 191)已被其他程序占用,X 服务器拒绝了抓取");
    EXPECT_EQ(X11KeyGrab(":99").start(kF13, {}).reason,
              "❌ 无法连接 X11 显示(DISPLAY=:99),触发键不可用");
    EXPECT_EQ(nowhere.syntheticInput(), SyntheticInputAccess::noDisplay);
    EXPECT_EQ(nowhere.keyGrab(kF13), KeyGrabAccess::noDisplay);
    ScopedEnvironment environment;
    environment.set("AT_SPI_BUS_ADDRESS", "unix:path=/nonexistent/vurin-test-bus");
    EXPECT_FALSE(probe.accessibilityBusReachable());
}

}  // namespace
}  // namespace vurin::testing
