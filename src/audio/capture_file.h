#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "audio/audio_convert.h"
#include "platform/audio_capture.h"

namespace vurin {

// The file of one recording, written as the capture delivers: 16 kHz mono 16-bit WAV, converted
// from the source's own rate and channel count on the way, so it is complete the moment the
// capture ends. Fed from the capture thread and closed by whoever finishes first.
class CaptureFile {
  public:
    // Creates (or truncates) `path`. Null, with `error` set, when the file cannot be made.
    static std::shared_ptr<CaptureFile> create(const std::filesystem::path& path,
                                               AudioFormat format, std::string& error);
    CaptureFile(const CaptureFile&) = delete;
    CaptureFile& operator=(const CaptureFile&) = delete;

    // Appends interleaved frames. Ignored after close() or after a failed write.
    void append(const float* samples, std::size_t frames);

    // Completes the file and closes it; later appends are ignored. Idempotent.
    void close();

    // The seconds of audio the closed file holds (0: none, and the file is gone).
    double seconds() const;
    // The level of its loudest sample in dBFS (-120: silence, or nothing).
    float peakDBFS() const;
    // The first write or close failure, or empty.
    std::string writeError() const;

  private:
    explicit CaptureFile(std::unique_ptr<Downsampler16k> converter)
        : converter_(std::move(converter)) {}

    mutable std::mutex mutex_;
    std::unique_ptr<Downsampler16k> converter_;
    bool closed_ = false;
    double seconds_ = 0;
};

}  // namespace vurin
