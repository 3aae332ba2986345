// The injection's desktop adapters against real applications: X11 focus and AT-SPI, the Qt
// clipboard with its owner probe, XTest keystrokes and Qt's event loop as the main queue.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <map>

#include "injection/desktop_apps.h"
#include "injection/focus_verification.h"
#include "injection/paste_injector.h"
#include "platform/linux/atspi_focus_reader.h"
#include "platform/x11/focus_reader_x11.h"
#include "platform/x11/keystrokes_xtest.h"
#include "platform/x11/selection_probe_x11.h"
#include "support/fake_desktop.h"
#include "ui/qt/qt_clipboard.h"
#include "ui/qt/qt_main_queue.h"

// Last: Xlib's macros (None, Bool, Status) clash with the headers above.
#include <X11/keysym.h>

#include "support/xtest_typist.h"

namespace vurin::testing {
namespace {

using namespace std::chrono_literals;
using Formats = std::map<std::string, std::string>;
constexpr auto kClipboard = ClipboardSelection::clipboard;
constexpr auto kPrimary = ClipboardSelection::primary;
const std::string kRestored = "📋 剪贴板已还原";
// What another application copied: formats of every kind, a real image and binary bytes.
const Formats kCopied = {
    {"text/plain", "plain café 😀"},
    {"text/html", "<meta charset=\"utf-8\"><b>bold</b> café"},
    {"image/png", QByteArray::fromHex("89504e470d0a1a0a0000000d49484452000000010000000108060000001f"
                                      "15c4890000000d49444154789c63382117d5000004b301c1deca8a3200"
                                      "00000049454e44ae426082")
                      .toStdString()},
    {"application/x-vurin-test", std::string("\x00\x01\xFF binary", 10)},
};

// Runs `check` and gives whether it came back within `limit`.
bool prompt(const std::function<void()>& check, std::chrono::milliseconds limit) {
    const auto started = std::chrono::steady_clock::now();
    check();
    return std::chrono::steady_clock::now() - started < limit;
}

class InjectionDesktopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ensureQtApplication();
        clipboard = std::make_shared<QtClipboard>(  // wired as the application wires it
            [this](ClipboardSelection which) { return probe.ownerAnswers(which, 300ms); });
        injector = std::make_shared<PasteInjector>(
            std::make_shared<QtMainQueue>(QCoreApplication::instance()), focus, clipboard, keys);
    }
    std::optional<AccessibleElementRef> focusedIn(const std::unique_ptr<DesktopProgram>& program) {
        std::optional<AccessibleElementRef> element;
        EXPECT_TRUE(
            program && waitUntilFront(*focus, program->pid()) &&
            serveUntil([&] { return (element = focus->focusedElement()).has_value(); }, 10s));
        return element;
    }
    Formats formatsIn(ClipboardSelection selection) {
        const auto items = clipboard->items(selection).value_or(std::vector<ClipboardItem>{});
        return items.size() == 1 ? Formats(items[0].values.begin(), items[0].values.end())
                                 : Formats{};
    }
    bool isDown(KeySym symbol) {
        char down[32] = {};
        XQueryKeymap(typist.display(), down);
        const KeyCode code = XKeysymToKeycode(typist.display(), symbol);
        return (down[code / 8] >> (code % 8)) & 1;
    }

    ScratchFolder folder;
    LogCapture logs;
    XTestTypist typist;
    X11SelectionProbe probe;
    std::shared_ptr<X11FocusReader> focus = std::make_shared<X11FocusReader>();
    std::shared_ptr<XTestKeystrokeSender> keys = std::make_shared<XTestKeystrokeSender>();
    std::shared_ptr<QtClipboard> clipboard;
    std::shared_ptr<PasteInjector> injector;
    std::shared_ptr<FakeInjectionHost> host = std::make_shared<FakeInjectionHost>();
};

