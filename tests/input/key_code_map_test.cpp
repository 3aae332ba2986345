#include "input/key_code_map.h"

#include <gtest/gtest.h>

#include <set>

namespace vurin {
namespace {

TEST(KeyCodeMapTest, EveryPairRoundTripsAndNoEvdevCodeIsUsedTwice) {
    std::set<int> evdevCodes;
    std::set<std::int64_t> macCodes;
    for (const KeyCodePair& pair : keyCodePairs()) {
        EXPECT_EQ(evdevCodeForKeyCode(pair.macKeyCode), pair.evdevCode) << pair.macKeyCode;
        EXPECT_EQ(keyCodeForEvdevCode(pair.evdevCode), pair.macKeyCode) << pair.evdevCode;
        EXPECT_TRUE(evdevCodes.insert(pair.evdevCode).second) << pair.evdevCode;
        EXPECT_TRUE(macCodes.insert(pair.macKeyCode).second) << pair.macKeyCode;
    }
    EXPECT_EQ(keyCodePairs().size(), 119u);
}

TEST(KeyCodeMapTest, KeysMeasuredOnLinux) {
    const std::pair<std::int64_t, int> measured[] = {
        {0x69, 183}, {0x6b, 184}, {0x71, 185}, {0x6a, 186}, {0x40, 187}, {0x4f, 188},
        {0x50, 189}, {0x5a, 190}, {0x3d, 100}, {0x3e, 97},  {0x3c, 54},  {0x36, 126},
        {0x00, 30},  {0x35, 1},   {0x39, 58},  {0x7e, 103},
    };
    for (const auto& [mac, evdev] : measured) {
        EXPECT_EQ(evdevCodeForKeyCode(mac), evdev) << mac;
    }
}

TEST(KeyCodeMapTest, KeysWithoutACounterpart) {
    EXPECT_EQ(evdevCodeForKeyCode(63), std::nullopt);  // Fn has no evdev key
    EXPECT_EQ(evdevCodeForKeyCode(52), std::nullopt);
    EXPECT_EQ(evdevCodeForKeyCode(-1), std::nullopt);
    EXPECT_EQ(evdevCodeForKeyCode(127), std::nullopt);
    EXPECT_EQ(evdevCodeForKeyCode(10000), std::nullopt);
    EXPECT_EQ(evdevCodeForKeyCode(10768), std::nullopt);
    // Print, Scroll Lock, F21 have no Mac key: stored above the base.
    EXPECT_EQ(keyCodeForEvdevCode(99), 10099);
    EXPECT_EQ(keyCodeForEvdevCode(70), 10070);
    EXPECT_EQ(keyCodeForEvdevCode(191), 10191);
    EXPECT_EQ(evdevCodeForKeyCode(10099), 99);
    EXPECT_EQ(evdevCodeForKeyCode(10767), 767);
    EXPECT_EQ(keyCodeForEvdevCode(0), std::nullopt);
    EXPECT_EQ(keyCodeForEvdevCode(768), std::nullopt);
    EXPECT_EQ(keyCodeForEvdevCode(-8), std::nullopt);
}

TEST(KeyCodeMapTest, EveryEvdevCodeRoundTrips) {
    for (int evdev = 1; evdev <= 767; ++evdev) {
        const std::optional<std::int64_t> stored = keyCodeForEvdevCode(evdev);
        ASSERT_TRUE(stored) << evdev;
        EXPECT_EQ(evdevCodeForKeyCode(*stored), evdev) << evdev;
    }
}

}  // namespace
}  // namespace vurin
