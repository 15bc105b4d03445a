// SPDX-License-Identifier: MIT
#include "protocol/frame_words.h"

#include <QStringDecoder>
#include <QStringList>

#include "protocol/baud.h"
#include "protocol/catalog.h"
#include "protocol/frame.h"

namespace vorla {

namespace {
constexpr int kHeader = 4;  // head, mode, option, sound

// The background tunes the sound byte can name (0: none).
const char16_t* const kTunes[] = {nullptr,     u"梦里水乡",   u"雨蝶",     u"茉莉花",
                                  u"北国之春", u"秋日的私语", u"同桌的你", u"秋雨蒙蒙"};

QString Hex(uint8_t b) { return QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper(); }

// A stored item's list text without the list's padding: "雨蝶".
QString ItemName(ItemKind kind, int index) {
    const QStringList& items = StoredItems(kind);
    if (index < 0 || index >= items.size()) return QStringLiteral("第%1项").arg(index + 1);
    QString name = items[index].trimmed();
    name.remove(QStringLiteral("卡拉OK"));
    while (name.endsWith(u'-')) name.chop(1);
    return name.trimmed();
}

struct Item {
    bool text = false;
    QString words;
};

// A stored item's code in words, "卡拉OK 雨蝶"; empty for anything else.
QString StoredItemWords(uint8_t hi, uint8_t lo) {
    const int row = (lo >> 4) - 0xA;  // bases 0xA0, 0xB0, 0xC0, 0xD0
    if (hi < 0x60 || hi > 0x6F || row < 0 || row > 3) return QString();
    static const ItemKind kinds[] = {ItemKind::Phrase, ItemKind::Music, ItemKind::Sound, ItemKind::Poem};
    static const char16_t* const names[] = {u"常用语", u"和弦音乐", u"音效", u"古诗"};
    const int index = 16 * (hi - 0x60) + (lo & 0x0F);
    const bool karaoke = IsKaraoke(kinds[row], index);
    return QStringLiteral("%1 %2").arg(karaoke ? QStringLiteral("卡拉OK") : QString::fromUtf16(names[row]),
                                       ItemName(kinds[row], index));
}

// A text character's two bytes as shown: a line break (CR LF) once, a GBK
// character, or the bytes themselves.
QString CharacterWords(QStringDecoder& gbk, uint8_t hi, uint8_t lo) {
    if (hi == 0xA3 && lo == 0x8D) return QString();
    if (hi == 0xA3 && lo == 0x8A) return QStringLiteral("↵");
    const char pair[2] = {char(hi), char(lo)};
    QString ch = gbk.decode(QByteArrayView(pair, 2));
    if (ch.size() == 1 && ch[0] != QChar::ReplacementCharacter) return ch;
    return QStringLiteral("[%1 %2]").arg(Hex(hi), Hex(lo));
}

// The body's items: runs of text, stored items by kind and name.
QList<Item> BodyItems(QByteArrayView body) {
    QList<Item> items;
    QStringDecoder gbk("GBK", QStringConverter::Flag::Stateless);
    for (qsizetype i = 0; i + 1 < body.size(); i += 2) {
        const uint8_t hi = uint8_t(body[i]);
        const uint8_t lo = uint8_t(body[i + 1]);
        const QString stored = StoredItemWords(hi, lo);
        if (!stored.isEmpty()) {
            items.push_back(Item{false, stored});
            continue;
        }
        if (items.isEmpty() || !items.back().text) items.push_back(Item{true, QString()});
        items.back().words += CharacterWords(gbk, hi, lo);
    }
    return items;
}

// The option and sound bytes in words, in the order the window shows them.
QStringList PlayOptions(uint8_t option, uint8_t sound) {
    QStringList words;
    words << QStringLiteral("音量%1级").arg((sound & 0x07) + 1);
    if (option & 0x04) words << QStringLiteral("按姓名");
    if (option & 0x02) words << QStringLiteral("读标点");
    if (option & 0x01) words << QStringLiteral("1读成幺");
    const int repeat = (option >> 3) & 0x07;
    if (repeat == 7) words << QStringLiteral("一直循环");
    else if (repeat > 0) words << QStringLiteral("循环%1遍").arg(repeat + 1);
    if (const int tune = (sound >> 3) & 0x07)
        words << QStringLiteral("背景音乐%1").arg(QString::fromUtf16(kTunes[tune]));
    if (option & kLyricsBackBit) words << QStringLiteral("回传歌词");
    if (sound & kFinishReportBit) words << QStringLiteral("报告播完");
    return words;
}

QString DescribePlay(QByteArrayView frame) {
    const QList<Item> items = BodyItems(frame.sliced(kHeader, frame.size() - kHeader - 2));
    const QString options = PlayOptions(uint8_t(frame[2]), uint8_t(frame[3])).join(u' ');
    if (items.size() == 1 && items[0].text) return QStringLiteral("文本朗读 %1：%2").arg(options, items[0].words);
    if (items.size() == 1) return QStringLiteral("%1 %2").arg(items[0].words, options);
    QStringList parts;
    for (const Item& item : items) parts << (item.text ? QStringLiteral("“%1”").arg(item.words) : item.words);
    return QStringLiteral("连续播放 %1：%2").arg(options, parts.join(QStringLiteral("、")));
}

QString DescribeControl(uint8_t mode) {
    if ((mode & 0x80) == 0) return QStringLiteral("未知命令 %1").arg(Hex(mode));
    if (mode & kStopBit) return QStringLiteral("停止");
    if (mode & kSleepBit) return QStringLiteral("休眠");
    QStringList words;
    static const char16_t* const outputs[] = {nullptr, u"DA输出", u"PWM输出", u"输出方式3"};
    if (const int out = (mode >> 4) & 0x03) words << QString::fromUtf16(outputs[out]);
    if (const int baud = BaudOfModeByte(mode)) words << QStringLiteral("波特率%1").arg(baud);
    return words.isEmpty() ? QStringLiteral("唤醒") : words.join(u' ');
}
}  // namespace

QString DescribeFrame(QByteArrayView frame) {
    const qsizetype n = frame.size();
    if (n < 6) return QStringLiteral("不完整的帧");
    if (uint8_t(frame[0]) != kFrameHead) return QStringLiteral("没有帧头的数据");
    if (uint8_t(frame[n - 2]) != kFrameTail) return QStringLiteral("没有帧尾的数据");
    uint8_t check = 0;
    for (qsizetype i = 0; i + 1 < n; ++i) FoldCheckByte(check, uint8_t(frame[i]));
    const uint8_t mode = uint8_t(frame[1]);
    QString words = mode == kPlayMode && n > 6 ? DescribePlay(frame) : DescribeControl(mode);
    if (check != uint8_t(frame[n - 1])) words = QStringLiteral("校验字节错误的帧：") + words;
    return words;
}

}  // namespace vorla
