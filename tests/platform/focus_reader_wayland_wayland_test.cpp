// The Wayland focus reader on the headless sway: the activated window from the compositor's
// window list (foreign toplevel), the GTK field from the accessibility bus.
#include <gtest/gtest.h>

#include "injection/desktop_apps.h"
#include "injection/focus_verification.h"
#include "platform/wayland/focus_reader_wayland.h"
#include "support/wayland_session.h"

namespace vurin::testing {
namespace {

TEST(WaylandFocusReaderTest, TheActivatedWindowIsTheTargetAndAtspiAddsTheGtkField) {
    std::optional<WaylandSession> session = WaylandSession::join();
    ASSERT_TRUE(session) << "no Wayland session (scripts/test-session)";
    ScopedEnvironment environment;
    for (const auto& [name, value] : session->environment()) {
        value ? environment.set(name, *value) : environment.unset(name);
    }
    environment.set("GDK_BACKEND", "wayland");
    ScratchFolder folder;
    // GTK takes the focus from the seat's keyboard, and the headless sway has none of its own.
    DesktopProgram keyboard({"wtype", "-s", "600000"});
    DesktopProgram one({"foot", "--title", "vurin-one", "cat"});
    DesktopProgram two({"foot", "--title", "vurin-two", "cat"});
    const auto gtk = startGtkEntries(folder, {"dictated here"});
    ASSERT_TRUE(keyboard.started() && one.started() && two.started() && gtk);
    WaylandFocusReader reader;

    // Each row: the sway criteria, the app id, whether it is the GTK window.
    const std::vector<std::tuple<std::string, std::string, bool>> rows = {
        {"[title=vurin-one]", "foot", false},
        {"[title=vurin-two]", "foot", false},
        {"[pid=" + std::to_string(gtk->pid()) + "]", "entries.py", true},
        {"[title=vurin-one]", "foot", false}};
    // A window may not be mapped yet when its program says it is ready, and sway gives the focus
    // to a window as it maps: every one is there before the first is focused.
    for (const auto& [criteria, appId, accessible] : rows) {
        ASSERT_TRUE(eventually([&] { return session->swaymsg(criteria + " nop"); },
                               std::chrono::seconds(20)))
            << criteria;
    }
    std::map<std::string, std::uint64_t> windows;  // kept per window, new at each row
    std::optional<InjectionTarget> previous;
    for (const auto& [criteria, appId, accessible] : rows) {
        SCOPED_TRACE(criteria);
        ASSERT_TRUE(session->swaymsg(criteria + " focus"));
        std::optional<FrontApplication> front;
        // The window is activated, and the accessibility bus has caught up with it.
        ASSERT_TRUE(eventually([&] {
            front = reader.frontmostApplication();
            return front && front->classID == appId &&
                   (!previous || front->windowID != previous->windowID) &&
                   (front->processID == (accessible ? gtk->pid() : 0));
        })) << (front ? front->classID.value_or("?") + " pid " + std::to_string(front->processID)
                      : "none");
        EXPECT_EQ(windows.try_emplace(criteria, front->windowID).first->second, front->windowID);
        const std::optional<InjectionTarget> target = currentInjectionTarget(reader);
        ASSERT_TRUE(target) << "a window without a process is a target on Wayland";
        EXPECT_EQ(target->focusedElement.has_value(), accessible);
        if (accessible) {
            EXPECT_EQ(target->appName, "python3");
            EXPECT_EQ(reader.textOf(*target->focusedElement), "dictated here");
        }
        EXPECT_TRUE(!previous || targetMismatch(reader, *previous)) << "the switch went unnoticed";
        EXPECT_EQ(targetMismatch(reader, *target), std::nullopt);
        previous = target;
    }
}

}  // namespace
}  // namespace vurin::testing
