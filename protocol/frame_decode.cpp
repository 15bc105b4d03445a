// SPDX-License-Identifier: MIT
#include "protocol/frame_decode.h"

#include <QStringDecoder>

#include "protocol/frame.h"
#include "protocol/hex_text.h"

namespace vorla {

namespace {
constexpr int kHeader = 4;  // head, mode, option, sound

// The one-byte characters a text frame carries as A3 xx: printable ASCII
// and the line breaks and tab the text box sends.
bool ReadableAscii(uint8_t c) { return (c >= 0x20 && c < 0x7F) || c == '\t' || c == '\n' || c == '\r'; }

// A GBK character a voice can say: none for a pair GBK does not have or
// one of its user-defined codes.
QString GbkCharacter(QByteArrayView pair) {
    QStringDecoder gbk("GBK", QStringConverter::Flag::Stateless);
    QString ch = gbk.decode(pair);
    if (gbk.hasError() || ch.size() != 1 || ch[0] == QChar::ReplacementCharacter ||
        ch[0].category() == QChar::Other_PrivateUse)
        return QString();
    return ch;
}

// A stored item's code (high byte 0x60-0x6F).
BodyPart ItemPart(BodyPart part, uint8_t hi, uint8_t lo) {
    static const ItemKind kinds[] = {ItemKind::Phrase, ItemKind::Music, ItemKind::Sound, ItemKind::Poem};
    const int row = (lo >> 4) - 0xA;  // bases 0xA0, 0xB0, 0xC0, 0xD0
    const int index = 16 * (hi - 0x60) + (lo & 0x0F);
    if (row < 0 || row > 3 || index >= StoredItems(kinds[row]).size()) {
        part.why = QStringLiteral("unknown item code %1").arg(HexBytes(part.bytes));
        return part;
    }
    part.kind = BodyPart::Kind::Item;
    part.item = kinds[row];
    part.index = index;
    return part;
}

BodyPart ReadPair(QByteArrayView pair) {
    BodyPart part;
    part.bytes = pair.toByteArray();
    const uint8_t hi = uint8_t(pair[0]);
    const uint8_t lo = uint8_t(pair[1]);
    if (hi >= 0x60 && hi <= 0x6F) return ItemPart(std::move(part), hi, lo);
    if (hi == 0xA3 && lo >= 0x80 && ReadableAscii(uint8_t(lo - 0x80))) {
        part.kind = BodyPart::Kind::Character;
        part.character = QString(QChar(lo - 0x80));
        part.written = GbkCharacter(pair);
        if (part.written.isEmpty()) part.written = part.character;
        return part;
    }
    if (hi >= 0x81 && hi <= 0xFE && lo >= 0x40) {
        part.character = GbkCharacter(pair);
        if (!part.character.isEmpty()) {
            part.kind = BodyPart::Kind::Character;
            part.written = part.character;
            return part;
        }
        part.why = QStringLiteral("not a GBK character: %1").arg(HexBytes(part.bytes));
        return part;
    }
    part.why = QStringLiteral("not a character or item code: %1").arg(HexBytes(part.bytes));
    return part;
}
}  // namespace

PlayOptions ReadPlayOptions(uint8_t option, uint8_t sound) {
    PlayOptions o;
    o.oneAsYao = option & 0x01;
    o.punctuation = option & 0x02;
    o.asName = option & 0x04;
    o.repeat = (option >> 3) & 0x07;
    o.lyricsBack = option & kLyricsBackBit;
    o.volume = sound & 0x07;
    o.tune = (sound >> 3) & 0x07;
    o.finishReport = sound & kFinishReportBit;
    return o;
}

std::vector<BodyPart> ReadBody(QByteArrayView body) {
    std::vector<BodyPart> parts;
    for (qsizetype i = 0; i < body.size(); i += 2) {
        if (i + 1 < body.size()) {
            parts.push_back(ReadPair(body.sliced(i, 2)));
            continue;
        }
        BodyPart odd;
        odd.bytes = body.sliced(i, 1).toByteArray();
        odd.why = QStringLiteral("odd body");
        parts.push_back(std::move(odd));
    }
    return parts;
}

DecodedFrame DecodeFrame(QByteArrayView frame) {
    DecodedFrame d;
    const qsizetype n = frame.size();
    if (n < 6) return d;
    d.shape = uint8_t(frame[0]) != kFrameHead       ? DecodedFrame::Shape::NoHead
              : uint8_t(frame[n - 2]) != kFrameTail ? DecodedFrame::Shape::NoTail
                                                    : DecodedFrame::Shape::Control;
    if (d.shape != DecodedFrame::Shape::Control) return d;
    uint8_t check = 0;
    for (qsizetype i = 0; i + 1 < n; ++i) FoldCheckByte(check, uint8_t(frame[i]));
    d.checkOk = check == uint8_t(frame[n - 1]);
    d.mode = uint8_t(frame[1]);
    d.body = frame.sliced(kHeader, n - kHeader - 2).toByteArray();
    if (d.mode != kPlayMode || d.body.isEmpty()) return d;
    d.shape = DecodedFrame::Shape::Play;
    d.options = ReadPlayOptions(uint8_t(frame[2]), uint8_t(frame[3]));
    d.parts = ReadBody(d.body);
    return d;
}

}  // namespace vorla
