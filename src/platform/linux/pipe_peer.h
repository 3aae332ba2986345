#pragma once

#include <initializer_list>

namespace vurin {

// The process, other than this one, that holds the other end of the pipe `fd` is one end of: on
// Wayland the program that asked to read the clipboard hands its pipe over, and nothing else
// names it. 0 when no other process holds it (or none that this user may look into). Every
// process's open files are searched, which takes milliseconds on a desktop: the `likely` ones
// (0s ignored) are looked at first, in order.
int pipePeerProcess(int fd, std::initializer_list<int> likely = {});

}  // namespace vurin
