#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "platform/sound.h"

struct ca_context;

namespace vurin {

// Plays the cues as freedesktop theme sounds through libcanberra (PulseAudio/PipeWire). A cue is
// started on a thread of its own: libcanberra loads and uploads a sound it has not played yet
// before it returns, for milliseconds in which the main thread could not answer a paste's
// target asking for the clipboard. The cues are kept in the sound server's sample cache, uploaded
// once when the thread starts: the "Glass" of a dictation sounds while the target pastes, and
// decoding the theme's Vorbis file again for each cue took the processor from it.
class CanberraSoundOutput : public SoundOutput {
  public:
    CanberraSoundOutput();
    ~CanberraSoundOutput() override;
    CanberraSoundOutput(const CanberraSoundOutput&) = delete;
    CanberraSoundOutput& operator=(const CanberraSoundOutput&) = delete;

    bool play(const std::string& soundName, float volume) override;

  private:
    static void finished(ca_context* context, uint32_t id, int error, void* self);
    void run();
    void cacheCues();
    void start(const std::string& soundName, const std::string& eventId, float volume);

    ca_context* context_ = nullptr;
    // Cues still playing. The context is destroyed only once they have ended: destroying it
    // unloads the backend module, and a backend that plays on threads of its own (ALSA) would
    // otherwise go on running code that is no longer mapped.
    std::mutex playingLock_;
    std::condition_variable playingEnded_;
    int playing_ = 0;  // guarded by playingLock_

    std::mutex queueLock_;
    std::condition_variable queued_;
    std::deque<std::pair<std::string, float>> queue_;  // guarded by queueLock_
    bool stopping_ = false;                            // guarded by queueLock_
    std::thread starter_;
};

// The theme sound id of a cue ("Pop" -> "bell"), or an empty string for an unknown cue.
std::string canberraEventId(const std::string& soundName);

// libcanberra's volume property: decibels relative to full volume, 20 * log10(volume).
std::string canberraDecibels(float volume);

}  // namespace vurin
