#include "injection/focus_verification.h"

#include <gtest/gtest.h>

#include "support/fake_desktop.h"

namespace vurin::testing {
namespace {

class FocusVerification : public ::testing::Test {
  protected:
    void SetUp() override {
        focus.focusApp("gedit", "Gedit", 100, "/field/1");
        focus.roles["/field/1"] = "text";
    }
    InjectionTarget capture() { return currentInjectionTarget(focus).value_or(InjectionTarget{}); }

    FakeFocusReader focus;
};

TEST_F(FocusVerification, ACaptureCarriesTheApplicationElementAndRole) {
    const InjectionTarget target = capture();
    EXPECT_EQ(target.appName, "gedit");
    EXPECT_EQ(target.bundleID, "Gedit");
    EXPECT_EQ(target.processID, 100);
    EXPECT_EQ(target.focusedElement, FakeFocusReader::element("/field/1"));
    EXPECT_EQ(target.focusedRole, "text");
    focus.focusApp("gedit", "Gedit", 100, "/field/unroled");
    EXPECT_EQ(capture().focusedRole, std::nullopt);
    focus.focused.reset();
    EXPECT_EQ(capture().focusedElement, std::nullopt);
    // The name falls back to the window class, then to "unknown".
    focus.front->name = "";
    EXPECT_EQ(capture().appName, "Gedit");
    focus.front->name.reset();
    focus.front->classID.reset();
    EXPECT_EQ(capture().appName, "未知应用");
    focus.front->processID = 0;
    EXPECT_EQ(currentInjectionTarget(focus), std::nullopt);
    focus.front.reset();
    EXPECT_EQ(currentInjectionTarget(focus), std::nullopt);
}

TEST_F(FocusVerification, MismatchRulesInOrder) {
    const InjectionTarget expected = capture();
    focus.focused.reset();
    const InjectionTarget withoutElement = capture();  // no accessibility bus at the capture
    const std::vector<std::pair<std::function<void()>, std::optional<std::string>>> rules = {
        {[] {}, std::nullopt},
        {[&] { focus.front.reset(); }, "当前没有可确认的文本输入焦点"},
        // Another process, even of the same kind and with the same element path.
        {[&] { focus.focusApp("gedit (2)", "Gedit", 200, "/field/1"); },
         "焦点已从「gedit」切到「gedit (2)」"},
        {[&] { focus.front->classID = "Other"; }, "前台应用已变化"},
        {[&] { focus.front->classID.reset(); }, "前台应用已变化"},
        {[&] { focus.focused.reset(); }, "当前输入焦点不可确认"},
        {[&] { focus.focused = FakeFocusReader::element("/field/2"); }, "当前输入焦点已变化"},
        {[&] { focus.focused->busName = ":1.99"; }, "当前输入焦点已变化"},
        // The same element matches whatever its role says now.
        {[&] { focus.roles["/field/1"] = "paragraph"; }, std::nullopt},
    };
    for (std::size_t rule = 0; rule < rules.size(); ++rule) {
        SCOPED_TRACE(rule);
        SetUp();
        rules[rule].first();
        EXPECT_EQ(pendingTargetMismatch(focus, PendingInjection{.text = "x", .target = expected}),
                  rules[rule].second);
        if (rule >= 5) {  // a target without an element accepts any field of its application
            EXPECT_EQ(targetMismatch(focus, withoutElement), std::nullopt);
        }
    }
}

TEST(TextImmediatelyBeforeCaret, CountsUTF16CodeUnits) {
    const std::vector<std::tuple<std::string, long, std::string, std::optional<std::string>>>
        cases = {
            {"ab😀", 4, "😀", "😀"},
            {"ab😀", 1, "😀", std::nullopt},
            {"ab😀", 5, "😀", std::nullopt},
            {"你好世界", 3, "世界", "好世"},
            // A caret inside a surrogate pair never gives back the neighbouring text.
            {"😀x", 2, "x", "\xEF\xBF\xBD"},
            {"", 0, "", ""},
        };
    for (const auto& [value, caret, inserted, before] : cases) {
        EXPECT_EQ(textImmediatelyBeforeCaret(value, caret, inserted), before)
            << value << " @" << caret;
    }
}

}  // namespace
}  // namespace vurin::testing
