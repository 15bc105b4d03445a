// SPDX-License-Identifier: MIT
// Frame bytes, text encoding, item codes, hex text and the log record.
#include <gtest/gtest.h>

#include "protocol/commands.h"
#include "protocol/hex_text.h"
#include "protocol/text_encoding.h"
#include "support/hex.h"

using namespace vorla;
using vorla::test::Hex;
using vorla::test::ToHex;

namespace {

WindowState StartState() {
    WindowState st;
    st.FrameHead = 0x01;
    st.FrameTail = 0x04;
    st.MaxTextBytes = 50;
    st.VolumeLevel = 1;
    return st;
}

QByteArray Frame(const WindowState& st, const FrameArray& buffer) {
    return QByteArray(reinterpret_cast<const char*>(buffer.data()), st.FrameLastIndex + 2);
}

PlaySettings Sample(int16_t music, int16_t volume = 1) {
    PlaySettings s;
    s.readOneAsYao = s.readPunctuation = s.readAsName = s.finishReport = 1;
    s.musicIndex = music;
    s.volumeLevel = volume;
    return s;
}

std::string Encoded(const QString& text, int16_t* cursorOut = nullptr) {
    FrameArray buffer{};
    int16_t cursor = -7;
    EncodeSynthesisText(text, 4, 50, buffer, cursor);
    if (cursorOut) *cursorOut = cursor;
    if (cursor < 4) return {};
    return ToHex(QByteArray(reinterpret_cast<const char*>(buffer.data()) + 4, cursor - 4));
}

}  // namespace

TEST(CheckByte, FoldIsExclusiveOrAndTheSampleFrameChecks) {
    uint8_t acc = 0x5A;
    FoldCheckByte(acc, 0x00);
    EXPECT_EQ(acc, 0x5A);
    FoldCheckByte(acc, 0x5A);
    EXPECT_EQ(acc, 0x00);
    const QByteArray sample = Hex("01 80 87 C1 BB B6 D3 AD CA B9 D3 C3 A3 8D A3 8A 04 D4");
    uint8_t check = 0;
    for (int i = 0; i < 17; ++i) FoldCheckByte(check, uint8_t(sample[i]));
    EXPECT_EQ(check, 0xD4);
    // A frame whose bytes fold to 0 gets the check byte 0.
    std::array<uint8_t, 4> zero{0x01, 0x01, 0x04, 0xFF};
    uint8_t cb = 0;
    int16_t bi = 0;
    ASSERT_TRUE(CompleteFrame(zero, 1, cb, bi));
    EXPECT_EQ(zero[2], 0x00);
    EXPECT_EQ(bi, 2);
    // A last index that leaves no room for the check byte is refused.
    cb = 0;
    EXPECT_FALSE(CompleteFrame(zero, 3, cb, bi));
}

TEST(ControlFrames, WorkedExamples) {
    WindowState st = StartState();
    ControlFrame f;
    auto build = [&](uint8_t mode) {
        BuildControlFrame(st, f, mode, 1);
        return ToHex(QByteArray(reinterpret_cast<const char*>(f.data()), 6));
    };
    EXPECT_EQ(build(kStopMode), "01 C0 80 80 04 C5");
    EXPECT_EQ(build(kSleepMode), "01 81 80 80 04 84");
    EXPECT_EQ(build(kWakeMode), "01 80 80 80 04 85");
    EXPECT_EQ(build(BaudModeByte(0)), "01 82 80 80 04 87");
    EXPECT_EQ(build(BaudModeByte(3)), "01 88 80 80 04 8D");
    EXPECT_EQ(build(OutputModeByte(0)), "01 90 80 80 04 95");
    EXPECT_EQ(build(OutputModeByte(1)), "01 A0 80 80 04 A5");
    EXPECT_EQ(build(BaudAndOutputModeByte(0, 1)), "01 A2 80 80 04 A7");
    EXPECT_EQ(BaudAndOutputModeByte(3, 0), 0x98);
    EXPECT_EQ(st.FrameLastIndex, 4);
    // No baud rate selected: the code is 0 and the settings stay.
    EXPECT_EQ(BaudModeByte(-1), 0x80);
    EXPECT_EQ(BaudAndOutputModeByte(-1, 1), 0xA0);
    EXPECT_FALSE(BaudSettingsFor(-1).has_value());
    EXPECT_EQ(*BaudSettingsFor(3), QStringLiteral("9600,N,8,1"));
}

