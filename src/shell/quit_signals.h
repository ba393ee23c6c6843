// Ending the desktop application from outside: SIGTERM, SIGINT and SIGHUP reach the Qt event
// loop as a call on the main thread, so the window can end its run as File > Exit would.
#pragma once

#include <functional>

class QObject;

namespace korvane::shell {

// Installs the signal handlers; `quit` runs on the main thread (owned by `parent`) once per
// signal received. False when the handlers could not be installed.
bool QuitOnSignals(QObject* parent, std::function<void()> quit);

}  // namespace korvane::shell
