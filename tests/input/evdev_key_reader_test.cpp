#include "platform/linux/evdev_key_reader.h"

#include <gtest/gtest.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <mutex>

#include "support/testing.h"

namespace vurin {
namespace {

std::string record(int type, int code, int value) {
    const input_event event{{}, static_cast<__u16>(type), static_cast<__u16>(code), value};
    return std::string(reinterpret_cast<const char*>(&event), sizeof event);
}

// Records through a pipe, each write read on its own (a pipe may deliver half a record), to
// F13's presses (d) and releases (u), then the one failure its end brings; stop() brings none.
TEST(EvdevKeyReader, DecodesTheWatchedKey) {
    const std::string down = record(EV_KEY, KEY_F13, 1), up = record(EV_KEY, KEY_F13, 0);
    const std::string report = record(EV_SYN, SYN_REPORT, 0);
    const std::string end = "|键盘设备 pipe 读取结束(已关闭)";
    const struct {
        const char* name;
        std::vector<std::string> writes;
        std::string seen;
    } cases[] = {
        {"other keys and sync reports skipped, a repeat is a press",
         {down + report + record(EV_KEY, KEY_A, 1) + record(EV_KEY, KEY_F13, 2) + up},
         "ddu" + end},
        {"a record split across two writes", {down.substr(0, 5), down.substr(5) + up}, "du" + end},
        {"after a drop, skipped up to the next report; a pipe cannot say the key is up",
         {down + record(EV_SYN, SYN_DROPPED, 0) + up + report + down},
         "dd" + end},
        {"half a record, then stopped", {down, up.substr(0, 7)}, "d"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        std::mutex lock;
        std::string seen;
        const auto add = [&](const std::string& text) {
            std::lock_guard guard(lock);
            return (seen += text).ends_with(end);
        };
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        EvdevKeyReader reader;
        reader.start(ends[0], "pipe", KEY_F13,
                     {[&](const KeyGrabEvent& key) { add(key.pressed ? "d" : "u"); },
                      [&](const KeyGrabResult& failure) { add("|" + failure.reason); }});
        for (const std::string& bytes : test.writes) {
            ASSERT_EQ(write(ends[1], bytes.data(), bytes.size()), std::ssize(bytes));
            ASSERT_TRUE(testing::eventually([&] {
                int unread = 0;
                return ioctl(ends[0], FIONREAD, &unread) == 0 && unread == 0;
            }));
        }
        // Without the end, what was read is decoded by the time stop() has joined the thread.
        const bool closes = test.seen.ends_with(end);
        close(closes ? ends[1] : -1);
        EXPECT_EQ(closes && testing::eventually([&] { return add(""); }), closes);
        reader.stop();
        close(closes ? -1 : ends[1]);
        EXPECT_EQ(seen, test.seen);
    }
}

}  // namespace
}  // namespace vurin
