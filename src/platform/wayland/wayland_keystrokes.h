#pragma once

#include <memory>
#include <string>

#include "platform/keystroke_paths.h"
#include "platform/keystrokes.h"

namespace vurin {

class RemoteDesktopKeystrokes;

// The keystroke path a Wayland session uses, chosen once at start: the first that works of the
// virtual keyboard (the compositor offers it and accepts ours), the RemoteDesktop portal (it
// offers a keyboard; the session itself starts at the first need) and uinput (the device could
// be made). With none, every stroke is refused with one log line naming what the desktop offers.
class WaylandKeystrokes : public KeystrokeSender {
  public:
    enum class Path { virtualKeyboard, remoteDesktop, uinput, none };

    // `mustTypeText`: the text cannot be pasted (no clipboard to borrow), so only a path that
    // can type text will do.
    static std::shared_ptr<WaylandKeystrokes> choose(const WaylandKeystrokePaths& offered,
                                                     bool mustTypeText);

    Path path() const { return path_; }
    // For the start-up line and the permission row ("虚拟键盘协议", "无").
    std::string pathName() const;
    // The user declined the RemoteDesktop portal's request (no path is left then).
    bool denied() const;
    // Lets the RemoteDesktop portal ask the user now, ahead of the first stroke (no-op on the
    // other paths).
    void prepare() override;

    bool post(Keystroke keystroke) override;
    bool typeText(const std::string& text) override;

  private:
    WaylandKeystrokes(Path path, std::shared_ptr<KeystrokeSender> sender, std::string offered);

    const Path path_;
    const std::shared_ptr<KeystrokeSender> sender_;
    const std::string offered_;
};

}  // namespace vurin
