// SPDX-License-Identifier: MIT
#include "conversation/frame_log.h"

#include <QSaveFile>

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
    emit appended(chunk);
}

void FrameLog::clear() {
    text_.clear();
    emit cleared();
}

bool FrameLog::saveTo(const QString& path, QString* error) const {
    QSaveFile file(path);
    const QByteArray bytes = text_.toUtf8();
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit()) return true;
    if (error) *error = file.errorString();
    return false;
}

}  // namespace vorla
