#include "providers/curl_transfer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <mutex>
#include <string_view>

namespace vurin {
namespace {

// Idle checks and the caller's deadline are looked at at least this often even when libcurl
// has nothing to say; cancel() does not depend on it (it wakes the poll directly).
constexpr auto kLongestPoll = std::chrono::milliseconds(250);
constexpr long kMaxRedirects = 5;

// libcurl must be initialised once per process before any handle exists, and
// curl_global_init is not safe to race. DNS answers and TLS sessions are shared between all
// transfers (each runs on its own multi handle), so a second cloud request resumes the TLS
// session instead of paying a full handshake.
class CurlShared {
  public:
    static CurlShared& instance() {
        static CurlShared shared;
        return shared;
    }
    CURLSH* share() const { return share_; }

  private:
    CurlShared() {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        share_ = curl_share_init();
        if (share_ != nullptr) {
            curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &CurlShared::lock);
            curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &CurlShared::unlock);
            curl_share_setopt(share_, CURLSHOPT_USERDATA, this);
            curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
            curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
        }
    }
    // Lives until exit: transfers may still be running on other threads when statics die.
    ~CurlShared() = default;

    static void lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
        static_cast<CurlShared*>(self)->mutexFor(data).lock();
    }
    static void unlock(CURL*, curl_lock_data data, void* self) {
        static_cast<CurlShared*>(self)->mutexFor(data).unlock();
    }
    std::mutex& mutexFor(curl_lock_data data) {
        const auto index = static_cast<std::size_t>(data);
        return mutexes_[index < mutexes_.size() ? index : 0];
    }

    CURLSH* share_ = nullptr;
    std::array<std::mutex, CURL_LOCK_DATA_LAST> mutexes_;
};

// Loopback requests (the local whisper and ollama services) never go through a proxy that the
// environment may name for the outside world.
bool isLoopbackURL(const std::string& url) {
    CURLU* parsed = curl_url();
    bool loopback = false;
    char* host = nullptr;
    if (parsed != nullptr && curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK &&
        curl_url_get(parsed, CURLUPART_HOST, &host, 0) == CURLUE_OK) {
        const std::string_view name(host);
        loopback = name == "localhost" || name == "[::1]" || name.starts_with("127.");
        curl_free(host);
    }
    curl_url_cleanup(parsed);
    return loopback;
}

bool isSafeHeaderText(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

}  // namespace

CurlTransfer::Clock::duration boundedSeconds(double seconds) {
    constexpr double kMaxSeconds = 365.0 * 24 * 3600;
    if (!(seconds > 0)) {
        return CurlTransfer::Clock::duration::zero();
    }
    const double bounded = std::min(seconds, kMaxSeconds);
    return std::chrono::duration_cast<CurlTransfer::Clock::duration>(
        std::chrono::duration<double>(bounded));
}

CurlTransfer::CurlTransfer(const HttpRequest& request) {
    CURLSH* share = CurlShared::instance().share();
    multi_ = curl_multi_init();
    easy_ = curl_easy_init();
    if (multi_ != nullptr && easy_ != nullptr) {
        curl_easy_setopt(easy_, CURLOPT_SHARE, share);
        configured_ = configure(request);
    }
    if (std::isfinite(request.timeoutInterval) && request.timeoutInterval > 0) {
        idleLimit_ = boundedSeconds(request.timeoutInterval);
    }
}

CurlTransfer::~CurlTransfer() {
    releaseEasy();
    if (multi_ != nullptr) {
        curl_multi_cleanup(multi_);
    }
}

void CurlTransfer::cancel() {
    cancelled_.store(true);
    if (multi_ != nullptr) {
        curl_multi_wakeup(multi_);
    }
}

bool CurlTransfer::configure(const HttpRequest& request) {
    if (curl_easy_setopt(easy_, CURLOPT_URL, request.url.c_str()) != CURLE_OK) {
        return false;
    }
    if (!configureHeaders(request)) {
        return false;
    }
    configureMethod(request);
    if (isLoopbackURL(request.url)) {
        curl_easy_setopt(easy_, CURLOPT_NOPROXY, "*");
    }
    curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, kMaxRedirects);
    // Signals are process-wide; transfers run on many threads.
    curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy_, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &CurlTransfer::onBody);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &CurlTransfer::onHeader);
    curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy_, CURLOPT_XFERINFOFUNCTION, &CurlTransfer::onProgress);
    curl_easy_setopt(easy_, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(easy_, CURLOPT_NOPROGRESS, 0L);
    return true;
}

bool CurlTransfer::configureHeaders(const HttpRequest& request) {
    for (const auto& [name, value] : request.headers) {
        if (name.empty() || !isSafeHeaderText(name) || !isSafeHeaderText(value)) {
            return false;
        }
        // "Name:" would tell libcurl to drop the header; "Name;" sends it empty.
        const std::string line = value.empty() ? name + ";" : name + ": " + value;
        curl_slist* appended = curl_slist_append(headers_, line.c_str());
        if (appended == nullptr) {
            return false;
        }
        headers_ = appended;
    }
    // Without this libcurl holds large bodies back for a "100 Continue" that the local
    // services never send, costing a second per upload.
    if (curl_slist* appended = curl_slist_append(headers_, "Expect:")) {
        headers_ = appended;
    }
    curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headers_);
    return true;
}

