// SPDX-License-Identifier: MIT
// A test station without a window: vorla-selftest with --slot, --station
// FILE.json or --simulate N.
#pragma once

#include <memory>
#include <vector>

#include <QStringList>

#include "app/station_options.h"

namespace vorla::sim {
class ChipThread;
}

namespace vorla {

// The virtual station's chips, each on a pseudo-terminal of its own (and a
// thread of its own, so that the station's loop never stalls a chip); the
// slots' devices become theirs. False (and why) when one cannot start.
bool StartVirtualChips(StationCommandLine& c, std::vector<std::unique_ptr<sim::ChipThread>>& chips, QString* why);

// Runs the station the command line describes; the exit status. Makes the
// application object itself.
int RunStationProgram(int& argc, char** argv, const QStringList& arguments);

}  // namespace vorla
