#include "audio/capture_source_choice.h"

#include <gtest/gtest.h>

namespace vurin {
namespace {

AudioSourceInfo source(std::string name, std::string formFactor, std::string bus,
                       std::string api = "alsa", int channels = 2) {
    AudioSourceInfo info;
    info.name = std::move(name);
    info.formFactor = std::move(formFactor);
    info.bus = std::move(bus);
    info.api = std::move(api);
    info.isMonitor = info.name.ends_with(".monitor");
    info.sampleRate = 48000;
    info.channels = channels;
    return info;
}

// The built-in microphone is the first internal or PCI input in server order; otherwise, and
// whenever the default is asked for, the server's default input.
TEST(CaptureSourceChoiceTest, Choices) {
    struct Case {
        const char* what;
        std::vector<AudioSourceInfo> list;
        std::string defaultName;
        bool builtIn;
        std::string expected;  // "" for none
        bool builtInMissing;
    };
    const auto usb = source("usb", "", "usb");
    const auto pci = source("mic", "", "pci");
    // clang-format off
    const Case cases[] = {
        {"internal after a USB mic", {usb, source("laptop", "internal", "")}, "usb", true, "laptop", false},
        {"pci bus without a form factor", {source("cam", "webcam", "usb"), pci}, "cam", true, "mic", false},
        {"first of two", {source("first", "internal", "pci"), source("second", "internal", "pci")}, "", true, "first", false},
        {"monitor of the speakers skipped", {source("spk.monitor", "internal", "pci"), pci}, "", true, "mic", false},
        {"Bluetooth claiming internal skipped", {source("bt", "internal", "bluetooth", "bluez5"), pci}, "", true, "mic", false},
        {"bluez api without a bus skipped", {source("bt", "internal", "", "bluez5"), pci}, "", true, "mic", false},
        {"no input channels skipped", {source("dead", "internal", "pci", "alsa", 0), pci}, "", true, "mic", false},
        // The user made the headset the default input; only the built-in request avoids it.
        {"no built-in: the default", {source("spk.monitor", "internal", "pci"), source("bt", "headset", "bluetooth", "bluez5"), usb}, "bt", true, "bt", true},
        {"no built-in, no default", {usb}, "", true, "", true},
        {"default asked for", {pci, usb}, "usb", false, "usb", false},
        {"no sources", {}, "", false, "", false},
        {"no default named", {usb}, "", false, "", false},
        {"default gone", {usb}, "gone", false, "", false},
        {"default without input channels", {source("dead", "", "usb", "alsa", 0)}, "dead", false, "", false},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        AudioSourceList list;
        list.sources = c.list;
        list.defaultSourceName = c.defaultName;
        const auto choice = chooseCaptureSource(list, c.builtIn);
        EXPECT_EQ(choice.source ? choice.source->name : "", c.expected);
        EXPECT_EQ(choice.builtInMissing, c.builtInMissing);
    }
}

}  // namespace
}  // namespace vurin
