#pragma once

#include <QIcon>

#include "app/application_shell.h"

namespace vurin {

// Vurin's own pictures, by the names they are installed under in the hicolor theme (so the
// desktop's panel finds them by name too), with the copies built into the program for a Vurin
// that is not installed: the application's icon and one per status.
QIcon applicationIcon();
QIcon statusIcon(StatusIcon icon);

}  // namespace vurin
