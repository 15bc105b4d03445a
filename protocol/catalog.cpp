// SPDX-License-Identifier: MIT
#include "protocol/catalog.h"

namespace vorla {

uint8_t ItemBase(ItemKind kind) {
    switch (kind) {
    case ItemKind::Music: return kMusicBase;
    case ItemKind::Phrase: return kPhraseBase;
    case ItemKind::Poem: return kPoemBase;
    case ItemKind::Sound: return kSoundBase;
    }
    return kMusicBase;
}

const QStringList& StoredItems(ItemKind kind) {
    static const QStringList music{QStringLiteral("军港之夜---卡拉OK"),
                                   QStringLiteral("伤心太平洋-卡拉OK"),
                                   QStringLiteral("流星雨-----卡拉OK"),
                                   QStringLiteral("雨蝶-------卡拉OK"),
                                   QStringLiteral("同桌的你---卡拉OK\t\t"),
                                   QStringLiteral("雾里看花---卡拉OK"),
                                   QStringLiteral("西游记-----卡拉OK"),
                                   QStringLiteral("第一次-----卡拉OK"),
                                   QStringLiteral("秋雨蒙蒙"),
                                   QStringLiteral("生日快乐"),
                                   QStringLiteral("梦里水乡"),
                                   QStringLiteral("蓝色的背影"),
                                   QStringLiteral("爱拼才会赢"),
                                   QStringLiteral("红梅花儿开"),
                                   QStringLiteral("铃儿叮当响"),
                                   QStringLiteral("包青天"),
                                   QStringLiteral("茉莉花"),
                                   QStringLiteral("西班牙斗牛士"),
                                   QStringLiteral("赛马"),
                                   QStringLiteral("卡布利鸟"),
                                   QStringLiteral("秋日的私语"),
                                   QStringLiteral("致爱丽丝"),
                                   QStringLiteral("北国之春"),
                                   QStringLiteral("九九艳阳天"),
                                   QStringLiteral("望江南"),
                                   QStringLiteral("绿袖子")};
    static const QStringList phrases{QStringLiteral("您好，我是智能电话秘书，现在是主人休息时间，请明天再联系，谢谢！"),
                                     QStringLiteral("现在是北京时间"),
                                     QStringLiteral("来电话啦"),
                                     QStringLiteral("来电"),
                                     QStringLiteral("主人不在，请转拨"),
                                     QStringLiteral("对吗"),
                                     QStringLiteral("等待应答"),
                                     QStringLiteral("接通啦"),
                                     QStringLiteral("对不起"),
                                     QStringLiteral("您操作错啦"),
                                     QStringLiteral("真的要删除吗"),
                                     QStringLiteral("真的要清空吗"),
                                     QStringLiteral("请稍等"),
                                     QStringLiteral("您要的电话是"),
                                     QStringLiteral("未接电话"),
                                     QStringLiteral("未读短信"),
                                     QStringLiteral("长途来电啦"),
                                     QStringLiteral("手机来电啦"),
                                     QStringLiteral("您好"),
                                     QStringLiteral("谢谢")};
    static const QStringList poems{
        QStringLiteral("静夜思"),     QStringLiteral("春晓"),     QStringLiteral("登幽州台歌"),
        QStringLiteral("相思"),       QStringLiteral("登乐游原"), QStringLiteral("江雪"),
        QStringLiteral("寻隐者不遇"), QStringLiteral("怨情"),     QStringLiteral("山中送别")};
    static const QStringList sounds{
        QStringLiteral("“幺”"),      QStringLiteral("错误声"), QStringLiteral("激光声"),    QStringLiteral("照相声"),
        QStringLiteral("打钟声"),    QStringLiteral("铃声"),   QStringLiteral("excellent"), QStringLiteral("verygood"),
        QStringLiteral("incorrect"), QStringLiteral("good")};
    switch (kind) {
    case ItemKind::Music: return music;
    case ItemKind::Phrase: return phrases;
    case ItemKind::Poem: return poems;
    case ItemKind::Sound: return sounds;
    }
    return music;
}

ItemSplit SplitItemIndex(int16_t index) {
    // Rounded down, also for the -1 of a list with nothing selected.
    const int16_t high = int16_t(index >= 0 ? index / 16 : -((-index + 15) / 16));
    return ItemSplit{high, int16_t(index - 16 * high)};
}

int32_t ItemCode(int16_t index, uint8_t base) {
    const ItemSplit s = SplitItemIndex(index);
    return int16_t((s.high + 0x60) * 256 + base + s.low);
}

const QStringList& TuneNames() {
    static const QStringList names{QStringLiteral("无"),       QStringLiteral("梦里水乡"), QStringLiteral("雨蝶"),
                                   QStringLiteral("茉莉花"),   QStringLiteral("北国之春"), QStringLiteral("秋日的私语"),
                                   QStringLiteral("同桌的你"), QStringLiteral("秋雨蒙蒙")};
    return names;
}

QString PlayKindName(PlayKind kind) {
    switch (kind) {
    case PlayKind::Character: return QStringLiteral("character");
    case PlayKind::Phrase: return QStringLiteral("phrase");
    case PlayKind::Sound: return QStringLiteral("sound");
    case PlayKind::Poem: return QStringLiteral("poem");
    case PlayKind::Music: return QStringLiteral("music");
    case PlayKind::Count: break;
    }
    return QString();
}

PlayKind PlayKindOf(ItemKind kind) {
    switch (kind) {
    case ItemKind::Phrase: return PlayKind::Phrase;
    case ItemKind::Sound: return PlayKind::Sound;
    case ItemKind::Poem: return PlayKind::Poem;
    case ItemKind::Music: break;
    }
    return PlayKind::Music;
}

PlaySeconds PlaySecondsOf(PlayKind kind) {
    switch (kind) {
    case PlayKind::Character: return {0.3, 0.08, 1.0};
    case PlayKind::Phrase: return {1.5, 0.3, 60};
    case PlayKind::Sound: return {1.0, 0.1, 30};
    case PlayKind::Poem: return {8.0, 2.0, 120};
    case PlayKind::Music: break;
    case PlayKind::Count: return {};
    }
    return {20.0, 2.0, 400};
}

}  // namespace vorla
