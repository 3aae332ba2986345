#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/keyboard_watch.h"

namespace vurin {

class EvdevKeyReader;

// KeyboardWatch over the /dev/input/event* nodes this user may read (the `input` group, or an
// ACL the desktop grants): one reader thread per keyboard that has the key.
class EvdevKeyboardWatch : public KeyboardWatch {
  public:
    EvdevKeyboardWatch();
    ~EvdevKeyboardWatch() override;

    std::vector<std::string> start(int evdevCode, Handlers handlers) override;
    void stop() override;

  private:
    std::vector<std::unique_ptr<EvdevKeyReader>> readers_;
};

}  // namespace vurin
