#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "support/testing.h"

namespace vurin::testing {

// Debian's headless Chromium driven over the DevTools protocol on a pipe: JSON texts ended by a
// NUL byte on descriptors 3 (to the browser) and 4 (from it). Events are read and dropped.
class HeadlessChromium {
  public:
    using Json = nlohmann::json;

    // A fresh profile under `folder`, where the browser's output goes too; null when it fails.
    static std::unique_ptr<HeadlessChromium> launch(const std::filesystem::path& folder) {
        std::filesystem::create_directories(folder);
        const std::string profile = "--user-data-dir=" + (folder / "profile").string();
        const std::string log = (folder / "chromium.log").string();
        int sockets[2] = {-1, -1};
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets);
        const pid_t pid = ::fork();
        if (pid == 0) {
            // The browser's end reaches 3 and 4 by way of a high descriptor dup2 cannot close.
            const int high = ::fcntl(sockets[1], F_DUPFD, 10);
            const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(out, 1);
            ::dup2(out, 2);
            ::dup2(high, 3);
            ::dup2(high, 4);
            ::setpgid(0, 0);  // the browser and its helpers, ended together
            // --no-sandbox: the tests run as root in CI, where Chromium's sandbox refuses to run.
            ::execlp("chromium", "chromium", "--headless", "--no-sandbox",
                     "--remote-debugging-pipe", profile.c_str(), "--no-first-run", "--disable-gpu",
                     "--disable-extensions", "--disable-background-networking", "--disable-sync",
                     "--password-store=basic", "about:blank", nullptr);
            ::_exit(127);
        }
        ::close(sockets[1]);
        std::unique_ptr<HeadlessChromium> browser(new HeadlessChromium(pid, sockets[0]));
        const bool answers = pid > 0 && browser->call("Browser.getVersion", {}, {}, 60000);
        return answers ? std::move(browser) : nullptr;
    }

    ~HeadlessChromium() {
        call("Browser.close", {}, {}, 0);
        if (pid_ > 0 && !eventually([this] { return ::waitpid(pid_, nullptr, WNOHANG) == pid_; })) {
            ::kill(-pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(socket_);
    }

    // Sends a command (to the page `session` when given) and waits for its result; nothing on an
    // error answer, a time-out or a browser gone. With no time to wait it only sends.
    std::optional<Json> call(const std::string& method, Json params = Json::object(),
                             const std::string& session = {}, int timeoutMs = 15000) {
        const int id = nextID_++;
        Json message = {{"id", id}, {"method", method}, {"params", std::move(params)}};
        if (!session.empty()) {
            message["sessionId"] = session;
        }
        const std::string bytes = message.dump() + '\0';
        if (::send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL) != ssize_t(bytes.size())) {
            return std::nullopt;
        }
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            for (std::size_t end; (end = incoming_.find('\0')) != std::string::npos;) {
                const Json answer = Json::parse(incoming_.substr(0, end), nullptr, false);
                incoming_.erase(0, end + 1);
                if (answer.value("id", 0) == id) {
                    return answer.contains("error") ? std::nullopt
                                                    : std::optional(answer.value("result", Json()));
                }
            }
            pollfd ready{.fd = socket_, .events = POLLIN, .revents = 0};
            if (::poll(&ready, 1, 100) <= 0) {
                continue;
            }
            char buffer[65536];
            const ssize_t got = ::recv(socket_, buffer, sizeof buffer, 0);
            if (got <= 0) {
                return std::nullopt;  // the browser is gone
            }
            incoming_.append(buffer, static_cast<std::size_t>(got));
        }
        return std::nullopt;
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

  private:
    HeadlessChromium(pid_t pid, int socket) : pid_(pid), socket_(socket) {}

    pid_t pid_;
    int socket_;
    int nextID_ = 1;
    std::string incoming_;
};

}  // namespace vurin::testing
