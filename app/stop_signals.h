// SPDX-License-Identifier: MIT
// Ctrl-C (SIGINT) and a termination request (SIGTERM) as a call on the event
// loop. The signal handler does only what is safe in a handler: it writes
// the signal's number to one end of a socket pair; a notifier on the other
// end makes the call when the loop next runs.
#pragma once

#include <functional>

class QObject;

namespace vorla {

// From now on SIGINT and SIGTERM call `act` with the signal, on the event
// loop of `context` (which owns the notifier). False, the signals keeping
// their default action, when the socket pair cannot be made or the signals
// are already taken. Once a program.
bool OnStopSignals(QObject* context, std::function<void(int signal)> act);

}  // namespace vorla
