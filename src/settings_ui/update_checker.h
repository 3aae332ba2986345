#pragma once

#include <atomic>
#include <compare>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <variant>
#include <vector>

#include "platform/main_queue.h"

namespace vurin {

class PipelineCancellation;

// Orders two dotted version strings numerically: "1.9" < "1.10", "1.2" == "1.2.0". Each
// component counts by its leading run of numeric characters (Unicode); a run that is empty,
// not plain ASCII digits, or too large for 64 bits counts as 0, and whatever follows the run
// is ignored ("2-beta" is 2). Empty components are dropped.
std::strong_ordering compareVersions(std::string_view a, std::string_view b);

struct UpdateInfo {
    std::string latest;   // the published version, trimmed
    std::string current;  // the running version
    std::string url;      // where to download it (not validated)
    bool isNewer = false;

    bool operator==(const UpdateInfo&) const = default;
};

enum class UpdateCheckError { network, parse };

using UpdateCheckResult = std::variant<UpdateInfo, UpdateCheckError>;

// What a manifest body says, for the running version `current`: the info, or `parse` when the
// body is not a JSON object with a non-blank string "version".
UpdateCheckResult parseUpdateManifest(std::string_view body, std::string_view current,
                                      std::string_view fallbackDownloadURL);

// Fetches the version manifest of the product web site and compares it with the running
// version. Each check runs on its own thread, owned by this object; destroying the checker
// aborts the checks still running and waits for their threads.
class UpdateChecker {
  public:
    // "https://<site>/version.json" and "https://<site>/".
    static std::string feedURL();
    static std::string fallbackDownloadURL();
    // The check's default time limit, in seconds.
    static constexpr double kDefaultTimeout = 8.0;

    using Completion = std::function<void(const UpdateCheckResult&)>;

    // `feed` is the manifest's address (tests use a stand-in server); `currentVersion` the
    // running version.
    UpdateChecker(std::shared_ptr<MainQueue> mainQueue, std::string feed = feedURL(),
                  std::string currentVersion = "");
    virtual ~UpdateChecker();
    UpdateChecker(const UpdateChecker&) = delete;
    UpdateChecker& operator=(const UpdateChecker&) = delete;

    // Starts a check; `completion` is called exactly once, on the main queue. Two checks may
    // run at once.
    virtual void check(Completion completion, double timeout = kDefaultTimeout);

  private:
    struct Running {
        std::thread thread;
        std::shared_ptr<PipelineCancellation> cancellation;
        std::shared_ptr<std::atomic<bool>> done;
    };

    void joinFinished();

    std::shared_ptr<MainQueue> mainQueue_;
    std::string feed_;
    std::string current_;
    std::mutex lock_;
    std::vector<Running> running_;
};

}  // namespace vurin
