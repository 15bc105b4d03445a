// SPDX-License-Identifier: MIT
// The log of sent frames and received replies.
#pragma once

#include <cstdint>
#include <span>

#include <QObject>
#include <QString>

namespace vorla {

inline const QString kCrLf = QStringLiteral("\r\n");

// "发出一帧，字节数 " with the count after a second blank, then "-->" and
// every byte as 0x + upper-case hex without leading zero + one blank.
QString FormatSentRecord(std::span<const uint8_t> frame);

// The log text, exactly as recorded. Appending costs the same however long
// the log has grown; the view follows through the signals.
class FrameLog : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    void append(const QString& chunk);
    void appendLine(const QString& line) { append(line + kCrLf); }
    void clear();
    const QString& text() const { return text_; }

    // Writes the log as recorded (CR LF line ends) to a file in UTF-8, whole
    // or not at all; false with the reason when it cannot.
    bool saveTo(const QString& path, QString* error) const;

signals:
    void appended(const QString& chunk);
    void cleared();

private:
    QString text_;
};

}  // namespace vorla
