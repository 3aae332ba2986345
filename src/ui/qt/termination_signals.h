#pragma once

namespace vurin {

// Turns SIGTERM, SIGINT and SIGHUP into an orderly end of the Qt event loop, so the shutdown
// sequence (local services stopped, phone server closed) runs instead of the process dying.
// Call once, after the QApplication exists.
void quitEventLoopOnTerminationSignals();

}  // namespace vurin
