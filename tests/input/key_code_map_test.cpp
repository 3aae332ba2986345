#include "input/key_code_map.h"

#include <gtest/gtest.h>

#include <set>

namespace vurin {
namespace {

TEST(KeyCodeMapTest, EveryCodeRoundTripsAndNoEvdevCodeIsUsedTwice) {
    std::set<int> evdevCodes;
    for (const KeyCodePair& pair : keyCodePairs()) {
        EXPECT_EQ(evdevCodeForKeyCode(pair.macKeyCode), pair.evdevCode) << pair.macKeyCode;
        EXPECT_TRUE(evdevCodes.insert(pair.evdevCode).second) << pair.evdevCode;
    }
    for (int evdev = 1; evdev <= 767; ++evdev) {
        const std::optional<std::int64_t> stored = keyCodeForEvdevCode(evdev);
        ASSERT_TRUE(stored) << evdev;
        EXPECT_EQ(evdevCodeForKeyCode(*stored), evdev) << evdev;
    }
}

TEST(KeyCodeMapTest, KeysMeasuredOnLinuxAndCodesWithoutACounterpart) {
    const std::pair<std::int64_t, std::optional<int>> toEvdev[] = {
        {0x69, 183},        {0x6b, 184},        {0x71, 185}, {0x6a, 186}, {0x40, 187}, {0x4f, 188},
        {0x50, 189},        {0x5a, 190},        {0x3d, 100}, {0x3e, 97},  {0x3c, 54},  {0x36, 126},
        {0x00, 30},         {0x35, 1},          {0x39, 58},  {0x7e, 103}, {10099, 99}, {10767, 767},
        {63, std::nullopt}, {52, std::nullopt}, {-1, {}},    {127, {}},   {10000, {}}, {10768, {}},
    };
    for (const auto& [stored, evdev] : toEvdev) {
        EXPECT_EQ(evdevCodeForKeyCode(stored), evdev) << stored;
    }
    // Print, Scroll Lock and F21 have no Mac key: they are stored above the base.
    const std::pair<int, std::optional<std::int64_t>> fromEvdev[] = {
        {99, 10099}, {70, 10070}, {191, 10191}, {0, {}}, {768, {}}, {-8, {}}};
    for (const auto& [evdev, stored] : fromEvdev) {
        EXPECT_EQ(keyCodeForEvdevCode(evdev), stored) << evdev;
    }
}

}  // namespace
}  // namespace vurin
