#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/keystroke_paths.h"

namespace vurin {

// The lines that hand the trigger key to `vurin --trigger` in a compositor's configuration.
struct CompositorBindingLines {
    std::vector<std::string> sway;
    std::vector<std::string> hyprland;
};

// `keyName` is the key's keysym name ("F13"); `program` is what the compositor runs.
CompositorBindingLines compositorBindingLines(const std::string& keyName,
                                              const std::string& program);

// What the permission window and its help page say in a Wayland session.
struct WaylandPermissionHelp {
    WaylandKeystrokePaths offered;
    // The lines for the trigger key configured now.
    std::function<CompositorBindingLines()> bindingLines;
};

// The offered paths in the interface language, joined; empty when there is none.
std::string offeredKeystrokePathsText(const WaylandKeystrokePaths& offered);
// The permission window's note: no paste on Wayland yet, and what this desktop offers.
std::string waylandKeystrokeNote(const WaylandKeystrokePaths& offered);
// The help page's Wayland sections (HTML): keystroke paths, then trigger sources and bindings.
std::string waylandHelpSections(const WaylandPermissionHelp& help);

}  // namespace vurin
