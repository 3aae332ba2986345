#pragma once

#include <fcntl.h>
#include <openssl/evp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "support/testing.h"

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
                                                    std::string& whyNot) {
        std::error_code ignored;
        std::filesystem::create_directories(folder / "profile", ignored);
        // --no-sandbox: the tests run as root in CI, where Chromium's sandbox refuses to start.
        // clang-format off
        std::vector<std::string> arguments = {"chromium", "--headless", "--no-sandbox",
            "--remote-debugging-pipe", "--user-data-dir=" + (folder / "profile").string(),
            "--no-first-run", "--no-default-browser-check", "--disable-gpu", "--disable-extensions",
            "--disable-background-networking", "--disable-component-update", "--disable-sync",
            "--metrics-recording-only", "--password-store=basic", "--use-mock-keychain",
            "--accept-lang=en-US", "about:blank"};
        // clang-format on
        std::vector<char*> argv;
        for (auto& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        int sockets[2] = {-1, -1};
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets);
        const int log = ::open((folder / "chromium.log").c_str(),
                               O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const pid_t pid = ::fork();
        if (pid == 0) {
            // Async-signal-safe calls only. The browser's end reaches 3 and 4 by way of a high
            // descriptor, so that its own dup2 cannot close it.
            const int high = ::fcntl(sockets[1], F_DUPFD, 10);
            ::dup2(log, 1);
            ::dup2(log, 2);
            if (high < 0 || ::dup2(high, 3) < 0 || ::dup2(high, 4) < 0) {
                ::_exit(126);
            }
            ::setpgid(0, 0);  // the browser and its helpers, ended together
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(sockets[1]);
        ::close(log);
        std::unique_ptr<HeadlessChromium> browser(new HeadlessChromium(pid, sockets[0]));
        if (pid < 0 || !browser->call("Browser.getVersion", {}, {}, std::chrono::seconds(60))) {
            whyNot =
                "no answer (" + browser->lastError + "); see " + (folder / "chromium.log").string();
            return nullptr;
        }
        return browser;
    }

    // Asks the browser to close, then ends its process group if it lingers.
    ~HeadlessChromium() {
        call("Browser.close", {}, {}, {});
        if (pid_ > 0 && !eventually([this] { return ::waitpid(pid_, nullptr, WNOHANG) == pid_; })) {
            ::kill(-pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(socket_);
    }

    // Sends a command (to the page `session` when given) and waits for its result; nothing, with
    // the reason in lastError, on an error answer, a time-out or a browser gone. With no time to
    // wait it only sends (from within onEvent, say).
    std::optional<Json> call(const std::string& method, Json params = Json::object(),
                             const std::string& session = {},
                             std::chrono::milliseconds timeout = std::chrono::seconds(15)) {
        const int id = nextID_++;
        Json message = {{"id", id}, {"method", method}, {"params", std::move(params)}};
        if (!session.empty()) {
            message["sessionId"] = session;
        }
        const std::string bytes = message.dump() + '\0';
        if (::send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL) != ssize_t(bytes.size())) {
            lastError = "the browser is gone";
            return std::nullopt;
        }
        for (const auto deadline = std::chrono::steady_clock::now() + timeout;;) {
            const auto found =
                std::find_if(answers_.begin(), answers_.end(),
                             [id](const Json& answer) { return answer["id"] == id; });
            if (found != answers_.end()) {
                const Json answer = std::move(*found);
                answers_.erase(found);
                lastError = answer.contains("error") ? method + ": " + answer["error"].dump() : "";
                return lastError.empty() ? std::optional(answer.value("result", Json::object()))
                                         : std::nullopt;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                lastError = method + ": no answer in time";
                return std::nullopt;
            }
            if (!read(std::chrono::milliseconds(100))) {
                return std::nullopt;
            }
        }
    }

    // Reads what arrives within `wait`.
    void pump(std::chrono::milliseconds wait) {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        while (read(std::chrono::milliseconds(5)) && std::chrono::steady_clock::now() < deadline) {
        }
    }

    // A new blank page's session.
    std::string openPage() {
        const auto target = call("Target.createTarget", {{"url", "about:blank"}});
        const auto attached =
            call("Target.attachToTarget",
                 {{"targetId", target.value_or(Json::object()).value("targetId", "")},
                  {"flatten", true}});
        return attached ? attached->value("sessionId", "") : "";
    }

    std::function<void(const Json&)> onEvent;  // each event: "method", "params", "sessionId"
    std::string lastError;

  private:
    HeadlessChromium(pid_t pid, int socket) : pid_(pid), socket_(socket) {}

    bool read(std::chrono::milliseconds wait) {
        pollfd ready{.fd = socket_, .events = POLLIN, .revents = 0};
        if (::poll(&ready, 1, static_cast<int>(wait.count())) <= 0) {
            return true;  // nothing yet
        }
        char buffer[65536];
        const ssize_t got = ::recv(socket_, buffer, sizeof buffer, 0);
        if (got <= 0) {
            lastError = "the browser is gone";
            return false;
        }
        incoming_.append(buffer, static_cast<std::size_t>(got));
        for (std::size_t end; (end = incoming_.find('\0')) != std::string::npos;) {
            Json message = Json::parse(incoming_.substr(0, end), nullptr, false);
            incoming_.erase(0, end + 1);
            if (message.contains("id")) {
                answers_.push_back(std::move(message));
            } else if (onEvent && message.contains("method")) {
                onEvent(message);
            }
        }
        return true;
    }

    pid_t pid_;
    int socket_;
    int nextID_ = 1;
    std::string incoming_;
    std::vector<Json> answers_;
};

// Standard Base64 back to bytes (screenshots come that way); empty on malformed input.
inline std::string base64Decode(const std::string& text) {
    std::string bytes(text.size() / 4 * 3, '\0');
    const int length = text.size() % 4 != 0
                           ? -1
                           : EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                                             reinterpret_cast<const unsigned char*>(text.data()),
                                             static_cast<int>(text.size()));
    // EVP_DecodeBlock counts the padding as zero bytes.
    const int padding = text.ends_with("==") ? 2 : text.ends_with("=") ? 1 : 0;
    return length < 0 ? "" : bytes.substr(0, static_cast<std::size_t>(length - padding));
}

}  // namespace vurin::testing
