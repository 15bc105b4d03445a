// SPDX-License-Identifier: MIT
#include "sim/lyric_pieces.h"

#include <algorithm>
#include <cmath>

#include <QStringEncoder>
#include <QStringList>

#include "protocol/received_text.h"

namespace vorla::sim {

namespace {
// The karaoke pieces first, in their order; then the other stored poems.
const TangPoem kPoems[] = {
    {u"静夜思", u"李白", {u"床前明月光", u"疑是地上霜", u"举头望明月", u"低头思故乡"}},
    {u"春晓", u"孟浩然", {u"春眠不觉晓", u"处处闻啼鸟", u"夜来风雨声", u"花落知多少"}},
    {u"登鹳雀楼", u"王之涣", {u"白日依山尽", u"黄河入海流", u"欲穷千里目", u"更上一层楼"}},
    {u"相思", u"王维", {u"红豆生南国", u"春来发几枝", u"愿君多采撷", u"此物最相思"}},
    {u"江雪", u"柳宗元", {u"千山鸟飞绝", u"万径人踪灭", u"孤舟蓑笠翁", u"独钓寒江雪"}},
    {u"鹿柴", u"王维", {u"空山不见人", u"但闻人语响", u"返景入深林", u"复照青苔上"}},
    {u"寻隐者不遇", u"贾岛", {u"松下问童子", u"言师采药去", u"只在此山中", u"云深不知处"}},
    {u"登乐游原", u"李商隐", {u"向晚意不适", u"驱车登古原", u"夕阳无限好", u"只是近黄昏"}},
    {u"登幽州台歌", u"陈子昂", {u"前不见古人", u"后不见来者", u"念天地之悠悠", u"独怆然而涕下"}},
    {u"怨情", u"李白", {u"美人卷珠帘", u"深坐颦蛾眉", u"但见泪痕湿", u"不知心恨谁"}},
    {u"山中送别", u"王维", {u"山中相送罢", u"日暮掩柴扉", u"春草明年绿", u"王孙归不归"}},
};

QByteArray Gbk(const char16_t* text) {
    QStringEncoder encoder("GBK");
    return encoder.encode(QString::fromUtf16(text));
}
}  // namespace

const TangPoem* FindPoem(const QString& title) {
    for (const TangPoem& poem : kPoems)
        if (QString::fromUtf16(poem.title) == title) return &poem;
    return nullptr;
}

QByteArray LyricStream(int piece, double speed) {
    const TangPoem& poem = kPoems[std::clamp(piece, 0, kKaraokePieceCount - 1)];
    // Tempo code 36 is a unit of 10 s, so a duration character 32 + n holds a
    // character for n tenths of a second; a faster chip scales the unit.
    const int tempo = std::clamp(int(std::lround(36.0 / std::max(speed, 0.01))), 1, 127);
    QByteArray s;
    s += '\x01';
    s += '\x00';
    s += char(tempo);
    s += '\x05';
    s += Gbk(poem.title);
    s += '\x06';
    s += Gbk(poem.poet);
    s += "  ";  // ends line 2
    s += "\x07"
         "\x25";  // pause 2 s (5 * 4 tenths)
    for (int line = 0; line < 4; ++line) {
        s += '\x08';
        const QByteArray chars = Gbk(poem.lines[line]);
        for (qsizetype i = 0; i + 1 < chars.size(); i += 2) {
            s += chars.mid(i, 2);
            const bool last = i + 2 >= chars.size();
            s += char(32 + (last ? 12 : 6));  // 0.6 s a character, 1.2 s the last
        }
        if (line < 3)
            s += "\x07"
                 "\x22";  // 0.8 s between lines
    }
    s += '\x04';
    return s;
}

double LyricSeconds(const QByteArray& stream) {
    double total = 0;
    for (const LyricBeat& beat : LyricTimeline(stream)) total += beat.seconds;
    return total;
}

std::vector<LyricBeat> LyricTimeline(const QByteArray& stream) {
    const RxText text = SplitReceived(stream);
    double unit = 0;
    std::vector<LyricBeat> beats;
    for (size_t i = 0; i < text.size(); ++i) {
        const int16_t c = text[i].code;
        if (c == 0x01 && i + 2 < text.size()) {
            unit = text[i + 2].code / 3.6;
            i += 2;
        } else if (c == 0x07 && i + 1 < text.size()) {
            beats.push_back(LyricBeat{std::max(0, (text[i + 1].code - 32) * 4) * 0.01 * unit, false});
            ++i;
        } else if (c == 0x08) {
            size_t j = i + 1;
            while (j + 1 < text.size() && text[j].doubleByte()) {
                beats.push_back(LyricBeat{std::max(0, text[j + 1].code - 32) * 0.01 * unit, true});
                j += 2;
            }
            i = j - 1;
        } else if (c == 0x04) {
            break;
        }
    }
    return beats;
}

}  // namespace vorla::sim
