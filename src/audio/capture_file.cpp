#include "audio/capture_file.h"

#include "audio/peak_level.h"

namespace vurin {

std::shared_ptr<CaptureFile> CaptureFile::create(const std::filesystem::path& path,
                                                 AudioFormat format, std::string& error) {
    auto converter = Downsampler16k::create(path, format.sampleRate, format.channels, error);
    if (!converter) {
        return nullptr;
    }
    return std::shared_ptr<CaptureFile>(new CaptureFile(std::move(converter)));
}

void CaptureFile::append(const float* samples, std::size_t frames) {
    std::lock_guard guard(mutex_);
    // A full disk: what was written is kept, and the end of the recording says so.
    if (closed_ || frames == 0 || !converter_->writeError().empty()) {
        return;
    }
    converter_->append(samples, frames);
}

void CaptureFile::close() {
    std::lock_guard guard(mutex_);
    if (!closed_) {
        closed_ = true;
        seconds_ = converter_->finish();
    }
}

double CaptureFile::seconds() const {
    std::lock_guard guard(mutex_);
    return seconds_;
}

float CaptureFile::peakDBFS() const {
    std::lock_guard guard(mutex_);
    return dBFSOfPeak(converter_->peakSample());
}

std::string CaptureFile::writeError() const {
    std::lock_guard guard(mutex_);
    return converter_->writeError();
}

}  // namespace vurin
