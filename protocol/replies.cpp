// SPDX-License-Identifier: MIT
#include "protocol/replies.h"

namespace vorla::reply {

QByteArray Bytes(Kind kind) {
    const char bytes[kChars] = {char(kHead), char(Code(kind)), char(kTail)};
    return QByteArray(bytes, kChars);
}

QString StatusText(Kind kind) {
    switch (kind) {
    case Kind::Rejected: return QStringLiteral("接收失败");
    case Kind::Accepted: return QStringLiteral("接收成功");
    case Kind::Finished: return QStringLiteral("        播放完毕");
    }
    return QString();
}

QString LogLine(Kind kind) {
    switch (kind) {
    case Kind::Rejected: return QStringLiteral("->0x01 0x10 0x14 接受失败");
    case Kind::Accepted: return QStringLiteral("->0x01 0x11 0x14 接受成功");
    case Kind::Finished: return QStringLiteral("->0x01 0x12 0x14 播放完毕");
    }
    return QString();
}

QString RejectedStatus(int attempt) {
    // The number after one blank, as a non-negative number is written.
    return StatusText(Kind::Rejected) + QStringLiteral(" = ") + u' ' + QString::number(attempt);
}

}  // namespace vorla::reply
