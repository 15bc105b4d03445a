// SPDX-License-Identifier: MIT
#include "link/frame_log.h"

namespace vorla {

QString FormatSentRecord(std::span<const uint8_t> frame) {
    QString dump = QStringLiteral("-->");
    dump.reserve(3 + qsizetype(frame.size()) * 5);
    for (const uint8_t b : frame) {
        dump += QStringLiteral("0x");
        dump += QString::number(b, 16).toUpper();
        dump += u' ';
    }
    return QStringLiteral("发出一帧，字节数 ") + u' ' + QString::number(frame.size()) + kCrLf + dump + kCrLf;
}

void FrameLog::append(const QString& chunk) {
    text_ += chunk;
    lines_ += chunk.count(u'\n');
    emit appended(chunk);
}

void FrameLog::clear() {
    text_.clear();
    lines_ = 0;
    emit cleared();
}

}  // namespace vorla
