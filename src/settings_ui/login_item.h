#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vurin {

// The states a login item can be in. The XDG autostart entry knows only `notRegistered` and
// `enabled`; the other two exist for systems that ask the user to approve login items.
enum class LoginItemStatus { notRegistered, enabled, requiresApproval, notFound };

// Starting Vurin when the user logs in.
class LoginItemService {
  public:
    virtual ~LoginItemService() = default;
    virtual LoginItemStatus status() const = 0;
    // Nothing on success, else the system's own description of the failure.
    virtual std::optional<std::string> registerItem() = 0;
    virtual std::optional<std::string> unregisterItem() = 0;
};

// The autostart folder for the given $XDG_CONFIG_HOME and home values, by the same rule as the
// configuration folder: <xdgConfigHome>/autostart when it is absolute, else
// <home>/.config/autostart.
std::filesystem::path autostartDirFrom(std::string_view xdgConfigHome, std::string_view home);

// `argument` quoted for the Exec key of a desktop entry: as it is when it holds only safe
// characters, else in double quotes with ", `, $ and \ escaped, then with every backslash
// doubled for the desktop entry's own string escaping.
std::string desktopExecArgument(std::string_view argument);

// What the entry passes, so that a start at login opens no window.
inline constexpr std::string_view kAutostartOption = "--autostart";

// The desktop entry that starts `executable` at login.
std::string autostartDesktopEntry(const std::filesystem::path& executable);

// Where a program lives, as far as an autostart entry is concerned.
enum class ProgramPlace { installed, buildTree, missing };

// A build tree when its folder holds CMakeCache.txt; a bare name (found on the PATH) counts as
// installed.
ProgramPlace programPlace(const std::filesystem::path& program);

// The program an entry's Exec line starts (its first argument, unquoted); empty when none.
std::filesystem::path autostartEntryProgram(std::string_view entry);

// Whether `entry` should start `running` instead of its own program: an enabled entry whose
// program lives in a build tree or is gone, while `running` is installed. So an entry a
// developer's build wrote starts the installed Vurin, and a build never takes over an entry.
// An entry for `running` itself is rewritten when an older Vurin wrote it (no --autostart).
bool replacesAutostartEntry(
    std::string_view entry, const std::filesystem::path& running,
    const std::function<ProgramPlace(const std::filesystem::path&)>& placeOf);

// The XDG autostart entry "com.vurin.app.desktop" in the autostart folder, named by the desktop
// id so that a session started from it (systemd's app-com.vurin.app@autostart) is known to
// portals as Vurin. Enabled when the file exists and is not hidden (desktops hide an entry with
// Hidden=true when the user turns it off in their own settings).
class XdgAutostartLoginItem : public LoginItemService {
  public:
    // `executable` is the program to start; `autostartDir` the folder (normally from the
    // process environment, see autostartDirFrom()).
    XdgAutostartLoginItem(std::filesystem::path executable, std::filesystem::path autostartDir);
    // This process's executable and autostart folder.
    XdgAutostartLoginItem();

    LoginItemStatus status() const override;
    std::optional<std::string> registerItem() override;
    std::optional<std::string> unregisterItem() override;

    // At start: an entry under the former name "vurin.desktop" takes the desktop id's name, and
    // an entry a build-tree Vurin wrote is rewritten for this one (replacesAutostartEntry()).
    // One log line for each change or failure.
    void updateAtStart();

    const std::filesystem::path& entryPath() const { return entryPath_; }

  private:
    std::filesystem::path executable_;
    std::filesystem::path entryPath_;
};

}  // namespace vurin
