#pragma once

#include <memory>
#include <string>

#include "platform/keystroke_paths.h"
#include "platform/keystrokes.h"

namespace vurin {

class RemoteDesktopKeystrokes;
class VirtualKeyboardKeystrokes;
class UinputKeystrokes;

// The keystroke path of a Wayland session, chosen at the first need and again whenever the one in
// use can no longer deliver: the first that works of the virtual keyboard (the compositor offers
// it and accepts ours), the RemoteDesktop portal (asked at start whether it offers a keyboard,
// which starts a portal that is not running yet; its session and consent come at the first
// need) and uinput (a device made at start, so that the compositor knows it before the first
// stroke). With none, every request is refused with one log line naming what the desktop
// offers. Main thread only; a request's `done` may run on the RemoteDesktop thread.
class WaylandKeystrokes : public KeystrokeSender {
  public:
    enum class Path { virtualKeyboard, remoteDesktop, uinput, none };

    static std::shared_ptr<WaylandKeystrokes> create(const WaylandKeystrokePaths& offered);
    ~WaylandKeystrokes() override;

    // The path in use, or the one the next need will try first.
    Path path() const;
    // For the start-up line and the permission row ("虚拟键盘协议", "无").
    std::string pathName() const;
    static std::string pathName(Path path);
    // The user declined the RemoteDesktop portal's request (no path is left then).
    bool denied() const;
    // Chooses the path now and lets the RemoteDesktop portal ask the user, ahead of the first
    // stroke.
    void prepare() override;

    void send(Keystroke keystroke, std::size_t count, std::chrono::microseconds interval,
              Done done) override;
    void type(const std::string& text, Done done) override;

  private:
    explicit WaylandKeystrokes(const WaylandKeystrokePaths& offered);
    // The sender for the next request, choosing again when the one in use cannot deliver; null
    // (after one log line) when there is none.
    KeystrokeSender* choose();
    bool usable(Path path) const;
    KeystrokeSender* senderFor(Path path) const;

    const WaylandKeystrokePaths offered_;
    const std::string offeredNames_;
    std::unique_ptr<VirtualKeyboardKeystrokes> virtualKeyboard_;
    bool virtualKeyboardFailed_ = false;
    std::unique_ptr<RemoteDesktopKeystrokes> remoteDesktop_;
    std::unique_ptr<UinputKeystrokes> uinput_;
    Path inUse_ = Path::none;
};

}  // namespace vurin
