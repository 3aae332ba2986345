#pragma once

#include <memory>
#include <string>

#include "platform/custom_shortcuts.h"

namespace vurin {

// GNOME's custom keyboard shortcuts through GSettings, where its keyboard settings keep them:
// the list `custom-keybindings` of org.gnome.settings-daemon.plugins.media-keys names one settings
// path per shortcut, each holding name, command and binding. gsd-media-keys follows the changes
// and grabs the keys.
class GnomeCustomShortcuts : public CustomShortcuts {
  public:
    // Nothing, with `why` set, where GNOME's settings daemon schema is not installed or settings
    // would not be kept (no dconf, so GSettings would hold them in memory only).
    static std::shared_ptr<GnomeCustomShortcuts> open(std::string* why = nullptr);
    ~GnomeCustomShortcuts() override;
    GnomeCustomShortcuts(const GnomeCustomShortcuts&) = delete;
    GnomeCustomShortcuts& operator=(const GnomeCustomShortcuts&) = delete;

    std::vector<CustomShortcut> list() override;
    bool put(const CustomShortcut& shortcut) override;
    bool remove(const std::string& id) override;
    std::vector<std::string> builtInUses(const std::string& binding) override;
    std::vector<std::string> releasedBuiltIns(const std::string& binding) override;
    bool releaseBuiltIn(const std::string& setting, const std::string& binding) override;
    bool restoreBuiltIn(const std::string& setting) override;

  private:
    struct Impl;
    explicit GnomeCustomShortcuts(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace vurin
