// SPDX-License-Identifier: MIT
// An SVG picture's size as a viewer shows it, and whether a viewer opens it.
#pragma once

#include <optional>

#include <QByteArray>
#include <QProcess>
#include <QRegularExpression>
#include <QSizeF>
#include <QStandardPaths>
#include <QString>

namespace vorla::test {

struct SvgSize {
    QSizeF pixels;   // its width and height in millimetres, in pixels at 96 dots an inch
    QSizeF viewBox;  // the size of what is drawn
};
// Empty sizes when the header cannot be read.
inline SvgSize SizeOfSvg(const QByteArray& svg) {
    static const QRegularExpression header(
        QStringLiteral(R"re(<svg\s+width="([\d.]+)mm"\s+height="([\d.]+)mm"\s+viewBox="0 0 ([\d.]+) ([\d.]+)")re"));
    const QRegularExpressionMatch m = header.match(QString::fromUtf8(svg));
    if (!m.hasMatch()) return {};
    const auto at = [&](int i) { return m.captured(i).toDouble(); };
    constexpr double kPixelsAMillimetre = 96 / 25.4;
    return {QSizeF(at(1) * kPixelsAMillimetre, at(2) * kPixelsAMillimetre), QSizeF(at(3), at(4))};
}

// What rsvg-convert says when it cannot render the file (empty when it
// renders it to FILE.png); nothing when rsvg-convert is not installed.
inline std::optional<QString> RenderSvg(const QString& path) {
    const QString rsvg = QStandardPaths::findExecutable(QStringLiteral("rsvg-convert"));
    if (rsvg.isEmpty()) return std::nullopt;
    QProcess p;
    p.start(rsvg, {path, QStringLiteral("-o"), path + QStringLiteral(".png")});
    if (!p.waitForFinished(30000)) p.kill();
    if (p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0) return QString();
    return QStringLiteral("rsvg-convert: ") + QString::fromLocal8Bit(p.readAllStandardError());
}

}  // namespace vorla::test
