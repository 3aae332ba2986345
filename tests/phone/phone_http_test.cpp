#include "phone/phone_http.h"

#include <gtest/gtest.h>

#include <set>
#include <span>
#include <string>
#include <vector>

#include "phone/local_address.h"
#include "phone/phone_token.h"

namespace vurin {
namespace {

using namespace std::string_literals;
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
        {"POST", "/e/up?t=$", up},
        // A press needs POST, the page and stream GET; methods and paths are case-sensitive.
        {"GET", "/e/down?t=$", notFound}, {"GET", "/e/up?t=$", notFound}, {"POST", "/?t=$", notFound},
        {"POST", "/events?t=$", notFound}, {"HEAD", "/?t=$", notFound}, {"get", "/?t=$", notFound},
        {"post", "/e/down?t=$", notFound}, {"GET", "/other?t=$", notFound},
        {"POST", "/e/UP?t=$", notFound},
        // The token before the path; a prefix or an extension of it is not it.
        {"GET", "/", forbidden}, {"GET", "/?", forbidden}, {"GET", "/nowhere", forbidden},
        {"GET", "/?t=wrong", forbidden}, {"HEAD", "/nowhere?t=wrong", forbidden},
        {"GET", "/?t=", forbidden}, {"GET", "/?t", forbidden}, {"GET", "/?T=$", forbidden},
        {"GET", "/?t=" + prefix, forbidden}, {"GET", "/?t=$0", forbidden},
        // Only the first `t` counts.
        {"GET", "/?t=wrong&t=$", forbidden}, {"GET", "/?t=$&t=wrong", page},
        {"GET", "/?a=1&t=$&b", page}, {"GET", "/?t&t=$", forbidden},
        // Escapes decoded in token and path, "+" kept, no fragment, the absolute form.
        {"GET", "/?t=a%2Fb", page, "a/b"}, {"GET", "/?%74=ab", page, "ab"},
        {"POST", "/e/%64own?t=ab", down, "ab"}, {"GET", "/?t=a+b", forbidden, "a b"},
        {"GET", "/?t=a+b", page, "a+b"}, {"GET", "/?t=ab#x", page, "ab"},
        {"GET", "http://10.0.0.2:8930/events?t=ab", events, "ab"},
        // Unparsable targets, an empty token, decoded bytes that are not UTF-8.
        {"GET", "/%zz?t=$", forbidden}, {"GET", "/%4?t=$", forbidden},
        {"GET", "/\"x\"?t=$", forbidden}, {"GET", "/<script>?t=$", forbidden},
        {"GET", "/\xe4\xbd\xa0?t=$", forbidden}, {"GET", "/a#b#c?t=$", forbidden},
        {"GET", "?t=" + prefix + "%", forbidden}, {"GET", "/?t=", forbidden, ""},
        {"GET", "/", forbidden, ""}, {"GET", "/?t=%FF", forbidden, "\xff"}};
    // clang-format on
    for (auto c : cases) {
        if (const auto at = c.target.find('$'); at != std::string::npos) {
            c.target.replace(at, 1, kToken);
        }
        EXPECT_EQ(phoneTriggerRoute(c.method, c.target, c.token), c.route) << c.target;
    }
    for (const auto& [given, equal] : std::vector<std::pair<std::string, bool>>{{"abc", true},
                                                                                {"abd", false},
                                                                                {"xbc", false},
                                                                                {"ab", false},
                                                                                {"abcd", false},
                                                                                {"abc\0"s, false},
                                                                                {"", false}}) {
        EXPECT_EQ(tokensEqual(given, "abc"), equal) << given;
    }
    EXPECT_TRUE(tokensEqual("", ""));
    EXPECT_FALSE(tokensEqual("a\0"s, "a"));
}

TEST(RequestHeadTest, MethodAndTargetOfUTF8HeadsOnly) {
    using Line = std::optional<std::pair<std::string, std::string>>;
    // clang-format off
    const std::vector<std::pair<std::string, Line>> cases = {
        {"GET /?t=1 HTTP/1.1\r\nHost: x\r\nX: y", {{"GET", "/?t=1"}}},
        {"  POST    /e/up  ", {{"POST", "/e/up"}}},  // runs of spaces; no protocol version
        {"GET / HTTP/1.1\r\nX: \xe4\xbd\xa0\xf0\x9f\x93\xb1", {{"GET", "/"}}},
        {"", {}}, {"GET", {}}, {"GET   ", {}}, {"\r\nGET / HTTP/1.1", {}}, {"GET /\xff HTTP/1.1", {}},
        {"GET / HTTP/1.1\r\nX: \xc0\xaf", {}},      // overlong encoding
        {"GET / HTTP/1.1\r\nX: \xed\xa0\x80", {}},  // surrogate
        {"GET / HTTP/1.1\r\nX: \xe4\xbd", {}}};     // cut short
    // clang-format on
    for (const auto& [head, expected] : cases) {
        const auto line = parseRequestHead(head);
        EXPECT_EQ(line ? Line({{line->method, line->rawPath}}) : Line(), expected) << head;
    }
}

