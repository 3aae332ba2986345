#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include <curl/curl.h>

#include "pipeline/cancellable_task.h"
#include "providers/http_transport.h"

namespace vurin {

// One HTTP exchange, driven by libcurl's multi interface on the thread that calls run(), and
// abortable from any other thread through cancel(), which wakes the waiting poll at once
// instead of waiting for a progress tick.
//
// The multi handle lives as long as this object, so cancel() stays safe however late it comes:
// whoever calls it holds a strong reference. Everything else belongs to the running thread.
class CurlTransfer final : public CancellableTask {
  public:
    using Clock = std::chrono::steady_clock;

    enum class Outcome {
        replied,      // an HTTP reply arrived whole
        cutShort,     // an HTTP reply began but its body did not arrive whole: it passed
                      // kMaxResponseBodyBytes, the peer dropped it, or it went idle
        failed,       // no HTTP reply began
        idleExpired,  // the request's own idle interval ran out before any reply
        waitExpired,  // the caller's deadline passed
        cancelled,
    };

    struct Result {
        Outcome outcome = Outcome::failed;
        long httpStatus = 0;
        std::string body;
    };

    // The request must outlive run(): its body is sent without being copied.
    explicit CurlTransfer(const HttpRequest& request);
    ~CurlTransfer() override;
    CurlTransfer(const CurlTransfer&) = delete;
    CurlTransfer& operator=(const CurlTransfer&) = delete;

    // Runs the exchange to its end; call once.
    Result run(Clock::time_point deadline);

    void cancel() override;

  private:
    static size_t onBody(char* data, size_t size, size_t count, void* self);
    static size_t onHeader(char* data, size_t size, size_t count, void* self);
    static int onProgress(void* self, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t ulTotal,
                          curl_off_t ulNow);

    bool configure(const HttpRequest& request);
    bool configureHeaders(const HttpRequest& request);
    void configureMethod(const HttpRequest& request);
    std::optional<Result> finishedResult();
    long responseStatus() const;
    std::optional<Outcome> expired(Clock::time_point now, Clock::time_point deadline) const;
    bool waitForActivity(Clock::time_point now, Clock::time_point deadline);
    void releaseEasy();

    std::atomic<bool> cancelled_{false};
    CURLM* multi_ = nullptr;
    CURL* easy_ = nullptr;
    curl_slist* headers_ = nullptr;
    bool configured_ = false;
    bool added_ = false;

    std::optional<Clock::duration> idleLimit_;
    Clock::time_point lastActivity_;
    curl_off_t seenDownloaded_ = 0;
    curl_off_t seenUploaded_ = 0;
    std::string body_;
};

// Seconds as a duration, bounded so that adding it to a clock reading cannot overflow. NaN and
// values at or below zero give zero.
CurlTransfer::Clock::duration boundedSeconds(double seconds);

}  // namespace vurin
