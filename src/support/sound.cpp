#include "support/sound.h"

#include <mutex>
#include <utility>

#include "support/language.h"

namespace vurin {

namespace {

struct InstalledSound {
    std::shared_ptr<SoundOutput> output;
    std::weak_ptr<MainQueue> mainQueue;
};

std::mutex& installedLock() {
    static std::mutex lock;
    return lock;
}

InstalledSound& installed() {
    static InstalledSound sound;
    return sound;
}

InstalledSound currentlyInstalled() {
    std::lock_guard guard(installedLock());
    return installed();
}

// Main thread only. The output is looked up when the cue plays, so a cue posted before the
// output was removed plays nothing.
void playOnMain(const std::string& name, float volume) {
    if (auto output = currentlyInstalled().output) {
        output->play(name, volume);
    }
}

}  // namespace

void installSoundOutput(std::shared_ptr<SoundOutput> output, std::shared_ptr<MainQueue> mainQueue) {
    std::lock_guard guard(installedLock());
    installed() = InstalledSound{std::move(output), mainQueue};
}

void playSound(const std::string& name) {
    const float volume = soundVolume();
    if (!(volume > 0.0f)) {
        return;
    }
    const InstalledSound sound = currentlyInstalled();
    auto queue = sound.mainQueue.lock();
    if (!sound.output || !queue) {
        return;
    }
    if (queue->isMainThread()) {
        sound.output->play(name, volume);
        return;
    }
    queue->post([name, volume] { playOnMain(name, volume); });
}

}  // namespace vurin
