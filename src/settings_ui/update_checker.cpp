#include "settings_ui/update_checker.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <nlohmann/json.hpp>

#include "pipeline/pipeline_cancellation.h"
#include "providers/http_transport.h"
#include "settings_ui/deployment_settings.h"
#include "settings_ui/desktop_launch.h"
#include "support/runtime_metadata.h"
#include "support/text.h"

namespace vurin {

namespace {

bool isNumeric(UChar32 c) {
    const auto type = u_charType(c);
    return type == U_DECIMAL_DIGIT_NUMBER || type == U_LETTER_NUMBER || type == U_OTHER_NUMBER;
}

std::int64_t componentValue(std::string_view component) {
    std::int32_t offset = 0;
    std::int32_t runEnd = 0;
    const auto length = static_cast<std::int32_t>(component.size());
    while (offset < length) {
        UChar32 c = 0;
        U8_NEXT(component.data(), offset, length, c);
        if (c < 0 || !isNumeric(c)) {
            break;
        }
        runEnd = offset;
    }
    const auto run = component.substr(0, static_cast<std::size_t>(runEnd));
    std::int64_t value = 0;
    const auto* end = run.data() + run.size();
    const auto [stop, error] = std::from_chars(run.data(), end, value);
    // from_chars reads ASCII digits only: a run with other numerals stops early and counts as 0.
    if (run.empty() || error != std::errc() || stop != end || run.front() == '-') {
        return 0;
    }
    return value;
}

std::vector<std::int64_t> components(std::string_view version) {
    std::vector<std::int64_t> values;
    while (!version.empty()) {
        const auto dot = version.find('.');
        const auto piece = version.substr(0, dot);
        if (!piece.empty()) {
            values.push_back(componentValue(piece));
        }
        if (dot == std::string_view::npos) {
            break;
        }
        version.remove_prefix(dot + 1);
    }
    return values;
}

UpdateCheckResult fetch(const std::string& feed, const std::string& current, double timeout,
                        const std::shared_ptr<PipelineCancellation>& cancellation) {
    if (!isWebURL(feed)) {
        return UpdateCheckError::network;
    }
    HttpRequest request{.url = feed, .method = "GET", .timeoutInterval = timeout};
    const auto reply = httpPost(request, timeout, cancellation);
    if (!reply.body || reply.status < 200 || reply.status > 299) {
        return UpdateCheckError::network;
    }
    return parseUpdateManifest(*reply.body, current, UpdateChecker::fallbackDownloadURL());
}

}  // namespace

std::strong_ordering compareVersions(std::string_view a, std::string_view b) {
    const auto left = components(a);
    const auto right = components(b);
    for (std::size_t i = 0; i < std::max(left.size(), right.size()); ++i) {
        const auto x = i < left.size() ? left[i] : 0;
        const auto y = i < right.size() ? right[i] : 0;
        if (x != y) {
            return x <=> y;
        }
    }
    return std::strong_ordering::equal;
}

UpdateCheckResult parseUpdateManifest(std::string_view body, std::string_view current,
                                      std::string_view fallbackDownloadURL) {
    const auto manifest = nlohmann::json::parse(body, nullptr, false);
    if (!manifest.is_object() || manifest.empty()) {
        return UpdateCheckError::parse;
    }
    const auto version = manifest.find("version");
    if (version == manifest.end() || !version->is_string()) {
        return UpdateCheckError::parse;
    }
    const auto latest = trimWhitespaceAndNewlines(version->get_ref<const std::string&>());
    if (latest.empty()) {
        return UpdateCheckError::parse;
    }
    UpdateInfo info{.latest = std::string(latest), .current = std::string(current)};
    const auto url = manifest.find("url");
    info.url =
        url != manifest.end() && url->is_string() && !url->get_ref<const std::string&>().empty()
            ? url->get<std::string>()
            : std::string(fallbackDownloadURL);
    info.isNewer = compareVersions(info.current, info.latest) == std::strong_ordering::less;
    return info;
}

std::string UpdateChecker::feedURL() {
    return "https://" + std::string(kProductSiteHost) + "/version.json";
}

std::string UpdateChecker::fallbackDownloadURL() {
    return "https://" + std::string(kProductSiteHost) + "/";
}

UpdateChecker::UpdateChecker(std::shared_ptr<MainQueue> mainQueue, std::string feed,
                             std::string currentVersion)
    : mainQueue_(std::move(mainQueue)),
      feed_(std::move(feed)),
      current_(currentVersion.empty() ? runtimeMetadata().appVersion : std::move(currentVersion)) {}

UpdateChecker::~UpdateChecker() {
    std::vector<Running> running;
    {
        std::lock_guard guard(lock_);
        running.swap(running_);
    }
    for (auto& check : running) {
        check.cancellation->cancel();
    }
    for (auto& check : running) {
        check.thread.join();
    }
}

void UpdateChecker::joinFinished() {
    std::vector<Running> finished;
    {
        std::lock_guard guard(lock_);
        for (auto it = running_.begin(); it != running_.end();) {
            if (it->done->load()) {
                finished.push_back(std::move(*it));
                it = running_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& check : finished) {
        check.thread.join();
    }
}

void UpdateChecker::check(Completion completion, double timeout) {
    joinFinished();
    Running check{.cancellation = std::make_shared<PipelineCancellation>(),
                  .done = std::make_shared<std::atomic<bool>>(false)};
    check.thread = std::thread([queue = mainQueue_, feed = feed_, current = current_, timeout,
                                cancellation = check.cancellation, done = check.done,
                                completion = std::move(completion)] {
        auto result = fetch(feed, current, timeout, cancellation);
        queue->post([completion, result = std::move(result)] { completion(result); });
        done->store(true);
    });
    std::lock_guard guard(lock_);
    running_.push_back(std::move(check));
}

}  // namespace vurin
