#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vurin {

// What a request to the phone server asks for. The token is checked before the path, so a
// wrong or missing token gives `forbidden` whatever the path.
enum class PhoneTriggerRoute { page, events, down, up, forbidden, notFound };

// Routes one request line. `rawPath` is the request target as received; `method` is compared
// case-sensitively. An empty `expectedToken` (server stopped) forbids everything.
PhoneTriggerRoute phoneTriggerRoute(std::string_view method, std::string_view rawPath,
                                    std::string_view expectedToken);

// Equality whose running time does not depend on where the first difference is, so the
// pairing token cannot be guessed byte by byte from response times.
bool tokensEqual(std::string_view given, std::string_view expected);

// The method and request target of a request head (the bytes before CR LF CR LF). Nothing when
// the head is not UTF-8 or its first line has fewer than two space-separated pieces.
struct RequestLine {
    std::string method;
    std::string rawPath;
};
std::optional<RequestLine> parseRequestHead(std::string_view head);

// The offset of CR LF CR LF in `buffer`, searching from `from` (the caller passes where the
// previous search stopped, minus three, so a slow client cannot make reading quadratic).
std::optional<std::size_t> findHeadEnd(std::string_view buffer, std::size_t from);

// Collects a request head from the pieces a connection receives, in order. The search for the
// terminator resumes where the previous one stopped, so a client sending one byte at a time
// cannot make reading quadratic.
class RequestHeadReader {
  public:
    // More is read only while the buffer holds at most this much; bytes after the terminator,
    // a body included, are kept but never looked at.
    static constexpr std::size_t kMaxHeadBytes = 65536;

    enum class Progress { incomplete, complete, tooLarge };

    // Appends one received piece. Once complete or too large, further pieces are ignored.
    Progress append(std::string_view bytes);
    Progress progress() const { return progress_; }
    // The bytes before CR LF CR LF; empty until complete.
    std::string_view head() const;

  private:
    std::string received_;
    std::size_t headEnd_ = 0;
    Progress progress_ = Progress::incomplete;
};

// A complete response: status line, the fixed header lines, an empty line and the body.
std::string httpResponse(std::string_view status, std::string_view contentType,
                         std::string_view body);

// The head that opens an event stream (no length, no security headers).
inline constexpr std::string_view kEventStreamHead =
    "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-store\r\n"
    "Connection: keep-alive\r\n\r\n";

// One event of the stream: "data: " + state + two line feeds.
std::string eventStreamMessage(std::string_view state);

}  // namespace vurin
