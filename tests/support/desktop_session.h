#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/desktop_program.h"

namespace vurin::testing {

// A real desktop of scripts/test-session (`start DIR kde|gnome`), joined by the tests that run
// with its env sourced: the usual programs to type into, the fields' text as a screen reader
// reads it, and the portal's consent dialog answered as a person would. KdeSession and
// GnomeSession add the desktop's own real input and window control.
class DesktopSession {
  public:
    virtual ~DesktopSession() = default;

    // Whether the test runs inside that desktop's session (stderr says when it does not).
    bool joined() const { return joined_; }

    // The program's "ready" waited for; nothing when it did not come. Each change of the
    // field's text is a line "text " and the text (a Qt field says "return " and its text at a
    // Return as well).
    std::unique_ptr<DesktopProgram> qtField(const std::string& text) const;
    std::unique_ptr<DesktopProgram> gtkField(const std::string& text) const;
    // A terminal without accessibility running `shellCommand`: foot (on KDE behind the
    // session's proxy, since it divides by the size of KWin's virtual output).
    std::unique_ptr<DesktopProgram> foot(const std::string& shellCommand) const;
    // `argv` run in the app scope a launcher gives `appId` (scripts/session/in-app-scope).
    static std::vector<std::string> inAppScope(const std::string& appId,
                                               std::vector<std::string> argv);
    // The test process itself moves there: the portal then knows it by that app id.
    static bool enterAppScope(const std::string& appId);

    // `scripts/test-session COMMAND` on this session: restart-portal (the desktop's portal
    // restarts), restart-media-keys (GNOME's next login, for its own keys).
    static bool sessionCommand(const std::string& command);
    // The text of the first field of the application with that pid, read over AT-SPI.
    static std::optional<std::string> fieldText(pid_t pid);
    // Waits for the RemoteDesktop consent dialog (at most `limit`) and lets the desktop be
    // controlled, through the dialog's accessible check boxes and buttons.
    bool shareWhenAsked(std::chrono::seconds limit = std::chrono::seconds(30)) const;

    // An evdev key code pressed or released, as a real keyboard's.
    virtual bool key(int code, bool pressed) = 0;
    // Gives the window of the program with that pid the keyboard focus.
    virtual bool activate(pid_t pid) = 0;

  protected:
    // `desktop`: the session's VURIN_TEST_DESKTOP; the consent dialog's application and what
    // a person uses in it, in order.
    DesktopSession(const std::string& desktop, std::string portal,
                   std::vector<std::string> consent);
    // A helper that answers each line written to it with "ok".
    static bool send(DesktopProgram& helper, const std::string& line);

  private:
    bool joined_ = false;
    std::string portal_;
    std::vector<std::string> consent_;
};

// Runs a program to its end: whether it exited with 0 (within `limit`).
bool runToEnd(std::vector<std::string> argv,
              std::chrono::milliseconds limit = std::chrono::seconds(10));
// What a program that exited with 0 wrote; nothing when it failed.
std::optional<std::string> capture(std::vector<std::string> argv);

}  // namespace vurin::testing
