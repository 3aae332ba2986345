#pragma once

#include <memory>
#include <string>

#include "platform/main_queue.h"
#include "platform/sound.h"

namespace vurin {

// Sets the output that plays cues and the main queue it must be used on. The output is kept
// until replaced; the queue is held weakly, as it belongs to the application. Passing null
// removes them, after which cues play nothing.
void installSoundOutput(std::shared_ptr<SoundOutput> output, std::shared_ptr<MainQueue> mainQueue);

// Plays one cue at the current `soundVolume()`; callable from any thread. Nothing happens at
// volume 0. Off the main thread the cue is posted to the main queue with the volume of the
// moment of the request.
void playSound(const std::string& name);

}  // namespace vurin
