#include "platform/linux/pulse_capture_stream.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "support/log.h"

namespace vurin {

namespace {

// Small fragments: the server hands over audio every 10 ms, so the first audio arrives soon
// after the trigger is pressed and little is still in flight when it is released.
constexpr pa_usec_t kFragmentUsec = 10 * PA_USEC_PER_MSEC;

}  // namespace

PulseCaptureStream::PulseCaptureStream(std::shared_ptr<PulseConnection> connection,
                                       Handlers handlers)
    : connection_(std::move(connection)), handlers_(std::move(handlers)) {}

PulseCaptureStream::~PulseCaptureStream() {
    close();
}

bool PulseCaptureStream::connect(const std::string& sourceName, AudioFormat format,
                                 std::string& error) {
    pa_sample_spec spec{};
    spec.format = PA_SAMPLE_FLOAT32LE;
    spec.rate = static_cast<uint32_t>(format.sampleRate);
    spec.channels = static_cast<uint8_t>(format.channels);
    if (format.channels < 1 || format.channels > static_cast<int>(PA_CHANNELS_MAX) ||
        !pa_sample_spec_valid(&spec)) {
        error = "unsupported sample format";
        return false;
    }
    sourceName_ = sourceName;
    frameBytes_ = pa_frame_size(&spec);
    {
        PulseMainloopLock lock(connection_->mainloop());
        PulseProplist properties;
        // No media.role: "phone" is what switches a Bluetooth headset into its call profile.
        pa_proplist_sets(properties.get(), PA_PROP_MEDIA_NAME, "Dictation");
        stream_ = pa_stream_new_with_proplist(connection_->context(), "Vurin dictation", &spec,
                                              nullptr, properties.get());
        if (stream_ == nullptr) {
            error = connection_->lastError();
            return false;
        }
        pa_stream_set_state_callback(stream_, &PulseCaptureStream::onState, this);
        pa_stream_set_read_callback(stream_, &PulseCaptureStream::onRead, this);
        pa_buffer_attr attributes{};
        attributes.maxlength = static_cast<uint32_t>(-1);
        attributes.tlength = attributes.prebuf = attributes.minreq = static_cast<uint32_t>(-1);
        attributes.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(kFragmentUsec, &spec));
        // DONT_MOVE: when the source goes away the capture ends, instead of being carried off to
        // whatever source the server picks next (possibly a headset in call mode).
        const auto flags =
            static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
        if (pa_stream_connect_record(stream_, sourceName.c_str(), &attributes, flags) < 0) {
            error = connection_->lastError();
            return false;
        }
    }
    const bool settled = connection_->waitFor([this] {
        const auto state = state_.load();
        return state == PA_STREAM_READY || state == PA_STREAM_FAILED ||
               state == PA_STREAM_TERMINATED;
    });
    PulseMainloopLock lock(connection_->mainloop());
    if (settled && state_.load() == PA_STREAM_READY) {
        logIfSuspended();
        return true;
    }
    error =
        settled || connection_->hasFailed() ? connection_->lastError() : "sound server timed out";
    return false;
}

void PulseCaptureStream::logIfSuspended() {
    if (pa_stream_is_suspended(stream_) == 1) {
        log("⚠️ 录音设备处于挂起状态,可能录不到声音:" + sourceName_);
    }
}

void PulseCaptureStream::requestStop() {
    PulseMainloopLock lock(connection_->mainloop());
    if (stream_ == nullptr || stopping_ || ended_) {
        return;
    }
    stopping_ = true;
    // Corking answers only after the server has sent everything captured before it, so what
    // is readable when the answer comes is the whole recording.
    cork_.reset(pa_stream_cork(stream_, 1, &PulseCaptureStream::onCorked, this));
    if (!cork_.valid()) {
        readAvailable();
        end(connection_->lastError());
    }
}

void PulseCaptureStream::close() {
    PulseMainloopLock lock(connection_->mainloop());
    cork_.reset();
    if (stream_ == nullptr) {
        return;
    }
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    const pa_stream_state_t state = pa_stream_get_state(stream_);
    if (state == PA_STREAM_READY || state == PA_STREAM_CREATING) {
        pa_stream_disconnect(stream_);
    }
    pa_stream_unref(stream_);
    stream_ = nullptr;
}

void PulseCaptureStream::onState(pa_stream* stream, void* self) {
    auto* capture = static_cast<PulseCaptureStream*>(self);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    capture->state_.store(state);
    if (state == PA_STREAM_READY) {
        capture->running_ = true;
    } else if ((state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) && capture->running_) {
        capture->readAvailable();
        capture->end(capture->connection_->lastError());
    }
    capture->connection_->notify();
}

void PulseCaptureStream::onRead(pa_stream*, std::size_t, void* self) {
    static_cast<PulseCaptureStream*>(self)->readAvailable();
}

void PulseCaptureStream::onCorked(pa_stream*, int success, void* self) {
    auto* capture = static_cast<PulseCaptureStream*>(self);
    capture->readAvailable();
    capture->end(success ? std::string() : capture->connection_->lastError());
}

void PulseCaptureStream::readAvailable() {
    while (stream_ != nullptr && pa_stream_readable_size(stream_) > 0) {
        const void* data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(stream_, &data, &bytes) < 0 || bytes == 0) {
            return;
        }
        const std::size_t frames = bytes / frameBytes_;
        if (frames > 0 && !ended_) {
            // Copied so the handler gets aligned whole frames whatever the server's block.
            buffer_.resize(frames * frameBytes_ / sizeof(float));
            if (data != nullptr) {
                std::memcpy(buffer_.data(), data, frames * frameBytes_);
            } else {
                // A hole: the source delivered nothing for that stretch (an idle or suspended
                // device). It is written as silence so the recording keeps its real length.
                std::fill(buffer_.begin(), buffer_.end(), 0.0f);
            }
            handlers_.onFrames(buffer_.data(), frames);
        }
        pa_stream_drop(stream_);
    }
}

void PulseCaptureStream::end(const std::string& error) {
    if (ended_) {
        return;
    }
    ended_ = true;
    if (handlers_.onEnded) {
        handlers_.onEnded(error);
    }
}

}  // namespace vurin
