#include "phone/phone_http.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vurin {
namespace {

using Route = PhoneTriggerRoute;
constexpr std::string_view kToken = "0123456789abcdef0123456789abcdef";

Route route(std::string_view method, const std::string& path) {
    return phoneTriggerRoute(method, path, kToken);
}

TEST(PhoneTriggerRouteTest, RightTokenRoutesByMethodAndPath) {
    const std::string t = "?t=" + std::string(kToken);
    EXPECT_EQ(route("GET", "/" + t), Route::page);
    EXPECT_EQ(route("GET", "/events" + t), Route::events);
    EXPECT_EQ(route("POST", "/e/down" + t), Route::down);
    EXPECT_EQ(route("POST", "/e/up" + t), Route::up);
    // A press needs POST; the page and stream need GET.
    EXPECT_EQ(route("GET", "/e/down" + t), Route::notFound);
    EXPECT_EQ(route("GET", "/e/up" + t), Route::notFound);
    EXPECT_EQ(route("POST", "/" + t), Route::notFound);
    EXPECT_EQ(route("POST", "/events" + t), Route::notFound);
    EXPECT_EQ(route("HEAD", "/" + t), Route::notFound);
    EXPECT_EQ(route("get", "/" + t), Route::notFound);
    EXPECT_EQ(route("post", "/e/down" + t), Route::notFound);
    EXPECT_EQ(route("GET", "/other" + t), Route::notFound);
    EXPECT_EQ(route("POST", "/e/UP" + t), Route::notFound);
}

TEST(PhoneTriggerRouteTest, TokenIsCheckedBeforeThePath) {
    EXPECT_EQ(route("GET", "/"), Route::forbidden);
    EXPECT_EQ(route("GET", "/?"), Route::forbidden);
    EXPECT_EQ(route("GET", "/nowhere"), Route::forbidden);
    EXPECT_EQ(route("GET", "/?t=wrong"), Route::forbidden);
    EXPECT_EQ(route("HEAD", "/nowhere?t=wrong"), Route::forbidden);
    EXPECT_EQ(route("GET", "/?t="), Route::forbidden);
    EXPECT_EQ(route("GET", "/?t"), Route::forbidden);
    EXPECT_EQ(route("GET", "/?T=" + std::string(kToken)), Route::forbidden);
    // A prefix or an extension of the token is not the token.
    EXPECT_EQ(route("GET", "/?t=" + std::string(kToken.substr(0, 31))), Route::forbidden);
    EXPECT_EQ(route("GET", "/?t=" + std::string(kToken) + "0"), Route::forbidden);
}

TEST(PhoneTriggerRouteTest, OnlyTheFirstTokenItemCounts) {
    const std::string good(kToken);
    EXPECT_EQ(route("GET", "/?t=wrong&t=" + good), Route::forbidden);
    EXPECT_EQ(route("GET", "/?t=" + good + "&t=wrong"), Route::page);
    EXPECT_EQ(route("GET", "/?a=1&t=" + good + "&b"), Route::page);
    EXPECT_EQ(route("GET", "/?t&t=" + good), Route::forbidden);
}

TEST(PhoneTriggerRouteTest, PercentEncodingIsDecodedInTokenAndPath) {
    EXPECT_EQ(phoneTriggerRoute("GET", "/?t=a%2Fb", "a/b"), Route::page);
    EXPECT_EQ(phoneTriggerRoute("GET", "/?%74=ab", "ab"), Route::page);
    EXPECT_EQ(phoneTriggerRoute("POST", "/e/%64own?t=ab", "ab"), Route::down);
    EXPECT_EQ(phoneTriggerRoute("GET", "/?t=a+b", "a b"), Route::forbidden);
    EXPECT_EQ(phoneTriggerRoute("GET", "/?t=a+b", "a+b"), Route::page);
    // A fragment is not part of the query.
    EXPECT_EQ(phoneTriggerRoute("GET", "/?t=ab#x", "ab"), Route::page);
    // Absolute-form targets carry the same path and query.
    EXPECT_EQ(phoneTriggerRoute("GET", "http://10.0.0.2:8930/events?t=ab", "ab"), Route::events);
}

TEST(PhoneTriggerRouteTest, UnparsableTargetsAndEmptyTokenAreForbidden) {
    const std::string good = "?t=" + std::string(kToken);
    EXPECT_EQ(route("GET", "/%zz" + good), Route::forbidden);
    EXPECT_EQ(route("GET", "/%4" + good), Route::forbidden);
    EXPECT_EQ(route("GET", "/\"x\"" + good), Route::forbidden);
    EXPECT_EQ(route("GET", "/<script>" + good), Route::forbidden);
    EXPECT_EQ(route("GET", "/\xe4\xbd\xa0" + good), Route::forbidden);
    EXPECT_EQ(route("GET", "/a#b#c" + good), Route::forbidden);
    EXPECT_EQ(route("GET", good.substr(0, good.size() - 1) + "%"), Route::forbidden);
    EXPECT_EQ(phoneTriggerRoute("GET", "/?t=", ""), Route::forbidden);
    EXPECT_EQ(phoneTriggerRoute("GET", "/", ""), Route::forbidden);
    // Decoded bytes that are not UTF-8 never match.
    EXPECT_EQ(phoneTriggerRoute("GET", "/?t=%FF", "\xff"), Route::forbidden);
}

TEST(PhoneTokenCompareTest, EqualOnlyForIdenticalBytes) {
    EXPECT_TRUE(tokensEqual("abc", "abc"));
    EXPECT_TRUE(tokensEqual("", ""));
    EXPECT_FALSE(tokensEqual("abc", "abd"));
    EXPECT_FALSE(tokensEqual("xbc", "abc"));
    EXPECT_FALSE(tokensEqual("ab", "abc"));
    EXPECT_FALSE(tokensEqual("abc", "ab"));
    EXPECT_FALSE(tokensEqual(std::string("a\0", 2), "a"));
    EXPECT_FALSE(tokensEqual("", "a"));
}

TEST(RequestHeadTest, MethodAndTargetFromTheFirstLine) {
    auto line = parseRequestHead("GET /?t=1 HTTP/1.1\r\nHost: x\r\nX: y");
    ASSERT_TRUE(line);
    EXPECT_EQ(line->method, "GET");
    EXPECT_EQ(line->rawPath, "/?t=1");
    // Runs of spaces are one separator; the protocol version may be missing.
    line = parseRequestHead("  POST    /e/up  ");
    ASSERT_TRUE(line);
    EXPECT_EQ(line->method, "POST");
    EXPECT_EQ(line->rawPath, "/e/up");
}

TEST(RequestHeadTest, HeadsWithoutMethodAndPathOrNotUTF8AreRejected) {
    EXPECT_FALSE(parseRequestHead(""));
    EXPECT_FALSE(parseRequestHead("GET"));
    EXPECT_FALSE(parseRequestHead("GET   "));
    EXPECT_FALSE(parseRequestHead("\r\nGET / HTTP/1.1"));
    EXPECT_FALSE(parseRequestHead("GET /\xff HTTP/1.1"));
    EXPECT_FALSE(parseRequestHead("GET / HTTP/1.1\r\nX: \xc0\xaf"));      // overlong encoding
    EXPECT_FALSE(parseRequestHead("GET / HTTP/1.1\r\nX: \xed\xa0\x80"));  // surrogate
    EXPECT_FALSE(parseRequestHead("GET / HTTP/1.1\r\nX: \xe4\xbd"));      // cut short
    EXPECT_TRUE(parseRequestHead("GET / HTTP/1.1\r\nX: \xe4\xbd\xa0\xf0\x9f\x93\xb1"));
}

TEST(RequestHeadTest, TerminatorSearchResumesWhereItStopped) {
    EXPECT_EQ(findHeadEnd("GET / HTTP/1.1\r\n\r\nbody", 0), 14U);
    EXPECT_FALSE(findHeadEnd("GET / HTTP/1.1\r\n", 0));
    // A terminator split across two reads is found when resuming three bytes back.
    const std::string buffer = "GET /\r\n\r\n";
    EXPECT_EQ(findHeadEnd(buffer, buffer.size() - 2 - 3), 5U);
    EXPECT_FALSE(findHeadEnd(buffer, 100));
}

TEST(RequestHeadReaderTest, TerminatorSplitAcrossPiecesIsFoundAndTheRestIgnored) {
    using Progress = RequestHeadReader::Progress;
    RequestHeadReader reader;
    const std::string_view request = "POST /e/up?t=1 HTTP/1.1\r\nHost: x\r\n\r\nbody";
    std::size_t fed = 0;
    for (; fed < request.size(); ++fed) {
        if (reader.append(request.substr(fed, 1)) == Progress::complete) {
            break;
        }
        EXPECT_EQ(reader.head(), "");
    }
    EXPECT_EQ(fed, request.find("\r\n\r\n") + 3);
    EXPECT_EQ(reader.head(), "POST /e/up?t=1 HTTP/1.1\r\nHost: x");
    EXPECT_EQ(reader.append("\r\n\r\n"), Progress::complete);
    EXPECT_EQ(reader.head(), "POST /e/up?t=1 HTTP/1.1\r\nHost: x");
}

TEST(RequestHeadReaderTest, ReadingStopsOnlyPastSixtyFourKiB) {
    using Progress = RequestHeadReader::Progress;
    RequestHeadReader full;
    EXPECT_EQ(full.append(std::string(RequestHeadReader::kMaxHeadBytes, 'a')),
              Progress::incomplete);
    EXPECT_EQ(full.append("a"), Progress::tooLarge);
    EXPECT_EQ(full.append("\r\n\r\n"), Progress::tooLarge);
    EXPECT_EQ(full.head(), "");

    // The piece that crosses the limit still counts when it holds the terminator.
    RequestHeadReader late;
    EXPECT_EQ(late.append(std::string(RequestHeadReader::kMaxHeadBytes - 1, 'a')),
              Progress::incomplete);
    EXPECT_EQ(late.append("b\r\n\r\n"), Progress::complete);
    EXPECT_EQ(late.head().size(), RequestHeadReader::kMaxHeadBytes);
}

TEST(PhoneResponseTest, HeadLinesInOrderThenBody) {
    const std::string response =
        httpResponse("403 Forbidden", "text/plain; charset=utf-8", "forbidden");
    EXPECT_EQ(response,
              "HTTP/1.1 403 Forbidden\r\n"
              "Content-Type: text/plain; charset=utf-8\r\n"
              "Content-Length: 9\r\n"
              "Cache-Control: no-store\r\n"
              "Content-Security-Policy: default-src 'self'; script-src 'unsafe-inline'; "
              "style-src 'unsafe-inline'; connect-src 'self'; frame-ancestors 'none'; base-uri "
              "'none'\r\n"
              "Referrer-Policy: no-referrer\r\n"
              "X-Content-Type-Options: nosniff\r\n"
              "Connection: close\r\n"
              "\r\n"
              "forbidden");
    // The length counts bytes, not characters.
    EXPECT_NE(httpResponse("200 OK", "text/plain", "你好").find("Content-Length: 6\r\n"),
              std::string::npos);
}

TEST(PhoneResponseTest, EventStreamBytes) {
    EXPECT_EQ(kEventStreamHead,
              "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: "
              "no-store\r\nConnection: keep-alive\r\n\r\n");
    EXPECT_EQ(eventStreamMessage("recording"), "data: recording\n\n");
    EXPECT_EQ(eventStreamMessage(""), "data: \n\n");
}

}  // namespace
}  // namespace vurin
