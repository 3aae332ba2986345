#pragma once

#include "platform/audio_capture.h"

namespace vurin {

// A source that can record a voice: it has input channels and is not a monitor, which records
// what the speakers play.
bool hasInput(const AudioSourceInfo& source);

// The computer's own microphone: the first source in server order that is not a monitor, has
// input channels, is not a Bluetooth device, and whose form factor is "internal" or whose bus is
// "pci". Null when there is none.
const AudioSourceInfo* findBuiltInSource(const AudioSourceList& list);

// The source the server names as default, when it is in the list, has input channels and is
// not a monitor.
const AudioSourceInfo* findDefaultSource(const AudioSourceList& list);

struct CaptureSourceChoice {
    const AudioSourceInfo* source = nullptr;  // null: nothing to record from
    bool builtInMissing = false;              // built-in asked for, default used instead
};

// The source a recording uses: the built-in microphone when asked for and present, else the
// default source.
CaptureSourceChoice chooseCaptureSource(const AudioSourceList& list, bool useBuiltInMic);

}  // namespace vurin
