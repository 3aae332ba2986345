#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>

namespace vurin::testing {

// Debian's headless Chromium over the DevTools pipe: NUL-ended JSON on descriptors 3 and 4.
class HeadlessChromium {
  public:
    using Json = nlohmann::json;

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
            ::setpgid(0, 0);
            // --no-sandbox: the tests run as root in CI, where Chromium's sandbox refuses to run.
            ::execlp("chromium", "chromium", "--headless", "--no-sandbox",
                     "--remote-debugging-pipe", profile.c_str(), "--no-first-run",
                     "--no-default-browser-check", "--disable-gpu", "--disable-extensions",
                     "--disable-background-networking", "--disable-component-update",
                     "--disable-sync", "--metrics-recording-only", "--password-store=basic",
                     "--use-mock-keychain", "about:blank", nullptr);
            ::_exit(127);
        }
        ::setpgid(pid, pid);  // either side may come first: the browser and its helpers as one
        ::close(sockets[1]);
        std::unique_ptr<HeadlessChromium> browser(new HeadlessChromium);
        browser->pid_ = pid;
        browser->socket_ = sockets[0];
        return pid > 0 && browser->call("Browser.getVersion") ? std::move(browser) : nullptr;
    }

    ~HeadlessChromium() {
        if (pid_ > 0) {
            ::kill(-pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(socket_);
    }

    // The result of a command to the browser or the page `session`; none on an error or silence.
    std::optional<Json> call(const std::string& method, const Json& params = Json::object(),
                             const std::string& session = {}) {
        Json message = {{"id", ++lastID_}, {"method", method}, {"params", params}};
        if (!session.empty()) {
            message["sessionId"] = session;
        }
        const std::string bytes = message.dump() + '\0';
        if (::send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL) != ssize_t(bytes.size())) {
            return std::nullopt;
        }
        char buffer[65536];
        pollfd ready{.fd = socket_, .events = POLLIN, .revents = 0};
        while (::poll(&ready, 1, 15000) > 0) {
            const ssize_t got = ::recv(socket_, buffer, sizeof buffer, 0);
            if (got <= 0) {
                return std::nullopt;  // the browser is gone
            }
            incoming_.append(buffer, static_cast<std::size_t>(got));
            for (std::size_t end; (end = incoming_.find('\0')) != std::string::npos;) {
                const Json answer = Json::parse(incoming_.substr(0, end), nullptr, false);
                incoming_.erase(0, end + 1);
                if (answer.is_object() && answer.value("id", 0) == lastID_) {
                    return answer.contains("error") ? std::nullopt
                                                    : std::optional(answer.value("result", Json()));
                }
            }
        }
        return std::nullopt;
    }

  private:
    HeadlessChromium() = default;
    pid_t pid_ = -1;
    int socket_ = -1;
    int lastID_ = 0;
    std::string incoming_;  // what arrived past the last answer
};

}  // namespace vurin::testing
