#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vurin {

// Owns a POSIX file descriptor and closes it when released.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { close(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release();
    // Closes now and tells whether the close succeeded (a late write error shows up here).
    bool close();

  private:
    int fd_ = -1;
};

struct PrivateTempFile {
    UniqueFd fd;
    std::filesystem::path path;
};

// Creates a new, empty file beside `target` (same folder, so renaming it over the target is
// atomic) that only the owner can read or write from the moment it exists.
std::optional<PrivateTempFile> createPrivateTempFile(const std::filesystem::path& target);

// Writes all of `bytes`, continuing after interruptions and short writes.
bool writeAll(int fd, std::string_view bytes);

// The whole content of a file, or nothing when it cannot be opened or read (a folder included).
std::optional<std::string> readWholeFile(const std::filesystem::path& path);

}  // namespace vurin
