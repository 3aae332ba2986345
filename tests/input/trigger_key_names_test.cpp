#include "input/trigger_key_names.h"

#include <gtest/gtest.h>

#include "input/key_code_map.h"
#include "support/language.h"

namespace vurin {
namespace {

// The names the menu, the log and the settings window show for a stored key code: a modifier,
// Fn, the table, the platform's keysym name above the base (only evdev 99 has one here), else
// the number.
TEST(TriggerKeyNames, Names) {
    setEvdevKeyNameLookup([](int evdev) -> std::optional<std::string> {
        return evdev == 99 ? "Print"
                           : (evdev == 70 ? std::optional<std::string>("") : std::nullopt);
    });
    applyUILang("zh");
    std::string names;
    for (const std::int64_t code :
         {54, 55, 56, 58, 59, 60, 62, 105, 10099, 10, 127, -1, 10070, 10194, 10000}) {
        names += triggerKeyDisplayName(code) + ", ";
    }
    setEvdevKeyNameLookup({});
    EXPECT_EQ(names,
              "右 Command, 左 Command, 左 Shift, 左 Option, 左 Control, 右 Shift, 右 Control, F13, "
              "Print, 键码 10, 键码 127, 键码 -1, 键码 10070, 键码 10194, 键码 10000, ");
}

// Stored key codes are macOS codes; keys a Mac does not have are stored above the base.
TEST(KeyCodeMap, EveryCodeRoundTripsAndTheMeasuredKeysMatch) {
    for (const KeyCodePair& pair : keyCodePairs()) {
        EXPECT_EQ(evdevCodeForKeyCode(pair.macKeyCode), pair.evdevCode) << pair.macKeyCode;
    }
    for (int evdev = 0; evdev <= 768; ++evdev) {
        const auto stored = keyCodeForEvdevCode(evdev);
        EXPECT_EQ(stored ? evdevCodeForKeyCode(*stored) : std::nullopt,
                  evdev >= 1 && evdev <= 767 ? std::optional(evdev) : std::nullopt);
    }
    EXPECT_EQ(evdevCodeForKeyCode(105), 183);  // F13 as measured on Linux
    EXPECT_FALSE(evdevCodeForKeyCode(10768));
}

}  // namespace
}  // namespace vurin
