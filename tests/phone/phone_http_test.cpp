#include "phone/phone_http.h"

#include <gtest/gtest.h>

#include <span>

#include "phone/local_address.h"
#include "phone/phone_token.h"

namespace vurin {
namespace {

constexpr std::string_view kToken = "0123456789abcdef0123456789abcdef";

TEST(PhoneTriggerRouteTest, TokenFirstThenMethodAndPath) {
    using enum PhoneTriggerRoute;
    struct Case {
        const char* method;
        std::string target;  // "$" stands for kToken
        PhoneTriggerRoute route;
        std::string_view token = kToken;
    };
    const std::string prefix(kToken.substr(0, 31));
    // clang-format off
    const std::vector<Case> cases = {
        {"GET", "/?t=$", page}, {"GET", "/events?t=$", events}, {"POST", "/e/down?t=$", down},
        {"POST", "/e/up?t=$", up}, {"GET", "/e/down?t=$", notFound}, {"POST", "/?t=$", notFound},
        {"get", "/?t=$", notFound}, {"GET", "/other?t=$", notFound}, {"POST", "/e/UP?t=$", notFound},
        // The token before the path; a prefix or an extension of it is not it.
        {"GET", "/", forbidden}, {"GET", "/?", forbidden}, {"HEAD", "/x?t=wrong", forbidden},
        {"GET", "/?t", forbidden}, {"GET", "/?T=$", forbidden}, {"GET", "/?t=" + prefix, forbidden},
        {"GET", "/?t=$0", forbidden}, {"GET", "/?t=no&t=$", forbidden}, {"GET", "/?t=$&t=no", page},
        {"GET", "/?a=1&t=$&b", page},
        // Escapes decoded in token and path, "+" kept, no fragment, the absolute form.
        {"GET", "/?t=a%2fb", page, "a/b"}, {"GET", "/?%74=ab", page, "ab"},
        {"POST", "/e/%64own?t=ab", down, "ab"}, {"GET", "/?t=a+b", page, "a+b"},
        {"GET", "/?t=ab#x", page, "ab"}, {"GET", "http://10.0.0.2:8930/events?t=ab", events, "ab"},
        {"GET", "http://h?t=ab", notFound, "ab"},
        // Unparsable targets, no token to match, decoded bytes that are not UTF-8.
        {"GET", "/%zz?t=$", forbidden}, {"GET", "/%4?t=$", forbidden},
        {"GET", "/\"x\"?t=$", forbidden}, {"GET", "/a#b#c?t=$", forbidden},
        {"GET", "?t=" + prefix + "%", forbidden}, {"GET", "/?t=", forbidden, ""},
        {"GET", "/?t=%FF", forbidden, "\xff"}};
    // clang-format on
    for (auto c : cases) {
        if (const auto at = c.target.find('$'); at != std::string::npos) {
            c.target.replace(at, 1, kToken);
        }
        EXPECT_EQ(phoneTriggerRoute(c.method, c.target, c.token), c.route) << c.target;
    }
}

TEST(RequestHeadTest, RequestLineOfUTF8HeadsAndTheTerminatorAcrossReads) {
    using Line = std::optional<std::pair<std::string, std::string>>;
    // clang-format off
    for (const auto& [head, expected] : std::vector<std::pair<std::string, Line>>{
             {"GET /?t=1 HTTP/1.1\r\nHost: x", {{"GET", "/?t=1"}}},
             {"  POST    /e/up  ", {{"POST", "/e/up"}}},
             {"GET / HTTP/1.1\r\nX: \xe4\xbd\xa0\xf0\x9f\x93\xb1", {{"GET", "/"}}},
             {"", {}}, {"GET", {}}, {"GET   ", {}}, {"\r\nGET / HTTP/1.1", {}}, {"GET /\xff", {}},
             {"GET / \xc0\xaf", {}}, {"GET / \xed\xa0\x80", {}}, {"GET / \xe4\xbd", {}}}) {
        // clang-format on
        const auto line = parseRequestHead(head);
        EXPECT_EQ(line ? Line({{line->method, line->rawPath}}) : Line(), expected) << head;
    }
    using enum RequestHeadReader::Progress;
    RequestHeadReader split, full, late;
    EXPECT_EQ(split.append("GET / HTTP/1.1\r\nHost: x\r\n\r"), incomplete);
    EXPECT_EQ(split.append("\nbody"), complete);
    EXPECT_EQ(split.head(), "GET / HTTP/1.1\r\nHost: x");
    // Past 64 KiB without a terminator is too large, unless the piece crossing it holds one.
    constexpr std::size_t kMax = RequestHeadReader::kMaxHeadBytes;
    EXPECT_EQ(full.append(std::string(kMax, 'a')), incomplete);
    EXPECT_EQ(full.append("a"), tooLarge);
    EXPECT_EQ(full.append("\r\n\r\n"), tooLarge);
    late.append(std::string(kMax - 1, 'a'));
    EXPECT_EQ(late.append("b\r\n\r\n"), complete);
    EXPECT_EQ(late.head().size(), kMax);
}

// Sixteen random bytes as hex, or two version-4 UUIDs when the secure source fails.
TEST(PhoneTokenAndAddressTest, TokenFromSixteenRandomBytesOrTwoUUIDsAndTheWiFiAddressFirst) {
    const auto counting = [](std::span<std::uint8_t> out) {
        return std::ranges::generate(out, [i = 0]() mutable { return i++ * 17; }), true;
    };
    EXPECT_EQ(generatePhoneToken(counting), "00112233445566778899aabbccddeeff");
    const auto failing = [](std::span<std::uint8_t>) { return false; };
    const std::string token = generatePhoneToken(failing);
    EXPECT_TRUE(token.size() == 64 && token.find_first_not_of("0123456789abcdef") == token.npos &&
                token[12] == '4' && token[44] == '4' && token != generatePhoneToken(failing));
    EXPECT_TRUE(isPhoneTokenOutdated(std::string(31, 'a')));
    EXPECT_FALSE(isPhoneTokenOutdated(std::string(32, 'a')));
    // Wireless before wired before others; within a kind the first listed.
    EXPECT_EQ(chooseLocalIPv4({}), std::nullopt);
    EXPECT_EQ(chooseLocalIPv4({{"docker0", "1"}, {"tun0", "2"}, {"enp1s0", "3"}, {"eth0", "4"}}),
              "3");
    EXPECT_EQ(chooseLocalIPv4({{"eth0", "1"}, {"wlp2s0", "2"}, {"wlan1", "3"}}), "2");
}

}  // namespace
}  // namespace vurin
