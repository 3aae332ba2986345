#include "injection/focus_verification.h"

#include <gtest/gtest.h>

#include "support/fake_desktop.h"

namespace vurin {
namespace {

using testing::FakeFocusReader;

class FocusVerification : public ::testing::Test {
  protected:
    void SetUp() override {
        focus.focusApp("gedit", "Gedit", 100, "/field/1");
        focus.roles["/field/1"] = "text";
    }

    InjectionTarget capture() {
        auto target = currentInjectionTarget(focus);
        EXPECT_TRUE(target.has_value());
        return target.value_or(InjectionTarget{});
    }

    FakeFocusReader focus;
};

TEST_F(FocusVerification, CaptureCarriesApplicationElementAndRole) {
    const InjectionTarget target = capture();
    EXPECT_EQ(target.appName, "gedit");
    EXPECT_EQ(target.bundleID, "Gedit");
    EXPECT_EQ(target.processID, 100);
    EXPECT_EQ(target.focusedElement, FakeFocusReader::element("/field/1"));
    EXPECT_EQ(target.focusedRole, "text");
}

TEST_F(FocusVerification, ApplicationNameFallsBackToTheClassThenToUnknown) {
    focus.front->name.reset();
    EXPECT_EQ(capture().appName, "Gedit");
    focus.front->name = "";
    EXPECT_EQ(capture().appName, "Gedit");
    focus.front->classID.reset();
    const InjectionTarget target = capture();
    EXPECT_EQ(target.appName, "未知应用");
    EXPECT_FALSE(target.bundleID.has_value());
}

TEST_F(FocusVerification, OnlyAMissingApplicationMakesTheCaptureAbsent) {
    focus.focused.reset();
    const InjectionTarget target = capture();
    EXPECT_FALSE(target.focusedElement.has_value());
    EXPECT_FALSE(target.focusedRole.has_value());

    focus.focusApp("gedit", "Gedit", 100, "/field/unroled");
    EXPECT_FALSE(capture().focusedRole.has_value());

    focus.front->processID = 0;
    EXPECT_FALSE(currentInjectionTarget(focus).has_value());
    focus.front.reset();
    EXPECT_FALSE(currentInjectionTarget(focus).has_value());
}

TEST_F(FocusVerification, MismatchRulesInOrder) {
    const InjectionTarget expected = capture();
    EXPECT_EQ(targetMismatch(focus, expected), std::nullopt);

    // 1: nothing in front.
    focus.front.reset();
    EXPECT_EQ(targetMismatch(focus, expected), "当前没有可确认的文本输入焦点");

    // 2: another process, even one of the same kind and with the same element path.
    focus.focusApp("gedit (2)", "Gedit", 200, "/field/1");
    EXPECT_EQ(targetMismatch(focus, expected), "焦点已从「gedit」切到「gedit (2)」");

    // 3: the same process now reports another class, or none.
    focus.focusApp("gedit", "Other", 100, "/field/1");
    EXPECT_EQ(targetMismatch(focus, expected), "前台应用已变化");
    focus.front->classID.reset();
    EXPECT_EQ(targetMismatch(focus, expected), "前台应用已变化");

    // 4: the focus can no longer be read.
    focus.focusApp("gedit", "Gedit", 100);
    EXPECT_EQ(targetMismatch(focus, expected), "当前输入焦点不可确认");

    // 5: another field of the same application.
    focus.focusApp("gedit", "Gedit", 100, "/field/2");
    EXPECT_EQ(targetMismatch(focus, expected), "当前输入焦点已变化");
    focus.focused = AccessibleElementRef{.busName = ":1.99", .objectPath = "/field/1"};
    EXPECT_EQ(targetMismatch(focus, expected), "当前输入焦点已变化");

    // 6: the same element matches whatever its role says now.
    focus.focusApp("gedit", "Gedit", 100, "/field/1");
    focus.roles["/field/1"] = "paragraph";
    EXPECT_EQ(pendingTargetMismatch(focus, PendingInjection{.text = "x", .target = expected}),
              std::nullopt);
}

TEST_F(FocusVerification, TargetWithoutElementMatchesAnyFocusInTheSameApplication) {
    // As when the accessibility bus is unavailable at capture time.
    focus.focused.reset();
    const InjectionTarget expected = capture();
    focus.focusApp("gedit", "Gedit", 100, "/field/2");
    EXPECT_EQ(targetMismatch(focus, expected), std::nullopt);
    focus.focused.reset();
    EXPECT_EQ(targetMismatch(focus, expected), std::nullopt);
}

TEST(TextImmediatelyBeforeCaret, CountsUTF16CodeUnits) {
    // "ab😀": four code units, the emoji two of them.
    EXPECT_EQ(textImmediatelyBeforeCaret("ab😀", 4, "😀"), "😀");
    EXPECT_EQ(textImmediatelyBeforeCaret("ab😀", 0, "😀"), std::nullopt);
    EXPECT_EQ(textImmediatelyBeforeCaret("ab😀", 5, "😀"), std::nullopt);
    EXPECT_EQ(textImmediatelyBeforeCaret("ab😀", 1, "😀"), std::nullopt);
    EXPECT_EQ(textImmediatelyBeforeCaret("ab😀", 2, "ab"), "ab");
    EXPECT_EQ(textImmediatelyBeforeCaret("你好世界", 4, "世界"), "世界");
    EXPECT_EQ(textImmediatelyBeforeCaret("你好世界", 3, "世界"), "好世");
    // A caret inside the emoji's surrogate pair never gives back the neighbouring text.
    EXPECT_NE(textImmediatelyBeforeCaret("😀x", 2, "x"), "x");
    EXPECT_EQ(textImmediatelyBeforeCaret("😀x", 3, "x"), "x");
}

TEST(TextImmediatelyBeforeCaret, EmptyInsertedTextIsAlwaysFound) {
    EXPECT_EQ(textImmediatelyBeforeCaret("", 0, ""), "");
    EXPECT_EQ(textImmediatelyBeforeCaret("abc", 3, ""), "");
    EXPECT_EQ(textImmediatelyBeforeCaret("abc", 4, ""), std::nullopt);
    EXPECT_EQ(textImmediatelyBeforeCaret("abc", -1, ""), std::nullopt);
}

}  // namespace
}  // namespace vurin
