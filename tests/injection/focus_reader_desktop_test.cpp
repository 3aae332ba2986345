// Reading the desktop's focus against real applications: EWMH names the front-most application
// (xterm, which is not on the accessibility bus), AT-SPI finds the focused field of a GTK and
// a Qt window, with offsets in UTF-16 units whatever the toolkit counts in; a hung application
// or a missing accessibility bus gives "no element" promptly.
#include <gtest/gtest.h>

#include "injection/desktop_apps.h"
#include "platform/linux/focus_reader_x11.h"

namespace vurin::testing {
namespace {

using namespace std::chrono_literals;

// "héllo 😀 wörld": GTK counts 13 characters, Qt 14 UTF-16 units, as the logic does.
const std::string kMixedText = "héllo 😀 wörld";

// Runs `check` and gives whether it came back within `limit`.
bool prompt(const std::function<void()>& check, std::chrono::milliseconds limit) {
    const auto started = std::chrono::steady_clock::now();
    check();
    return std::chrono::steady_clock::now() - started < limit;
}

class FocusReaderTest : public ::testing::Test {
  protected:
    // The focused element of `program` once it is in front.
    std::optional<AccessibleElementRef> focusedIn(const std::unique_ptr<DesktopProgram>& program) {
        std::optional<AccessibleElementRef> element;
        EXPECT_TRUE(
            program && waitUntilFront(reader_, program->pid()) &&
            serveUntil([&] { return (element = reader_.focusedElement()).has_value(); }, 10s));
        return element;
    }
    std::pair<long, long> selectionOf(const AccessibleElementRef& element) {
        const auto range = reader_.selectedRange(element).value_or(TextSelectionRange{-1, -1});
        return {range.location, range.length};
    }
    X11FocusReader reader_;
    ScratchFolder folder_;
};

TEST_F(FocusReaderTest, AFieldGivesItsTextAndCaretOrSelectionInUTF16Units) {
    struct Case {
        const char* name;
        bool qt;
        std::string gtkSelection;
        std::pair<long, long> selection;
    } const cases[] = {
        Case("GTK, caret at the end", false, "", {14, 0}),
        // Characters 6..8 as GTK counts them: the emoji and the space after it.
        Case("GTK, selection across the emoji", false, "6,8", {6, 3}),
        Case("Qt, caret at the end", true, "", {14, 0}),
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        auto program = row.qt ? startQtField(kMixedText)
                              : startGtkEntries(folder_, {kMixedText}, row.gtkSelection);
        const auto element = focusedIn(program);
        ASSERT_TRUE(element);
        EXPECT_FALSE(element->busName.empty() || element->objectPath.empty());
        EXPECT_EQ(reader_.focusedElement(), element) << "the same field must compare equal";
        EXPECT_EQ(reader_.roleOf(*element), "text");
        EXPECT_EQ(reader_.textOf(*element), kMixedText);
        EXPECT_EQ(selectionOf(*element), row.selection);
    }
}

TEST_F(FocusReaderTest, ATerminalIsNamedByItsClassAndHasNoElement) {
    auto xterm = startXterm("sleep 60");
    ASSERT_TRUE(xterm && waitUntilFront(reader_, xterm->pid()));
    const auto front = reader_.frontmostApplication();
    ASSERT_TRUE(front);
    EXPECT_EQ(front->classID, "XTerm");
    EXPECT_EQ(front->name, "xterm");
    // xterm never joins the accessibility bus: the target simply has no element.
    EXPECT_TRUE(prompt([&] { EXPECT_FALSE(reader_.focusedElement()); }, 1s));
}

TEST_F(FocusReaderTest, AnotherFieldOfTheSameApplicationIsAnotherElement) {
    auto gtk = startGtkEntries(folder_, {"first", "second"});
    const auto first = focusedIn(gtk);
    ASSERT_TRUE(first);
    EXPECT_EQ(reader_.frontmostApplication()->name, "python3");
    ASSERT_EQ(reader_.textOf(*first), "first");
    ASSERT_EQ(std::system("xdotool key Tab"), 0);
    std::optional<AccessibleElementRef> second;
    ASSERT_TRUE(serveUntil([&] { return (second = reader_.focusedElement()) != first; }));
    ASSERT_TRUE(second);
    EXPECT_EQ(reader_.textOf(*second), "second");
    EXPECT_EQ(reader_.textOf(*first), "first") << "an element stays readable by its reference";
}

TEST_F(FocusReaderTest, AHungApplicationGivesNoElementPromptly) {
    auto gtk = startGtkEntries(folder_, {"hung"});
    const auto element = focusedIn(gtk);
    ASSERT_TRUE(element);
    gtk->pause();
    EXPECT_TRUE(prompt(
        [&] {
            EXPECT_FALSE(reader_.focusedElement());
            EXPECT_FALSE(reader_.textOf(*element));
            EXPECT_FALSE(reader_.selectedRange(*element));
        },
        2s));
    const auto front = reader_.frontmostApplication();
    ASSERT_TRUE(front) << "the window manager still names the hung application";
    EXPECT_EQ(front->processID, gtk->pid());
    gtk->resume();
}

TEST_F(FocusReaderTest, AccessibilityCanBeSwitchedOnThroughTheSessionBus) {
    EXPECT_TRUE(enableDesktopAccessibility());
}

// AT-SPI connects once per process, so the reader without an accessibility bus runs in a fresh
// process of its own.
TEST(FocusReaderWithoutAccessibilityTest, ElementIsAbsentNeitherHangNorCrash) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("AT_SPI_BUS_ADDRESS", "unix:path=/nonexistent/vurin-a11y", 1);
            setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/vurin-bus", 1);
            X11FocusReader reader;
            const bool absent = prompt(
                [&] {
                    if (reader.focusedElement() || reader.accessibilityAvailable()) {
                        std::_Exit(1);
                    }
                },
                2s);
            std::_Exit(absent ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace vurin::testing
