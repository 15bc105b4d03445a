// SPDX-License-Identifier: MIT
// Frame bytes from every builder, text encoding, item codes and hex text:
// tables of known answers.
#include <gtest/gtest.h>

#include "protocol/commands.h"
#include "protocol/frame_words.h"
#include "protocol/hex_text.h"
#include "protocol/text_encoding.h"
#include "support/hex.h"

using namespace vorla;
using vorla::test::Hex;
using vorla::test::ToHex;

namespace {

const FrameEnds kEnds;  // 0x01 ... 0x04

PlaySettings Sample(int16_t music, int16_t volume = 1) {
    PlaySettings s;
    s.readOneAsYao = s.readPunctuation = s.readAsName = s.finishReport = 1;
    s.musicIndex = music;
    s.volumeLevel = volume;
    return s;
}

std::string Bytes(const std::vector<uint8_t>& bytes) {
    return ToHex(QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())));
}
std::string Encoded(const QString& text) { return Bytes(EncodeSynthesisText(text, 50)); }

}  // namespace

TEST(Frames, SealedFoldsTheCheckByteAndCarriesItsLength) {
    uint8_t acc = 0x5A;
    FoldCheckByte(acc, 0x00);
    EXPECT_EQ(acc, 0x5A);
    FoldCheckByte(acc, 0x5A);
    EXPECT_EQ(acc, 0x00);
    const Frame sample = Frame::Sealed(
        {0x01, 0x80, 0x87, 0xC1, 0xBB, 0xB6, 0xD3, 0xAD, 0xCA, 0xB9, 0xD3, 0xC3, 0xA3, 0x8D, 0xA3, 0x8A, 0x04});
    EXPECT_EQ(sample.checkByte(), 0xD4);
    EXPECT_EQ(sample.lastIndex(), 16);
    EXPECT_EQ(sample.size(), 18);
    EXPECT_EQ(Frame::Sealed({0x01, 0x01}).checkByte(), 0x00);  // bytes that fold to 0
    const Frame typed = Frame::AsTyped({0x01, 0xC0, 0x80, 0x80, 0x04, 0xC5});
    EXPECT_EQ(typed.lastIndex(), 4);
    EXPECT_EQ(typed.checkByte(), 0xC5);
}

