// SPDX-License-Identifier: MIT
// What code playback keeps: the parameter snapshots, where the run stands,
// and how its frames are built and were last recorded.
#pragma once

#include <array>
#include <cstdint>

#include "link/link_state.h"

namespace vorla {

// A code's parameter snapshot: mode, option and sound byte; slot 0 is 0 when
// the code has none.
using CodeParamRecord = std::array<int16_t, 4>;

struct CodeState : ReplyState {
    int16_t MaxTextBytes = 0;
    uint8_t FrameHead = 0;
    uint8_t FrameTail = 0;
    int16_t FrameLastIndex = 0;
    uint8_t CheckByte = 0;
    std::array<CodeParamRecord, 4> CodeParams{};
    int16_t CodePosition = 0;
};

}  // namespace vorla
