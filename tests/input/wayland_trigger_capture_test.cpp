#include "input/wayland_trigger_capture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <sstream>
#include <thread>

#include "support/language.h"
#include "support/testing.h"
#include "support/virtual_main_queue.h"

namespace vurin::testing {
namespace {

// The desktop's shortcuts portal and the keyboards K1 and K2, each played from its own thread.
struct FakeSources : GlobalShortcuts, KeyboardWatch {
    void start(std::string, std::string, GlobalShortcuts::Handlers h) override { portal = h; }
    std::vector<std::string> start(int, KeyboardWatch::Handlers given) override {
        keys = given;
        return devices;
    }
    bool canConfigure() const override { return false; }
    bool configure() override { return false; }
    void stop() override {}
    void play(const std::string& step) {
        const std::size_t status = std::string("bnuf").find(step[1]);
        const GlobalShortcutsBinding desktop{status == 0 || step[1] == 'B', "Ctrl+Alt+D"};
        step[0] == 'K' && step[2] == 'x'   ? keys.onFailure(step.substr(0, 2), {})
        : step[0] == 'K' && step[2] == 'a' ? keys.onAdded(step.substr(0, 2))
        : step[0] == 'K'                   ? keys.onKey(step.substr(0, 2), {183, step[2] == '+'})
        : status != std::string::npos      ? portal.onStarted({PortalStatus(status), desktop})
        : step[1] == 'B' || step[1] == 'U' ? portal.onBindingChanged(desktop)
        : step[1] == 'c'                   ? portal.onClosed("closed")
                                           : portal.onTrigger(step[1] == '+');
    }
    GlobalShortcuts::Handlers portal;
    KeyboardWatch::Handlers keys;
    std::vector<std::string> devices{"K1", "K2"};
};

// A queue that, on every post, checks from another thread that the capture still answers: its
// lock is held around its fields only, never across a call such as this post.
class CheckingQueue : public VirtualMainQueue {
  public:
    ~CheckingQueue() override { joinCheckers(); }
    void joinCheckers() {
        for (std::thread& checker : checkers) {
            checker.join();
        }
        checkers.clear();
    }
    std::function<void()> probe;
    std::atomic<int> postsUnderLock = 0;

  protected:
    void enqueue(std::function<void()> block) override {
        if (probe) {
            auto answered = std::make_shared<std::atomic<bool>>(false);
            checkers.emplace_back([probe = probe, answered] {
                probe();
                *answered = true;
            });
            if (!eventually([&] { return answered->load(); }, std::chrono::seconds(1))) {
                ++postsUnderLock;
            }
        }
        VirtualMainQueue::enqueue(std::move(block));
    }

