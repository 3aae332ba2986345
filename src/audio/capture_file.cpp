#include "audio/capture_file.h"

#include <sndfile.h>

namespace vurin {

std::shared_ptr<CaptureFile> CaptureFile::create(const std::filesystem::path& path,
                                                 AudioFormat format, std::string& error) {
    SF_INFO info{};
    info.samplerate = format.sampleRate;
    info.channels = format.channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        error = sf_strerror(nullptr);
        return nullptr;
    }
    return std::shared_ptr<CaptureFile>(new CaptureFile(file));
}

CaptureFile::~CaptureFile() {
    close();
}

void CaptureFile::append(const float* samples, std::size_t frames) {
    std::lock_guard guard(mutex_);
    if (file_ == nullptr || !writeError_.empty() || frames == 0) {
        return;
    }
    const auto count = static_cast<sf_count_t>(frames);
    if (sf_writef_float(file_, samples, count) != count) {
        // A full disk: keep what was written, and say so when the recording ends.
        writeError_ = sf_strerror(file_);
    }
}

void CaptureFile::close() {
    std::lock_guard guard(mutex_);
    closeLocked();
}

void CaptureFile::closeLocked() {
    if (file_ == nullptr) {
        return;
    }
    const int result = sf_close(file_);
    file_ = nullptr;
    if (result != 0 && writeError_.empty()) {
        writeError_ = sf_error_number(result);
    }
}

std::string CaptureFile::writeError() const {
    std::lock_guard guard(mutex_);
    return writeError_;
}

}  // namespace vurin