TEST(RequestHeadTest, TerminatorSearchResumesWhereItStoppedAndEndsPastSixtyFourKiB) {
    EXPECT_EQ(findHeadEnd("GET / HTTP/1.1\r\n\r\nbody", 0), 14U);
    EXPECT_FALSE(findHeadEnd("GET / HTTP/1.1\r\n", 0));
    // A terminator split across two reads is found when resuming three bytes back.
    EXPECT_EQ(findHeadEnd("GET /\r\n\r\n", 9 - 2 - 3), 5U);
    EXPECT_FALSE(findHeadEnd("GET /\r\n\r\n", 100));

    using Progress = RequestHeadReader::Progress;
    RequestHeadReader reader;
    const std::string_view request = "POST /e/up?t=1 HTTP/1.1\r\nHost: x\r\n\r\nbody";
    std::size_t fed = 0;
    while (reader.append(request.substr(fed, 1)) != Progress::complete) {
        EXPECT_EQ(reader.head(), "");
        ++fed;
    }
    EXPECT_EQ(fed, request.find("\r\n\r\n") + 3);
    EXPECT_EQ(reader.append("\r\n\r\n"), Progress::complete);  // the rest is ignored
    EXPECT_EQ(reader.head(), "POST /e/up?t=1 HTTP/1.1\r\nHost: x");

    constexpr std::size_t kMax = RequestHeadReader::kMaxHeadBytes;
    RequestHeadReader full;
    EXPECT_EQ(full.append(std::string(kMax, 'a')), Progress::incomplete);
    EXPECT_EQ(full.append("a"), Progress::tooLarge);
    EXPECT_EQ(full.append("\r\n\r\n"), Progress::tooLarge);
    EXPECT_EQ(full.head(), "");
    // The piece that crosses the limit still counts when it holds the terminator.
    RequestHeadReader late;
    EXPECT_EQ(late.append(std::string(kMax - 1, 'a')), Progress::incomplete);
    EXPECT_EQ(late.append("b\r\n\r\n"), Progress::complete);
    EXPECT_EQ(late.head().size(), kMax);
}

TEST(PhoneResponseTest, HeadLinesInOrderThenBody) {
    EXPECT_EQ(httpResponse("403 Forbidden", "text/plain; charset=utf-8", "forbidden"),
              "HTTP/1.1 403 Forbidden\r\nContent-Type: text/plain; charset=utf-8\r\n"
              "Content-Length: 9\r\nCache-Control: no-store\r\n"
              "Content-Security-Policy: default-src 'self'; script-src 'unsafe-inline'; "
              "style-src 'unsafe-inline'; connect-src 'self'; frame-ancestors 'none'; base-uri "
              "'none'\r\nReferrer-Policy: no-referrer\r\nX-Content-Type-Options: nosniff\r\n"
              "Connection: close\r\n\r\nforbidden");
    // The length counts bytes, not characters.
    EXPECT_NE(httpResponse("200 OK", "text/plain", "你好").find("Content-Length: 6\r\n"),
              std::string::npos);
    EXPECT_EQ(kEventStreamHead,
              "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: "
              "no-store\r\nConnection: keep-alive\r\n\r\n");
    EXPECT_EQ(eventStreamMessage("recording"), "data: recording\n\n");
    EXPECT_EQ(eventStreamMessage(""), "data: \n\n");
}

TEST(PhoneTokenTest, SixteenRandomBytesAsHexOrTwoUUIDsWhenTheSourceFails) {
    const auto isHex = [](const std::string& token) {
        return token.find_first_not_of("0123456789abcdef") == std::string::npos;
    };
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        const std::string token = generatePhoneToken();
        EXPECT_TRUE(token.size() == 32 && isHex(token)) << token;
        seen.insert(token);
    }
    EXPECT_EQ(seen.size(), 50U);
    EXPECT_EQ(generatePhoneToken([](std::span<std::uint8_t> out) {
                  for (std::size_t i = 0; i < out.size(); ++i) {
                      out[i] = static_cast<std::uint8_t>(i * 17);
                  }
                  return true;
              }),
              "00112233445566778899aabbccddeeff");
    const auto failing = [](std::span<std::uint8_t>) { return false; };
    const std::string token = generatePhoneToken(failing);
    ASSERT_TRUE(token.size() == 64 && isHex(token)) << token;
    for (const std::size_t half : {0U, 32U}) {  // version 4, RFC 4122 variant
        EXPECT_EQ(token[half + 12], '4');
        EXPECT_NE(std::string("89ab").find(token[half + 16]), std::string::npos);
    }
    EXPECT_NE(token, generatePhoneToken(failing));
    for (const std::size_t length : {0, 8, 31, 32, 64}) {
        EXPECT_EQ(isPhoneTokenOutdated(std::string(length, 'a')), length < 32) << length;
    }
}

TEST(LocalAddressTest, WirelessBeforeWiredBeforeOthersAndNoLoopback) {
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
    for (const auto& entry : listLocalIPv4()) {
        EXPECT_TRUE(!entry.address.empty() && !entry.address.starts_with("127."))
            << entry.interfaceName;
    }
}

}  // namespace
}  // namespace vurin
