// SPDX-License-Identifier: MIT
// A frame read from its bytes alone, as the chip reads it: its shape, the
// mode byte, a play frame's options and its body pair by pair. The words of
// the log's tooltips and the virtual chip read frames through it alike.
#pragma once

#include <cstdint>
#include <vector>

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include "protocol/catalog.h"

namespace vorla {

// A play frame's option and sound bytes.
struct PlayOptions {
    bool oneAsYao = false;
    bool punctuation = false;
    bool asName = false;
    int repeat = 0;  // 0..7: passes less one; 7 repeats until stopped
    bool lyricsBack = false;
    int volume = 0;  // 0..7 (0..5 are 1级 to 6级)
    int tune = 0;    // background tune 0 (none) .. 7
    bool finishReport = false;
    // How often the play sounds; 0 until stopped.
    int passes() const { return repeat == 7 ? 0 : repeat + 1; }
};
PlayOptions ReadPlayOptions(uint8_t option, uint8_t sound);

// One pair of a play frame's body (an odd body's last byte stands alone).
struct BodyPart {
    enum class Kind { Character, Item, Unreadable };
    Kind kind = Kind::Unreadable;
    QByteArray bytes;
    QString character;  // a character: what the chip reads, "A" for A3 C1, "欢" for BB B6
    QString written;    // and as GBK has it, "Ａ" for A3 C1; the same where GBK has none
    ItemKind item = ItemKind::Music;
    int index = 0;  // a stored item: its list index
    QString why;    // unreadable: why the chip cannot read it
};
std::vector<BodyPart> ReadBody(QByteArrayView body);

struct DecodedFrame {
    enum class Shape { Incomplete, NoHead, NoTail, Control, Play };
    Shape shape = Shape::Incomplete;
    uint8_t mode = 0;
    bool checkOk = false;
    PlayOptions options;          // a play frame's
    QByteArray body;              // from after the sound byte to before the tail
    std::vector<BodyPart> parts;  // a play frame's body, read
};
// A frame from its head to its check byte. A frame with mode 0x80 and no
// body (a wake) is a control frame.
DecodedFrame DecodeFrame(QByteArrayView frame);

}  // namespace vorla
