// SPDX-License-Identifier: MIT
// The virtual chip's options on a command line, one set shared by the
// programs that run it (vorla-demo --simulate, vorla-chipsim and
// vorla-selftest --simulate), each value checked here once.
#pragma once

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include "sim/chip_model.h"

namespace vorla::sim {

// Which of the chip's options a program takes.
enum ChipOptionSet : unsigned {
    kChipSpeed = 1,   // --speed
    kChipLine = 2,    // --line
    kChipVoice = 4,   // --mute, --record
    kChipFaults = 8,  // --reject-next ... --reply-delay
    kChipBaud = 16,   // --baud, the rate it starts at
};

void AddChipOptions(QCommandLineParser& parser, unsigned sets);
// What the command line gives, into `chip`. False, with `error` set, for a
// value an option cannot take; `given` tells whether any of them was given.
bool ReadChipOptions(const QCommandLineParser& parser, unsigned sets, ChipOptions& chip, QString* error, bool* given);
// The fault options' lines of a program's --help.
QString ChipFaultUsage();
// The faults `chip` has, as on a command line: "--reject-next 1",
// "--back-to-back"; none for a sound chip.
QStringList ChipFaultArguments(const ChipOptions& chip);

// A program's command line parsed as its options say; false with `error`
// set (an unknown option, a value missing) when it cannot be.
bool ParseCommandLine(QCommandLineParser& parser, const QStringList& arguments, QString* error);

}  // namespace vorla::sim
