// SPDX-License-Identifier: MIT
// The virtual chip's fault options on a command line, shared by the
// programs that run it (vorla-chipsim, and vorla-selftest --simulate).
#pragma once

#include <QString>
#include <QStringList>

#include "sim/chip_model.h"

namespace vorla::sim {

// Options without a value: --drop-finish-reports, --back-to-back,
// --accept-malformed, --cut-lyrics.
const QStringList& ChipFlags();
// Options with one: --reject-next, --reject-rate, --seed, --stray-bytes,
// --silent-to, --reply-delay.
const QStringList& ChipValueOptions();
void SetChipFlag(const QString& option, ChipOptions& chip);
// False for a value the option cannot take.
bool SetChipValue(const QString& option, const QString& value, ChipOptions& chip);
// Their lines of a program's --help.
QString ChipFaultUsage();

}  // namespace vorla::sim
