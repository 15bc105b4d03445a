// SPDX-License-Identifier: MIT
// Command frame layout and the bytes every sender shares.
//
// A frame is: head (0x01), mode byte, option byte, sound byte, body, tail
// (0x04) and a check byte, the exclusive-or of every byte from head to tail.
// FrameLastIndex is the index of the tail; a frame is FrameLastIndex + 2 bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QString>

namespace vorla {

constexpr int kFrameBufferSize = 56;  // the longest frame
// The most body bytes a play frame carries (text, item codes).
constexpr int16_t kMaxTextBytes = 50;
constexpr uint8_t kFrameHead = 0x01;
constexpr uint8_t kFrameTail = 0x04;

// Bits the chip reads: in a control frame's mode byte the stop and sleep
// bits; in a play frame the option byte's lyrics-back bit and the sound
// byte's finish-report bit.
constexpr uint8_t kStopBit = 0x40;
constexpr uint8_t kSleepBit = 0x01;
constexpr uint8_t kLyricsBackBit = 0x40;
constexpr uint8_t kFinishReportBit = 0x40;

constexpr uint8_t kStopMode = 0xC0;
constexpr uint8_t kSleepMode = 0x81;
constexpr uint8_t kWakeMode = 0x80;
constexpr uint8_t kPlayMode = 0x80;

// Folds one byte into the running check byte.
void FoldCheckByte(uint8_t& checkByte, uint8_t value);

// The head and tail bytes a frame is built with.
struct FrameEnds {
    uint8_t head = kFrameHead;
    uint8_t tail = kFrameTail;
};

// A finished frame: its bytes from the head to the check byte and nothing
// after, so it carries its own length.
class Frame {
public:
    Frame() = default;
    // Bytes from the head to the tail: the check byte (the exclusive-or of
    // them all) is folded and appended.
    static Frame Sealed(std::vector<uint8_t> headToTail);
    // Bytes taken as they stand, the last one as the check byte.
    static Frame AsTyped(std::vector<uint8_t> bytes);

    const std::vector<uint8_t>& bytes() const { return bytes_; }
    qsizetype size() const { return qsizetype(bytes_.size()); }
    // The index of the tail (FrameLastIndex): the frame is lastIndex() + 2 bytes.
    int16_t lastIndex() const { return int16_t(int(bytes_.size()) - 2); }
    uint8_t checkByte() const { return bytes_.empty() ? 0 : bytes_.back(); }
    QByteArray toByteArray() const { return QByteArray(reinterpret_cast<const char*>(bytes_.data()), size()); }
    friend bool operator==(const Frame&, const Frame&) = default;

private:
    explicit Frame(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    std::vector<uint8_t> bytes_;
};

// The reading and sound settings of a play command, as the window's controls
// hold them: check boxes 0 or 1, combo boxes their list index (-1 when the
// operator typed free text), the volume level 0..5.
struct PlaySettings {
    int16_t readOneAsYao = 0;     // Check4
    int16_t readPunctuation = 0;  // Check3
    int16_t readAsName = 0;       // Check2
    int16_t repeatIndex = 0;      // Combo5
    int16_t lyricsBack = 0;       // Check5
    int16_t musicIndex = 0;       // Combo1
    int16_t volumeLevel = 0;      // VolumeLevel
    int16_t finishReport = 0;     // Check1
    friend bool operator==(const PlaySettings&, const PlaySettings&) = default;
};

// Sums computed in 16-bit arithmetic and stored as a byte (so a free-text
// combo box, index -1, drops the byte below 0x80 as the chip's users expect).
uint8_t OptionByte(const PlaySettings& s);
uint8_t SoundByte(const PlaySettings& s);

// The first bytes after a play frame's head: mode 0x80, the option byte and
// the sound byte. A code's parameter snapshot keeps one.
struct PlayHeader {
    uint8_t mode = kPlayMode;
    uint8_t option = 0x80;
    uint8_t sound = 0x80;
    friend bool operator==(const PlayHeader&, const PlayHeader&) = default;
};
PlayHeader PlayHeaderFor(const PlaySettings& s);

// Mode bytes of the control commands from the combo boxes' list indexes.
uint8_t BaudModeByte(int16_t baudIndex);
uint8_t OutputModeByte(int16_t outputIndex);
uint8_t BaudAndOutputModeByte(int16_t baudIndex, int16_t outputIndex);

}  // namespace vorla
