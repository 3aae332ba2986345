#include "support/history.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "config/config.h"
#include "config/private_file.h"

namespace vurin {

namespace {

// Serialises appends with each other and with clearing, so a clear never lands between the
// opening of the file and its write.
std::mutex& historyWriteLock() {
    static std::mutex lock;
    return lock;
}

std::optional<std::string> historyLine(const nlohmann::json& record) {
    if (!record.is_object()) {
        return std::nullopt;
    }
    try {
        return record.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict) + "\n";
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;  // a string that is not valid UTF-8
    }
}

}  // namespace

void appendHistory(const nlohmann::json& record) {
    std::lock_guard guard(historyWriteLock());
    const auto line = historyLine(record);
    if (!line) {
        return;
    }
    ensurePrivateConfigDirectory();
    // Created with mode 0600 in the same call that creates it: the file, which may hold the
    // user's dictated text, is never readable by others, not even for a moment. O_APPEND
    // with a single write keeps each line whole, even against another process.
    UniqueFd fd(::open(historyURL().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
    if (!fd.valid()) {
        return;
    }
    writeAll(fd.get(), *line);
    // An older file may still carry wider permissions.
    ::fchmod(fd.get(), 0600);
}

std::error_code clearHistoryFile() {
    std::lock_guard guard(historyWriteLock());
    std::error_code error;
    std::filesystem::remove(historyURL(), error);
    return error;
}

}  // namespace vurin
