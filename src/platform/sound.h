#pragma once

#include <string>

namespace vurin {

// Plays the short cue sounds. Called on the main thread only.
class SoundOutput {
  public:
    virtual ~SoundOutput() = default;

    // Starts the cue `soundName` ("Pop", "Bottle", "Glass", "Basso" or "Tink") at `volume`
    // (greater than 0, at most 1) and returns at once; cues may overlap. False when the name
    // is unknown or there is no sound at all; a cue that fails to start later says so in one
    // line.
    virtual bool play(const std::string& soundName, float volume) = 0;
};

}  // namespace vurin
