#include "stand_in_common.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <regex>
#include <thread>

extern char** environ;

namespace vurin::standin {

namespace {

std::string serviceName;
std::mutex logLock;

void appendLine(const char* variable, const nlohmann::json& record) {
    const std::string path = environmentValue(variable);
    if (path.empty()) {
        return;
    }
    std::lock_guard guard(logLock);
    std::ofstream out(path, std::ios::app);
    out << record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

[[noreturn]] void sleepForever() {
    for (;;) {
        ::pause();
    }
}

// Listens without ever accepting: connections complete in the kernel and then wait forever.
[[noreturn]] void listenSilently(const std::string& host, int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, host.c_str(), &address.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 64) != 0) {
        std::fprintf(stderr, "%s stand-in: cannot listen on port %d\n", serviceName.c_str(), port);
        std::exit(1);
    }
    sleepForever();
}

}  // namespace

std::string environmentValue(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value == nullptr ? fallback : std::string(value);
}

long environmentNumber(const char* name, long fallback) {
    const std::string text = environmentValue(name);
    if (text.empty()) {
        return fallback;
    }
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    return end != nullptr && *end == '\0' ? value : fallback;
}

void prepare(const char* service, int argc, char** argv) {
    serviceName = service;
    nlohmann::json arguments = nlohmann::json::array();
    for (int index = 1; index < argc; ++index) {
        arguments.push_back(argv[index]);
    }
    nlohmann::json environment = nlohmann::json::object();
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string text(*entry);
        const auto equals = text.find('=');
        environment[text.substr(0, equals)] =
            equals == std::string::npos ? "" : text.substr(equals + 1);
    }
    appendLine("VURIN_STAND_IN_START_LOG", {{"service", serviceName},
                                            {"pid", ::getpid()},
                                            {"arguments", arguments},
                                            {"environment", environment}});
    const std::string mode = environmentValue("VURIN_STAND_IN_MODE", "serve");
    if (mode == "exit") {
        std::exit(static_cast<int>(environmentNumber("VURIN_STAND_IN_EXIT_CODE", 1)));
    }
    if (mode == "hang") {
        sleepForever();
    }
    const long delay = environmentNumber("VURIN_STAND_IN_DELAY_MS", 0);
    if (delay > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    }
}

void logRequest(nlohmann::json record) {
    record["service"] = serviceName;
    appendLine("VURIN_STAND_IN_REQUEST_LOG", record);
}

void serve(httplib::Server& server, const std::string& host, int port) {
    if (environmentValue("VURIN_STAND_IN_MODE") == "silent") {
        listenSilently(host, port);
    }
    server.Get("/stand-in/crash",
               [](const httplib::Request&, httplib::Response&) { ::kill(::getpid(), SIGKILL); });
    server.set_tcp_nodelay(true);
    if (!server.bind_to_port(host, port)) {
        std::fprintf(stderr, "%s stand-in: cannot listen on port %d\n", serviceName.c_str(), port);
        std::exit(1);
    }
    const long crashAfter = environmentNumber("VURIN_STAND_IN_CRASH_AFTER_MS", -1);
    if (crashAfter >= 0) {
        std::thread([crashAfter] {
            std::this_thread::sleep_for(std::chrono::milliseconds(crashAfter));
            ::kill(::getpid(), SIGKILL);
        }).detach();
    }
    server.listen_after_bind();
    std::exit(1);
}

std::string lightlyCleaned(const std::string& text) {
    std::string cleaned = text;
    // Chinese fillers with the pause that follows them, then English ones as whole words.
    cleaned = std::regex_replace(cleaned, std::regex("(嗯|呃|额)+(,|，|、)?"), "");
    cleaned = std::regex_replace(cleaned, std::regex("\\b([Uu]m+|[Uu]h+|[Ee]r+)\\b,?"), "");
    cleaned = std::regex_replace(cleaned, std::regex("[ \\t\\r\\n]+"), " ");
    cleaned = std::regex_replace(cleaned, std::regex(" ([,.!?;:])"), "$1");
    // Chinese is written without spaces between characters.
    std::string joined;
    for (std::size_t index = 0; index < cleaned.size(); ++index) {
        const bool betweenWideCharacters = cleaned[index] == ' ' && index > 0 &&
                                           index + 1 < cleaned.size() &&
                                           static_cast<unsigned char>(cleaned[index - 1]) >= 0x80 &&
                                           static_cast<unsigned char>(cleaned[index + 1]) >= 0x80;
        if (!betweenWideCharacters) {
            joined += cleaned[index];
        }
    }
    cleaned = joined;
    const auto first = cleaned.find_first_not_of(' ');
    const auto last = cleaned.find_last_not_of(' ');
    cleaned = first == std::string::npos ? "" : cleaned.substr(first, last - first + 1);
    if (cleaned.empty()) {
        return cleaned;
    }
    if (cleaned[0] >= 'a' && cleaned[0] <= 'z') {
        cleaned[0] = static_cast<char>(cleaned[0] - 'a' + 'A');
    }
    static const char* const endings[] = {".", "!", "?", "。", "！", "？", "…"};
    for (const char* ending : endings) {
        if (cleaned.ends_with(ending)) {
            return cleaned;
        }
    }
    const bool ascii = std::all_of(cleaned.begin(), cleaned.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    return cleaned + (ascii ? "." : "。");
}

}  // namespace vurin::standin
