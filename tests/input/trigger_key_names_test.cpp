#include "input/trigger_key_names.h"

#include <gtest/gtest.h>

#include <set>

#include "input/key_code_map.h"
#include "support/language.h"

namespace vurin {
namespace {

// The names the menu, the log and the settings window show for a stored trigger key code.
TEST(TriggerKeyNames, InBothLanguages) {
    setEvdevKeyNameLookup([](int evdev) -> std::optional<std::string> {
        return evdev == 99 ? std::optional<std::string>("Print")
                           : (evdev == 70 ? std::optional<std::string>("") : std::nullopt);
    });
    // 10 is the gap between V and B; above the base the platform names evdev 99 only, and the
    // base itself is no key.
    const struct {
        std::int64_t code;
        const char *zh, *en = nullptr;
    } cases[] = {{0, "A"},
                 {105, "F13"},
                 {63, "Fn"},
                 {10099, "Print"},
                 {54, "右 Command", "Right Command"},
                 {61, "右 Option", "Right Option"},
                 {10, "键码 10", "Key code 10"},
                 {127, "键码 127", "Key code 127"},
                 {-1, "键码 -1", "Key code -1"},
                 {10070, "键码 10070", "Key code 10070"},
                 {10194, "键码 10194", "Key code 10194"},
                 {10000, "键码 10000", "Key code 10000"}};
    for (const auto& test : cases) {
        applyUILang("zh");
        EXPECT_EQ(triggerKeyDisplayName(test.code), test.zh) << test.code;
        applyUILang("en");
        EXPECT_EQ(triggerKeyDisplayName(test.code), test.en ? test.en : test.zh) << test.code;
    }
    EXPECT_EQ(triggerKeyLabelText(61), "Current: Right Option (key code 61)");
    setEvdevKeyNameLookup({});
    applyUILang("zh");
    EXPECT_EQ(triggerKeyLabelText(10099), "当前:键码 10099 (键码 10099)");
}

TEST(KeyCodeMap, EveryCodeRoundTripsAndTheMeasuredKeysMatch) {
    std::set<int> evdevCodes;
    for (const KeyCodePair& pair : keyCodePairs()) {
        EXPECT_EQ(evdevCodeForKeyCode(pair.macKeyCode), pair.evdevCode) << pair.macKeyCode;
        EXPECT_TRUE(evdevCodes.insert(pair.evdevCode).second) << pair.evdevCode;
    }
    for (int evdev = 1; evdev <= 767; ++evdev) {
        ASSERT_TRUE(keyCodeForEvdevCode(evdev)) << evdev;
        EXPECT_EQ(evdevCodeForKeyCode(*keyCodeForEvdevCode(evdev)), evdev) << evdev;
    }
    // F13 to F20, the right modifiers and the arrows as measured on Linux; Fn and the unused
    // codes have no key.
    const std::pair<std::int64_t, std::optional<int>> toEvdev[] = {
        {0x69, 183},  {0x6b, 184}, {0x71, 185}, {0x6a, 186}, {0x40, 187}, {0x4f, 188}, {0x50, 189},
        {0x5a, 190},  {0x3d, 100}, {0x3e, 97},  {0x3c, 54},  {0x36, 126}, {0x39, 58},  {0x7e, 103},
        {10767, 767}, {63, {}},    {52, {}},    {127, {}},   {10000, {}}, {10768, {}}};
    for (const auto& [stored, evdev] : toEvdev) {
        EXPECT_EQ(evdevCodeForKeyCode(stored), evdev) << stored;
    }
    for (const int evdev : {0, 768}) {
        EXPECT_FALSE(keyCodeForEvdevCode(evdev)) << evdev;
    }
}

}  // namespace
}  // namespace vurin
