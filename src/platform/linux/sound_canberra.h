#pragma once

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
    ca_context* context_ = nullptr;
};

// The theme sound id of a cue ("Pop" -> "bell"), or an empty string for an unknown cue.
std::string canberraEventId(const std::string& soundName);

// libcanberra's volume property: decibels relative to full volume, 20 * log10(volume).
std::string canberraDecibels(float volume);

}  // namespace vurin
