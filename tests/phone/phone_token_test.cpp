#include "phone/phone_token.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "phone/local_address.h"

namespace vurin {
namespace {

bool isLowerHex(const std::string& text) {
    return text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

TEST(PhoneTokenTest, SystemTokensAre32LowercaseHexAndDiffer) {
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        const std::string token = generatePhoneToken();
        EXPECT_EQ(token.size(), 32U);
        EXPECT_TRUE(isLowerHex(token)) << token;
        seen.insert(token);
    }
    EXPECT_EQ(seen.size(), 50U);
}

TEST(PhoneTokenTest, BytesAreWrittenInOrderAsTwoDigitsEach) {
    const auto source = [](std::span<std::uint8_t> out) {
        for (std::size_t i = 0; i < out.size(); ++i) {
            out[i] = static_cast<std::uint8_t>(i * 17);  // 0x00, 0x11, ... 0xff
        }
        return true;
    };
    EXPECT_EQ(generatePhoneToken(source), "00112233445566778899aabbccddeeff");
}

TEST(PhoneTokenTest, FailingGeneratorGivesTwoUUIDsWithoutHyphens) {
    const auto failing = [](std::span<std::uint8_t>) { return false; };
    const std::string token = generatePhoneToken(failing);
    ASSERT_EQ(token.size(), 64U);
    EXPECT_TRUE(isLowerHex(token)) << token;
    // Version 4 and the RFC 4122 variant in each half.
    for (const std::size_t half : {0U, 32U}) {
        EXPECT_EQ(token[half + 12], '4');
        EXPECT_NE(std::string("89ab").find(token[half + 16]), std::string::npos);
    }
    EXPECT_NE(token, generatePhoneToken(failing));
}

TEST(PhoneTokenTest, ShorterThan32IsOutdated) {
    EXPECT_TRUE(isPhoneTokenOutdated(""));
    EXPECT_TRUE(isPhoneTokenOutdated("abcd1234"));
    EXPECT_TRUE(isPhoneTokenOutdated(std::string(31, 'a')));
    EXPECT_FALSE(isPhoneTokenOutdated(std::string(32, 'a')));
    EXPECT_FALSE(isPhoneTokenOutdated(std::string(64, 'a')));
}

TEST(LocalAddressTest, WirelessBeforeWiredBeforeOthers) {
    EXPECT_FALSE(chooseLocalIPv4({}));
    EXPECT_EQ(chooseLocalIPv4({{"docker0", "172.17.0.1"}}), "172.17.0.1");
    EXPECT_EQ(chooseLocalIPv4({{"docker0", "172.17.0.1"}, {"eth0", "10.0.0.5"}}), "10.0.0.5");
    EXPECT_EQ(
        chooseLocalIPv4({{"enp3s0", "10.0.0.5"}, {"wlp2s0", "192.168.1.7"}, {"tun0", "10.8.0.2"}}),
        "192.168.1.7");
    // Within a kind the first listed wins.
    EXPECT_EQ(chooseLocalIPv4({{"virbr0", "192.168.122.1"}, {"tun0", "10.8.0.2"}}),
              "192.168.122.1");
    EXPECT_EQ(chooseLocalIPv4({{"eth0", "10.0.0.5"}, {"enp1s0", "10.0.0.6"}}), "10.0.0.5");
}

TEST(LocalAddressTest, SystemListHasNoLoopback) {
    for (const auto& entry : listLocalIPv4()) {
        EXPECT_NE(entry.address.rfind("127.", 0), 0U) << entry.interfaceName;
        EXPECT_NE(entry.address, "");
    }
}

}  // namespace
}  // namespace vurin