TEST(HeaderBytes, SumsIncludingMaximaAndFreeTextCombos) {
    EXPECT_EQ(OptionByte(Sample(0)), 0x87);
    EXPECT_EQ(SoundByte(Sample(0)), 0xC1);
    EXPECT_EQ(SoundByte(Sample(4)), 0xE1);
    PlaySettings max;
    max.readOneAsYao = max.readPunctuation = max.readAsName = max.lyricsBack = max.finishReport = 1;
    max.repeatIndex = 7;
    max.musicIndex = 7;
    max.volumeLevel = 5;
    EXPECT_EQ(OptionByte(max), 0xFF);
    EXPECT_EQ(SoundByte(max), 0xFD);
    PlaySettings typed;  // free text typed into both combo boxes
    typed.repeatIndex = -1;
    typed.musicIndex = -1;
    EXPECT_EQ(OptionByte(typed), 0x78);
    EXPECT_EQ(SoundByte(typed), 0x78);
}

TEST(TextFrames, WorkedExamples) {
    WindowState st = StartState();
    ASSERT_TRUE(BuildTextFrame(st, Sample(0), QStringLiteral("欢迎使用\r\n")));
    EXPECT_EQ(ToHex(Frame(st, st.FrameBuffer)), "01 80 87 C1 BB B6 D3 AD CA B9 D3 C3 A3 8D A3 8A 04 D4");
    EXPECT_EQ(st.FrameLastIndex, 16);
    EXPECT_EQ(st.LastCommand, cmd::kText);
    ASSERT_TRUE(BuildTextFrame(st, Sample(4), QStringLiteral("欢迎使用！\r\n")));
    EXPECT_EQ(ToHex(Frame(st, st.FrameBuffer)), "01 80 87 E1 BB B6 D3 AD CA B9 D3 C3 A3 A1 A3 8D A3 8A 04 F6");
    ASSERT_TRUE(BuildTextFrame(st, PlaySettings{}, QStringLiteral("A")));
    EXPECT_EQ(ToHex(Frame(st, st.FrameBuffer)), "01 80 80 80 A3 C1 04 E7");
    // The shorter frame leaves the longer one's bytes behind it, unsent.
    EXPECT_EQ(st.FrameBuffer[8], 0xCA);

    WindowState empty = StartState();
    empty.LastCommand = 3;
    EXPECT_FALSE(BuildTextFrame(empty, Sample(0), QString()));
    EXPECT_EQ(empty.LastCommand, 3);
}

TEST(TextEncoding, CharactersAndTheirTwoByteForms) {
    int16_t cursor = 0;
    EXPECT_EQ(Encoded(QStringLiteral("欢迎使用！\r\n"), &cursor), "BB B6 D3 AD CA B9 D3 C3 A3 A1 A3 8D A3 8A");
    EXPECT_EQ(cursor, 18);
    EXPECT_EQ(Encoded(QStringLiteral("Hi 1"), &cursor), "A3 C8 A3 E9 A3 A0 A3 B1");
    EXPECT_EQ(cursor, 12);
    EXPECT_EQ(Encoded(QStringLiteral("\t")), "A3 89");
    // Empty text: nothing written, cursor untouched.
    Encoded(QString(), &cursor);
    EXPECT_EQ(cursor, -7);
    // No form of their own: the euro sign, the code 0, characters GBK lacks
    // (one character even outside the Basic Multilingual Plane), a lone
    // surrogate.
    EXPECT_EQ(Encoded(QStringLiteral("€")), "A3 BF");
    EXPECT_EQ(Encoded(QString(QChar(0))), "A3 BF");
    EXPECT_EQ(Encoded(QString::fromUtf16(u"\U0001F600x")), "A3 BF A3 F8");
    EXPECT_EQ(Encoded(QString(QChar(0xD800))), "A3 BF");
    EXPECT_EQ(Encoded(QStringLiteral("?")), "A3 BF");
    // The converter recovers after an unrepresentable character, within a
    // text and in the next one; the no-break space is one GBK lacks.
    EXPECT_EQ(Encoded(QStringLiteral("€欢")), "A3 BF BB B6");
    EXPECT_EQ(Encoded(QString::fromUtf16(u"欢 ")), "BB B6 A3 BF");
    EXPECT_EQ(Encoded(QStringLiteral("欢")), "BB B6");
    // Other two-byte GBK characters keep their code.
    EXPECT_EQ(Encoded(QStringLiteral("夢·")), "89 F4 A1 A4");
}

