#include "platform/linux/audio_capture_pulse.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <utility>

#include "platform/linux/pulse_capture_stream.h"
#include "platform/linux/pulse_connection.h"
#include "support/log.h"

namespace vurin {

namespace {

// What the two listing requests collect; written on the main-loop thread.
struct SourceListing {
    PulseConnection* connection = nullptr;
    AudioSourceList list;
    std::atomic<bool> serverDone{false};
    std::atomic<bool> sourcesDone{false};
    bool failed = false;
};

std::string property(const pa_proplist* properties, const char* key) {
    const char* value = pa_proplist_gets(properties, key);
    return value != nullptr ? value : "";
}

AudioSourceInfo describe(const pa_source_info& info) {
    AudioSourceInfo source;
    source.name = info.name != nullptr ? info.name : "";
    source.description = info.description != nullptr ? info.description : "";
    source.isMonitor = info.monitor_of_sink != PA_INVALID_INDEX;
    source.formFactor = property(info.proplist, PA_PROP_DEVICE_FORM_FACTOR);
    source.bus = property(info.proplist, PA_PROP_DEVICE_BUS);
    source.api = property(info.proplist, PA_PROP_DEVICE_API);
    source.sampleRate = static_cast<int>(info.sample_spec.rate);
    source.channels = info.sample_spec.channels;
    source.muted = info.mute != 0;
    return source;
}

void onServerInfo(pa_context*, const pa_server_info* info, void* data) {
    auto* listing = static_cast<SourceListing*>(data);
    if (info != nullptr && info->default_source_name != nullptr) {
        listing->list.defaultSourceName = info->default_source_name;
    }
    listing->serverDone.store(true);
    listing->connection->notify();
}

void onSourceInfo(pa_context*, const pa_source_info* info, int eol, void* data) {
    auto* listing = static_cast<SourceListing*>(data);
    if (eol == 0 && info != nullptr) {
        listing->list.sources.push_back(describe(*info));
        return;
    }
    listing->failed = eol < 0;
    listing->sourcesDone.store(true);
    listing->connection->notify();
}

AudioSourceList unavailable(std::string reason) {
    AudioSourceList list;
    list.status = AudioServerStatus::unavailable;
    list.reason = std::move(reason);
    return list;
}

}  // namespace

PulseAudioCapture::PulseAudioCapture(PulseCaller caller) : caller_(caller) {}
PulseAudioCapture::~PulseAudioCapture() = default;

std::shared_ptr<PulseConnection> PulseAudioCapture::connection(std::string& error) {
    std::lock_guard guard(mutex_);
    if (connection_ && !connection_->hasFailed()) {
        return connection_;
    }
    connection_ = PulseConnection::connect(
        error, caller_ == PulseCaller::mainThread ? kPulseServerTimeout : kPulseConnectTimeout);
    if (!connection_ && !failureReported_) {
        log("⚠️ 无法连接音频服务(PulseAudio/PipeWire):" + error);
    }
    failureReported_ = !connection_;
    return connection_;
}

void PulseAudioCapture::forgetConnection(const std::shared_ptr<PulseConnection>& broken) {
    std::lock_guard guard(mutex_);
    if (connection_ == broken) {
        connection_.reset();
    }
}

AudioSourceList PulseAudioCapture::listSources() {
    const auto deadline = std::chrono::steady_clock::now() + kPulseServerTimeout;
    std::string error;
    auto live = connection(error);
    if (!live) {
        return unavailable(error);
    }
    // On the main thread the connecting took its time out of the same limit.
    auto limit = kPulseServerTimeout;
    if (caller_ == PulseCaller::mainThread) {
        limit = std::max(std::chrono::milliseconds(0),
                         std::chrono::duration_cast<std::chrono::milliseconds>(
                             deadline - std::chrono::steady_clock::now()));
    }
    SourceListing listing;
    listing.connection = live.get();
    PulseOperation serverRequest;
    PulseOperation sourcesRequest;
    {
        PulseMainloopLock lock(live->mainloop());
        serverRequest.reset(pa_context_get_server_info(live->context(), onServerInfo, &listing));
        sourcesRequest.reset(
            pa_context_get_source_info_list(live->context(), onSourceInfo, &listing));
    }
    const bool answered =
        serverRequest.valid() && sourcesRequest.valid() &&
        live->waitFor([&] { return listing.serverDone.load() && listing.sourcesDone.load(); },
                      limit);
    {
        // After this no callback touches `listing` any more.
        PulseMainloopLock lock(live->mainloop());
        serverRequest.reset();
        sourcesRequest.reset();
        if (!answered || listing.failed) {
            error = live->hasFailed() || answered ? live->lastError() : "sound server timed out";
        }
    }
    if (!answered || listing.failed) {
        forgetConnection(live);
        return unavailable(error);
    }
    return std::move(listing.list);
}

AudioCaptureOpenResult PulseAudioCapture::open(const std::string& sourceName, AudioFormat format,
                                               AudioCaptureStream::Handlers handlers) {
    AudioCaptureOpenResult result;
    auto live = connection(result.error);
    if (!live) {
        return result;
    }
    auto stream = std::make_unique<PulseCaptureStream>(live, std::move(handlers));
    if (!stream->connect(sourceName, format, result.error)) {
        if (live->hasFailed()) {
            forgetConnection(live);
        }
        return result;
    }
    result.stream = std::move(stream);
    return result;
}

}  // namespace vurin
