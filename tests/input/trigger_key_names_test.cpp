#include "input/trigger_key_names.h"

#include <gtest/gtest.h>

#include <string>

#include "input/key_code_map.h"
#include "support/language.h"

namespace vurin {
namespace {

class TriggerKeyNamesTest : public ::testing::Test {
  protected:
    void SetUp() override { applyUILang("zh"); }
    void TearDown() override {
        applyUILang("zh");
        setEvdevKeyNameLookup({});
    }
};

TEST_F(TriggerKeyNamesTest, TableHasEightyTwoNamedCodesWithTheirNames) {
    int named = 0;
    for (std::int64_t code = 0; code <= 127; ++code) {
        if (triggerKeyDisplayName(code) != "键码 " + std::to_string(code)) {
            ++named;
        }
    }
    // 82 table entries plus the nine modifier names (54-56, 58-63).
    EXPECT_EQ(named, 82 + 9);

    EXPECT_EQ(triggerKeyDisplayName(0), "A");
    EXPECT_EQ(triggerKeyDisplayName(10), "键码 10");  // the gap between V and B
    EXPECT_EQ(triggerKeyDisplayName(42), "\\");
    EXPECT_EQ(triggerKeyDisplayName(50), "`");
    EXPECT_EQ(triggerKeyDisplayName(52), "键码 52");
    EXPECT_EQ(triggerKeyDisplayName(53), "Escape");
    EXPECT_EQ(triggerKeyDisplayName(57), "Caps Lock");
    EXPECT_EQ(triggerKeyDisplayName(64), "F17");
    EXPECT_EQ(triggerKeyDisplayName(105), "F13");
    EXPECT_EQ(triggerKeyDisplayName(117), "Forward Delete");
    EXPECT_EQ(triggerKeyDisplayName(123), "←");
    EXPECT_EQ(triggerKeyDisplayName(126), "↑");
    EXPECT_EQ(triggerKeyDisplayName(127), "键码 127");
    EXPECT_EQ(triggerKeyDisplayName(200), "键码 200");
    EXPECT_EQ(triggerKeyDisplayName(-1), "键码 -1");
}

TEST_F(TriggerKeyNamesTest, ModifierNamesFollowTheInterfaceLanguage) {
    const std::pair<std::int64_t, std::pair<const char*, const char*>> modifiers[] = {
        {54, {"右 Command", "Right Command"}},
        {55, {"左 Command", "Left Command"}},
        {56, {"左 Shift", "Left Shift"}},
        {58, {"左 Option", "Left Option"}},
        {59, {"左 Control", "Left Control"}},
        {60, {"右 Shift", "Right Shift"}},
        {61, {"右 Option", "Right Option"}},
        {62, {"右 Control", "Right Control"}},
        {63, {"Fn", "Fn"}},
    };
    for (const auto& [code, names] : modifiers) {
        applyUILang("zh");
        EXPECT_EQ(triggerKeyDisplayName(code), names.first) << code;
        applyUILang("en");
        EXPECT_EQ(triggerKeyDisplayName(code), names.second) << code;
    }
    applyUILang("en");
    EXPECT_EQ(triggerKeyDisplayName(57), "Caps Lock");
    EXPECT_EQ(triggerKeyDisplayName(200), "Key code 200");
}

TEST_F(TriggerKeyNamesTest, LabelTextInBothLanguages) {
    EXPECT_EQ(triggerKeyLabelText(105), "当前:F13 (键码 105)");
    EXPECT_EQ(triggerKeyLabelText(200), "当前:键码 200 (键码 200)");
    applyUILang("en");
    EXPECT_EQ(triggerKeyLabelText(61), "Current: Right Option (key code 61)");
    EXPECT_EQ(triggerKeyLabelText(200), "Current: Key code 200 (key code 200)");
}

TEST_F(TriggerKeyNamesTest, LinuxOnlyKeysAreNamedByThePlatformLookup) {
    EXPECT_EQ(triggerKeyDisplayName(10099), "键码 10099");  // no lookup installed
    setEvdevKeyNameLookup([](int evdev) -> std::optional<std::string> {
        if (evdev == 99) {
            return "Print";
        }
        if (evdev == 70) {
            return "";
        }
        return std::nullopt;
    });
    EXPECT_EQ(triggerKeyDisplayName(10099), "Print");
    EXPECT_EQ(triggerKeyLabelText(10099), "当前:Print (键码 10099)");
    EXPECT_EQ(triggerKeyDisplayName(10070), "键码 10070");  // an empty name is no name
    EXPECT_EQ(triggerKeyDisplayName(10194), "键码 10194");
    // Only codes above the base ask the lookup; table codes never do.
    EXPECT_EQ(triggerKeyDisplayName(99), "F3");
    EXPECT_EQ(triggerKeyDisplayName(10000), "键码 10000");
}

}  // namespace
}  // namespace vurin
