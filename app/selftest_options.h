// SPDX-License-Identifier: MIT
// The command line of vorla-selftest: the chip to test, the run, the
// limits, the report.
#pragma once

#include <QStringList>

#include "selftest/runner.h"
#include "sim/chip_model.h"

namespace vorla {

struct SelfTestCommandLine {
    QString device;         // the chip on this serial device
    bool simulate = false;  // the virtual chip inside the program
    sim::ChipOptions chip;  // its options
    RunOptions run;
    QStringList reportPaths;  // each gets the run's report, in its own format
    QString capturePath;      // the line's capture, written at the end
    QString timelinePath;     // the run's timeline as an SVG picture, written at the end
    bool help = false;
    bool version = false;
    QString error;  // set when the command line cannot be used
};

SelfTestCommandLine ParseSelfTestCommandLine(const QStringList& arguments);
QString SelfTestUsage();

}  // namespace vorla
