// SPDX-License-Identifier: MIT
// The window's variables, shared by all handlers, in their own widths
// (16-bit signed integers and unsigned bytes), and the numbers of its
// buttons.
#pragma once

#include <cstdint>

#include "codes/code_state.h"

namespace vorla {

// LastCommand values: the number of the button whose frame went out last.
// The two raw senders have numbers of their own, so that a rejected raw
// frame is resent by the raw sender that sent it.
namespace cmd {
constexpr int16_t kNone = 0;
constexpr int16_t kStop = 1;
constexpr int16_t kMusic = 3;
constexpr int16_t kPhrase = 4;
constexpr int16_t kPoem = 5;
constexpr int16_t kText = 6;
constexpr int16_t kBaud = 10;
constexpr int16_t kSleepWake = 11;
constexpr int16_t kSound = 12;
constexpr int16_t kCodePlayback = kCodePlaybackCommand;
constexpr int16_t kOutputMode = 26;
constexpr int16_t kBaudAndOutput = 27;
constexpr int16_t kRawAutoCheck = 101;
constexpr int16_t kRawManualCheck = 102;
}  // namespace cmd

// The window's variables, shared by all handlers.
struct WindowState : CodeState {
    int16_t VolumeLevel = 0;
    int16_t Sleeping = 0;
    int16_t PortNumber = 0;
};

}  // namespace vorla
