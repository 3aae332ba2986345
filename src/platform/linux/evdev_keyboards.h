#pragma once

#include <optional>
#include <string>

namespace vurin {

// What the device at `path` calls itself, when this user may open it for reading, it reports
// `evdevCode` as a key, and it is not one of Vurin's own devices (own_input_devices.h); nothing
// otherwise, without a word: most nodes belong to other users, and the caller logs what the
// outcome means.
std::optional<std::string> readableKeyboardName(const std::string& path, int evdevCode);

}  // namespace vurin
