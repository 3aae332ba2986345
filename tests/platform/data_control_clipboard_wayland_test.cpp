#include "platform/wayland/data_control_clipboard.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "support/desktop_program.h"
#include "support/testing.h"
#include "support/wayland_session.h"

// The clipboard and the primary selection through sway's data-control, against wl-clipboard and
// a second instance standing in for another program that offers several formats.
namespace vurin::testing {
namespace {

std::string output(const std::string& command) {
    std::string read;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[4096];
    for (std::size_t got; pipe && (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        read.append(buffer, got);
    }
    return pipe && pclose(pipe) == 0 ? read : "(failed) " + read;
}

class DataControlClipboardTest : public ::testing::TestWithParam<ClipboardSelection> {};

TEST_P(DataControlClipboardTest, WritesSnapshotsAndRestoresEveryFormat) {
    std::optional<WaylandSession> session = WaylandSession::join();
    ASSERT_TRUE(session);
    ScopedEnvironment environment;
    environment.set("WAYLAND_DISPLAY", *session->environment().at("WAYLAND_DISPLAY"));
    std::string why;
    auto ours = DataControlClipboard::connect(&why), other = DataControlClipboard::connect(&why);
    ASSERT_TRUE(ours && other) << why;
    const ClipboardSelection selection = GetParam();
    const std::string option = selection == ClipboardSelection::primary ? "--primary " : "";
    const std::string wlPaste = "wl-paste " + option;
    const auto wlCopy = [&](const std::string& arguments) {  // exec: pause() stops wl-copy
        return std::vector<std::string>{"sh", "-c",
                                        "exec wl-copy --foreground " + option + arguments};
    };
    const auto changeMoves = [&](std::int64_t from) {
        return eventually([&] { return ours->changeCount(selection) == from + 1; });
    };

    // Another program's copy, several formats with binary bytes: a foreign change, every format
    // snapshotted in the owner's order.
    const ClipboardItem copied{{{"text/plain;charset=utf-8", "h\xc3\xa9llo"},
                                {"text/html", "<b>h\xc3\xa9llo</b>"},
                                {"application/x-vurin-test", std::string("\0\x01\xff\n", 4)}}};
    std::int64_t count = ours->changeCount(selection);
    other->replace(selection, {copied});
    EXPECT_TRUE(changeMoves(count));
    const std::vector<ClipboardItem> saved = ours->items(selection);
    EXPECT_EQ(saved, std::vector{copied});

    // Our own write is counted by the time it returns, and every reader's type has the text.
    count = ours->changeCount(selection);
    ours->writeText(selection, "dictated \xe2\x9c\x93");
    EXPECT_EQ(ours->changeCount(selection), count + 1);
    for (const char* type :
         {"text/plain;charset=utf-8", "text/plain", "UTF8_STRING", "TEXT", "STRING"}) {
        EXPECT_EQ(output(wlPaste + "--no-newline --type '" + type + "'"), "dictated \xe2\x9c\x93")
            << type;
    }
    EXPECT_EQ(output(wlPaste + "--no-newline --type x-kde-passwordManagerHint"), "secret");

    // Someone else copies meanwhile; the saved content comes back byte for byte.
    count = ours->changeCount(selection);
    {
        DesktopProgram copy(wlCopy("changed"));
        ASSERT_TRUE(changeMoves(count));
        ours->replace(selection, saved);
    }
    EXPECT_EQ(other->items(selection), saved);
    EXPECT_EQ(output(wlPaste + "--list-types"),
              "text/plain;charset=utf-8\ntext/html\napplication/x-vurin-test\n");

    // An owner that stopped answering costs the limit (300 ms) once; its formats are left out.
    count = ours->changeCount(selection);
    DesktopProgram hung(wlCopy("--type text/x-hung x"));
    ASSERT_TRUE(changeMoves(count));
    hung.pause();
    LogCapture logs;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(ours->items(selection).empty());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
    EXPECT_EQ(logs.countContaining("text/x-hung"), 1U);
    hung.resume();
}

INSTANTIATE_TEST_SUITE_P(Selections, DataControlClipboardTest,
                         ::testing::Values(ClipboardSelection::clipboard,
                                           ClipboardSelection::primary),
                         [](const auto& info) {
                             return info.param == ClipboardSelection::primary ? "Primary"
                                                                              : "Clipboard";
                         });

}  // namespace
}  // namespace vurin::testing
