#include "settings_ui/login_item.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <system_error>

#include "config/config.h"
#include "support/executable.h"

namespace vurin {

namespace {

constexpr std::string_view kEntryName = "vurin.desktop";

std::string systemError(int error, const std::filesystem::path& path) {
    return std::system_category().message(error) + ": " + path.string();
}

// Applies the desktop entry's string escaping to a value.
std::string escapeEntryString(std::string_view value) {
    std::string escaped;
    for (const char c : value) {
        switch (c) {
            case '\\':
                escaped += "\\\\";
                break;
            case '\n':
                escaped += "\\n";
                break;
            case '\t':
                escaped += "\\t";
                break;
            case '\r':
                escaped += "\\r";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

// Writes `content` to `path` through a temporary file in the same folder, so a session that
// reads the folder at login sees the old entry or the whole new one.
std::optional<std::string> writeAtomically(const std::filesystem::path& path,
                                           const std::string& content) {
    const auto temporary = path.string() + ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return systemError(errno, temporary);
    }
    std::size_t written = 0;
    while (written < content.size()) {
        const auto n = ::write(fd, content.data() + written, content.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const int error = errno;
            ::close(fd);
            ::unlink(temporary.c_str());
            return systemError(error, temporary);
        }
        written += static_cast<std::size_t>(n);
    }
    ::fsync(fd);
    ::close(fd);
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return systemError(error, path);
    }
    return std::nullopt;
}

bool isHiddenLine(std::string line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
        line.pop_back();
    }
    return line == "Hidden=true" || line == "X-GNOME-Autostart-enabled=false";
}

std::filesystem::path runningExecutable() {
    return vurinCommand();
}

}  // namespace

std::filesystem::path autostartDirFrom(std::string_view xdgConfigHome, std::string_view home) {
    return configDirFrom(xdgConfigHome, home).parent_path() / "autostart";
}

std::string desktopExecArgument(std::string_view argument) {
    static constexpr std::string_view reserved = " \t\n\"'\\><~|&;$*?#()`";
    std::string quoted;
    const bool needsQuotes =
        argument.empty() || argument.find_first_of(reserved) != std::string_view::npos;
    for (const char c : argument) {
        if (c == '%') {
            quoted += "%%";  // a lone % would start a field code
        } else if (needsQuotes && (c == '"' || c == '`' || c == '$' || c == '\\')) {
            quoted += '\\';
            quoted += c;
        } else {
            quoted += c;
        }
    }
    return escapeEntryString(needsQuotes ? "\"" + quoted + "\"" : quoted);
}

std::string autostartDesktopEntry(const std::filesystem::path& executable) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Vurin\n"
           "Comment=Push-to-talk dictation\n"
           "Exec=" +
           desktopExecArgument(executable.string()) +
           "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

XdgAutostartLoginItem::XdgAutostartLoginItem(std::filesystem::path executable,
                                             std::filesystem::path autostartDir)
    : executable_(std::move(executable)), entryPath_(std::move(autostartDir) / kEntryName) {}

XdgAutostartLoginItem::XdgAutostartLoginItem()
    : XdgAutostartLoginItem(runningExecutable(), configDir().parent_path() / "autostart") {}

LoginItemStatus XdgAutostartLoginItem::status() const {
    std::ifstream entry(entryPath_);
    if (!entry) {
        return LoginItemStatus::notRegistered;
    }
    std::string line;
    while (std::getline(entry, line)) {
        if (isHiddenLine(line)) {
            return LoginItemStatus::notRegistered;
        }
    }
    return LoginItemStatus::enabled;
}

std::optional<std::string> XdgAutostartLoginItem::registerItem() {
    std::error_code error;
    std::filesystem::create_directories(entryPath_.parent_path(), error);
    if (error) {
        return error.message() + ": " + entryPath_.parent_path().string();
    }
    return writeAtomically(entryPath_, autostartDesktopEntry(executable_));
}

std::optional<std::string> XdgAutostartLoginItem::unregisterItem() {
    if (::unlink(entryPath_.c_str()) != 0 && errno != ENOENT) {
        return systemError(errno, entryPath_);
    }
    return std::nullopt;
}

}  // namespace vurin
