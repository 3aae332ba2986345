#include "platform/linux/sound_canberra.h"

#include <canberra.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>

#include "support/log.h"

namespace vurin {

namespace {

class Proplist {
  public:
    Proplist() { ca_proplist_create(&list_); }
    ~Proplist() {
        if (list_ != nullptr) {
            ca_proplist_destroy(list_);
        }
    }
    Proplist(const Proplist&) = delete;
    Proplist& operator=(const Proplist&) = delete;

    ca_proplist* get() const { return list_; }

  private:
    ca_proplist* list_ = nullptr;
};

void logFailure(const std::string& soundName, int error) {
    log("⚠️ 提示音播放失败: " + soundName + " (" + ca_strerror(error) + ")");
}

const std::map<std::string, std::string>& eventIds() {
    static const std::map<std::string, std::string> ids = {
        {"Pop", "bell"},           {"Bottle", "message"},           {"Glass", "complete"},
        {"Basso", "dialog-error"}, {"Tink", "audio-volume-change"},
    };
    return ids;
}

}  // namespace

std::string canberraEventId(const std::string& soundName) {
    const auto found = eventIds().find(soundName);
    return found == eventIds().end() ? std::string() : found->second;
}

std::string canberraDecibels(float volume) {
    // Formatted with the process's numeric locale on purpose: libcanberra parses the value
    // with strtod, which reads the same locale's decimal separator.
    char text[32];
    std::snprintf(text, sizeof text, "%.2f",
                  20.0 * std::log10(std::min(1.0, static_cast<double>(volume))));
    return text;
}

CanberraSoundOutput::CanberraSoundOutput() {
    if (ca_context_create(&context_) != CA_SUCCESS) {
        context_ = nullptr;
        return;
    }
    ca_context_change_props(context_, CA_PROP_APPLICATION_NAME, "Vurin", CA_PROP_APPLICATION_ID,
                            "com.vurin.app", nullptr);
    starter_ = std::thread([this] { run(); });
}

CanberraSoundOutput::~CanberraSoundOutput() {
    if (context_ == nullptr) {
        return;
    }
    {
        std::lock_guard guard(queueLock_);
        stopping_ = true;  // cues not started yet are not started at the exit
    }
    queued_.notify_all();
    starter_.join();
    {
        // Cues last about a second; a backend that never reports the end does not hold up
        // the exit for longer than that.
        std::unique_lock lock(playingLock_);
        playingEnded_.wait_for(lock, std::chrono::seconds(2), [this] { return playing_ == 0; });
    }
    ca_context_destroy(context_);
}

void CanberraSoundOutput::finished(ca_context*, uint32_t, int, void* self) {
    auto* output = static_cast<CanberraSoundOutput*>(self);
    {
        std::lock_guard guard(output->playingLock_);
        --output->playing_;
    }
    output->playingEnded_.notify_all();
}

bool CanberraSoundOutput::play(const std::string& soundName, float volume) {
    if (canberraEventId(soundName).empty() || !(volume > 0.0f)) {
        return false;
    }
    if (context_ == nullptr) {
        logFailure(soundName, CA_ERROR_NOTAVAILABLE);
        return false;
    }
    {
        std::lock_guard guard(queueLock_);
        queue_.emplace_back(soundName, volume);
    }
    queued_.notify_one();
    return true;
}

void CanberraSoundOutput::cacheCues() {
    for (const auto& [soundName, eventId] : eventIds()) {
        Proplist properties;
        if (properties.get() == nullptr) {
            return;
        }
        ca_proplist_sets(properties.get(), CA_PROP_EVENT_ID, eventId.c_str());
        ca_proplist_sets(properties.get(), CA_PROP_CANBERRA_CACHE_CONTROL, "permanent");
        // A sound the theme lacks or a server without a cache: the cue is said when it plays.
        ca_context_cache_full(context_, properties.get());
    }
}

void CanberraSoundOutput::run() {
    cacheCues();
    for (;;) {
        std::pair<std::string, float> cue;
        {
            std::unique_lock lock(queueLock_);
            queued_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_) {
                return;
            }
            cue = std::move(queue_.front());
            queue_.pop_front();
        }
        start(cue.first, canberraEventId(cue.first), cue.second);
    }
}

void CanberraSoundOutput::start(const std::string& soundName, const std::string& eventId,
                                float volume) {
    Proplist properties;
    if (properties.get() == nullptr) {
        logFailure(soundName, CA_ERROR_OOM);
        return;
    }
    ca_proplist_sets(properties.get(), CA_PROP_EVENT_ID, eventId.c_str());
    ca_proplist_sets(properties.get(), CA_PROP_CANBERRA_VOLUME, canberraDecibels(volume).c_str());
    ca_proplist_sets(properties.get(), CA_PROP_CANBERRA_CACHE_CONTROL, "permanent");
    {
        std::lock_guard guard(playingLock_);
        ++playing_;
    }
    const int result =
        ca_context_play_full(context_, 0, properties.get(), &CanberraSoundOutput::finished, this);
    if (result != CA_SUCCESS) {
        // No callback comes for a cue that did not start.
        {
            std::lock_guard guard(playingLock_);
            --playing_;
        }
        playingEnded_.notify_all();
        logFailure(soundName, result);
    }
}

}  // namespace vurin
