// From the end of the recording to the text in the field, through the whole real application on
// the real KDE Plasma or GNOME desktop of scripts/test-session (start DIR kde|gnome, then source
// DIR/env; ports 8910 and 11434 free). The first argument changes the number of dictations (5).
//   kde:   F13 through KWin's fake input is the global shortcut KDE registers for Vurin (held,
//          then released); the text goes through data-control and the portal's Ctrl+V into a Qt
//          field.
//   gnome: `vurin --trigger toggle` is what GNOME's custom shortcut runs (pressed once to start
//          and once to end); the text, 200 characters, is typed through the portal into a GTK
//          field, as GNOME 43 has no data-control.
// The portal's consent dialog is answered at the first recording. Each run plays an utterance
// into the virtual microphone; the clock runs from the release (the second toggle) to the
// field's change that completes the text. Vurin's own share is that minus the two service calls
// as Vurin timed them (sttMs and llmMs of the history line). Prints; never fails.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "app/app_controller.h"

#include "support/gnome_session.h"
#include "support/kde_session.h"
#include "support/vurin_under_test.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace vurin::testing;

constexpr int kF13 = 183;
constexpr double kToggleRepeatSeconds = vurin::AppController::kToggleRepeatSeconds;
// 200 characters that the stand-in polish leaves as they are.
const std::string kText =
    "Please add a unit test for the parser that covers empty input, a single token, nested "
    "brackets and a very long line, then run the whole suite twice and tell me which cases "
    "still fail at the end of it.";

void print(const char* what, std::vector<double> values) {
    if (values.empty()) {
        std::printf("  %-34s nothing arrived\n", what);
        return;
    }
    std::sort(values.begin(), values.end());
    std::printf("  %-34s median %7.1f ms   p95 %7.1f ms   (%zu)\n", what, values[values.size() / 2],
                values[values.size() * 95 / 100], values.size());
}

// sttMs + llmMs of the history's `index`-th line (from 0).
double serviceMs(const VurinUnderTest& vurin, std::size_t index) {
    const auto lines = readLines(vurin.config() / "history.jsonl");
    if (index >= lines.size()) {
        return 0;
    }
    const auto record = nlohmann::json::parse(lines[index], nullptr, false);
    return record.is_discarded() ? 0 : record.value("sttMs", 0.0) + record.value("llmMs", 0.0);
}

}  // namespace

int main(int argc, char** argv) {
    const char* running = std::getenv("VURIN_TEST_DESKTOP");
    const std::string desktop = running ? running : "";
    if (desktop != "kde" && desktop != "gnome") {
        std::printf("desktop_dictation: run inside scripts/test-session start DIR kde|gnome\n");
        return 0;
    }
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const bool kde = desktop == "kde";
    const std::unique_ptr<DesktopSession> joined =
        kde ? std::unique_ptr<DesktopSession>(std::make_unique<KdeSession>())
            : std::make_unique<GnomeSession>();
    DesktopSession& session = *joined;
    ScratchFolder folder;
    ScopedEnvironment environment;
    VurinUnderTest vurin(folder / "", environment);
    environment.set("VURIN_STAND_IN_TRANSCRIPT", kText);
    if (!vurin.launch({}, DesktopSession::inAppScope("com.vurin.app", {})) ||
        !vurin.waitFor("✅ 本地 whisper-server 就绪") || !vurin.waitFor("✅ 本地润色已预热就绪")) {
        std::printf("desktop_dictation: Vurin did not start\n%s", vurin.log().c_str());
        return 0;
    }
    const auto field = kde ? session.qtField("") : session.gtkField("");
    if (!field || !session.activate(field->pid())) {
        std::printf("desktop_dictation: no field to dictate into\n");
        return 0;
    }
    const auto toggle = [&] { return vurin.run("--trigger toggle").first == 0; };
    std::vector<double> total, own;
    std::string expected;
    for (int run = 1; run <= runs; ++run) {
        const bool started = kde ? session.key(kF13, true) : toggle();
        if (!started || !vurin.waitFor("🔴 录音中", run) ||
            (run == 1 && !session.shareWhenAsked()) || !vurin.speak()) {
            std::printf("run %d: the recording did not start\n", run);
            break;
        }
        const auto released = Clock::now();
        if (!(kde ? session.key(kF13, false) : toggle())) {
            break;
        }
        expected += kText;
        if (!field->waitForLine("text " + expected, std::chrono::seconds(60))) {
            std::printf("run %d: the text did not arrive; the field said:\n%s\n", run,
                        field->remainingOutput(std::chrono::milliseconds(100)).c_str());
            break;
        }
        const double ms =
            std::chrono::duration<double, std::milli>(Clock::now() - released).count();
        total.push_back(ms);
        vurin.waitFor("目标确认成功", run);
        // A toggle that follows the one before this closely is taken for a held key's repeat.
        std::this_thread::sleep_for(std::chrono::duration<double>(kToggleRepeatSeconds));
        eventually([&] {
            return readLines(vurin.config() / "history.jsonl").size() >=
                   static_cast<std::size_t>(run);
        });
        own.push_back(ms - serviceMs(vurin, static_cast<std::size_t>(run - 1)));
    }
    std::printf("%s, %zu characters (%s):\n", kde ? "KDE Plasma 5.27" : "GNOME 43", kText.size(),
                kde ? "release, data-control + the portal's Ctrl+V into a Qt field"
                    : "second toggle, typed through the portal into a GTK field");
    print("release -> text in the field", total);
    print("of which Vurin's own share", own);
    return 0;
}
