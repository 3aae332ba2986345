#include "settings_ui/local_models_installer.h"

#include "settings_ui/desktop_launch.h"
#include "settings_ui/installer_script.h"

namespace vurin {

std::string_view localModelsInstallerScript() {
    return generated::kLocalModelsInstallerScript;
}

std::string localModelsInstallCommand(const std::filesystem::path& script) {
    return "bash " + shellQuote(script.string());
}

}  // namespace vurin
