#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vurin {

class PipelineCancellation;

// A request complete with everything it sends. Bodies and replies are raw bytes held in
// std::string.
struct HttpRequest {
    std::string url;
    std::string method = "POST";
    // Sent in this order, as given. A name or value holding CR, LF or NUL makes the request
    // fail without being sent (status 0): such a header would split the request.
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // The request's own limit: the longest the exchange may stay idle (no byte sent or
    // received, connection set-up included) before it is abandoned with status 0. Not finite
    // or not positive: no idle limit.
    double timeoutInterval = 60.0;
};

// What `httpPost` hands back: the reply body and the HTTP status, or one of the negative
// statuses below, which never come from the network.
struct HttpResult {
    std::optional<std::string> body;
    int status = 0;

    bool operator==(const HttpResult&) const = default;
};

inline constexpr int kHttpNoAnswer = 0;
inline constexpr int kHttpTimedOut = -1;
inline constexpr int kHttpCancelled = -2;

// Replies are bounded: a body that grows past this many bytes is not kept at all. The
// transfer stops there and the result carries the HTTP status with no body, so a runaway or
// hostile server costs at most this much memory and a half-read body is never mistaken for a
// whole one.
inline constexpr std::size_t kMaxResponseBodyBytes = 16u * 1024u * 1024u;

// Sends `request` and blocks the calling thread (never the main thread) until the reply is
// complete, at most `timeout` seconds.
//   (body, status)    a reply arrived; the body may be empty
//   (absent, status)  a reply began but did not arrive whole: too large, dropped or idle
//                     past the request's own interval mid-reply, a redirect not followed
//   (absent, 0)       no HTTP reply began: refused, reset, idle past the request's own
//                     interval, malformed URL or header
//   (absent, -1)      `timeout` ran out first
//   (absent, -2)      `cancellation` was cancelled before or during the exchange; nothing
//                     is sent when it was cancelled before the call
// While the exchange runs it is registered with `cancellation`, whose cancel() aborts it
// within milliseconds from any thread. Never throws and never logs (URLs may carry keys).
HttpResult httpPost(const HttpRequest& request, double timeout = 30.0,
                    const std::shared_ptr<PipelineCancellation>& cancellation = nullptr);

}  // namespace vurin