void CurlTransfer::configureMethod(const HttpRequest& request) {
    if (request.method == "GET" && request.body.empty()) {
        curl_easy_setopt(easy_, CURLOPT_HTTPGET, 1L);
        return;
    }
    curl_easy_setopt(easy_, CURLOPT_POST, 1L);
    curl_easy_setopt(easy_, CURLOPT_POSTFIELDS, request.body.data());
    curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(request.body.size()));
    if (request.method != "POST") {
        curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }
}

CurlTransfer::Result CurlTransfer::run(Clock::time_point deadline) {
    lastActivity_ = Clock::now();
    if (!configured_ || curl_multi_add_handle(multi_, easy_) != CURLM_OK) {
        releaseEasy();
        return {};
    }
    added_ = true;
    for (;;) {
        if (cancelled_.load()) {
            releaseEasy();
            return {Outcome::cancelled, 0, {}};
        }
        int running = 0;
        if (curl_multi_perform(multi_, &running) != CURLM_OK) {
            releaseEasy();
            return {};
        }
        if (auto finished = finishedResult()) {
            releaseEasy();
            return std::move(*finished);
        }
        const auto now = Clock::now();
        if (auto outcome = expired(now, deadline)) {
            const long status = *outcome == Outcome::idleExpired ? responseStatus() : 0;
            releaseEasy();
            return {status > 0 ? Outcome::cutShort : *outcome, status, {}};
        }
        if (!waitForActivity(now, deadline)) {
            releaseEasy();
            return {};
        }
    }
}

std::optional<CurlTransfer::Result> CurlTransfer::finishedResult() {
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
        if (message->msg != CURLMSG_DONE || message->easy_handle != easy_) {
            continue;
        }
        const long status = responseStatus();
        if (status <= 0) {
            return Result{};
        }
        // A reply that began keeps its status however it ended; only its body is lost.
        if (message->data.result != CURLE_OK) {
            return Result{Outcome::cutShort, status, {}};
        }
        return Result{Outcome::replied, status, std::move(body_)};
    }
    return std::nullopt;
}

long CurlTransfer::responseStatus() const {
    long status = 0;
    curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
    return status;
}

// Whichever limit ran out first decides; the caller's deadline wins a tie.
std::optional<CurlTransfer::Outcome> CurlTransfer::expired(Clock::time_point now,
                                                           Clock::time_point deadline) const {
    const bool idleOver = idleLimit_ && now >= lastActivity_ + *idleLimit_;
    const bool waitOver = now >= deadline;
    if (idleOver && (!waitOver || lastActivity_ + *idleLimit_ < deadline)) {
        return Outcome::idleExpired;
    }
    if (waitOver) {
        return Outcome::waitExpired;
    }
    return std::nullopt;
}

bool CurlTransfer::waitForActivity(Clock::time_point now, Clock::time_point deadline) {
    auto until = std::min(deadline, now + kLongestPoll);
    if (idleLimit_) {
        until = std::min(until, lastActivity_ + *idleLimit_);
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(until - now);
    const int waitMs = static_cast<int>(std::clamp<std::int64_t>(wait.count(), 0, 1000));
    return curl_multi_poll(multi_, nullptr, 0, waitMs, nullptr) == CURLM_OK;
}

void CurlTransfer::releaseEasy() {
    if (easy_ == nullptr) {
        return;
    }
    if (added_) {
        curl_multi_remove_handle(multi_, easy_);
        added_ = false;
    }
    curl_easy_cleanup(easy_);
    easy_ = nullptr;
    curl_slist_free_all(headers_);
    headers_ = nullptr;
}

size_t CurlTransfer::onBody(char* data, size_t size, size_t count, void* self) {
    auto* transfer = static_cast<CurlTransfer*>(self);
    const size_t bytes = size * count;
    transfer->lastActivity_ = Clock::now();
    if (bytes > kMaxResponseBodyBytes - transfer->body_.size()) {
        return 0;  // libcurl ends the transfer with CURLE_WRITE_ERROR
    }
    transfer->body_.append(data, bytes);
    return bytes;
}

size_t CurlTransfer::onHeader(char*, size_t size, size_t count, void* self) {
    static_cast<CurlTransfer*>(self)->lastActivity_ = Clock::now();
    return size * count;
}

int CurlTransfer::onProgress(void* self, curl_off_t, curl_off_t dlNow, curl_off_t,
                             curl_off_t ulNow) {
    auto* transfer = static_cast<CurlTransfer*>(self);
    if (dlNow != transfer->seenDownloaded_ || ulNow != transfer->seenUploaded_) {
        transfer->seenDownloaded_ = dlNow;
        transfer->seenUploaded_ = ulNow;
        transfer->lastActivity_ = Clock::now();
    }
    return 0;
}

}  // namespace vurin
