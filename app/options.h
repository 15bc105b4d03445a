// SPDX-License-Identifier: MIT
// The program's command line: which devices COM1 and COM2 open.
#pragma once

#include <QStringList>

#include "link/serial_control.h"
#include "sim/line_model.h"

namespace vorla {

struct ProgramOptions {
    PortMap ports;
    bool help = false;
    bool version = false;
    bool simulate = false;                     // run the virtual chip in-process on COM1
    sim::LineKind line = sim::LineKind::Uart;  // the virtual chip's line
    bool mute = false;                         // the virtual chip never uses the sound output
    QString recordDir;                         // the virtual chip records every utterance here
    QString error;                             // set when the command line cannot be used
};

ProgramOptions ParseProgramOptions(const QStringList& arguments);
QString UsageText();

}  // namespace vorla