TEST_F(InjectionDesktopTest, XtermGetsShiftInsertAndBothSelectionsComeBack) {
    const auto received = folder / "received";
    // Non-canonical input: cat gets the pasted bytes without waiting for a line end.
    auto xterm = startXterm("stty -icanon -echo; exec cat > '" + received.string() + "'");
    ASSERT_TRUE(xterm && waitUntilFront(*focus, xterm->pid()));
    ASSERT_TRUE(serveUntil([&] { return std::filesystem::exists(received); }));
    // A window that does not name its process is still known by the X server's client pid.
    const auto window = focus->frontmostApplication()->windowID;
    XDeleteProperty(typist.display(), window, XInternAtom(typist.display(), "_NET_WM_PID", 0));
    XSync(typist.display(), 0);
    auto copied = foreignCopy(kClipboard, {{"text/plain", "copied earlier"}});
    auto selected = foreignCopy(kPrimary, {{"text/plain", "selected words"}});
    ASSERT_TRUE(copied && selected);
    injector->inject("run the tests", host);
    EXPECT_TRUE(serveUntil([&] { return readFile(received) == "run the tests"; }));
    // xterm has read the text by then: the clipboard may come back before the confirmation.
    ASSERT_TRUE(serveUntil([&] { return logs.count(kRestored) == 1 && host->pending; }));
    EXPECT_EQ(host->pending->target.appName, "xterm");
    EXPECT_EQ(host->pending->target.windowID, window);
    EXPECT_EQ(host->pending->target.focusedElement, std::nullopt) << "xterm has no accessibility";
    copied.reset();  // the restored selections outlive their first owners
    selected.reset();
    EXPECT_EQ(foreignPaste(folder, kClipboard, "text/plain"), "copied earlier");
    EXPECT_EQ(foreignPaste(folder, kPrimary, "text/plain"), "selected words");
}

TEST_F(InjectionDesktopTest,
       APasteIntoAFieldRestoresEveryFormatAndComesOutOneBackspacePerGrapheme) {
    const std::string dictated = "hello 😀 wörld";
    for (const bool qt : {false, true}) {  // GTK counts offsets in code points, Qt in UTF-16 units
        SCOPED_TRACE(qt ? "Qt" : "GTK");
        logs.clear();
        auto program = qt ? startQtField("say: ") : startGtkEntries(folder, {"say: "});
        const auto field = focusedIn(program);
        ASSERT_TRUE(field);
        auto owner = foreignCopy(kClipboard, {kCopied.begin(), kCopied.end()});
        ASSERT_TRUE(owner);
        // Not the host's: a Qt field still reading the clipboard leaves the confirmation no
        // element to compare.
        const PendingInjection pending{.text = dictated, .target = *currentInjectionTarget(*focus)};
        typist.keysym(XK_Shift_L, true);  // the user still holds Shift and Alt
        typist.keysym(XK_Alt_L, true);
        injector->inject(dictated, host);
        EXPECT_TRUE(serveUntil([&] { return focus->textOf(*field) == "say: " + dictated; }))
            << focus->textOf(*field).value_or("(unreadable)");
        ASSERT_TRUE(serveUntil([&] { return logs.count(kRestored) == 1; }));
        EXPECT_TRUE(isDown(XK_Shift_L) && isDown(XK_Alt_L) && !isDown(XK_Control_L));
        typist.keysym(XK_Alt_L, false);
        typist.keysym(XK_Shift_L, false);
        owner.reset();
        for (const auto& [format, bytes] : kCopied) {
            EXPECT_EQ(foreignPaste(folder, kClipboard, format), bytes) << format;
        }
        EXPECT_EQ(foreignPaste(folder, kClipboard, "x-kde-passwordManagerHint"), std::nullopt)
            << "the restored clipboard is the user's, not a dictation";
        injector->undoInsertedText(pending);  // the caret is checked through AT-SPI first
        EXPECT_TRUE(serveUntil([&] { return focus->textOf(*field) == "say: "; }));
        EXPECT_EQ(logs.count("✖ 已取消,并删除刚插入的 13 个字"), 1u);
        EXPECT_TRUE(keys->post(Keystroke::returnKey));
    }
}

class ClipboardDesktopTest : public InjectionDesktopTest,
                             public ::testing::WithParamInterface<ClipboardSelection> {};

