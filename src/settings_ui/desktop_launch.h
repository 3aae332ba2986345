#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vurin {

// `text` as one word for a POSIX shell: in single quotes, each single quote inside written as
// '\'' so that no character of the text is ever interpreted.
std::string shellQuote(std::string_view text);

// The first executable regular file called `name` in the colon-separated `searchPath`
// (relative entries are skipped); nothing when there is none.
std::optional<std::filesystem::path> findExecutable(std::string_view name,
                                                    std::string_view searchPath);

// This process's $PATH, or the usual folders when it has none.
std::string processSearchPath();

// Starts `argv` (argv[0] a path, or a name looked up on $PATH) detached from this process: in
// a session of its own, its standard streams on /dev/null and none of our other descriptors
// inherited. It is not our child, so it needs no reaping and outlives us. True when the
// program was started (a name not found on $PATH is false).
bool spawnDetached(const std::vector<std::string>& argv);

// True for an absolute http or https URL with a host; false for anything else (file:,
// javascript:, relative, malformed).
bool isWebURL(std::string_view url);

// Opens a terminal window that runs a shell command line, as a user would type it.
class TerminalLauncher {
  public:
    virtual ~TerminalLauncher() = default;
    // True when a terminal was started with the command.
    virtual bool runInTerminal(const std::string& command) = 0;
};

// The first terminal found on the search path among x-terminal-emulator, gnome-terminal,
// konsole and xterm, running the command in bash and then an interactive bash, so the window
// stays open with the output readable when the command ends.
class SpawnTerminalLauncher : public TerminalLauncher {
  public:
    // `searchPath` defaults to this process's PATH.
    explicit SpawnTerminalLauncher(std::optional<std::string> searchPath = std::nullopt);
    bool runInTerminal(const std::string& command) override;

    // The argument vector that starts `terminal` (its path) running `command`.
    static std::vector<std::string> terminalArguments(const std::filesystem::path& terminal,
                                                      const std::string& command);

  private:
    std::string searchPath_;
};

// Opens a web URL in the default browser (xdg-open). Anything but an http or https URL is
// refused. True when the opener started.
bool openWebURL(std::string_view url, std::optional<std::string> searchPath = std::nullopt);

}  // namespace vurin
