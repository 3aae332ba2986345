#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "platform/audio_capture.h"

struct sf_private_tag;

namespace vurin {

// The capture file of one recording: a WAV file of 32-bit float frames in the source's own rate
// and channel count, fed from the capture thread and closed by whoever finishes first.
class CaptureFile {
  public:
    // Creates (or truncates) `path`. Null, with `error` set, when the file cannot be made.
    static std::shared_ptr<CaptureFile> create(const std::filesystem::path& path,
                                               AudioFormat format, std::string& error);
    ~CaptureFile();
    CaptureFile(const CaptureFile&) = delete;
    CaptureFile& operator=(const CaptureFile&) = delete;

    // Appends interleaved frames. Ignored after close() or after a failed write.
    void append(const float* samples, std::size_t frames);

    // Completes the header and closes the file; later appends are ignored. Idempotent.
    void close();

    // The first write or close failure, or empty.
    std::string writeError() const;

  private:
    explicit CaptureFile(sf_private_tag* file) : file_(file) {}
    void closeLocked();

    mutable std::mutex mutex_;
    sf_private_tag* file_;
    std::string writeError_;
};

}  // namespace vurin
