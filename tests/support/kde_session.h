#pragma once

#include <memory>
#include <optional>
#include <string>

#include "support/desktop_session.h"

namespace vurin::testing {

// KWin 5.27 of `scripts/test-session start DIR kde`. Keys go in through KWin's fake input (the
// program tests/support/programs/kwin_fake_input, which a desktop file written here entitles
// to it); windows are activated by a KWin script loaded over D-Bus; the clipboard is read
// through KWin's data-control.
class KdeSession : public DesktopSession {
  public:
    KdeSession();

    bool key(int code, bool pressed) override;
    bool activate(pid_t pid) override;
    // The CLIPBOARD's text as another program reads it (wl-paste); nothing when empty.
    static std::optional<std::string> clipboard();

  private:
    std::unique_ptr<DesktopProgram> fakeInput_;
};

}  // namespace vurin::testing
