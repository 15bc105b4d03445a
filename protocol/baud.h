// SPDX-License-Identifier: MIT
// The four line rates the chip speaks, by their place in the baud-rate list:
// the port's settings, how long lyric data is given to arrive at that rate,
// and the bits of a control frame's mode byte that select it.
#pragma once

#include <cstdint>
#include <optional>

#include <QString>

namespace vorla {

// A serial line's settings: baud rate, parity ('N', 'E', 'O', 'M' or 'S'),
// data bits and stop bits. The chip speaks 8 data bits, no parity, one stop
// bit at each of its rates.
struct LineSettings {
    int baud = 1200;
    char parity = 'N';
    int dataBits = 8;
    int stopBits = 1;
    friend bool operator==(const LineSettings&, const LineSettings&) = default;
    // Settings a serial port can take.
    bool valid() const;
    // The chip's own format: 8 data bits, no parity, one stop bit.
    bool chipFormat() const { return parity == 'N' && dataBits == 8 && stopBits == 1; }
};
// "9600,N,8,1", for the log and notes.
QString LineSettingsText(const LineSettings& s);

struct BaudRate {
    int baud = 0;
    int lyricWaitMs = 0;  // lyric data takes about this long to arrive whole
};

constexpr int kBaudRates = 4;
// The rate at start-up: 1200 baud, list index 0.
constexpr int16_t kStartBaudIndex = 0;

// The rate of a list index 0..3; nothing for any other index (no rate chosen).
std::optional<BaudRate> BaudRateAt(int16_t baudIndex);
// The port's settings for a list index (the chip's format at that rate);
// nothing without a rate.
std::optional<LineSettings> BaudSettingsFor(int16_t baudIndex);
// How long lyric data is given to arrive; 0 (no wait) without a rate.
int LyricWaitMs(int16_t baudIndex);

// The mode byte's rate bits (bits 1-3): 1 to 4 select 1200 to 9600 baud.
constexpr uint8_t kBaudBitsMask = 0x0E;
int16_t BaudBits(int16_t baudIndex);
// The rate a mode byte selects, 0 when its rate bits select none.
int BaudOfModeByte(uint8_t mode);

}  // namespace vorla
