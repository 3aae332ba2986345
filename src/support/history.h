#pragma once

#include <nlohmann/json.hpp>
#include <system_error>

namespace vurin {

// Appends `record` (a JSON object) to history.jsonl as one compact line, non-ASCII text as
// UTF-8. The file is created owner-only (0600) and the configuration folder made private.
// Best effort: a record that cannot be serialised (invalid UTF-8) or a failing write loses
// this one line silently. Safe from any thread; concurrent appends never interleave.
void appendHistory(const nlohmann::json& record);

// Deletes the history file if it exists. Succeeds (an empty error code) when there was no
// file; otherwise the error of the deletion, for the caller to show.
[[nodiscard]] std::error_code clearHistoryFile();

}  // namespace vurin
