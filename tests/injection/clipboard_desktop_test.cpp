// The clipboard through QClipboard against another process that owns it: a snapshot keeps
// every real format's bytes and gives them back after Vurin's own text was pasted; foreign and
// own changes are counted per selection; Vurin's text is marked for clipboard managers.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QColor>
#include <QImage>
#include <chrono>
#include <map>
#include <memory>

#include "injection/desktop_apps.h"
#include "platform/linux/selection_probe_x11.h"
#include "ui/qt/qt_clipboard.h"

namespace vurin {
namespace {

using namespace std::chrono_literals;
using testing::DesktopProgram;
using testing::ScratchFolder;
using testing::serveFor;
using testing::serveUntil;

std::string pngBytes() {
    QImage image(7, 5, QImage::Format_ARGB32);
    image.fill(QColor(200, 30, 90, 128));
    image.setPixelColor(3, 2, QColor(0, 255, 0));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

class ClipboardTest : public ::testing::TestWithParam<ClipboardSelection> {
  protected:
    void SetUp() override {
        testing::ensureQtApplication();
        // Wired as the application wires it.
        clipboard_ = std::make_unique<QtClipboard>(
            [this](ClipboardSelection selection) { return probe_.ownerAnswers(selection, 300ms); });
    }

    std::unique_ptr<DesktopProgram> foreignCopy(
        ClipboardSelection selection,
        const std::vector<std::pair<std::string, std::string>>& values) {
        return testing::foreignCopy(folder_, selection, values);
    }

    std::optional<std::string> foreignPaste(ClipboardSelection selection,
                                            const std::string& format) {
        return testing::foreignPaste(folder_, selection, format);
    }

    X11SelectionProbe probe_;
    std::unique_ptr<QtClipboard> clipboard_;
    ScratchFolder folder_;
};

TEST_P(ClipboardTest, ForeignFormatsComeBackByteForByteAfterSnapshotAndReplace) {
    const ClipboardSelection selection = GetParam();
    const std::string html = "<meta charset=\"utf-8\"><b>bold</b> caf\xC3\xA9 \xF0\x9F\x98\x80";
    const std::string png = pngBytes();
    const std::map<std::string, std::string> copied = {
        {"text/plain", "plain caf\xC3\xA9 \xF0\x9F\x98\x80"},
        {"text/html", html},
        {"image/png", png},
        {"application/x-vurin-test", std::string("\x00\x01\xFF binary", 10)},
    };
    auto owner = foreignCopy(selection, {copied.begin(), copied.end()});
    ASSERT_TRUE(owner);
    ASSERT_TRUE(serveUntil([&] { return !clipboard_->items(selection).empty(); }));

    const std::vector<ClipboardItem> snapshot = clipboard_->items(selection);
    ASSERT_EQ(snapshot.size(), 1u);
    std::map<std::string, std::string> kept;
    for (const auto& [format, bytes] : snapshot[0].values) {
        EXPECT_FALSE(kept.contains(format)) << format << " twice";
        kept[format] = bytes;
    }
    // Only the owner's own formats: no raw X targets, no image conversions.
    EXPECT_EQ(kept, copied);

    clipboard_->writeText(selection, "dictated text");
    EXPECT_EQ(foreignPaste(selection, "text/plain"), "dictated text");
    owner.reset();  // the owner may even be gone by now: the snapshot holds the bytes

    clipboard_->replace(selection, snapshot);
    for (const auto& [format, bytes] : copied) {
        EXPECT_EQ(foreignPaste(selection, format), bytes) << format;
    }
    EXPECT_EQ(foreignPaste(selection, "x-kde-passwordManagerHint"), std::nullopt)
        << "the restored clipboard is the user's, not a dictation";
}

TEST_P(ClipboardTest, OwnTextIsUTF8AndMarkedSecretForClipboardManagers) {
    const ClipboardSelection selection = GetParam();
    const std::string text = "\xE4\xBD\xA0\xE5\xA5\xBD\xEF\xBC\x8C world \xF0\x9F\x91\x8B";
    clipboard_->writeText(selection, text);
    EXPECT_EQ(foreignPaste(selection, "text/plain"), text);
    EXPECT_EQ(foreignPaste(selection, "x-kde-passwordManagerHint"), "secret");
}

TEST_P(ClipboardTest, ChangesAreCountedPerSelectionOwnAndForeign) {
    const ClipboardSelection selection = GetParam();
    const ClipboardSelection other = selection == ClipboardSelection::clipboard
                                         ? ClipboardSelection::primary
                                         : ClipboardSelection::clipboard;
    serveFor(200ms);
    const auto before = clipboard_->changeCount(selection);
    const auto otherBefore = clipboard_->changeCount(other);

    clipboard_->writeText(selection, "ours");
    EXPECT_EQ(clipboard_->changeCount(selection), before + 1) << "own writes count at once";

    auto owner = foreignCopy(selection, {{"text/plain", "theirs"}});
    ASSERT_TRUE(owner);
    EXPECT_TRUE(serveUntil([&] { return clipboard_->changeCount(selection) == before + 2; }));
    serveFor(200ms);
    EXPECT_EQ(clipboard_->changeCount(selection), before + 2);
    EXPECT_EQ(clipboard_->changeCount(other), otherBefore);
}

TEST_P(ClipboardTest, EmptySelectionHasNoItemsAndReplacingWithNothingClears) {
    const ClipboardSelection selection = GetParam();
    clipboard_->writeText(selection, "something");
    clipboard_->replace(selection, {});
    EXPECT_TRUE(clipboard_->items(selection).empty());
    EXPECT_EQ(foreignPaste(selection, "text/plain"), std::nullopt);
}

TEST_P(ClipboardTest, HungOwnerGivesAnEmptySnapshotPromptly) {
    const ClipboardSelection selection = GetParam();
    auto owner = foreignCopy(selection, {{"text/plain", "frozen"}, {"text/html", "<i>x</i>"}});
    ASSERT_TRUE(owner);
    ASSERT_TRUE(serveUntil([&] { return !clipboard_->items(selection).empty(); }));

    owner->pause();
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(clipboard_->items(selection).empty());
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
    owner->resume();
    EXPECT_TRUE(serveUntil([&] { return clipboard_->items(selection).size() == 1; }))
        << "an owner that answers again is read again";
}

INSTANTIATE_TEST_SUITE_P(BothSelections, ClipboardTest,
                         ::testing::Values(ClipboardSelection::clipboard,
                                           ClipboardSelection::primary),
                         [](const auto& info) -> std::string {
                             return info.param == ClipboardSelection::primary ? "primary"
                                                                              : "clipboard";
                         });

}  // namespace
}  // namespace vurin
