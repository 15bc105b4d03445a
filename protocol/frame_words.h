// SPDX-License-Identifier: MIT
// A frame in words, from its bytes alone: "文本朗读 音量3级 读标点 报告播完：
// 欢迎使用！", "停止", "波特率9600", "卡拉OK 雨蝶 音量2级 回传歌词". For the
// log's tooltips, the virtual chip's transcript and the self-test's report.
#pragma once

#include <QByteArrayView>
#include <QString>

#include "protocol/catalog.h"

namespace vorla {

QString DescribeFrame(QByteArrayView frame);
// A stored item in words: "卡拉OK 雨蝶", "常用语 来电".
QString StoredItemWords(ItemKind kind, int index);

}  // namespace vorla
