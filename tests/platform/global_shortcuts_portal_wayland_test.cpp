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

// A bus of its own without a portal (the system's own service files are not read); with
// `activatable`, one that is started on demand but never comes up.
constexpr const char* emptyBusScript =
    "mkdir -p $D/services && if [ $A = 1 ]; then printf '[D-BUS Service]\\nName=org.freedesktop"
    ".portal.Desktop\\nExec=/bin/sleep 60\\n' >$D/services/portal.service; fi && printf "
    "'<busconfig>"
    "<type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth><servicedir>'$D"
    "'/services</servicedir><policy context=\"default\"><allow send_destination=\"*\" "
    "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>' "
    ">$D/bus.conf && exec dbus-daemon --config-file=$D/bus.conf"
    " --nofork --print-address=1 --print-pid=1 2>/dev/null";
struct EmptyBus {
    explicit EmptyBus(bool activatable)
        : daemon(popen(("D=" + ::testing::TempDir() + "empty-bus" + (activatable ? "1" : "0") +
                        "; A=" + (activatable ? "1; " : "0; ") + emptyBusScript)
                           .c_str(),
                       "r")) {
        EXPECT_TRUE(fgets(address, 512, daemon) && fgets(pid, 32, daemon));
        address[std::strcspn(address, "\n")] = 0;
    }
    FILE* daemon;
    char address[512] = {}, pid[32] = {};
    ~EmptyBus() { kill(std::atoi(pid), SIGKILL), pclose(daemon); }
};

struct Case {
    const char* name;
    std::string binding;  // what the desktop binds; "-": the preferred trigger
    std::vector<std::string> desktopActions;
    std::vector<std::string> events;
    std::string bus;  // "": the session bus; "empty", "activatable": an EmptyBus
};

TEST(GlobalShortcutsPortalTest, SessionsBindTriggerAndEnd) {
    const std::vector<Case> cases = {
        {"bound", "-", {"Activate", "Deactivate", "Activate"}, {"bound F13", "down", "up", "down"}},
        {"desktop binds another key", "CTRL+ALT+D", {"Deactivate"}, {"bound CTRL+ALT+D", "up"}},
        {"nothing bound", "", {}, {"notBound "}},
        {"desktop ends the session", "-", {"CloseSessions"}, {"bound F13", "closed"}},
        // The trigger comes back without a restart of Vurin.
        {"the portal restarts: a new session, bound again",
         "-",
         {"RestartPortal", "Activate"},
         {"bound F13", "closed", "bound F13", "down"}},
        {"no portal on the bus", "-", {}, {"unavailable "}, "empty"},
        {"a portal started on demand that never answers", "-", {}, {"failed "}, "activatable"},
        {"no bus", "-", {}, {"unavailable "}, "unix:path=/nonexistent"},
    };
    const auto session = testing::WaylandSession::join();
    ASSERT_TRUE(session);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto emptyBus = c.bus == "empty" || c.bus == "activatable"
                            ? std::make_unique<EmptyBus>(c.bus == "activatable")
                            : nullptr;
        ASSERT_TRUE(c.binding == "-" ? session->portalControl("ResetBinding")
                                     : session->portalControl("SetBinding", {c.binding}));
        Events events;
        GlobalShortcutsPortal portal(emptyBus ? emptyBus->address : c.bus);
        portal.start("F13", "Dictate", events.handlers());
        // Bounded even when the portal never answers: a call gives up after 5 s.
        ASSERT_TRUE(testing::eventually([&] { return !events.get().empty(); }, 8s));
        for (const std::string& action : c.desktopActions) {  // each answers how many it reached
            const std::size_t before = events.get().size();
            EXPECT_TRUE(
                action == "RestartPortal"   ? session->restartPortal() && testing::eventually([&] {
                                                return events.get().size() >= before + 2;
                                            })
                : action == "CloseSessions" ? session->portalControl(action, {}, 1)
                                            : session->portalControl(action, {"dictate"}, 1))
                << action << ": " << ::testing::PrintToString(events.get());
        }
        testing::eventually([&] { return events.get().size() >= c.events.size(); });
        portal.stop();
        EXPECT_EQ(events.get(), c.events);
    }
    session->portalControl("ResetBinding");
}

// A bus that takes the connection and never answers (a stopped daemon) cannot hold up a stop.
TEST(GlobalShortcutsPortalTest, StopDuringAStartReturnsPromptly) {
    EmptyBus bus(false);
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
