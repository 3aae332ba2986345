// How soon the user's clipboard comes back after the paste's target has read the dictation, and
// how long the whole paste cycle holds the clipboard: the user's copy saved, the dictation
// written, the "keystroke" (a line to a program that reads the clipboard at once, as a field
// does on Ctrl+V, 20 ms after it: a cue from outside the display would otherwise overtake the
// news of the new owner, which a real keystroke never does), the target's read, the restore.
// The restore used to come 400 ms after the keystroke whatever the target did.
//
// Run it inside scripts/test-session: on X11 by default (the Qt clipboard, readers named by the
// X server), with --wayland (after sourcing wayland-env) through sway's data-control against
// wl-paste. The first other argument is the number of runs (20 by default). Prints the
// figures; never fails.
#include <QApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "injection/clipboard_restore.h"
#include "platform/wayland/data_control_clipboard.h"
#include "platform/x11/selection_probe_x11.h"
#include "pump_events.h"
#include "support/desktop_program.h"
#include "support/log.h"
#include "ui/qt/qt_clipboard.h"
#include "ui/qt/qt_main_queue.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using vurin::ClipboardSelection;

// The clipboard as Vurin has it, with the moment of each read of its text noted on the way.
class TimedReads : public vurin::Clipboard {
  public:
    explicit TimedReads(std::shared_ptr<vurin::Clipboard> inner) : inner_(std::move(inner)) {}
    std::optional<std::vector<vurin::ClipboardItem>> items(ClipboardSelection which) override {
        return inner_->items(which);
    }
    void replace(ClipboardSelection which,
                 const std::vector<vurin::ClipboardItem>& items) override {
        inner_->replace(which, items);
    }
    bool writeText(ClipboardSelection which, const std::string& text) override {
        return inner_->writeText(which, text);
    }
    std::int64_t changeCount(ClipboardSelection which) const override {
        return inner_->changeCount(which);
    }
    bool offersPrimary() const override { return inner_->offersPrimary(); }
    bool available() const override { return inner_->available(); }
    bool reportsReads() const override { return inner_->reportsReads(); }
    void setReadObserver(std::function<void(const vurin::ClipboardRead&)> observer) override {
        inner_->setReadObserver([this, observer](const vurin::ClipboardRead& read) {
            if (vurin::isTextFormat(read.format)) {
                const std::lock_guard lock(mutex_);
                lastRead_ = Clock::now();
            }
            observer(read);
        });
    }
    std::optional<Clock::time_point> lastRead() {
        const std::lock_guard lock(mutex_);
        return lastRead_;
    }
    void forget() {
        const std::lock_guard lock(mutex_);
        lastRead_.reset();
    }

  private:
    std::shared_ptr<vurin::Clipboard> inner_;
    std::mutex mutex_;
    std::optional<Clock::time_point> lastRead_;
};

template <typename Condition>
bool pumpUntil(Condition condition) {
    return vurin::bench::pumpUntil(condition, 10s, 100us);
}

double percentile(std::vector<double> values, double share) {
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(share * static_cast<double>(values.size() - 1))];
}

void printRow(const char* what, const std::vector<double>& values) {
    if (values.empty()) {
        std::printf("  %-40s no run completed\n", what);
        return;
    }
    std::printf("  %-40s median %7.1f ms   p95 %7.1f ms\n", what, percentile(values, 0.5),
                percentile(values, 0.95));
}

double millisecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

}  // namespace

int main(int argc, char** argv) {
    const bool wayland = argc > 1 && std::strcmp(argv[1], "--wayland") == 0;
    const int runs = argc > 1 + wayland ? std::max(1, std::atoi(argv[1 + wayland])) : 20;
    QApplication application(argc, argv);
    vurin::X11SelectionProbe probe;
    std::shared_ptr<vurin::Clipboard> real;
    std::string why;
    if (wayland) {
        real = vurin::DataControlClipboard::connect(&why);
    } else {
        real = std::make_shared<vurin::QtClipboard>(
            [&](ClipboardSelection which) { return probe.ownerAnswers(which, 300ms); }, 1000ms,
            [&](std::uint32_t window) { return probe.requestorProcess(window); });
    }
    if (!real) {
        std::printf("clipboard_restore: no clipboard (%s)\n", why.c_str());
        return 0;
    }
    const auto clipboard = std::make_shared<TimedReads>(real);
    const auto keeper = std::make_shared<vurin::ClipboardKeeper>(clipboard);
    const auto restore = vurin::ClipboardRestore::create(
        std::make_shared<vurin::QtMainQueue>(&application), clipboard, keeper);
    const std::vector<std::string> reader =
        wayland
            ? std::vector<
                  std::string>{"sh", "-c",
                               "echo ready; while read line; do sleep 0.02; printf 'pasted %s\\n' "
                               "\"$(wl-paste -n)\"; done"}
            : std::vector<std::string>{VURIN_QT_DESKTOP_HELPER, "paste", "clipboard", "20"};
    vurin::testing::DesktopProgram target(reader, true);
    if (!target.waitForLine("ready")) {
        std::printf("clipboard_restore: the reading program did not start\n");
        return 0;
    }
    clipboard->writeText(ClipboardSelection::clipboard, "the user's own copy");

    // The restore says so in its line, the moment it is done.
    std::atomic<int> restores = 0;
    vurin::setLogObserver([&](const std::string& line) {
        if (line.find("剪贴板已还原") != std::string::npos) {
            ++restores;
        }
    });
    std::vector<double> afterRead, cycle, keystrokeToRead;
    int failed = 0;
    for (int run = 0; run < runs; ++run) {
        clipboard->forget();
        const int restoredBefore = restores;
        const auto started = Clock::now();
        auto saved = keeper->save(ClipboardSelection::clipboard);
        const vurin::SelectionWrite write = keeper->writeText(
            ClipboardSelection::clipboard, "dictated " + std::to_string(run), std::move(saved));
        restore->await({write}, wayland ? 0 : target.pid());
        const auto keystroke = Clock::now();
        target.write("v\n");
        restore->keystrokeDelivered();
        const bool restored = pumpUntil([&] { return restores > restoredBefore; });
        const auto back = Clock::now();
        const auto read = clipboard->lastRead();
        const std::string pasted = "pasted dictated " + std::to_string(run);
        if (!restored || !read || !pumpUntil([&] { return target.waitForLine(pasted, 10ms); })) {
            ++failed;
            continue;
        }
        afterRead.push_back(millisecondsBetween(*read, back));
        keystrokeToRead.push_back(millisecondsBetween(keystroke, *read));
        cycle.push_back(millisecondsBetween(started, back));
    }
    std::printf("clipboard restore on %s (%d runs, %d failed):\n",
                wayland ? "Wayland (sway data-control)" : "X11 (Qt clipboard)", runs, failed);
    printRow("keystroke -> the target's read", keystrokeToRead);
    printRow("the target's read -> clipboard restored", afterRead);
    printRow("whole cycle (save, write, read, restore)", cycle);
    std::printf("  (a fixed delay restored 400 ms after the keystroke)\n");
    return 0;
}
