// SPDX-License-Identifier: MIT
// The command line of a test station (vorla-selftest with --slot, --station
// FILE or --simulate N, and vorla-station): the slots, the virtual chips
// with each slot's faults, and every option of a one-chip run, which each
// slot's run takes.
#pragma once

#include <map>

#include <QStringList>

#include "app/selftest_options.h"
#include "selftest/station.h"

namespace vorla {

struct StationCommandLine {
    // What a one-chip run would take: the run's options, the report, the
    // capture, the virtual chips' shared options.
    SelfTestCommandLine run;
    StationPlan station;
    int simulate = 0;                           // this many virtual chips, slots A, B, C, …
    std::map<QString, sim::ChipOptions> chips;  // each virtual slot's chip
    bool playsInTurn = false;                   // the steps that play aloud one slot at a time
    QString error;                              // set when the command line cannot be used
};

// Whether a vorla-selftest command line asks for a station: --slot,
// --slot-fault, --station FILE.json or --simulate N.
bool IsStationCommandLine(const QStringList& arguments);
StationCommandLine ParseStationCommandLine(const QStringList& arguments);
// The station's lines of --help.
QString StationUsage();
// The name of the virtual station's slot `index`: A … Z, then S27, S28, …
QString VirtualSlotName(int index);

}  // namespace vorla
