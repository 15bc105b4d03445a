// SPDX-License-Identifier: MIT
#include "conversation/exchange.h"

namespace vorla {

bool AllowedAsleep(Command command) {
    switch (command) {
    case Command::None:
    case Command::SleepWake:
    case Command::RawWithCheckByte:
    case Command::RawAsTyped: return true;
    default: return false;
    }
}

std::optional<double> Exchange::latencyMs() const {
    if (!answer || frames.empty() || answeredAt < 0) return std::nullopt;
    return std::max(0.0, (answeredAt - frames.back().wireEndAt) * 1000.0);
}

}  // namespace vorla