  private:
    std::vector<std::thread> checkers;
};

// Name; sources: p a portal, k a keyboard each, b `vurin --trigger` reaches us; script; gestures.
// T1 T0 what setupEventTap() answers. Portal: Pb Pn Pu Pf it started bound to Ctrl+Alt+D / not
// bound / unavailable / failed, PB PU the desktop binds / unbinds it, Pc it closed, P+ P- its key.
// K1+ K1- keyboard 1's key, K1x it is lost, K3a keyboard 3 is plugged in. C+ C- the binding. H h
// main thread busy / free. 0.5 advances the clock. =bk0: access() bindingOnly (g granted, n
// noTriggerSource), path keyboards
// (- none, p portal: the label names Ctrl+Alt+D, c binding), 0 binding presses logged as ignored.
struct Row {
    std::string_view name, sources, script, gestures;
};
const Row rows[] = {
    {.name = "portal bound: a binding press is released, its later ones ignored",
     .sources = "pkb",
     .script = "=b-0 T1 =b-0 C+ =gc0 0.5 Pb =gp0 C- P+ 0.5 P- C+ C- =gp1",
     .gestures = "start@0.3 end@0.5 start@0.8 end@1"},
    {.name = "no keyboards: the binding, granted from its first press",
     .sources = "pb",
     .script = "T1 Pu =bc0 C+ =gc0 0.5 C- T1",
     .gestures = "start@0.3 end@0.5"},
    {.name = "nothing works", .sources = "p", .script = "T1 =b-0 Pf =n-0 T0", .gestures = ""},
    {.name = "two keyboards and their repeats make one press",
     .sources = "kk",
     .script = "T1 =gk0 K1+ 0.1 K2+ K1+ 0.4 K1- K2+ 0.3 K2- 1",
     .gestures = "start@0.3 end@0.8"},
    {.name = "a keyboard lost while down releases; the last leaves the binding",
     .sources = "kkb",
     .script = "T1 K1+ 0.5 K1x =gk0 0.5 K1- K2+ 0.2 K2- 1 K2x =bc0",
     .gestures = "start@0.3 end@0.5 click@1.45"},
    {.name = "a keyboard plugged in after the last went brings the keyboards back",
     .sources = "kb",
     .script = "T1 K1x =bc0 C+ 0.5 K3a =gk0 C- K3+ 0.5 K3- 1",
     .gestures = "start@0.3 end@0.5 start@0.8 end@1"},
    {.name = "none at start: the first keyboard plugged in is read",
     .sources = "b",
     .script = "T1 =bc0 K3a =gk0 K3+ 0.5 K3- 1",
     .gestures = "start@0.3 end@0.5"},
    {.name = "portal closed while down: released, then the keyboards",
     .sources = "pk",
     .script = "T1 Pb P+ 0.5 Pc =gk0 P- K1+ 0.5 K1- 1",
     .gestures = "start@0.3 end@0.5 start@0.8 end@1"},
    {.name =
         "a portal that comes back is the trigger again; the keyboards go on when it is unbound",
     .sources = "pk",
     .script = "T1 Pb Pc =gk0 Pb =gp0 P+ 0.5 P- Pc Pn =gk0 K1+ 0.5 K1- 1",
     .gestures = "start@0.3 end@0.5 start@0.8 end@1"},
    {.name = "no bus name, portal unbound: keyboards; bound later: the portal; unbound: keyboards",
     .sources = "pk",
     .script = "=b-0 T1 Pn =gk0 K1+ 0.5 K1- PB =gp0 P+ 0.5 P- K1+ 0.5 K1- PU =gk0 K1+ 0.5 K1- T1",
     .gestures = "start@0.3 end@0.5 start@0.8 end@1 start@1.8 end@2"},
    {.name = "a busy main thread: the engine gets the times the keys moved",
     .sources = "k",
     .script = "T1 H K1+ 0.5 K1- h",
     .gestures = "start@0.5 end@0.5"},
    // Each binding event is a process of its own: a release may arrive before its press.
    {.name = "a binding press that arrives after its release is dropped, not held",
     .sources = "b",
     .script = "T1 1 C-@0.9 C+@0.8 =gc1 1",
     .gestures = ""},
    // A time from the bus is not trusted: one far in the future must not silence what follows.
    {.name = "a far-future binding time counts as now",
     .sources = "b",
     .script = "T1 1 C+@99 0.5 C-@1.5 1",
     .gestures = "start@1.3 end@1.5"},
};

TEST(WaylandTriggerCaptureTest, OneSourceAtATimeDeliversEachPressOnce) {
    applyUILang("zh");
    for (const auto& [name, sources, script, gestures] : rows) {
        SCOPED_TRACE(name);
        LogCapture logs;
        auto queue = std::make_shared<CheckingQueue>();
        auto fake = std::make_shared<FakeSources>();
        fake->devices.resize(std::ranges::count(sources, 'k'));
        auto capture = WaylandTriggerCapture::create(
            queue, {sources[0] == 'p' ? fake : nullptr, std::shared_ptr<KeyboardWatch>(fake)});
        auto engine = GestureEngine::create(queue);
        std::ostringstream made;
        for (auto [callback, gesture] : {std::pair{&engine->onLongPressStart, "start"},
                                         {&engine->onLongPressEnd, "end"},
                                         {&engine->onSingleClick, "click"},
                                         {&engine->onDoubleClick, "double"}}) {
            *callback = [&, gesture] { made << ' ' << gesture << '@' << queue->now(); };
        }
        capture->setEngine(engine);
        queue->probe = [weak = std::weak_ptr(capture)] {
            if (auto live = weak.lock()) {
                live->activePath();
            }
        };
        capture->setBindingAvailable(sources.back() == 'b');
        std::optional<MainQueue::Hold> busy;
        std::istringstream steps{std::string(script)};
        for (std::string step; steps >> step; queue->runPending()) {
            if (step == "T1" || step == "T0") {
                EXPECT_EQ(capture->setupEventTap(), step == "T1");
            } else if (step[0] == '=') {
                EXPECT_EQ(step, std::string("=") + "g???bn"[int(capture->access())] +
                                    "-pkc"[int(capture->activePath())] +
                                    std::to_string(logs.countContaining("已忽略")));
                EXPECT_EQ(capture->triggerKeyLabel(),
                          step[2] == 'p' ? "当前:Ctrl+Alt+D(桌面快捷键)" : "当前:F13 (键码 105)");
            } else {
                step[0] == 'C' && step.size() > 2
                    ? capture->bindingEvent(step[1] == '+', std::stod(step.substr(3)))
                : step[0] == 'C'                   ? capture->bindingEvent(step[1] == '+')
                : step == "H"                      ? (void)busy.emplace(queue->hold())
                : step == "h"                      ? busy.reset()
                : step[0] == 'P' || step[0] == 'K' ? std::thread([&] { fake->play(step); }).join()
                                                   : queue->advance(std::stod(step));
            }
        }
        EXPECT_EQ(made.str(), gestures.empty() ? "" : " " + std::string(gestures));
        queue->joinCheckers();
        EXPECT_EQ(queue->postsUnderLock, 0);
    }
}

}  // namespace
}  // namespace vurin::testing
