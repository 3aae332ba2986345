#pragma once

#include "app/app_services.h"

namespace vurin {

// The real installation checks of the local services: the executables in their search
// folders, the whisper model file and the ollama model's manifest.
LocalServiceProbes installedLocalServiceProbes();

}  // namespace vurin