TEST(TextEncoding, TwentyFiveCharacterLimit) {
    int16_t cursor = 0;
    const QString ascii25 = QString(25, u'x');
    EXPECT_EQ(Encoded(ascii25, &cursor).size(), size_t(50 * 3 - 1));
    EXPECT_EQ(cursor, 54);
    EXPECT_EQ(Encoded(ascii25 + QStringLiteral("y")), Encoded(ascii25));
    const QString chinese25 = QString(25, QChar(0x6B22));
    Encoded(chinese25, &cursor);
    EXPECT_EQ(cursor, 54);
    // 24 characters and a line break: cut after the CR.
    const std::string cut = Encoded(QString(24, u'x') + QStringLiteral("\r\n"), &cursor);
    EXPECT_EQ(cursor, 54);
    EXPECT_EQ(cut.substr(cut.size() - 5), "A3 8D");
    // Mixed text counts characters, not bytes.
    Encoded(QString(20, QChar(0x6B22)) + QString(10, u'a'), &cursor);
    EXPECT_EQ(cursor, 54);

    WindowState st = StartState();
    ASSERT_TRUE(BuildTextFrame(st, Sample(0), QString(30, u'x')));
    EXPECT_EQ(st.FrameLastIndex, 54);
    EXPECT_EQ(st.FrameBuffer[54], 0x04);
}

TEST(StoredItems, CodesAndFrames) {
    WindowState st = StartState();
    auto frame = [&](int16_t index, uint8_t base, const PlaySettings& s) {
        BuildItemFrame(st, s, index, base, 3);
        return ToHex(Frame(st, st.FrameBuffer));
    };
    EXPECT_EQ(frame(0, kMusicBase, Sample(4)), "01 80 87 E1 60 B0 04 33");
    EXPECT_EQ(frame(3, kPhraseBase, Sample(4)), "01 80 87 E1 60 A3 04 20");
    EXPECT_EQ(frame(0, kPoemBase, Sample(4)), "01 80 87 E1 60 D0 04 53");
    EXPECT_EQ(frame(2, kSoundBase, Sample(4)), "01 80 87 E1 60 C2 04 41");
    EXPECT_EQ(frame(16, kMusicBase, PlaySettings{}), "01 80 80 80 61 B0 04 54");
    EXPECT_EQ(st.FrameCursor, 6);
    EXPECT_EQ(frame(15, kMusicBase, PlaySettings{}).substr(12, 5), "60 BF");
    EXPECT_EQ(frame(19, kPhraseBase, PlaySettings{}).substr(12, 5), "61 A3");
    EXPECT_EQ(ItemCode(17, kMusicBase), 0x61B1);
    EXPECT_EQ(ItemCode(5, kSoundBase), 24773);
    const ItemSplit s = SplitItemIndex(17);
    EXPECT_EQ(s.high, 1);
    EXPECT_EQ(s.low, 1);
    const ItemSplit none = SplitItemIndex(-1);  // rounded down
    EXPECT_EQ(none.high, -1);
    EXPECT_EQ(none.low, 15);
}

TEST(HexText, ParsingRule) {
    auto parse = [](const char* text) {
        const HexText h = ParseHexText(QString::fromUtf8(text));
        if (h.status == HexTextStatus::Empty) return std::string("empty");
        if (h.status == HexTextStatus::NotHex) return std::string("not hex");
        return ToHex(QByteArray(reinterpret_cast<const char*>(h.bytes.data()), qsizetype(h.bytes.size())));
    };
    EXPECT_EQ(parse("01 80 87 C1 BB B6 D3 AD CA B9 D3 C3 A3 8D A3 8A 04 D4"),
              "01 80 87 C1 BB B6 D3 AD CA B9 D3 C3 A3 8D A3 8A 04 D4");
    EXPECT_EQ(parse("01"), "01");
    EXPECT_EQ(parse("0a ff"), parse("0A FF"));
    EXPECT_EQ(parse("0a ff"), "0A FF");
    EXPECT_EQ(parse("0180"), "01");
    EXPECT_EQ(parse("01-80"), "01 80");
    EXPECT_EQ(parse("01 80 "), "01 80");
    EXPECT_EQ(parse("01 80 8"), "01 80");
    EXPECT_EQ(parse(" 01 80"), "not hex");
    EXPECT_EQ(parse("01  80"), "not hex");
    EXPECT_EQ(parse("0g"), "not hex");
    EXPECT_EQ(parse("1"), "not hex");
    EXPECT_EQ(parse("欢迎"), "not hex");
    EXPECT_EQ(parse(""), "empty");
}
