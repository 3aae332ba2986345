#pragma once
// The restore after a paste on a real desktop: a program slow to paste reads Vurin's text
// late, a clipboard manager reads every new owner at once, the user copies during the wait.
// Each desktop gives its own programs; the rules are the same everywhere.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdio>

#include "injection/clipboard_restore.h"
#include "injection/desktop_apps.h"
#include "ui/qt/qt_main_queue.h"

namespace vurin::testing {

struct ClipboardReaders {
    // Reads the clipboard's text `delayMs` after each line it is given, and prints "pasted "
    // and the text.
    std::function<std::unique_ptr<DesktopProgram>(int delayMs)> slowPaster;
    // Prints "read " and the text of each new owner as soon as it appears.
    std::function<std::unique_ptr<DesktopProgram>()> manager;
    // Owns the clipboard with this text until it ends.
    std::function<std::unique_ptr<DesktopProgram>(const std::string& text)> copy;
    // The clipboard's text as another program reads it.
    std::function<std::optional<std::string>()> text;
    // Whether the slow paster is known by its process (as X11 names every reader).
    bool pasterNamed = false;
};

struct ClipboardReadRow {
    const char* name;
    int pasterDelayMs;  // -1: nobody pastes
    bool userCopies;    // someone copies right after the keystroke
    const char* expectedClipboard;
};

inline const ClipboardReadRow kClipboardReadRows[] = {
    {"ATargetReadingLateGetsTheTextThenTheUsersClipboardComesBack", 1500, false, "mine"},
    {"ATargetThatNeverReadsGetsTheRestoreAtFiveSeconds", -1, false, "mine"},
    {"ACopyDuringTheWaitIsKept", -1, true, "theirs"},
};

inline void PrintTo(const ClipboardReadRow& row, std::ostream* out) {
    *out << row.name;
}

inline std::string clipboardReadRowName(const ::testing::TestParamInfo<ClipboardReadRow>& info) {
    return info.param.name;
}

// Writes the dictation over the user's copy as a paste does, "presses" the keystroke by telling
// the paster, and checks what the restore did and when.
inline void checkRestoreFollowsTheRead(const ClipboardReadRow& row,
                                       const std::shared_ptr<Clipboard>& clipboard,
                                       const ClipboardReaders& readers) {
    using namespace std::chrono_literals;
    LogCapture logs;
    const std::string dictated = "dictated 好的 " + std::string(row.name).substr(0, 10);
    const auto mine = readers.copy("mine");
    ASSERT_TRUE(mine && serveUntil([&] { return readers.text() == "mine"; }, 10s));
    const auto manager = readers.manager();
    ASSERT_TRUE(manager);
    // The paste's target; one that never reads is never told of the keystroke.
    const auto paster = readers.slowPaster(std::max(row.pasterDelayMs, 0));
    ASSERT_TRUE(paster);

    const auto keeper = std::make_shared<ClipboardKeeper>(clipboard);
    const auto restore = ClipboardRestore::create(
        std::make_shared<QtMainQueue>(QCoreApplication::instance()), clipboard, keeper);
    auto saved = keeper->save(ClipboardSelection::clipboard);
    ASSERT_TRUE(saved);
    const SelectionWrite write =
        keeper->writeText(ClipboardSelection::clipboard, dictated, std::move(saved));
    ASSERT_TRUE(write.written);
    // The manager takes the new owner before the keystroke, as one does.
    ASSERT_TRUE(serveUntil([&] { return manager->waitForLine("read " + dictated, 10ms); }, 10s));
    restore->await({write}, readers.pasterNamed ? paster->pid() : 0);
    const auto keystroke = std::chrono::steady_clock::now();
    const bool pastes = row.pasterDelayMs >= 0;
    if (pastes) {
        ASSERT_TRUE(paster->write("v\n"));
    }
    restore->keystrokeDelivered();
    std::unique_ptr<DesktopProgram> theirs;
    if (row.userCopies) {
        theirs = readers.copy("theirs");
        ASSERT_TRUE(theirs);
    }
    EXPECT_TRUE(serveUntil(
        [&] { return logs.countContaining("剪贴板已还原") + logs.countContaining("跳过还原"); },
        10s));
    const auto waited = std::chrono::steady_clock::now() - keystroke;
    if (pastes) {
        EXPECT_TRUE(
            serveUntil([&] { return paster->waitForLine("pasted " + dictated, 10ms); }, 10s))
            << "the late paste did not get the dictation";
        EXPECT_GE(waited, 1400ms) << "restored before the target read";
        EXPECT_LT(waited, 4s) << "the read did not end the wait";
        EXPECT_EQ(logs.countContaining("5 秒内没有读取"), 0u);
    } else {
        EXPECT_GE(waited, 4900ms) << "someone else's read ended the wait";
        EXPECT_EQ(
            logs.count(
                "⚠️ 目标程序 5 秒内没有读取粘贴的文字,按时还原剪贴板"),
            1u);
    }
    EXPECT_TRUE(serveUntil([&] { return readers.text() == row.expectedClipboard; }, 10s))
        << readers.text().value_or("(nothing)");
}

// The programs of a Wayland desktop with data-control: wl-clipboard's, as a user has them.
inline ClipboardReaders wlClipboardReaders() {
    const auto shell = [](const std::string& script, bool input = false) {
        auto program = std::make_unique<DesktopProgram>(
            std::vector<std::string>{"sh", "-c", "echo ready; " + script}, input);
        return program->waitForLine("ready") ? std::move(program) : nullptr;
    };
    return {
        .slowPaster =
            [shell](int delayMs) {
                return shell("while read line; do sleep " + std::to_string(delayMs / 1000.0) +
                                 "; printf 'pasted %s\\n' \"$(wl-paste -n)\"; done",
                             true);
            },
        .manager =
            [shell] {
                return shell("exec wl-paste --watch sh -c 'printf \"read %s\\n\" \"$(cat)\"'");
            },
        .copy =
            [shell](const std::string& text) { return shell("exec wl-copy --foreground " + text); },
        .text =
            [] {
                std::string read;
                FILE* pipe = popen("wl-paste -n 2>/dev/null", "r");
                char buffer[4096];
                for (std::size_t got; pipe && (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
                    read.append(buffer, got);
                }
                return pipe && pclose(pipe) == 0 ? std::optional(read) : std::nullopt;
            },
    };
}

}  // namespace vurin::testing
