#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace vurin::testing {

// Debian's Chromium, headless, driven over the DevTools protocol on a pipe
// (--remote-debugging-pipe): commands, answers and events are JSON texts ended by a NUL byte on
// descriptors 3 (to the browser) and 4 (from it). No driver program, no WebSocket, no port.
class HeadlessChromium {
  public:
    using Json = nlohmann::json;

    // Starts the browser with a fresh profile under `folder`, where its own output goes too
    // (chromium.log). Null, with the reason in `whyNot`, when it does not start.
    static std::unique_ptr<HeadlessChromium> launch(const std::filesystem::path& folder,
                                                    const std::vector<std::string>& extraArguments,
                                                    std::string& whyNot);
    // Asks the browser to close, then ends its process group if it lingers.
    ~HeadlessChromium();

    HeadlessChromium(const HeadlessChromium&) = delete;
    HeadlessChromium& operator=(const HeadlessChromium&) = delete;

    // Sends a command (to a page when `session` is set) and waits for its answer; events that
    // arrive meanwhile are recorded and passed to `onEvent`. The answer's result, or nothing
    // with the reason in lastError() (error answer, time-out, browser gone).
    std::optional<Json> call(const std::string& method, Json params = Json::object(),
                             const std::string& session = {},
                             std::chrono::milliseconds timeout = std::chrono::seconds(15));
    // Sends a command without waiting for its answer (from within `onEvent`, say).
    void send(const std::string& method, Json params = Json::object(),
              const std::string& session = {});
    // Reads whatever arrives within `wait`.
    void pump(std::chrono::milliseconds wait);

    // Opens a new blank page and attaches to it; the session id for `call`.
    std::optional<std::string> openPage();
    void closePage(const std::string& session);

    // Every event received so far, in order ("method", "params" and, for pages, "sessionId").
    const std::vector<Json>& events() const { return events_; }
    const std::string& lastError() const { return lastError_; }

    // Called for each event as it arrives.
    std::function<void(const Json&)> onEvent;

  private:
    HeadlessChromium(pid_t pid, int socket);
    int sendCommand(const std::string& method, Json params, const std::string& session);
    bool readSome(std::chrono::milliseconds wait);

    pid_t pid_;
    int socket_;
    int nextID_ = 1;
    std::string incoming_;
    std::vector<Json> events_;
    std::vector<Json> answers_;
    std::vector<std::pair<std::string, std::string>> pages_;  // target id, session id
    std::string lastError_;
};

// Standard Base64 back to bytes (the screenshots come that way); empty on malformed input.
std::string base64Decode(const std::string& text);

}  // namespace vurin::testing
