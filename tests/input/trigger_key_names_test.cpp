#include "input/trigger_key_names.h"

#include <gtest/gtest.h>

#include <string>

#include "support/language.h"

namespace vurin {
namespace {

class TriggerKeyNamesTest : public ::testing::Test {
  protected:
    void TearDown() override {
        applyUILang("zh");
        setEvdevKeyNameLookup({});
    }
};

// The names the menu, the log and the settings window show for a trigger key.
TEST_F(TriggerKeyNamesTest, NamesInBothLanguages) {
    // {code, Chinese name, English name when it differs}; 10 is the gap between V and B, 10099
    // a code above the base with no platform lookup installed.
    const struct {
        std::int64_t code;
        const char *zh, *en = nullptr;
    } cases[] = {{0, "A"},
                 {10, "键码 10", "Key code 10"},
                 {42, "\\"},
                 {50, "`"},
                 {52, "键码 52", "Key code 52"},
                 {53, "Escape"},
                 {54, "右 Command", "Right Command"},
                 {55, "左 Command", "Left Command"},
                 {56, "左 Shift", "Left Shift"},
                 {57, "Caps Lock"},
                 {58, "左 Option", "Left Option"},
                 {59, "左 Control", "Left Control"},
                 {60, "右 Shift", "Right Shift"},
                 {61, "右 Option", "Right Option"},
                 {62, "右 Control", "Right Control"},
                 {63, "Fn"},
                 {64, "F17"},
                 {99, "F3"},
                 {105, "F13"},
                 {117, "Forward Delete"},
                 {123, "←"},
                 {126, "↑"},
                 {127, "键码 127", "Key code 127"},
                 {-1, "键码 -1", "Key code -1"},
                 {10099, "键码 10099", "Key code 10099"}};
    for (const auto& test : cases) {
        applyUILang("zh");
        EXPECT_EQ(triggerKeyDisplayName(test.code), test.zh) << test.code;
        applyUILang("en");
        EXPECT_EQ(triggerKeyDisplayName(test.code), test.en ? test.en : test.zh) << test.code;
    }
    EXPECT_EQ(triggerKeyLabelText(61), "Current: Right Option (key code 61)");
    EXPECT_EQ(triggerKeyLabelText(200), "Current: Key code 200 (key code 200)");
    applyUILang("zh");
    EXPECT_EQ(triggerKeyLabelText(105), "当前:F13 (键码 105)");
    EXPECT_EQ(triggerKeyLabelText(200), "当前:键码 200 (键码 200)");
}

TEST_F(TriggerKeyNamesTest, KeysAboveTheBaseAreNamedByThePlatformLookup) {
    setEvdevKeyNameLookup([](int evdev) -> std::optional<std::string> {
        return evdev == 99 ? std::optional<std::string>("Print")
                           : (evdev == 70 ? std::optional<std::string>("") : std::nullopt);
    });
    EXPECT_EQ(triggerKeyLabelText(10099), "当前:Print (键码 10099)");
    EXPECT_EQ(triggerKeyDisplayName(10070), "键码 10070");  // an empty name is no name
    EXPECT_EQ(triggerKeyDisplayName(10194), "键码 10194");
    EXPECT_EQ(triggerKeyDisplayName(10000), "键码 10000");  // the base itself is no key
    EXPECT_EQ(triggerKeyDisplayName(99), "F3");             // table codes never ask
}

}  // namespace
}  // namespace vurin
