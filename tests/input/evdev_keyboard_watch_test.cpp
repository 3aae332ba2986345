#include "platform/linux/evdev_keyboard_watch.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/input.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <set>
#include <sstream>

#include "platform/linux/own_input_devices.h"
#include "support/private_files.h"
#include "support/testing.h"

// Keyboards that come and go in a folder of their own, followed through inotify: each keyboard is
// a pipe (the reader takes `input_event` records from anything), made elsewhere and moved in, as
// the kernel makes a node whole. The probe stands for "a readable keyboard that has the key".
namespace vurin::testing {
namespace {

class Keyboards {
  public:
    ~Keyboards() {
        for (const auto& [name, fd] : writers) {
            close(fd);
        }
    }
    void plug(const std::string& name) {
        const auto staged = folder / ("staged-" + name);
        ASSERT_EQ(mkfifo(staged.c_str(), 0600), 0);
        writers[name] = open(staged.c_str(), O_RDWR | O_CLOEXEC);  // never blocks on a fifo
        std::filesystem::rename(staged, dir() / name);
    }
    void unplug(const std::string& name) {
        std::filesystem::remove(dir() / name);
        close(writers.at(name));
        writers.erase(name);
    }
    void press(const std::string& name) {
        const input_event event{{}, EV_KEY, KEY_F13, 1};
        ASSERT_EQ(write(writers.at(name), &event, sizeof event), sizeof event);
    }
    std::filesystem::path dir() const { return folder / "input"; }

    ScratchFolder folder;
    std::map<std::string, int> writers;
    std::mutex lock;
    std::set<std::string> readable{"event0", "event1", "event3"};
};

TEST(EvdevKeyboardWatchTest, KeyboardsThatComeLaterAreReadAndThoseThatGoAreDropped) {
    Keyboards keyboards;
    std::filesystem::create_directory(keyboards.dir());
    keyboards.plug("event0");
    keyboards.plug("mouse0");
    EvdevKeyboardWatch watch(
        {.directory = keyboards.dir().string(), .probe = [&](const std::string& path, int code) {
             const std::lock_guard guard(keyboards.lock);
             const auto name = std::filesystem::path(path).filename();
             return code == KEY_F13 && keyboards.readable.contains(name)
                        ? std::optional<std::string>("kbd")
                        : std::nullopt;
         }});
    std::mutex lock;
    std::string seen;  // "+event1 " added, "-event0 " lost, "devent1 " a press
    const auto note = [&](const char* what, const std::string& source) {
        const std::lock_guard guard(lock);
        seen += what +
                std::filesystem::path(source.substr(0, source.find(' '))).filename().string() + " ";
    };
    const std::string dir = keyboards.dir().string();
    EXPECT_EQ(
        watch.start(KEY_F13, {.onKey = [&](const std::string& source,
                                           const KeyGrabEvent&) { note("d", source); },
                              .onFailure = [&](const std::string& source,
                                               const KeyGrabResult&) { note("-", source); },
                              .onAdded = [&](const std::string& source) { note("+", source); }}),
        std::vector<std::string>{dir + "/event0 kbd"});
    // Each step, then what must have been seen by then (a rejected node shows by the absence of
    // its line before the next accepted one's).
    const std::vector<std::pair<std::function<void()>, std::string>> steps = {
        {[&] { keyboards.plug("event1"); }, "+event1 "},
        {[&] { keyboards.press("event1"); }, "devent1 "},
        {[&] { keyboards.unplug("event0"); }, "-event0 "},
        {[&] { keyboards.plug("event0"); }, "+event0 "},
        {[&] {
             keyboards.plug("event2");  // not a keyboard to read (yet)
             keyboards.plug("event3");
         },
         "+event3 "},
        {[&] {  // made readable: udev grants access after making the node
             {
                 const std::lock_guard guard(keyboards.lock);
                 keyboards.readable.insert("event2");
             }
             chmod((keyboards.dir() / "event2").c_str(), 0640);
         },
         "+event2 "},
        {[&] { keyboards.press("event0"); }, "devent0 "},
    };
    std::string expected = "";
    for (const auto& [step, then] : steps) {
        SCOPED_TRACE(then);
        step();
        expected += then;
        EXPECT_TRUE(eventually([&] {
            const std::lock_guard guard(lock);
            return seen == expected;
        })) << seen;
    }
    watch.stop();
    keyboards.unplug("event1");
    keyboards.plug("event4");
    watch.stop();
    const std::lock_guard guard(lock);
    EXPECT_EQ(seen, expected);  // nothing once stopped
}

// Vurin's own uinput keyboard is known by the kernel's name for it, through sysfs.
TEST(EvdevKeyboardWatchTest, OwnDevicesAreKnownByTheKernelsNameNotTheirs) {
    ScratchFolder sysfs;
    const auto device = sysfs / "devices/virtual/input/input7";
    std::filesystem::create_directories(device / "event3");
    std::filesystem::create_directories(sysfs / "class/input");
    std::filesystem::create_directory_symlink("../../input7", device / "event3/device");
    std::filesystem::create_directory_symlink("../../devices/virtual/input/input7/event3",
                                              sysfs / "class/input/event3");
    const std::string root = (sysfs / "").string();
    EXPECT_EQ(inputDeviceOf("/dev/input/event3", root), "input7");
    EXPECT_FALSE(isOwnInputDevice("/dev/input/event3", root));
    markOwnInputDevice("input7");
    EXPECT_TRUE(isOwnInputDevice("/dev/input/event3", root));
    EXPECT_FALSE(isOwnInputDevice("/dev/input/event4", root));
}

}  // namespace
}  // namespace vurin::testing
