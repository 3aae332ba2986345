#include "settings_ui/desktop_launch.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

extern char** environ;

namespace vurin {

namespace {

constexpr const char* kTerminals[] = {"x-terminal-emulator", "gnome-terminal", "konsole", "xterm"};

struct UrlHandleDeleter {
    void operator()(CURLU* handle) const { curl_url_cleanup(handle); }
};

struct CurlStringDeleter {
    void operator()(char* text) const { curl_free(text); }
};

}  // namespace

std::string processSearchPath() {
    const char* path = std::getenv("PATH");
    return path ? path : "/usr/local/bin:/usr/bin:/bin";
}

std::string shellQuote(std::string_view text) {
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

std::optional<std::filesystem::path> findExecutable(std::string_view name,
                                                    std::string_view searchPath) {
    if (name.empty() || name.find('/') != std::string_view::npos) {
        return std::nullopt;
    }
    while (true) {
        const auto colon = searchPath.find(':');
        const auto dir = searchPath.substr(0, colon);
        if (!dir.empty() && dir.front() == '/') {
            const auto candidate = std::filesystem::path(dir) / name;
            struct stat info {};
            if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
                ::access(candidate.c_str(), X_OK) == 0) {
                return candidate;
            }
        }
        if (colon == std::string_view::npos) {
            return std::nullopt;
        }
        searchPath.remove_prefix(colon + 1);
    }
}

bool spawnDetached(const std::vector<std::string>& argv) {
    if (argv.empty()) {
        return false;
    }
    // sh starts the program in the background and exits at once: the program is then
    // re-parented (to init or the session's subreaper) and never becomes our zombie. The
    // shell's status says whether the program could be found.
    std::vector<std::string> words = {"/bin/sh", "-c",
                                      "command -v \"$1\" >/dev/null || exit 127; \"$@\" &", "sh"};
    words.insert(words.end(), argv.begin(), argv.end());
    std::vector<char*> pointers;
    for (auto& word : words) {
        pointers.push_back(word.data());
    }
    pointers.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    // A started program must not keep our sockets and pipes open for its whole life.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // Its own session: our terminal's hangup or a signal to our process group spares it.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t shell = -1;
    const int spawned =
        ::posix_spawn(&shell, "/bin/sh", &actions, &attributes, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0) {
        return false;
    }
    int status = 0;
    while (::waitpid(shell, &status, 0) < 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool isWebURL(std::string_view url) {
    std::unique_ptr<CURLU, UrlHandleDeleter> handle(curl_url());
    const std::string text(url);
    if (!handle || text.find_first_of(" \t\r\n") != std::string::npos ||
        curl_url_set(handle.get(), CURLUPART_URL, text.c_str(), 0) != CURLUE_OK) {
        return false;
    }
    char* scheme = nullptr;
    char* host = nullptr;
    if (curl_url_get(handle.get(), CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK) {
        return false;
    }
    std::unique_ptr<char, CurlStringDeleter> ownedScheme(scheme);
    if (curl_url_get(handle.get(), CURLUPART_HOST, &host, 0) != CURLUE_OK) {
        return false;
    }
    std::unique_ptr<char, CurlStringDeleter> ownedHost(host);
    const std::string_view schemeText(scheme);
    return (schemeText == "http" || schemeText == "https") && host[0] != '\0';
}

SpawnTerminalLauncher::SpawnTerminalLauncher(std::optional<std::string> searchPath)
    : searchPath_(searchPath ? std::move(*searchPath) : processSearchPath()) {}

std::vector<std::string> SpawnTerminalLauncher::terminalArguments(
    const std::filesystem::path& terminal, const std::string& command) {
    // The interactive bash afterwards keeps the window open, as a terminal that was handed a
    // command line would.
    std::vector<std::string> words = {terminal.string()};
    words.emplace_back(terminal.filename() == "gnome-terminal" ? "--" : "-e");
    words.insert(words.end(), {"bash", "-c", command + "; exec bash"});
    return words;
}

bool SpawnTerminalLauncher::runInTerminal(const std::string& command) {
    for (const char* name : kTerminals) {
        if (const auto terminal = findExecutable(name, searchPath_)) {
            if (spawnDetached(terminalArguments(*terminal, command))) {
                return true;
            }
        }
    }
    return false;
}

bool openWebURL(std::string_view url, std::optional<std::string> searchPath) {
    if (!isWebURL(url)) {
        return false;
    }
    const auto opener = findExecutable("xdg-open", searchPath ? *searchPath : processSearchPath());
    return opener && spawnDetached({opener->string(), std::string(url)});
}

}  // namespace vurin