TEST_P(ClipboardDesktopTest, ASnapshotKeepsTheOwnersFormatsAHungOwnerNoneAndOwnTextIsSecret) {
    const ClipboardSelection selection = GetParam();
    const auto changes = clipboard->changeCount(selection);
    auto owner = foreignCopy(selection, {kCopied.begin(), kCopied.end()});
    ASSERT_TRUE(owner);
    ASSERT_TRUE(serveUntil([&] { return clipboard->changeCount(selection) > changes; }));
    // Only the owner's own formats: no raw X targets, no image conversions.
    EXPECT_EQ(formatsIn(selection), kCopied);
    owner->pause();
    EXPECT_TRUE(prompt([&] { EXPECT_TRUE(clipboard->items(selection)->empty()); }, 1s));
    owner->resume();
    EXPECT_TRUE(serveUntil([&] { return formatsIn(selection) == kCopied; }))
        << "an owner that answers again is read again";
    const auto before = clipboard->changeCount(selection);
    clipboard->writeText(selection, "你好, world 👋");
    EXPECT_EQ(clipboard->changeCount(selection), before + 1) << "own writes count at once";
    EXPECT_EQ(foreignPaste(folder, selection, "text/plain"), "你好, world 👋");
    EXPECT_EQ(foreignPaste(folder, selection, "x-kde-passwordManagerHint"), "secret");
    clipboard->replace(selection, {});
    EXPECT_EQ(foreignPaste(folder, selection, "text/plain"), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(BothSelections, ClipboardDesktopTest,
                         ::testing::Values(kClipboard, kPrimary),
                         [](const auto& info) { return selectionName(info.param); });

TEST_F(InjectionDesktopTest,
       TheFocusInAHugeWindowIsFoundAlikeEveryTimeAndAHungApplicationKeepsItButReadsNoText) {
    EXPECT_TRUE(enableDesktopAccessibility());
    // Characters 6..8 as GTK counts them: the emoji and the space after it. Behind 3,000 other
    // fields in the tree.
    std::vector<std::string> texts(3000);
    texts[0] = "héllo 😀 wörld";
    auto gtk = startGtkEntries(folder, texts, "6,8");
    const auto element = focusedIn(gtk);
    ASSERT_TRUE(element);
    const auto range = focus->selectedRange(*element);
    EXPECT_TRUE(range && range->location == 6 && range->length == 3);
    gtk->pause();
    EXPECT_TRUE(prompt(
        [&] {
            for (int reading = 0; reading < 3; ++reading) {
                EXPECT_EQ(focus->focusedElement(), element);
            }
            EXPECT_FALSE(focus->textOf(*element));
            EXPECT_FALSE(focus->selectedRange(*element));
        },
        2s));
    const auto front = focus->frontmostApplication();
    EXPECT_TRUE(front && front->processID == gtk->pid() && front->name == "python3")
        << "the window manager still names the hung application";
    gtk->resume();
    // A reader started after the window follows the focus to a second field: both readers agree
    // on the element. (Searching the whole window for the first one is not asserted: with the
    // field last among 3,000 it can outlast the search's time budget on a busy machine.)
    X11FocusReader late;
    late.focusedElement();
    typist.tap(XKeysymToKeycode(typist.display(), XK_Tab));
    EXPECT_TRUE(eventually([&] {
        const auto now = focus->focusedElement();
        return now && now != element && late.focusedElement() == now;
    }));
}

// libdbus reads the session bus's address once per process, so the reader without an
// accessibility bus runs in a fresh process of its own. Its address, set before the reader
// starts, names a socket that accepts and never answers, then leads to the real bus.
TEST(InjectionWithoutDesktopTest,
     AHungAccessibilityBusIsLeftAndOneThatComesUpLateIsReachedAndNoDisplayNoKeystrokes) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const std::string session = std::getenv("AT_SPI_BUS_ADDRESS");  // unix:path=P,guid=G
            const auto real = session.substr(10, session.find(',') - 10);
            ScratchFolder folder;
            const auto path = folder / "a11y";
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            path.string().copy(address.sun_path, sizeof address.sun_path - 1);
            const int hung = socket(AF_UNIX, SOCK_STREAM, 0);
            bind(hung, reinterpret_cast<sockaddr*>(&address), sizeof address);
            listen(hung, 8);
            setenv("AT_SPI_BUS_ADDRESS", ("unix:path=" + path.string()).c_str(), 1);
            setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/vurin-bus", 1);
            LogCapture logs;
            X11FocusReader reader;
            const bool absent = prompt(
                [&] {
                    if (reader.focusedElement() || reader.accessibilityAvailable()) {
                        std::_Exit(1);
                    }
                },
                2s);
            const bool left = logs.waitForContaining("无障碍总线(AT-SPI)不可用");
            // The bus comes up later (an autostarted session): a later capture reaches it.
            close(hung);
            std::filesystem::remove(path);
            std::filesystem::create_symlink(real, path);
            auto xterm = startXterm("sleep 60");
            const bool reached = eventually([&] {
                reader.focusedElement();
                return reader.accessibilityAvailable();
            });
            xterm.reset();
            std::_Exit(absent && left && reached && !enableDesktopAccessibility() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    XTestKeystrokeSender sender(":9999");
    EXPECT_FALSE(sender.available());
    EXPECT_FALSE(sender.post(Keystroke::returnKey));
}

}  // namespace
}  // namespace vurin::testing
