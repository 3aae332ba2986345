#pragma once

#include <memory>
#include <string>

#include "support/desktop_session.h"

namespace vurin::testing {

// GNOME Shell 43 of `scripts/test-session start DIR gnome`. Keys go in through mutter's own
// RemoteDesktop (no consent dialog: that belongs to the portal), one session for the object's
// life, since mutter ends it when its caller leaves the bus. Windows are found and activated
// through org.gnome.Shell.Eval, which the session's shell extension opens (unsafe mode).
// GNOME has no data-control: another program's clipboard cannot be read in the background.
class GnomeSession : public DesktopSession {
  public:
    GnomeSession();

    bool key(int code, bool pressed) override;
    bool activate(pid_t pid) override;
    // What the shell's JavaScript `expression` gives, as GNOME Shell writes it (JSON).
    static std::optional<std::string> eval(const std::string& expression);

  private:
    std::unique_ptr<DesktopProgram> keys_;
};

}  // namespace vurin::testing
