// Reading the desktop's focus against real applications: EWMH names the front-most application
// (xterm, which is not on the accessibility bus), AT-SPI finds the focused field of a GTK and
// a Qt window, with offsets in UTF-16 units whatever the toolkit counts in; a hung application
// or a missing accessibility bus gives "no element" promptly.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <utility>

#include "injection/desktop_apps.h"
#include "platform/linux/focus_reader_x11.h"

namespace vurin {
namespace {

using namespace std::chrono_literals;
using testing::ScratchFolder;
using testing::serveUntil;

// "héllo 😀 wörld": GTK counts 13 characters, Qt 14; the logic wants 14.
const std::string kMixedText = "h\xC3\xA9llo \xF0\x9F\x98\x80 w\xC3\xB6rld";
constexpr long kMixedTextUTF16 = 14;

class FocusReaderTest : public ::testing::Test {
  protected:
    std::optional<AccessibleElementRef> waitForFocusedElement() {
        std::optional<AccessibleElementRef> element;
        serveUntil([&] { return (element = reader_.focusedElement()).has_value(); }, 10s);
        return element;
    }

    // The element's selection as (location, length) in UTF-16 units; absent when unreadable.
    std::optional<std::pair<long, long>> selectionOf(const AccessibleElementRef& element) {
        const auto range = reader_.selectedRange(element);
        if (!range) {
            return std::nullopt;
        }
        return std::pair(range->location, range->length);
    }

    X11FocusReader reader_;
    ScratchFolder folder_;
};

TEST_F(FocusReaderTest, TerminalIsNamedByItsClassAndProcessAndHasNoElement) {
    auto xterm = testing::startXterm("sleep 60");
    ASSERT_TRUE(xterm);
    ASSERT_TRUE(testing::waitUntilFront(reader_, xterm->pid()));

    const auto front = reader_.frontmostApplication();
    ASSERT_TRUE(front);
    EXPECT_EQ(front->classID, "XTerm");
    EXPECT_EQ(front->name, "xterm");
    // xterm never joins the accessibility bus: the target simply has no element.
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(reader_.focusedElement());
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
}

TEST_F(FocusReaderTest, GtkEntryGivesItsElementTextAndCaretInUTF16Units) {
    auto gtk = testing::startGtkEntries(folder_, {kMixedText});
    ASSERT_TRUE(gtk);
    ASSERT_TRUE(testing::waitUntilFront(reader_, gtk->pid()));
    const auto front = reader_.frontmostApplication();
    ASSERT_TRUE(front);
    EXPECT_EQ(front->name, "python3");

    const auto element = waitForFocusedElement();
    ASSERT_TRUE(element);
    EXPECT_FALSE(element->busName.empty());
    EXPECT_FALSE(element->objectPath.empty());
    EXPECT_EQ(reader_.focusedElement(), element) << "the same field must compare equal";
    EXPECT_EQ(reader_.roleOf(*element), "text");
    EXPECT_EQ(reader_.textOf(*element), kMixedText);
    EXPECT_EQ(selectionOf(*element), std::pair(kMixedTextUTF16, 0L));
}

TEST_F(FocusReaderTest, GtkSelectionAcrossAnEmojiIsConvertedToUTF16Units) {
    // Characters 6..8 as GTK counts them: the emoji and the space after it.
    auto gtk = testing::startGtkEntries(folder_, {kMixedText}, 6, 8);
    ASSERT_TRUE(gtk);
    ASSERT_TRUE(testing::waitUntilFront(reader_, gtk->pid()));
    const auto element = waitForFocusedElement();
    ASSERT_TRUE(element);
    EXPECT_EQ(selectionOf(*element), std::pair(6L, 3L));
}

TEST_F(FocusReaderTest, QtLineEditCaretIsAlreadyInUTF16Units) {
    auto qt = testing::startQtField(kMixedText);
    ASSERT_TRUE(qt);
    ASSERT_TRUE(testing::waitUntilFront(reader_, qt->pid()));
    const auto element = waitForFocusedElement();
    ASSERT_TRUE(element);
    EXPECT_EQ(reader_.textOf(*element), kMixedText);
    EXPECT_EQ(selectionOf(*element), std::pair(kMixedTextUTF16, 0L));
}

TEST_F(FocusReaderTest, AnotherFieldOfTheSameApplicationIsAnotherElement) {
    auto gtk = testing::startGtkEntries(folder_, {"first", "second"});
    ASSERT_TRUE(gtk);
    ASSERT_TRUE(testing::waitUntilFront(reader_, gtk->pid()));
    const auto first = waitForFocusedElement();
    ASSERT_TRUE(first);
    ASSERT_EQ(reader_.textOf(*first), "first");

    ASSERT_EQ(std::system("xdotool key Tab"), 0);
    std::optional<AccessibleElementRef> second;
    ASSERT_TRUE(serveUntil([&] {
        second = reader_.focusedElement();
        return second && *second != *first;
    }));
    EXPECT_EQ(reader_.textOf(*second), "second");
    EXPECT_EQ(reader_.textOf(*first), "first") << "an element stays readable by its reference";
}

TEST_F(FocusReaderTest, HungApplicationGivesNoElementPromptly) {
    auto gtk = testing::startGtkEntries(folder_, {"hung"});
    ASSERT_TRUE(gtk);
    ASSERT_TRUE(testing::waitUntilFront(reader_, gtk->pid()));
    const auto element = waitForFocusedElement();
    ASSERT_TRUE(element);

    gtk->pause();
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(reader_.focusedElement());
    EXPECT_FALSE(reader_.textOf(*element));
    EXPECT_FALSE(reader_.selectedRange(*element));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
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
            const auto started = std::chrono::steady_clock::now();
            const bool absent = !reader.focusedElement() && !reader.accessibilityAvailable();
            const bool prompt = std::chrono::steady_clock::now() - started < 2s;
            std::_Exit(absent && prompt ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace vurin
