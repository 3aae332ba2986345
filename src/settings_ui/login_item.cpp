#include "settings_ui/login_item.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <system_error>

#include "config/config.h"
#include "support/executable.h"
#include "support/log.h"

namespace vurin {

namespace {

constexpr std::string_view kEntryName = "com.vurin.app.desktop";
// What entries were called before they took the desktop id.
constexpr std::string_view kFormerEntryName = "vurin.desktop";

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

// The desktop entry's string escapes (\s, \n, \t, \r, \\) undone.
std::string unescapeEntryString(std::string_view value) {
    std::string plain;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            plain += value[i];
            continue;
        }
        const char next = value[++i];
        plain += next == 's'   ? ' '
                 : next == 'n' ? '\n'
                 : next == 't' ? '\t'
                 : next == 'r' ? '\r'
                               : next;
    }
    return plain;
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
    // TryExec: a Vurin uninstalled without a purge leaves an entry the session skips.
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Vurin\n"
           "Comment=Push-to-talk dictation\n"
           "Icon=com.vurin.app\n"
           "TryExec=" +
           escapeEntryString(executable.string()) +
           "\n"
           "Exec=" +
           desktopExecArgument(executable.string()) + " " + std::string(kAutostartOption) +
           "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

ProgramPlace programPlace(const std::filesystem::path& program) {
    if (!program.has_parent_path()) {
        return ProgramPlace::installed;
    }
    std::error_code ignored;
    if (!std::filesystem::exists(program, ignored)) {
        return ProgramPlace::missing;
    }
    return std::filesystem::exists(program.parent_path() / "CMakeCache.txt", ignored)
               ? ProgramPlace::buildTree
               : ProgramPlace::installed;
}

std::filesystem::path autostartEntryProgram(std::string_view entry) {
    std::string exec;
    for (std::size_t start = 0; start < entry.size();) {
        const std::size_t end = std::min(entry.find('\n', start), entry.size());
        const std::string_view line = entry.substr(start, end - start);
        if (line.starts_with("Exec=")) {
            exec = unescapeEntryString(line.substr(5));
            break;
        }
        start = end + 1;
    }
    std::string program;
    const bool quoted = exec.starts_with('"');
    for (std::size_t i = quoted ? 1 : 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (quoted ? c == '"' : (c == ' ' || c == '\t' || c == '\r')) {
            break;
        }
        if (quoted && c == '\\' && i + 1 < exec.size()) {
            program += exec[++i];
        } else if (c == '%' && i + 1 < exec.size() && exec[i + 1] == '%') {
            program += exec[++i];
        } else {
            program += c;
        }
    }
    return program;
}

namespace {

bool startsAtLogin(std::string_view entry) {
    for (std::size_t start = 0; start < entry.size();) {
        const std::size_t end = std::min(entry.find('\n', start), entry.size());
        const std::string_view line = entry.substr(start, end - start);
        if (line.starts_with("Exec=")) {
            return line.find(" " + std::string(kAutostartOption)) != std::string_view::npos;
        }
        start = end + 1;
    }
    return false;
}

}  // namespace

bool replacesAutostartEntry(
    std::string_view entry, const std::filesystem::path& running,
    const std::function<ProgramPlace(const std::filesystem::path&)>& placeOf) {
    for (std::size_t start = 0; start < entry.size();) {
        const std::size_t end = std::min(entry.find('\n', start), entry.size());
        if (isHiddenLine(std::string(entry.substr(start, end - start)))) {
            return false;  // the user turned it off: theirs as it is
        }
        start = end + 1;
    }
    const std::filesystem::path program = autostartEntryProgram(entry);
    if (!program.empty() && program == running) {
        // An older Vurin's entry: without the option every login opened the window.
        return !startsAtLogin(entry);
    }
    if (program.empty() || placeOf(running) != ProgramPlace::installed) {
        return false;
    }
    return placeOf(program) != ProgramPlace::installed;
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
    for (const std::filesystem::path& entry :
         {entryPath_, entryPath_.parent_path() / kFormerEntryName}) {
        if (::unlink(entry.c_str()) != 0 && errno != ENOENT) {
            return systemError(errno, entry);
        }
    }
    return std::nullopt;
}

void XdgAutostartLoginItem::updateAtStart() {
    const std::filesystem::path former = entryPath_.parent_path() / kFormerEntryName;
    std::error_code error;
    if (std::filesystem::exists(former, error) && !std::filesystem::exists(entryPath_, error)) {
        if (::rename(former.c_str(), entryPath_.c_str()) != 0) {
            log("⚠️ 无法把自动启动项改名为 " + entryPath_.string() + ":" +
                systemError(errno, former));
            return;
        }
        log("🔁 自动启动项已改名为 " + entryPath_.string() + "(桌面 id com.vurin.app)");
    }
    std::ifstream file(entryPath_);
    const std::string entry((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    if (!file.is_open() || !replacesAutostartEntry(entry, executable_, programPlace)) {
        return;
    }
    if (const auto failure = writeAtomically(entryPath_, autostartDesktopEntry(executable_))) {
        log("⚠️ 自动启动项指向构建目录里的 Vurin,无法改为 " +
            executable_.string() + ":" + *failure);
        return;
    }
    const std::filesystem::path previous = autostartEntryProgram(entry);
    if (previous == executable_) {
        log("🔁 自动启动项已更新:登录时 Vurin 在后台启动,不再打开窗口");
        return;
    }
    log("🔁 自动启动项原指向 " + previous.string() + ",已改为安装的 " + executable_.string());
}

}  // namespace vurin
