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
    const TangPoem& poem = kPoems[std::clamp(piece, 0, kKaraokePieces - 1)];
    // Tempo code 36 is a unit of 10 s, so a duration character 32 + n holds a
    // character for n tenths of a second; a faster chip scales the unit.
    const int tempo = std::clamp(int(std::lround(36.0 / std::max(speed, 0.01))), 1, 127);
    using namespace lyric;
    const auto code = [](int16_t c) { return char(c); };
    QByteArray s;
    s += code(kTempo);
    s += '\x00';
    s += char(tempo);
    s += code(kLines);
    s += Gbk(poem.title);
    s += code(kLine2);
    s += Gbk(poem.poet);
    s += "  ";  // ends line 2
    s += code(kPause);
    s += code(kDurationBase + 5);  // pause 2 s (5 * 4 tenths)
    for (int line = 0; line < 4; ++line) {
        s += code(kSentence);
        const QByteArray chars = Gbk(poem.lines[line]);
        for (qsizetype i = 0; i + 1 < chars.size(); i += 2) {
            s += chars.mid(i, 2);
            const bool last = i + 2 >= chars.size();
            s += code(int16_t(kDurationBase + (last ? 12 : 6)));  // 0.6 s a character, 1.2 s the last
        }
        if (line < 3) {
            s += code(kPause);
            s += code(kDurationBase + 2);  // 0.8 s between lines
        }
    }
    s += code(kEnd);
    return s;
}

}  // namespace vorla::sim
