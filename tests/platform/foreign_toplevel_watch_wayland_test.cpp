// The compositor's window list through a relay of sway that the test ends and starts again, as a
// compositor restart ends and opens the connection.
#include "platform/wayland/foreign_toplevel_watch.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <fcntl.h>
#include <unistd.h>

#include "support/desktop_program.h"
#include "support/testing.h"
#include "support/wayland_session.h"

namespace vurin::testing {
namespace {

using std::chrono::milliseconds;

TEST(ForeignToplevelWatchTest, ALostConnectionIsSaidOnceAndMadeAgain) {
    std::optional<WaylandSession> session = WaylandSession::join();
    ASSERT_TRUE(session);
    const std::string socket = (session->sharedFolder() / "relay").string();
    ScopedEnvironment environment;
    environment.set("WAYLAND_DISPLAY", socket);
    std::optional<DesktopProgram> relay(std::in_place, session->relay(socket));
    ASSERT_TRUE(eventually([&] { return access(socket.c_str(), F_OK) == 0; }));
    LogCapture logs;
    ForeignToplevelWatch watch;
    const auto following = [&] {
        return watch.read(milliseconds(100), milliseconds(100)).following;
    };
    ASSERT_TRUE(eventually(following));
    for (const char* round : {"first", "second"}) {
        SCOPED_TRACE(round);
        relay.reset();
        ASSERT_TRUE(eventually([&] { return !following(); }));
        relay.emplace(session->relay(socket));
        ASSERT_TRUE(eventually(following, std::chrono::seconds(10)));
    }
    EXPECT_EQ(logs.countContaining("前台窗口跟踪:与 Wayland 合成器的连接断开"), 2U);
    EXPECT_EQ(logs.countContaining("前台窗口跟踪:已重新连上合成器"), 2U);
}

// With room for one more descriptor only, the second eventfd fails: the first is not kept.
TEST(ForeignToplevelWatchTest, NoDescriptorIsKeptWhenOneCannotBeMade) {
    const int first = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int second = open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_LT(first, second);
    close(first);
    close(second);
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    const rlimit tight{static_cast<rlim_t>(second), limit.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    std::optional<ForeignToplevelWatch> watch(std::in_place);
    setrlimit(RLIMIT_NOFILE, &limit);
    EXPECT_FALSE(watch->read(milliseconds(0), milliseconds(0)).following);
    watch.reset();
    EXPECT_EQ(fcntl(first, F_GETFD), -1) << "descriptor " << first << " left open";
}

}  // namespace
}  // namespace vurin::testing