TEST(Frames, ControlFramesKnownAnswers) {
    const std::pair<uint8_t, const char*> table[] = {
        {kStopMode, "01 C0 80 80 04 C5"},
        {kSleepMode, "01 81 80 80 04 84"},
        {kWakeMode, "01 80 80 80 04 85"},
        {BaudModeByte(0), "01 82 80 80 04 87"},
        {BaudModeByte(3), "01 88 80 80 04 8D"},
        {OutputModeByte(0), "01 90 80 80 04 95"},
        {OutputModeByte(1), "01 A0 80 80 04 A5"},
        {BaudAndOutputModeByte(0, 1), "01 A2 80 80 04 A7"},
        {BaudAndOutputModeByte(3, 0), "01 98 80 80 04 9D"},
        {BaudModeByte(-1), "01 80 80 80 04 85"},  // no baud rate selected: the code is 0
        {BaudAndOutputModeByte(-1, 1), "01 A0 80 80 04 A5"},
    };
    for (const auto& [mode, bytes] : table)
        EXPECT_EQ(ToHex(ControlFrame(kEnds, mode).toByteArray()), bytes) << int(mode);
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

TEST(Frames, TextFramesKnownAnswers) {
    struct Case {
        PlaySettings settings;
        QString text;
        int16_t maxTextBytes;
        const char* bytes;  // nullptr: no frame
    };
    const Case table[] = {
        {Sample(0), QStringLiteral("欢迎使用\r\n"), 50, "01 80 87 C1 BB B6 D3 AD CA B9 D3 C3 A3 8D A3 8A 04 D4"},
        {Sample(4), QStringLiteral("欢迎使用！\r\n"), 50,
         "01 80 87 E1 BB B6 D3 AD CA B9 D3 C3 A3 A1 A3 8D A3 8A 04 F6"},
        {PlaySettings{}, QStringLiteral("A"), 50, "01 80 80 80 A3 C1 04 E7"},
        {PlaySettings{}, QStringLiteral("ABC"), 2, "01 80 80 80 A3 C1 04 E7"},  // a smaller text limit
        {Sample(0), QString(), 50, nullptr},
    };
    for (const Case& c : table) {
        SCOPED_TRACE(c.text.toStdString());
        const auto frame = TextFrame(kEnds, c.settings, c.text, c.maxTextBytes);
        if (!c.bytes) {
            EXPECT_FALSE(frame.has_value());
            continue;
        }
        ASSERT_TRUE(frame.has_value());
        EXPECT_EQ(ToHex(frame->toByteArray()), c.bytes);
    }
    // 30 characters: the first 25 go, and the frame fills the longest frame.
    const auto longest = TextFrame(kEnds, Sample(0), QString(30, u'x'), 50);
    ASSERT_TRUE(longest.has_value());
    EXPECT_EQ(longest->lastIndex(), 54);
    EXPECT_EQ(longest->bytes()[54], 0x04);
}

TEST(Frames, StoredItemFramesKnownAnswers) {
    struct Case {
        int16_t index;
        uint8_t base;
        PlaySettings settings;
        const char* bytes;
    };
    const Case table[] = {
        {0, kMusicBase, Sample(4), "01 80 87 E1 60 B0 04 33"},
        {3, kPhraseBase, Sample(4), "01 80 87 E1 60 A3 04 20"},
        {0, kPoemBase, Sample(4), "01 80 87 E1 60 D0 04 53"},
        {2, kSoundBase, Sample(4), "01 80 87 E1 60 C2 04 41"},
        {16, kMusicBase, PlaySettings{}, "01 80 80 80 61 B0 04 54"},
        {15, kMusicBase, PlaySettings{}, "01 80 80 80 60 BF 04 5A"},
        {19, kPhraseBase, PlaySettings{}, "01 80 80 80 61 A3 04 47"},
    };
    for (const Case& c : table)
        EXPECT_EQ(ToHex(ItemFrame(kEnds, c.settings, c.index, c.base).toByteArray()), c.bytes) << c.index;
    EXPECT_EQ(ItemCode(17, kMusicBase), 0x61B1);
    EXPECT_EQ(ItemCode(5, kSoundBase), 24773);
    const ItemSplit none = SplitItemIndex(-1);  // rounded down
    EXPECT_EQ(none.high, -1);
    EXPECT_EQ(none.low, 15);
}

TEST(Frames, RawFramesKnownAnswers) {
    struct Case {
        const char* typed;
        bool appendCheckByte;
        const char* bytes;
        int16_t lastIndex;
    };
    const Case table[] = {
        {"01 C0 80 80 04", true, "01 C0 80 80 04 C5", 4},
        {"01 C0 80 80 04 C5", false, "01 C0 80 80 04 C5", 4},
        {"01 C0 80 80 04 00", false, "01 C0 80 80 04 00", 4},  // the typed check byte goes as typed
        {"01", true, "01 01", 0},
        {"01", false, "01", -1},
    };
    for (const Case& c : table) {
        const QByteArray typed = Hex(c.typed);
        const Frame f = RawFrame(std::vector<uint8_t>(typed.begin(), typed.end()), c.appendCheckByte);
        EXPECT_EQ(ToHex(f.toByteArray()), c.bytes) << c.typed;
        EXPECT_EQ(f.lastIndex(), c.lastIndex) << c.typed;
    }
}

TEST(TextEncoding, CharactersAndTheirTwoByteForms) {
    const std::pair<QString, const char*> table[] = {
        {QStringLiteral("欢迎使用！\r\n"), "BB B6 D3 AD CA B9 D3 C3 A3 A1 A3 8D A3 8A"},
        {QStringLiteral("Hi 1"), "A3 C8 A3 E9 A3 A0 A3 B1"},
        {QStringLiteral("\t"), "A3 89"},
        {QString(), ""},
        // No form of their own: the euro sign, the code 0, characters GBK
        // lacks (one character even outside the Basic Multilingual Plane), a
        // lone surrogate, the no-break space.
        {QStringLiteral("€"), "A3 BF"},
        {QString(QChar(0)), "A3 BF"},
        {QString::fromUtf16(u"\U0001F600x"), "A3 BF A3 F8"},
        {QString(QChar(0xD800)), "A3 BF"},
        {QStringLiteral("?"), "A3 BF"},
        {QString(QChar(0x00A0)), "A3 BF"},
        // The converter recovers after an unrepresentable character, within
        // a text and in the next one.
        {QStringLiteral("€欢"), "A3 BF BB B6"},
        {QString::fromUtf16(u"欢\u00A0"), "BB B6 A3 BF"},
        {QStringLiteral("欢"), "BB B6"},
        // Other two-byte GBK characters keep their code.
        {QStringLiteral("夢·"), "89 F4 A1 A4"},
    };
    for (const auto& [text, bytes] : table) EXPECT_EQ(Encoded(text), bytes) << text.toStdString();
}

TEST(TextEncoding, TwentyFiveCharacterLimit) {
    const QString ascii25 = QString(25, u'x');
    EXPECT_EQ(EncodeSynthesisText(ascii25, 50).size(), 50u);
    EXPECT_EQ(Encoded(ascii25 + QStringLiteral("y")), Encoded(ascii25));
    EXPECT_EQ(EncodeSynthesisText(QString(25, QChar(0x6B22)), 50).size(), 50u);
    // 24 characters and a line break: cut after the CR.
    const std::string cut = Encoded(QString(24, u'x') + QStringLiteral("\r\n"));
    EXPECT_EQ(cut.substr(cut.size() - 5), "A3 8D");
    // Mixed text counts characters, not bytes.
    EXPECT_EQ(EncodeSynthesisText(QString(20, QChar(0x6B22)) + QString(10, u'a'), 50).size(), 50u);
    // Whatever the limit says, a body never outgrows the longest frame.
    EXPECT_EQ(EncodeSynthesisText(QString(40, u'x'), 200).size(), 50u);
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

TEST(FrameWords, EveryCommandKindAndOption) {
    PlaySettings s;  // all off, volume 1级
    PlaySettings all{1, 1, 1, 7, 1, 2, 5, 1};
    PlaySettings twice;
    twice.repeatIndex = 1;
    twice.volumeLevel = 2;
    twice.finishReport = 1;
    twice.readPunctuation = 1;
    const std::pair<QByteArray, const char*> table[] = {
        {TextFrame({}, twice, QStringLiteral("欢迎使用！\r\n"), kMaxTextBytes)->toByteArray(),
         "文本朗读 音量3级 读标点 循环2遍 报告播完：欢迎使用！↵"},
        {TextFrame({}, all, QStringLiteral("A1"), kMaxTextBytes)->toByteArray(),
         "文本朗读 音量6级 按姓名 读标点 1读成幺 一直循环 背景音乐雨蝶 回传歌词 报告播完：Ａ１"},
        {ItemFrame({}, PlaySettings{0, 0, 0, 0, 1, 0, 1, 0}, 3, kMusicBase).toByteArray(),
         "卡拉OK 雨蝶 音量2级 回传歌词"},
        {ItemFrame({}, s, 8, kMusicBase).toByteArray(), "和弦音乐 秋雨蒙蒙 音量1级"},
        {ItemFrame({}, s, 3, kPhraseBase).toByteArray(), "常用语 来电 音量1级"},
        {ItemFrame({}, s, 0, kPoemBase).toByteArray(), "古诗 静夜思 音量1级"},
        {ItemFrame({}, s, 2, kSoundBase).toByteArray(), "音效 激光声 音量1级"},
        {Hex("01 80 80 80 60 C2 B0 A1 60 A3 04 F5"), "连续播放 音量1级：音效 激光声、“啊”、常用语 来电"},
        // What the chip cannot read shows as its bytes.
        {Hex("01 80 80 80 BB B6 00 41 04 C9"), "文本朗读 音量1级：欢[00 41]"},
        {ControlFrame({}, kStopMode).toByteArray(), "停止"},
        {ControlFrame({}, kSleepMode).toByteArray(), "休眠"},
        {ControlFrame({}, kWakeMode).toByteArray(), "唤醒"},
        {ControlFrame({}, BaudModeByte(3)).toByteArray(), "波特率9600"},
        {ControlFrame({}, OutputModeByte(0)).toByteArray(), "DA输出"},
        {ControlFrame({}, BaudAndOutputModeByte(0, 1)).toByteArray(), "PWM输出 波特率1200"},
        {Hex("01 40 80 80 04 45"), "未知命令 40"},
        {Hex("01 C0 80 80 04 00"), "校验字节错误的帧：停止"},
        {Hex("01 C0 80"), "不完整的帧"},
        {Hex("02 C0 80 80 04 C6"), "没有帧头的数据"},
        {Hex("01 C0 80 80 05 C4"), "没有帧尾的数据"},
    };
    for (const auto& [frame, words] : table) EXPECT_EQ(DescribeFrame(frame), QString::fromUtf8(words)) << ToHex(frame);
}
