#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace vurin {

// The folder recordings live in: $TMPDIR when set and not empty, else /tmp. Read at each call so
// tests can point it elsewhere.
std::filesystem::path recordingDirectory();

// A fresh random (version 4) UUID in its canonical upper-case text form, 8-4-4-4-12 hex digits.
std::string makeUUIDString();

// A fresh converted-file name: recordingDirectory() / "vurin-" + UUID + ".wav".
std::filesystem::path makeFileURL();

// The capture file that belongs to a converted file: the same name with the extension
// replaced by "raw.wav" ("vurin-UUID.wav" -> "vurin-UUID.raw.wav").

// True for names the clean-up owns: prefix "vurin-" and final extension exactly "wav"
// (which includes the capture files of older versions, "*.raw.wav").
bool isRecordingFileName(std::string_view fileName);

// Deletes recording files in recordingDirectory() (not recursively) last modified more than
// `olderThan` seconds ago, and those whose modification time cannot be read. Other names are
// never touched; an unreadable folder or a failed deletion is skipped silently.
void cleanupStaleRecordingFiles(double olderThan = 3600.0);

}  // namespace vurin
