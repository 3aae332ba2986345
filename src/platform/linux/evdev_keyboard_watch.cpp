#include "platform/linux/evdev_keyboard_watch.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/linux/evdev_key_reader.h"
#include "platform/linux/evdev_keyboards.h"

namespace vurin {

EvdevKeyboardWatch::EvdevKeyboardWatch() = default;

EvdevKeyboardWatch::~EvdevKeyboardWatch() {
    stop();
}

std::vector<std::string> EvdevKeyboardWatch::start(int evdevCode, Handlers handlers) {
    stop();
    std::vector<std::string> sources;
    for (const EvdevKeyboard& keyboard : readableKeyboards(evdevCode)) {
        const int fd = open(keyboard.path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        const std::string source =
            keyboard.name.empty() ? keyboard.path : keyboard.path + " " + keyboard.name;
        auto reader = std::make_unique<EvdevKeyReader>();
        EvdevKeyReader::Handlers readerHandlers{
            .onKey = [onKey = handlers.onKey,
                      source](const KeyGrabEvent& event) { onKey(source, event); },
            .onFailure = [onFailure = handlers.onFailure,
                          source](const KeyGrabResult& result) { onFailure(source, result); }};
        if (reader->start(fd, keyboard.path, evdevCode, std::move(readerHandlers)).status !=
            KeyGrabStatus::ok) {
            continue;
        }
        readers_.push_back(std::move(reader));
        sources.push_back(source);
    }
    return sources;
}

void EvdevKeyboardWatch::stop() {
    for (const auto& reader : readers_) {
        reader->stop();
    }
    readers_.clear();
}

}  // namespace vurin
