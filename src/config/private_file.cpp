#include "config/private_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "config/config.h"

namespace vurin {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.release();
    }
    return *this;
}

int UniqueFd::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

bool UniqueFd::close() {
    if (fd_ < 0) {
        return true;
    }
    // Linux releases the descriptor even when close reports EINTR, so it is never retried.
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    return closed;
}

namespace {

std::filesystem::path folderOf(const std::filesystem::path& target) {
    const auto parent = target.parent_path();
    return parent.empty() ? std::filesystem::path(".") : parent;
}

// Makes the rename itself durable, not only the file's content.
void syncFolder(const std::filesystem::path& folder) {
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid()) {
        ::fsync(fd.get());
    }
}

}  // namespace

std::optional<PrivateTempFile> createPrivateTempFile(const std::filesystem::path& target) {
    std::string pattern =
        (folderOf(target) / ("." + target.filename().string() + ".tmp-XXXXXX")).string();
    // mkostemp opens with O_CREAT | O_EXCL and mode 0600, so no other user can ever open the
    // file, and a name planted by someone else is never reused.
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    return PrivateTempFile{UniqueFd(fd), std::filesystem::path(pattern)};
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

bool writeFilePrivateAtomically(const std::filesystem::path& path, std::string_view bytes) {
    auto temp = createPrivateTempFile(path);
    if (!temp) {
        return false;
    }
    bool complete = writeAll(temp->fd.get(), bytes) && ::fsync(temp->fd.get()) == 0;
    complete = temp->fd.close() && complete;
    if (complete && ::rename(temp->path.c_str(), path.c_str()) == 0) {
        syncFolder(folderOf(path));
        return true;
    }
    ::unlink(temp->path.c_str());
    return false;
}

// Plain reads rather than a stream, which throws when the path turns out to be a folder.
std::optional<std::string> readWholeFile(const std::filesystem::path& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
        return std::nullopt;
    }
    std::string bytes;
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got == 0) {
            return bytes;
        }
        if (got < 0 && errno != EINTR) {
            return std::nullopt;
        }
        if (got > 0) {
            bytes.append(buffer, static_cast<std::size_t>(got));
        }
    }
}

}  // namespace vurin
