#include "platform/linux/uinput_keystrokes.h"

#include <gtest/gtest.h>
#include <linux/input.h>
#include <unistd.h>

#include "support/testing.h"

// The events a stroke writes to the uinput device, read back from a pipe in its place.
namespace vurin {
namespace {

// The keys of the strokes written, "^V" for Ctrl+V and so on, in order.
std::string strokesIn(int fd) {
    input_event events[64];
    const auto count = read(fd, events, sizeof events) / sizeof(input_event);
    std::string keys;
    for (std::size_t i = 0; i < count; ++i) {
        keys += events[i].type != EV_KEY || events[i].value == 0 ? ""
                : events[i].code == KEY_LEFTCTRL                 ? "^"
                : events[i].code == KEY_V                        ? "V"
                                                                 : "B";
    }
    return keys;
}

// A modifier the user holds would join the stroke (Ctrl+Backspace deletes a word), and our device
// cannot let it go: the stroke waits for it, up to 0.5 s in looks of 20 ms, then goes as it is,
// said once; while it stays down the strokes that follow do not wait again.
TEST(UinputKeystrokesTest, AStrokeWaitsABoundedMomentForTheUsersModifiers) {
    const struct {
        const char* name;
        std::vector<int> heldFor;  // looks that find Ctrl held, per stroke
        std::string trace;         // w a 20 ms wait, the keys sent, ! the log line
    } rows[] = {
        {"nothing held", {0, 0}, "^V B"},
        {"let go after three looks", {3, 0}, "www^V B"},
        {"held on: one bounded wait, said once", {100, 100}, "wwwwwwwwwwwwwwwwwwwwwwwww!^V B"},
        {"let go, then held again: a new wait",
         {100, 0, 100},
         "wwwwwwwwwwwwwwwwwwwwwwwww!^V B "
         "wwwwwwwwwwwwwwwwwwwwwwwww!B"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        testing::LogCapture logs;
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        std::string trace;
        int looks = 0;
        std::size_t stroke = 0;
        UinputKeystrokes keys(
            ends[1], false,
            [&] {
                return looks++ < row.heldFor[stroke] ? std::vector<int>{KEY_LEFTCTRL}
                                                     : std::vector<int>{};
            },
            [&](std::chrono::milliseconds wait) {
                EXPECT_EQ(wait.count(), 20);
                trace += "w";
            });
        for (; stroke < row.heldFor.size(); ++stroke) {
            looks = 0;
            const std::size_t lines = logs.lines().size();
            EXPECT_TRUE(keys.post(stroke == 0 ? Keystroke::pasteControlV : Keystroke::backspace));
            trace += std::string(logs.lines().size() > lines ? "!" : "") + strokesIn(ends[0]) +
                     (stroke + 1 < row.heldFor.size() ? " " : "");
        }
        close(ends[0]);
        EXPECT_EQ(trace, row.trace);
    }
}

TEST(UinputKeystrokesTest, EachKeyChangeIsAFrameOfItsOwnInOrder) {
    const std::vector<std::pair<Keystroke, std::vector<int>>> cases = {
        // code, 1 down / 0 up
        {Keystroke::pasteControlV, {KEY_LEFTCTRL, 1, KEY_V, 1, KEY_V, 0, KEY_LEFTCTRL, 0}},
        {Keystroke::pasteShiftInsert,
         {KEY_LEFTSHIFT, 1, KEY_INSERT, 1, KEY_INSERT, 0, KEY_LEFTSHIFT, 0}},
        {Keystroke::returnKey, {KEY_ENTER, 1, KEY_ENTER, 0}},
        {Keystroke::backspace, {KEY_BACKSPACE, 1, KEY_BACKSPACE, 0}},
    };
    for (const auto& [keystroke, keys] : cases) {
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        // Closes the write end; nobody holds a modifier.
        EXPECT_TRUE(
            UinputKeystrokes(ends[1], false, [] { return std::vector<int>{}; }).post(keystroke));
        input_event events[16];
        const auto count = read(ends[0], events, sizeof events) / sizeof(input_event);
        close(ends[0]);
        std::vector<int> got, expected;
        for (std::size_t i = 0; i < count; ++i) {
            got.insert(got.end(), {events[i].type, events[i].code, events[i].value});
        }
        for (std::size_t i = 0; i < keys.size(); i += 2) {
            expected.insert(expected.end(), {EV_KEY, keys[i], keys[i + 1], EV_SYN, SYN_REPORT, 0});
        }
        EXPECT_EQ(got, expected);
    }
    EXPECT_FALSE(UinputKeystrokes(-1).post(Keystroke::returnKey));  // nothing written
}

}  // namespace
}  // namespace vurin
