#include "audio/capture_source_choice.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vurin {
namespace {

AudioSourceInfo source(std::string name, std::string formFactor, std::string bus,
                       bool isMonitor = false, std::string api = "alsa") {
    AudioSourceInfo info;
    info.name = std::move(name);
    info.formFactor = std::move(formFactor);
    info.bus = std::move(bus);
    info.api = std::move(api);
    info.isMonitor = isMonitor;
    info.sampleRate = 48000;
    info.channels = 2;
    return info;
}

AudioSourceList sources(std::vector<AudioSourceInfo> list, std::string defaultName) {
    AudioSourceList result;
    result.sources = std::move(list);
    result.defaultSourceName = std::move(defaultName);
    return result;
}

std::string chosen(const AudioSourceList& list, bool builtIn) {
    const auto choice = chooseCaptureSource(list, builtIn);
    return choice.source ? choice.source->name : "<none>";
}

TEST(CaptureSourceChoiceTest, BuiltInIsTheFirstInternalOrPciInputInServerOrder) {
    struct Case {
        const char* what;
        std::vector<AudioSourceInfo> list;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"internal form factor after a USB mic",
         {source("usb", "", "usb"), source("laptop", "internal", "")},
         "laptop"},
        {"pci bus without a form factor",
         {source("webcam", "webcam", "usb"), source("hda", "", "pci")},
         "hda"},
        {"first of two qualifying sources",
         {source("first", "internal", "pci"), source("second", "internal", "pci")},
         "first"},
        {"monitor of the built-in speakers is skipped",
         {source("spk.monitor", "internal", "pci", true), source("mic", "", "pci")},
         "mic"},
        {"Bluetooth headset claiming internal is skipped",
         {source("bt", "internal", "bluetooth", false, "bluez5"), source("mic", "internal", "pci")},
         "mic"},
        {"bluez api without a bus is skipped",
         {source("bt", "internal", "", false, "bluez5"), source("mic", "", "pci")},
         "mic"},
        {"source without input channels is skipped",
         [] {
             auto silent = source("dead", "internal", "pci");
             silent.channels = 0;
             return std::vector{silent, source("mic", "internal", "")};
         }(),
         "mic"},
    };
    for (const auto& c : cases) {
        const auto list = sources(c.list, "none-of-these");
        const auto choice = chooseCaptureSource(list, true);
        ASSERT_NE(choice.source, nullptr) << c.what;
        EXPECT_EQ(choice.source->name, c.expected) << c.what;
        EXPECT_FALSE(choice.builtInMissing) << c.what;
    }
}

TEST(CaptureSourceChoiceTest, WithoutBuiltInTheDefaultIsUsedAndTheFallBackIsReported) {
    const auto list = sources(
        {source("spk.monitor", "internal", "pci", true),
         source("bt", "headset", "bluetooth", false, "bluez5"), source("usb", "headset", "usb")},
        "bt");
    const auto choice = chooseCaptureSource(list, true);
    EXPECT_TRUE(choice.builtInMissing);
    ASSERT_NE(choice.source, nullptr);
    // The user made the headset the default input; only the built-in request avoids it.
    EXPECT_EQ(choice.source->name, "bt");
}

TEST(CaptureSourceChoiceTest, DefaultRequestTakesTheDefaultEvenWithABuiltInPresent) {
    const auto list = sources({source("mic", "internal", "pci"), source("usb", "", "usb")}, "usb");
    EXPECT_EQ(chosen(list, false), "usb");
    EXPECT_FALSE(chooseCaptureSource(list, false).builtInMissing);
    EXPECT_EQ(chosen(list, true), "mic");
}

TEST(CaptureSourceChoiceTest, NoUsableDefaultGivesNothing) {
    EXPECT_EQ(chosen(sources({}, ""), false), "<none>");
    EXPECT_EQ(chosen(sources({source("usb", "", "usb")}, ""), false), "<none>");
    EXPECT_EQ(chosen(sources({source("usb", "", "usb")}, "gone"), false), "<none>");
    auto dead = source("dead", "", "usb");
    dead.channels = 0;
    EXPECT_EQ(chosen(sources({dead}, "dead"), false), "<none>");
    const auto choice = chooseCaptureSource(sources({source("usb", "", "usb")}, ""), true);
    EXPECT_EQ(choice.source, nullptr);
    EXPECT_TRUE(choice.builtInMissing);
}

}  // namespace
}  // namespace vurin
