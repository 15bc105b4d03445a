// SPDX-License-Identifier: MIT
#include "protocol/baud.h"

#include <array>
#include <string_view>

namespace vorla {

namespace {
constexpr std::array<BaudRate, kBaudRates> kRates{{{1200, 9600}, {2400, 4800}, {4800, 2400}, {9600, 1200}}};
}  // namespace

std::optional<BaudRate> BaudRateAt(int16_t baudIndex) {
    if (baudIndex < 0 || baudIndex >= kBaudRates) return std::nullopt;
    return kRates[size_t(baudIndex)];
}

bool LineSettings::valid() const {
    constexpr std::string_view kParities = "NEOMS";
    return baud > 0 && kParities.find(parity) != std::string_view::npos && dataBits >= 5 && dataBits <= 8 &&
           (stopBits == 1 || stopBits == 2);
}

QString LineSettingsText(const LineSettings& s) {
    return QStringLiteral("%1,%2,%3,%4").arg(s.baud).arg(QChar(s.parity)).arg(s.dataBits).arg(s.stopBits);
}

std::optional<LineSettings> BaudSettingsFor(int16_t baudIndex) {
    const auto rate = BaudRateAt(baudIndex);
    if (!rate) return std::nullopt;
    return LineSettings{rate->baud};
}

int LyricWaitMs(int16_t baudIndex) {
    const auto rate = BaudRateAt(baudIndex);
    return rate ? rate->lyricWaitMs : 0;
}

// Computed from the index as the window's sums are, whatever the index.
int16_t BaudBits(int16_t baudIndex) { return int16_t(2 * (baudIndex + 1)); }

int BaudOfModeByte(uint8_t mode) {
    const int code = (mode & kBaudBitsMask) >> 1;
    return code >= 1 && code <= kBaudRates ? kRates[size_t(code - 1)].baud : 0;
}

}  // namespace vorla
