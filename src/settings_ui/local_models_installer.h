#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace vurin {

// The bash script that installs the missing local components (scripts/install-local-models,
// built into the program).
std::string_view localModelsInstallerScript();

// The command line that runs the script at `script` with bash, the path quoted so that no
// character of it (a quote in a home folder's name, say) can end the word or run anything.
std::string localModelsInstallCommand(const std::filesystem::path& script);

}  // namespace vurin
