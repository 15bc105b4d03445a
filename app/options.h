// SPDX-License-Identifier: MIT
// The program's command line: which devices COM1 and COM2 open.
#pragma once

#include <QStringList>

#include "serial/serial_control.h"
#include "sim/chip_model.h"

namespace vorla {

struct ProgramOptions {
    PortMap ports;
    bool help = false;
    bool version = false;
    bool simulate = false;  // run the virtual chip in-process on COM1
    QString capturePath;    // the line's capture, written when the window closes
    // The virtual chip's line, whether it never uses the sound output, and
    // where it records every utterance.
    sim::ChipOptions chip;
    QString error;  // set when the command line cannot be used
};

ProgramOptions ParseProgramOptions(const QStringList& arguments);
QString UsageText();

}  // namespace vorla
