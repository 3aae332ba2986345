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

using Items = std::vector<ClipboardItem>;

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
    const std::vector<ClipboardItem> saved = ours->items(selection).value_or(Items{});
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
    EXPECT_EQ(other->items(selection), std::optional(saved));
    EXPECT_EQ(output(wlPaste + "--list-types"),
              "text/plain;charset=utf-8\ntext/html\napplication/x-vurin-test\n");

    // A snapshot that would leave formats out is none: put back, it would thin the clipboard.
    // An owner that stopped answering costs the limit (300 ms) once; its name is escaped.
    count = ours->changeCount(selection);
    DesktopProgram hung(wlCopy("--type \"$(printf 'text/x-\\033hung')\" x"));
    ASSERT_TRUE(changeMoves(count));
    hung.pause();
    LogCapture logs;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(ours->items(selection));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
    EXPECT_EQ(logs.countContaining("text/x-\\u{001B}hung"), 1U);
    hung.resume();
    Items tooMany{ClipboardItem{}};
    for (int i = 0; i < 65; ++i) {
        tooMany[0].values.emplace_back("application/x-" + std::to_string(i), "x");
    }
    const std::pair<Items, std::string> incomplete[] = {
        {{ClipboardItem{
             {{"text/plain", "x"}, {"application/x-big", std::string((64 << 20) + 1, 'b')}}}},
         "「application/x-big」超过 64 MB"},
        {tooMany, "提供了 65 种格式"},
    };
    for (const auto& [items, line] : incomplete) {
        count = ours->changeCount(selection);
        other->replace(selection, items);
        ASSERT_TRUE(changeMoves(count));
        EXPECT_FALSE(ours->items(selection)) << line;
        EXPECT_EQ(logs.countContaining(line), 1U) << line;
    }
}

// A connection that ends (here: the relay it went through) is made again in the background; while
// it is down every call returns at once. Twice, so that a second loss is followed as the first.
TEST(DataControlClipboardReconnectTest, AnEndedConnectionIsMadeAgain) {
    std::optional<WaylandSession> session = WaylandSession::join();
    ASSERT_TRUE(session);
    const std::string socket = (session->sharedFolder() / "relay").string();
    ScopedEnvironment environment;
    environment.set("WAYLAND_DISPLAY", socket);
    std::optional<DesktopProgram> relay(std::in_place, session->relay(socket));
    std::unique_ptr<DataControlClipboard> ours;
    std::string why;
    ASSERT_TRUE(eventually([&] { return (ours = DataControlClipboard::connect(&why)) != nullptr; }))
        << why;
    LogCapture logs;
    for (const std::string text : {"first", "second"}) {
        SCOPED_TRACE(text);
        const std::int64_t before = ours->changeCount(ClipboardSelection::clipboard);
        relay.reset();
        ASSERT_TRUE(eventually([&] { return !ours->available(); }));
        const auto started = std::chrono::steady_clock::now();
        EXPECT_FALSE(ours->items(ClipboardSelection::clipboard));
        EXPECT_FALSE(ours->writeText(ClipboardSelection::clipboard, text));
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(100));
        relay.emplace(session->relay(socket));
        ASSERT_TRUE(eventually([&] { return ours->available(); }, std::chrono::seconds(10)));
        EXPECT_GT(ours->changeCount(ClipboardSelection::clipboard), before);
        EXPECT_TRUE(ours->writeText(ClipboardSelection::clipboard, text));
        EXPECT_EQ(output("wl-paste --no-newline"), text);
    }
    EXPECT_EQ(logs.countContaining("Wayland 剪贴板(data-control)断开"), 2U);
    EXPECT_EQ(logs.countContaining("Wayland 剪贴板(data-control)已重新连接"), 2U);
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
