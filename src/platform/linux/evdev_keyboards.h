#pragma once

#include <string>
#include <vector>

namespace vurin {

struct EvdevKeyboard {
    std::string path;  // "/dev/input/event3"
    std::string name;  // what the device calls itself
};

// The /dev/input/event* nodes this user may open for reading that report `evdevCode` as a key,
// in path order. Nodes that cannot be opened or queried are left out without a word: most of
// them belong to other users, and the caller logs what the list means.
std::vector<EvdevKeyboard> readableKeyboards(int evdevCode);

}  // namespace vurin
