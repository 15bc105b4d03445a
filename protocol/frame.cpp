// SPDX-License-Identifier: MIT
#include "protocol/frame.h"

#include "protocol/baud.h"

namespace vorla {

void FoldCheckByte(uint8_t& checkByte, uint8_t value) { checkByte = uint8_t(checkByte ^ value); }

Frame Frame::Sealed(std::vector<uint8_t> headToTail) {
    uint8_t check = 0;
    for (const uint8_t b : headToTail) FoldCheckByte(check, b);
    headToTail.push_back(check);
    return Frame(std::move(headToTail));
}

Frame Frame::AsTyped(std::vector<uint8_t> bytes) { return Frame(std::move(bytes)); }

uint8_t OptionByte(const PlaySettings& s) {
    const int16_t sum = int16_t(0x80 + kLyricsBackBit * s.lyricsBack + 8 * s.repeatIndex + 4 * s.readAsName +
                                2 * s.readPunctuation + s.readOneAsYao);
    return uint8_t(sum);
}

uint8_t SoundByte(const PlaySettings& s) {
    const int16_t sum = int16_t(0x80 + kFinishReportBit * s.finishReport + 8 * s.musicIndex + s.volumeLevel);
    return uint8_t(sum);
}

PlayHeader PlayHeaderFor(const PlaySettings& s) { return PlayHeader{kPlayMode, OptionByte(s), SoundByte(s)}; }

uint8_t BaudModeByte(int16_t baudIndex) { return uint8_t(int16_t(0x80 + BaudBits(baudIndex))); }

uint8_t OutputModeByte(int16_t outputIndex) { return uint8_t(int16_t(0x80 + 16 * (outputIndex + 1))); }

uint8_t BaudAndOutputModeByte(int16_t baudIndex, int16_t outputIndex) {
    return uint8_t(int16_t(0x80 + BaudBits(baudIndex) + 16 * (outputIndex + 1)));
}

}  // namespace vorla
