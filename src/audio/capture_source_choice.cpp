#include "audio/capture_source_choice.h"

namespace vurin {

namespace {

// A headset's microphone can claim any form factor; recording from it switches the headset into
// its low-quality call profile, so it is never taken for the computer's own microphone.
bool isBluetooth(const AudioSourceInfo& source) {
    return source.bus == "bluetooth" || source.api.starts_with("bluez");
}

bool isBuiltIn(const AudioSourceInfo& source) {
    return hasInput(source) && !isBluetooth(source) &&
           (source.formFactor == "internal" || source.bus == "pci");
}

}  // namespace

bool hasInput(const AudioSourceInfo& source) {
    return !source.isMonitor && source.channels > 0;
}

const AudioSourceInfo* findBuiltInSource(const AudioSourceList& list) {
    for (const auto& source : list.sources) {
        if (isBuiltIn(source)) {
            return &source;
        }
    }
    return nullptr;
}

const AudioSourceInfo* findDefaultSource(const AudioSourceList& list) {
    if (list.defaultSourceName.empty()) {
        return nullptr;
    }
    for (const auto& source : list.sources) {
        if (source.name == list.defaultSourceName) {
            // A monitor records what the speakers play: never the user's voice.
            return hasInput(source) ? &source : nullptr;
        }
    }
    return nullptr;
}

CaptureSourceChoice chooseCaptureSource(const AudioSourceList& list, bool useBuiltInMic) {
    CaptureSourceChoice choice;
    if (useBuiltInMic) {
        choice.source = findBuiltInSource(list);
        if (choice.source != nullptr) {
            return choice;
        }
        choice.builtInMissing = true;
    }
    choice.source = findDefaultSource(list);
    return choice;
}

}  // namespace vurin
