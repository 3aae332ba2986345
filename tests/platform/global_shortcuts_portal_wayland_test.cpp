#include "platform/linux/global_shortcuts_portal.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "support/testing.h"
#include "support/wayland_session.h"

// Against the real xdg-desktop-portal and the test session's stand-in desktop behind it.
namespace vurin {
namespace {

using namespace std::chrono_literals;

// What the handlers saw, in order; a start as its status and the key bound.
struct Events {
    std::mutex lock;
    std::vector<std::string> seen;
    void add(const std::string& event) {
        std::lock_guard guard(lock);
        seen.push_back(event);
    }
    std::vector<std::string> get() {
        std::lock_guard guard(lock);
        return seen;
    }
    GlobalShortcutsPortal::Handlers handlers() {
        return {[this](const PortalStartResult& r) {
                    const char* names[] = {"bound", "notBound", "unavailable", "failed"};
                    add(names[int(r.status)] + (" " + r.binding.triggerDescription));
                },
                [this](bool down) { add(down ? "down" : "up"); },
                [this](const GlobalShortcutsBinding& b) { add("changed " + b.triggerDescription); },
                [this](const std::string&) { add("closed"); }};
    }
};

// A bus of its own where the portal is activatable but never comes up: activating it would hang.
constexpr const char* emptyBusScript =
    "mkdir -p $D/dbus-1/services && printf '[D-BUS Service]\\nName=org.freedesktop.portal.Desktop"
    "\\nExec=/bin/sleep 60\\n' >$D/dbus-1/services/portal.service && XDG_DATA_HOME=$D exec "
    "dbus-daemon --session --nofork --print-address=1 --print-pid=1 2>/dev/null";
struct EmptyBus {
    FILE* daemon =
        popen(("D=" + ::testing::TempDir() + "empty-bus; " + emptyBusScript).c_str(), "r");
    char address[512] = {}, pid[32] = {};
    EmptyBus() {
        EXPECT_TRUE(fgets(address, 512, daemon) && fgets(pid, 32, daemon));
        address[std::strcspn(address, "\n")] = 0;
    }
    ~EmptyBus() { kill(std::atoi(pid), SIGKILL), pclose(daemon); }
};

struct Case {
    const char* name;
    std::string binding;  // what the desktop binds; "-": the preferred trigger
    std::vector<std::string> desktopActions;
    std::vector<std::string> events;
    std::string bus;  // "": the session bus; "empty": an EmptyBus
};

TEST(GlobalShortcutsPortalTest, SessionsBindTriggerAndEnd) {
    const std::vector<Case> cases = {
        {"bound", "-", {"Activate", "Deactivate", "Activate"}, {"bound F13", "down", "up", "down"}},
        {"desktop binds another key", "CTRL+ALT+D", {"Deactivate"}, {"bound CTRL+ALT+D", "up"}},
        {"nothing bound", "", {}, {"notBound "}},
        {"desktop ends the session", "-", {"CloseSessions"}, {"bound F13", "closed"}},
        {"no portal on the bus", "-", {}, {"unavailable "}, "empty"},
        {"no bus", "-", {}, {"unavailable "}, "unix:path=/nonexistent"},
    };
    const auto session = testing::WaylandSession::join();
    ASSERT_TRUE(session);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto emptyBus = c.bus == "empty" ? std::make_unique<EmptyBus>() : nullptr;
        ASSERT_TRUE(c.binding == "-" ? session->portalControl("ResetBinding")
                                     : session->portalControl("SetBinding", {c.binding}));
        Events events;
        GlobalShortcutsPortal portal(emptyBus ? emptyBus->address : c.bus);
        portal.start("F13", "Dictate", events.handlers());
        ASSERT_TRUE(testing::eventually([&] { return !events.get().empty(); }, 3s));
        for (const std::string& action : c.desktopActions) {  // each answers how many it reached
            EXPECT_TRUE(action == "CloseSessions" ? session->portalControl(action, {}, 1)
                                                  : session->portalControl(action, {"dictate"}, 1));
        }
        testing::eventually([&] { return events.get().size() >= c.events.size(); });
        portal.stop();
        EXPECT_EQ(events.get(), c.events);
    }
    session->portalControl("ResetBinding");
}

// A bus that takes the connection and never answers (a stopped daemon) cannot hold up a stop.
TEST(GlobalShortcutsPortalTest, StopDuringAStartReturnsPromptly) {
    EmptyBus bus;
    kill(std::atoi(bus.pid), SIGSTOP);
    Events events;
    GlobalShortcutsPortal portal(bus.address);
    portal.start("F13", "Dictate", events.handlers());
    const auto before = std::chrono::steady_clock::now();
    portal.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1500ms);
    EXPECT_EQ(events.get(), std::vector<std::string>{});
}

}  // namespace
}  // namespace vurin
