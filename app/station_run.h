// SPDX-License-Identifier: MIT
// A test station without a window: vorla-selftest with --slot, --station
// FILE.json or --simulate N.
#pragma once

#include <QStringList>

namespace vorla {

// Runs the station the command line describes; the exit status. Makes the
// application object itself.
int RunStationProgram(int& argc, char** argv, const QStringList& arguments);

}  // namespace vorla
