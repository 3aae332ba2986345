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
// (--remote-debugging-pipe): JSON texts ended by a NUL byte on descriptors 3 (to the browser)
// and 4 (from it). No driver program, no WebSocket, no port.
class HeadlessChromium {
  public:
    using Json = nlohmann::json;

    // A fresh profile under `folder`, where the browser's output goes too (chromium.log). Null,
    // with the reason in `whyNot`, when it does not start.
    static std::unique_ptr<HeadlessChromium> launch(const std::filesystem::path& folder,
                                                    std::string& whyNot);
    // Asks the browser to close, then ends its process group if it lingers.
    ~HeadlessChromium();

    // Sends a command (to the page `session` when given) and waits for its result; nothing, with
    // the reason in lastError, on an error answer, a time-out or a browser gone. With no time to
    // wait it only sends (from within onEvent, say).
    std::optional<Json> call(const std::string& method, Json params = Json::object(),
                             const std::string& session = {},
                             std::chrono::milliseconds timeout = std::chrono::seconds(15));
    // Reads what arrives within `wait`.
    void pump(std::chrono::milliseconds wait);
    // A new blank page's session.
    std::string openPage();

    std::function<void(const Json&)> onEvent;  // each event: "method", "params", "sessionId"
    std::string lastError;

  private:
    HeadlessChromium(pid_t pid, int socket) : pid_(pid), socket_(socket) {}
    bool read(std::chrono::milliseconds wait);

    pid_t pid_;
    int socket_;
    int nextID_ = 1;
    std::string incoming_;
    std::vector<Json> answers_;
};

// Standard Base64 back to bytes (screenshots come that way); empty on malformed input.
std::string base64Decode(const std::string& text);

}  // namespace vurin::testing
