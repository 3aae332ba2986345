#include "platform/linux/uinput_keystrokes.h"

#include <gtest/gtest.h>
#include <linux/input.h>
#include <unistd.h>

// The events a stroke writes to the uinput device, read back from a pipe in its place.
namespace vurin {
namespace {

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
        EXPECT_TRUE(UinputKeystrokes(ends[1]).post(keystroke));  // closes the write end
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
