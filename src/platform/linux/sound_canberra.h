#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/sound.h"

struct ca_context;

namespace vurin {

// Plays the cues as freedesktop theme sounds through libcanberra (PulseAudio/PipeWire).
class CanberraSoundOutput : public SoundOutput {
  public:
    CanberraSoundOutput();
    ~CanberraSoundOutput() override;
    CanberraSoundOutput(const CanberraSoundOutput&) = delete;
    CanberraSoundOutput& operator=(const CanberraSoundOutput&) = delete;

    bool play(const std::string& soundName, float volume) override;

  private:
    static void finished(ca_context* context, uint32_t id, int error, void* self);

    ca_context* context_ = nullptr;
    // Cues still playing. The context is destroyed only once they have ended: destroying it
    // unloads the backend module, and a backend that plays on threads of its own (ALSA) would
    // otherwise go on running code that is no longer mapped.
    std::mutex playingLock_;
    std::condition_variable playingEnded_;
    int playing_ = 0;  // guarded by playingLock_
};

// The theme sound id of a cue ("Pop" -> "bell"), or an empty string for an unknown cue.
std::string canberraEventId(const std::string& soundName);

// libcanberra's volume property: decibels relative to full volume, 20 * log10(volume).
std::string canberraDecibels(float volume);

}  // namespace vurin
