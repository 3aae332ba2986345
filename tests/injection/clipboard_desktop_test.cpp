// The clipboard through QClipboard against another process that owns it, for both selections.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QColor>
#include <QImage>
#include <map>

#include "injection/desktop_apps.h"
#include "platform/linux/selection_probe_x11.h"
#include "ui/qt/qt_clipboard.h"

namespace vurin::testing {
namespace {

using namespace std::chrono_literals;

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
        ensureQtApplication();
        // Wired as the application wires it.
        clipboard_ = std::make_unique<QtClipboard>(
            [this](ClipboardSelection which) { return probe_.ownerAnswers(which, 300ms); });
    }
    auto foreignCopy(const std::vector<std::pair<std::string, std::string>>& values) {
        return testing::foreignCopy(folder_, GetParam(), values);
    }
    std::optional<std::string> foreignPaste(const std::string& format) {
        return testing::foreignPaste(folder_, GetParam(), format);
    }

    const ClipboardSelection selection_ = GetParam();
    X11SelectionProbe probe_;
    std::unique_ptr<QtClipboard> clipboard_;
    ScratchFolder folder_;
};

TEST_P(ClipboardTest, ASnapshotGivesBackEveryFormatByteForByteAndOwnTextIsMarkedSecret) {
    const std::map<std::string, std::string> copied = {
        {"text/plain", "plain café 😀"},
        {"text/html", "<meta charset=\"utf-8\"><b>bold</b> café 😀"},
        {"image/png", pngBytes()},
        {"application/x-vurin-test", std::string("\x00\x01\xFF binary", 10)},
    };
    auto owner = foreignCopy({copied.begin(), copied.end()});
    ASSERT_TRUE(owner);
    ASSERT_TRUE(serveUntil([&] { return !clipboard_->items(selection_).empty(); }));
    const std::vector<ClipboardItem> snapshot = clipboard_->items(selection_);
    ASSERT_EQ(snapshot.size(), 1u);
    std::map<std::string, std::string> kept;
    for (const auto& [format, bytes] : snapshot[0].values) {
        EXPECT_TRUE(kept.emplace(format, bytes).second) << format << " twice";
    }
    // Only the owner's own formats: no raw X targets, no image conversions.
    EXPECT_EQ(kept, copied);

    // Vurin's own text is UTF-8 and marked for clipboard managers as not to be kept.
    clipboard_->writeText(selection_, "你好, world 👋");
    EXPECT_EQ(foreignPaste("text/plain"), "你好, world 👋");
    EXPECT_EQ(foreignPaste("x-kde-passwordManagerHint"), "secret");
    owner.reset();  // the snapshot holds the bytes, the owner may be gone

    clipboard_->replace(selection_, snapshot);
    for (const auto& [format, bytes] : copied) {
        EXPECT_EQ(foreignPaste(format), bytes) << format;
    }
    EXPECT_EQ(foreignPaste("x-kde-passwordManagerHint"), std::nullopt)
        << "the restored clipboard is the user's, not a dictation";
    clipboard_->replace(selection_, {});
    EXPECT_TRUE(clipboard_->items(selection_).empty());
    EXPECT_EQ(foreignPaste("text/plain"), std::nullopt);
}

TEST_P(ClipboardTest, ChangesAreCountedPerSelectionOwnAndForeign) {
    const auto other = selection_ == ClipboardSelection::clipboard ? ClipboardSelection::primary
                                                                   : ClipboardSelection::clipboard;
    clipboard_->writeText(selection_, "ours");
    EXPECT_EQ(foreignPaste("text/plain"), "ours");  // events of the start are served meanwhile
    const auto before = clipboard_->changeCount(selection_);
    const auto otherBefore = clipboard_->changeCount(other);
    clipboard_->writeText(selection_, "ours again");
    EXPECT_EQ(clipboard_->changeCount(selection_), before + 1) << "own writes count at once";
    auto owner = foreignCopy({{"text/plain", "theirs"}});
    ASSERT_TRUE(owner);
    EXPECT_TRUE(serveUntil([&] { return clipboard_->changeCount(selection_) == before + 2; }));
    // Asking the owner is the later event: its answer comes after any change it made.
    EXPECT_EQ(foreignPaste("text/plain"), "theirs");
    EXPECT_EQ(clipboard_->changeCount(selection_), before + 2);
    EXPECT_EQ(clipboard_->changeCount(other), otherBefore);
}

TEST_P(ClipboardTest, AHungOwnerGivesAnEmptySnapshotPromptly) {
    auto owner = foreignCopy({{"text/plain", "frozen"}, {"text/html", "<i>x</i>"}});
    ASSERT_TRUE(owner);
    ASSERT_TRUE(serveUntil([&] { return !clipboard_->items(selection_).empty(); }));
    owner->pause();
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(clipboard_->items(selection_).empty());
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
    owner->resume();
    EXPECT_TRUE(serveUntil([&] { return clipboard_->items(selection_).size() == 1; }))
        << "an owner that answers again is read again";
}

INSTANTIATE_TEST_SUITE_P(BothSelections, ClipboardTest,
                         ::testing::Values(ClipboardSelection::clipboard,
                                           ClipboardSelection::primary),
                         [](const auto& info) { return selectionName(info.param); });

}  // namespace
}  // namespace vurin::testing
