#include "support/headless_chromium.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

namespace vurin::testing {

std::unique_ptr<HeadlessChromium> HeadlessChromium::launch(
    const std::filesystem::path& folder, const std::vector<std::string>& extraArguments,
    std::string& whyNot) {
    std::error_code error;
    std::filesystem::create_directories(folder / "profile", error);
    if (error) {
        whyNot = "cannot create " + folder.string() + ": " + error.message();
        return nullptr;
    }
    std::vector<std::string> arguments = {
        "chromium",
        "--headless",
        // The tests run as root in CI, where Chromium's sandbox refuses to start.
        "--no-sandbox",
        "--remote-debugging-pipe",
        "--user-data-dir=" + (folder / "profile").string(),
        "--no-first-run",
        "--no-default-browser-check",
        "--disable-gpu",
        "--disable-extensions",
        "--disable-background-networking",
        "--disable-component-update",
        "--disable-sync",
        "--metrics-recording-only",
        "--password-store=basic",
        "--use-mock-keychain",
    };
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    arguments.emplace_back("about:blank");
    std::vector<char*> argv;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    int sockets[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0) {
        whyNot = "socketpair failed";
        return nullptr;
    }
    const int log =
        ::open((folder / "chromium.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls from here on. The browser's end goes to 3 and 4 by way
        // of a high descriptor, so it cannot be closed by its own dup2.
        const int high = ::fcntl(sockets[1], F_DUPFD, 10);
        ::dup2(null, 0);
        if (log >= 0) {
            ::dup2(log, 1);
            ::dup2(log, 2);
        }
        if (high < 0 || ::dup2(high, 3) < 0 || ::dup2(high, 4) < 0) {
            ::_exit(126);
        }
        ::setpgid(0, 0);  // the browser and its helpers, ended together
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(sockets[1]);
    if (log >= 0) {
        ::close(log);
    }
    if (null >= 0) {
        ::close(null);
    }
    if (pid < 0) {
        ::close(sockets[0]);
        whyNot = "fork failed";
        return nullptr;
    }
    std::unique_ptr<HeadlessChromium> browser(new HeadlessChromium(pid, sockets[0]));
    if (!browser->call("Browser.getVersion", HeadlessChromium::Json::object(), {},
                       std::chrono::seconds(60))) {
        whyNot = "chromium did not answer (" + browser->lastError() + "); see " +
                 (folder / "chromium.log").string();
        return nullptr;
    }
    return browser;
}

HeadlessChromium::HeadlessChromium(pid_t pid, int socket) : pid_(pid), socket_(socket) {}

HeadlessChromium::~HeadlessChromium() {
    send("Browser.close");
    bool exited = false;
    for (int i = 0; i < 100 && !exited; ++i) {
        exited = ::waitpid(pid_, nullptr, WNOHANG) == pid_;
        if (!exited) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    if (!exited) {
        ::kill(-pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    ::close(socket_);
}

int HeadlessChromium::sendCommand(const std::string& method, Json params,
                                  const std::string& session) {
    const int id = nextID_++;
    Json message = {{"id", id}, {"method", method}, {"params", std::move(params)}};
    if (!session.empty()) {
        message["sessionId"] = session;
    }
    std::string bytes = message.dump();
    bytes.push_back('\0');
    std::string_view rest(bytes);
    while (!rest.empty()) {
        const ssize_t sent = ::send(socket_, rest.data(), rest.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            lastError_ = "the browser is gone";
            return -1;
        }
        rest.remove_prefix(static_cast<std::size_t>(sent));
    }
    return id;
}

void HeadlessChromium::send(const std::string& method, Json params, const std::string& session) {
    sendCommand(method, std::move(params), session);
}

bool HeadlessChromium::readSome(std::chrono::milliseconds wait) {
    pollfd ready{.fd = socket_, .events = POLLIN, .revents = 0};
    if (::poll(&ready, 1, static_cast<int>(wait.count())) <= 0) {
        return true;  // nothing yet
    }
    char buffer[65536];
    const ssize_t got = ::recv(socket_, buffer, sizeof buffer, 0);
    if (got <= 0) {
        lastError_ = "the browser is gone";
        return false;
    }
    incoming_.append(buffer, static_cast<std::size_t>(got));
    std::size_t end;
    while ((end = incoming_.find('\0')) != std::string::npos) {
        Json message = Json::parse(incoming_.substr(0, end), nullptr, false);
        incoming_.erase(0, end + 1);
        if (message.is_discarded()) {
            continue;
        }
        if (message.contains("id")) {
            answers_.push_back(std::move(message));
        } else {
            events_.push_back(message);
            if (onEvent) {
                onEvent(message);
            }
        }
    }
    return true;
}

void HeadlessChromium::pump(std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !readSome(left)) {
            return;
        }
    }
}

std::optional<HeadlessChromium::Json> HeadlessChromium::call(const std::string& method, Json params,
                                                             const std::string& session,
                                                             std::chrono::milliseconds timeout) {
    const int id = sendCommand(method, std::move(params), session);
    if (id < 0) {
        return std::nullopt;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        const auto found = std::find_if(answers_.begin(), answers_.end(),
                                        [id](const Json& answer) { return answer["id"] == id; });
        if (found != answers_.end()) {
            Json answer = std::move(*found);
            answers_.erase(found);
            if (answer.contains("error")) {
                lastError_ = method + ": " + answer["error"].dump();
                return std::nullopt;
            }
            return answer.value("result", Json::object());
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            lastError_ = method + ": no answer in time";
            return std::nullopt;
        }
        if (!readSome(std::min(left, std::chrono::milliseconds(100)))) {
            return std::nullopt;
        }
    }
}

std::optional<std::string> HeadlessChromium::openPage() {
    const auto created = call("Target.createTarget", {{"url", "about:blank"}});
    if (!created) {
        return std::nullopt;
    }
    const std::string target = (*created)["targetId"];
    const auto attached = call("Target.attachToTarget", {{"targetId", target}, {"flatten", true}});
    if (!attached) {
        return std::nullopt;
    }
    const std::string session = (*attached)["sessionId"];
    pages_.emplace_back(target, session);
    return session;
}

void HeadlessChromium::closePage(const std::string& session) {
    const auto found = std::find_if(pages_.begin(), pages_.end(),
                                    [&](const auto& page) { return page.second == session; });
    if (found != pages_.end()) {
        call("Target.closeTarget", {{"targetId", found->first}});
        pages_.erase(found);
    }
}

std::string base64Decode(const std::string& text) {
    if (text.size() % 4 != 0) {
        return {};
    }
    std::string bytes(text.size() / 4 * 3, '\0');
    const int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                                       reinterpret_cast<const unsigned char*>(text.data()),
                                       static_cast<int>(text.size()));
    if (length < 0) {
        return {};
    }
    // EVP_DecodeBlock counts the padding as zero bytes.
    std::size_t padding = 0;
    for (auto it = text.rbegin(); it != text.rend() && *it == '=' && padding < 2; ++it) {
        ++padding;
    }
    bytes.resize(static_cast<std::size_t>(length) - padding);
    return bytes;
}

}  // namespace vurin::testing
