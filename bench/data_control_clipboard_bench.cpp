// What the Wayland clipboard costs a paste, through the compositor's data-control (run it inside
// scripts/test-session after sourcing its wayland-env): a second instance on its own connection
// stands in for the program that owns the clipboard.
//   snapshot + write + restore: a 3-format clipboard read whole, our text written (returns once
//                               the compositor has announced it), the 3 formats written back;
//   1 MB format:                one format of 1 MB read from the other owner.
// Prints; never fails.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/wayland/data_control_clipboard.h"

namespace {

using Clock = std::chrono::steady_clock;
using vurin::ClipboardItem;
using vurin::ClipboardSelection;
using vurin::DataControlClipboard;

constexpr int kRounds = 50;

void printFigures(const char* what, std::vector<double> values) {
    if (values.empty()) {
        std::printf("  %-34s nothing measured\n", what);
        return;
    }
    std::sort(values.begin(), values.end());
    std::printf("  %-34s median %7.2f ms   p95 %7.2f ms   max %7.2f ms   (%zu)\n", what,
                values[values.size() / 2], values[values.size() * 95 / 100], values.back(),
                values.size());
}

double msSince(Clock::time_point from) {
    return std::chrono::duration<double, std::milli>(Clock::now() - from).count();
}

// The other program copies `item`; true once our instance has seen the change.
bool copyElsewhere(DataControlClipboard& other, DataControlClipboard& ours,
                   const ClipboardItem& item) {
    const auto before = ours.changeCount(ClipboardSelection::clipboard);
    other.replace(ClipboardSelection::clipboard, {item});
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    while (ours.changeCount(ClipboardSelection::clipboard) == before) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

}  // namespace

int main() {
    std::string why;
    auto ours = DataControlClipboard::connect(&why);
    auto other = DataControlClipboard::connect(&why);
    if (!ours || !other) {
        std::printf("data_control_clipboard: %s\n", why.c_str());
        return 0;
    }
    std::printf("data_control_clipboard: %s, %d rounds\n", ours->protocol().c_str(), kRounds);

    const ClipboardItem copied{{{"text/plain;charset=utf-8", "a line the user copied"},
                                {"text/html", "<p>a line the user copied</p>"},
                                {"application/x-vurin-bench", std::string(4096, '\x7f')}}};
    std::vector<double> snapshots, writes, restores, totals;
    for (int round = 0; round < kRounds; ++round) {
        if (!copyElsewhere(*other, *ours, copied)) {
            std::printf("  the other owner's copy never arrived\n");
            return 0;
        }
        const auto started = Clock::now();
        const auto saved =
            ours->items(ClipboardSelection::clipboard).value_or(std::vector<ClipboardItem>{});
        snapshots.push_back(msSince(started));
        const auto written = Clock::now();
        ours->writeText(ClipboardSelection::clipboard, "the dictated text");
        writes.push_back(msSince(written));
        const auto restored = Clock::now();
        ours->replace(ClipboardSelection::clipboard, saved);
        restores.push_back(msSince(restored));
        totals.push_back(msSince(started));
        if (saved.size() != 1 || saved.front() != copied) {
            std::printf("  round %d: the snapshot lost formats\n", round);
        }
    }
    printFigures("snapshot (3 formats)", snapshots);
    printFigures("write text", writes);
    printFigures("restore (3 formats)", restores);
    printFigures("snapshot + write + restore", totals);

    const ClipboardItem large{{{"application/octet-stream", std::string(1 << 20, '\x5a')}}};
    std::vector<double> reads;
    for (int round = 0; round < kRounds / 5; ++round) {
        if (!copyElsewhere(*other, *ours, large)) {
            break;
        }
        const auto started = Clock::now();
        const auto read =
            ours->items(ClipboardSelection::clipboard).value_or(std::vector<ClipboardItem>{});
        reads.push_back(msSince(started));
        if (read.size() != 1 || read.front() != large) {
            std::printf("  round %d: the 1 MB format did not arrive whole\n", round);
        }
    }
    printFigures("read one 1 MB format", reads);
    return 0;
}
