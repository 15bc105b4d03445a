// SPDX-License-Identifier: MIT
#include "protocol/frame_words.h"

#include <QStringList>

#include "protocol/baud.h"
#include "protocol/catalog.h"
#include "protocol/frame.h"
#include "protocol/frame_decode.h"
#include "protocol/hex_text.h"

namespace vorla {

namespace {

// A stored item's list text without the list's padding: "雨蝶".
QString ItemName(ItemKind kind, int index) {
    QString name = StoredItems(kind).value(index).trimmed();
    name.remove(QStringLiteral("卡拉OK"));
    while (name.endsWith(u'-')) name.chop(1);
    return name.trimmed();
}

// A character as shown: a line break (CR LF) once, a tab as an arrow, an
// unreadable pair as its bytes.
QString CharacterWords(const BodyPart& part) {
    if (part.kind == BodyPart::Kind::Unreadable) return QStringLiteral("[%1]").arg(HexBytes(part.bytes));
    if (part.character == u"\r") return QString();
    if (part.character == u"\n") return QStringLiteral("↵");
    if (part.character == u"\t") return QStringLiteral("⇥");
    return part.written;
}

struct Item {
    bool text = false;
    QString words;
};

// The body's items: runs of text, stored items by kind and name.
QList<Item> BodyItems(const std::vector<BodyPart>& parts) {
    QList<Item> items;
    for (const BodyPart& part : parts) {
        if (part.kind == BodyPart::Kind::Item) {
            items.push_back(Item{false, StoredItemWords(part.item, part.index)});
            continue;
        }
        if (items.isEmpty() || !items.back().text) items.push_back(Item{true, QString()});
        items.back().words += CharacterWords(part);
    }
    return items;
}

// The options in words, in the order the window shows them.
QStringList PlayOptionWords(const PlayOptions& o) {
    QStringList words;
    words << QStringLiteral("音量%1级").arg(o.volume + 1);
    if (o.asName) words << QStringLiteral("按姓名");
    if (o.punctuation) words << QStringLiteral("读标点");
    if (o.oneAsYao) words << QStringLiteral("1读成幺");
    if (o.passes() == 0) words << QStringLiteral("一直循环");
    else if (o.passes() > 1) words << QStringLiteral("循环%1遍").arg(o.passes());
    if (o.tune > 0) words << QStringLiteral("背景音乐%1").arg(TuneNames().value(o.tune));
    if (o.lyricsBack) words << QStringLiteral("回传歌词");
    if (o.finishReport) words << QStringLiteral("报告播完");
    return words;
}

QString DescribePlay(const DecodedFrame& frame) {
    const QList<Item> items = BodyItems(frame.parts);
    const QString options = PlayOptionWords(frame.options).join(u' ');
    if (items.size() == 1 && items[0].text) return QStringLiteral("文本朗读 %1：%2").arg(options, items[0].words);
    if (items.size() == 1) return QStringLiteral("%1 %2").arg(items[0].words, options);
    QStringList parts;
    for (const Item& item : items) parts << (item.text ? QStringLiteral("“%1”").arg(item.words) : item.words);
    return QStringLiteral("连续播放 %1：%2").arg(options, parts.join(QStringLiteral("、")));
}

QString DescribeControl(uint8_t mode) {
    if ((mode & 0x80) == 0) return QStringLiteral("未知命令 %1").arg(HexBytes(QByteArray(1, char(mode))));
    if (mode & kStopBit) return QStringLiteral("停止");
    if (mode & kSleepBit) return QStringLiteral("休眠");
    QStringList words;
    static const char16_t* const outputs[] = {nullptr, u"DA输出", u"PWM输出", u"输出方式3"};
    if (const int out = (mode >> 4) & 0x03) words << QString::fromUtf16(outputs[out]);
    if (const int baud = BaudOfModeByte(mode)) words << QStringLiteral("波特率%1").arg(baud);
    return words.isEmpty() ? QStringLiteral("唤醒") : words.join(u' ');
}
}  // namespace

QString StoredItemWords(ItemKind kind, int index) {
    static const char16_t* const names[] = {u"和弦音乐", u"常用语", u"古诗", u"音效"};  // by ItemKind
    const QString words =
        IsKaraoke(kind, index) ? QStringLiteral("卡拉OK") : QString::fromUtf16(names[size_t(kind) & 3]);
    return QStringLiteral("%1 %2").arg(words, ItemName(kind, index));
}

QString DescribeFrame(QByteArrayView bytes) {
    const DecodedFrame frame = DecodeFrame(bytes);
    switch (frame.shape) {
    case DecodedFrame::Shape::Incomplete: return QStringLiteral("不完整的帧");
    case DecodedFrame::Shape::NoHead: return QStringLiteral("没有帧头的数据");
    case DecodedFrame::Shape::NoTail: return QStringLiteral("没有帧尾的数据");
    case DecodedFrame::Shape::Control:
    case DecodedFrame::Shape::Play: break;
    }
    QString words = frame.shape == DecodedFrame::Shape::Play ? DescribePlay(frame) : DescribeControl(frame.mode);
    if (!frame.checkOk) words = QStringLiteral("校验字节错误的帧：") + words;
    return words;
}

}  // namespace vorla
