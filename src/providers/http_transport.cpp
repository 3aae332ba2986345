#include "providers/http_transport.h"

#include "pipeline/pipeline_cancellation.h"
#include "providers/curl_transfer.h"

namespace vurin {
namespace {

HttpResult resultOf(CurlTransfer::Result&& result) {
    using Outcome = CurlTransfer::Outcome;
    switch (result.outcome) {
        case Outcome::replied:
            return {std::move(result.body), static_cast<int>(result.httpStatus)};
        case Outcome::cutShort:
            return {std::nullopt, static_cast<int>(result.httpStatus)};
        case Outcome::waitExpired:
            return {std::nullopt, kHttpTimedOut};
        case Outcome::cancelled:
            return {std::nullopt, kHttpCancelled};
        case Outcome::idleExpired:
        case Outcome::failed:
            break;
    }
    return {std::nullopt, kHttpNoAnswer};
}

}  // namespace

HttpResult httpPost(const HttpRequest& request, double timeout,
                    const std::shared_ptr<PipelineCancellation>& cancellation) {
    if (cancellation && cancellation->isCancelled()) {
        return {std::nullopt, kHttpCancelled};
    }
    const auto deadline = CurlTransfer::Clock::now() + boundedSeconds(timeout);
    auto transfer = std::make_shared<CurlTransfer>(request);
    if (cancellation) {
        // A cancel that slipped in since the check above cancels the transfer right here.
        cancellation->registerTask(transfer);
    }
    HttpResult result = resultOf(transfer->run(deadline));
    if (cancellation) {
        cancellation->clear(transfer);
        // Whatever arrived, a job cancelled meanwhile gets nothing; an expired wait still
        // reports the time-out.
        if (result.status != kHttpTimedOut && cancellation->isCancelled()) {
            return {std::nullopt, kHttpCancelled};
        }
    }
    return result;
}

}  // namespace vurin
