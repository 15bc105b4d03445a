// SPDX-License-Identifier: MIT
#include "selftest/limits.h"

#include <cmath>
#include <limits>

#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>

#include "protocol/replies.h"

namespace vorla {

namespace {
constexpr double kMarginalExtraMs = 60;
constexpr double kFailExtraMs = 250;

// Why `value` cannot stand where `target` stands; empty when it can.
QString Mismatch(const QString& name, const QJsonValue& target, const QJsonValue& value) {
    if (target.type() != value.type()) {
        const QString kind = target.isObject() ? QStringLiteral("object")
                             : target.isBool() ? QStringLiteral("true or false")
                                               : QStringLiteral("number");
        return QStringLiteral("%1 must be a %2").arg(name, kind);
    }
    if (value.isDouble() && (value.toDouble() < 0 || !std::isfinite(value.toDouble())))
        return QStringLiteral("%1 must not be negative").arg(name);
    return QString();
}

// Merges `over` into `base` key by key: every key must exist in `base`
// with a value of the same type.
bool Merge(QJsonObject& base, const QJsonObject& over, const QString& path, QString* error) {
    for (auto it = over.begin(); it != over.end(); ++it) {
        const QString name = path.isEmpty() ? it.key() : path + u'.' + it.key();
        *error = base.contains(it.key()) ? Mismatch(name, base.value(it.key()), it.value())
                                         : QStringLiteral("unknown limit %1").arg(name);
        if (!error->isEmpty()) return false;
        if (!it.value().isObject()) {
            base.insert(it.key(), it.value());
            continue;
        }
        QJsonObject inner = base.value(it.key()).toObject();
        if (!Merge(inner, it.value().toObject(), name, error)) return false;
        base.insert(it.key(), inner);
    }
    return true;
}

Limits FromJson(const QJsonObject& o) {
    Limits l;
    const QJsonObject latency = o.value(QStringLiteral("latencyMs")).toObject();
    for (auto it = latency.begin(); it != latency.end(); ++it) {
        const QJsonObject band = it.value().toObject();
        l.latencyMs[it.key().toInt()] =
            Band{band.value(QStringLiteral("marginal")).toDouble(), band.value(QStringLiteral("fail")).toDouble()};
    }
    l.replyDeadlineSeconds = o.value(QStringLiteral("replyDeadlineSeconds")).toDouble();
    const QJsonObject play = o.value(QStringLiteral("playSeconds")).toObject();
    for (size_t k = 0; k < l.play.size(); ++k) {
        const QJsonObject range = play.value(PlayKindName(PlayKind(k))).toObject();
        l.play[k] =
            PlayRange{range.value(QStringLiteral("min")).toDouble(), range.value(QStringLiteral("max")).toDouble()};
    }
    l.playBaseSeconds = o.value(QStringLiteral("playBaseSeconds")).toDouble();
    l.playScale = o.value(QStringLiteral("playScale")).toDouble();
    l.lyricSeconds = o.value(QStringLiteral("lyricSeconds")).toDouble();
    l.stopReport = o.value(QStringLiteral("stopReport")).toBool();
    l.stopReportSeconds = o.value(QStringLiteral("stopReportSeconds")).toDouble();
    l.maxRejectedShare = o.value(QStringLiteral("maxRejectedShare")).toDouble();
    return l;
}
}  // namespace

double WireSeconds(qsizetype bytes, int baud) { return double(bytes) * 10.0 / double(baud > 0 ? baud : 1200); }

double ReplyWireMs(int baud) { return WireSeconds(qsizetype(reply::kChars), baud) * 1000.0; }

Limits Limits::defaults() {
    Limits l;
    for (int16_t i = 0; i < kBaudRates; ++i) {
        const int baud = BaudRateAt(i)->baud;
        l.latencyMs[baud] =
            Band{std::round(ReplyWireMs(baud) + kMarginalExtraMs), std::round(ReplyWireMs(baud) + kFailExtraMs)};
    }
    // Per item, the catalog's shortest and longest.
    for (size_t k = 0; k < l.play.size(); ++k) {
        const PlaySeconds figures = PlaySecondsOf(PlayKind(k));
        l.play[k] = PlayRange{figures.shortest, figures.longest};
    }
    return l;
}

Band Limits::latency(int baud) const {
    const auto it = latencyMs.find(baud);
    if (it != latencyMs.end()) return it->second;
    return Band{ReplyWireMs(baud) + kMarginalExtraMs, ReplyWireMs(baud) + kFailExtraMs};
}

PlayRange Limits::playTime(const Step& step) const {
    PlayRange r{0, playBaseSeconds};
    for (size_t k = 0; k < play.size(); ++k) {
        r.min += play[k].min * step.amount[k];
        r.max += play[k].max * step.amount[k];
    }
    if (step.passes == 0) return PlayRange{r.min * playScale, std::numeric_limits<double>::infinity()};
    return PlayRange{r.min * step.passes * playScale, r.max * step.passes * playScale};
}

QJsonObject LimitsToJson(const Limits& l) {
    QJsonObject latency;
    for (const auto& [baud, band] : l.latencyMs)
        latency.insert(QString::number(baud),
                       QJsonObject{{QStringLiteral("marginal"), band.marginal}, {QStringLiteral("fail"), band.fail}});
    QJsonObject play;
    for (size_t k = 0; k < l.play.size(); ++k)
        play.insert(PlayKindName(PlayKind(k)),
                    QJsonObject{{QStringLiteral("min"), l.play[k].min}, {QStringLiteral("max"), l.play[k].max}});
    return QJsonObject{{QStringLiteral("latencyMs"), latency},
                       {QStringLiteral("replyDeadlineSeconds"), l.replyDeadlineSeconds},
                       {QStringLiteral("playSeconds"), play},
                       {QStringLiteral("playBaseSeconds"), l.playBaseSeconds},
                       {QStringLiteral("playScale"), l.playScale},
                       {QStringLiteral("lyricSeconds"), l.lyricSeconds},
                       {QStringLiteral("stopReport"), l.stopReport},
                       {QStringLiteral("stopReportSeconds"), l.stopReportSeconds},
                       {QStringLiteral("maxRejectedShare"), l.maxRejectedShare}};
}

std::optional<Limits> LimitsFromJson(const QByteArray& json, QString* error) {
    QString ignored;
    if (!error) error = &ignored;
    QJsonParseError parse{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parse);
    if (parse.error != QJsonParseError::NoError) {
        *error = QStringLiteral("not JSON: %1 at offset %2").arg(parse.errorString()).arg(parse.offset);
        return std::nullopt;
    }
    if (!doc.isObject()) {
        *error = QStringLiteral("the limits must be a JSON object");
        return std::nullopt;
    }
    QJsonObject merged = LimitsToJson(Limits::defaults());
    if (!Merge(merged, doc.object(), QString(), error)) return std::nullopt;
    return FromJson(merged);
}

QString LimitsText(const Limits& l) {
    QStringList lines;
    QStringList latency;
    for (const auto& [baud, band] : l.latencyMs)
        latency
            << QStringLiteral("%1 baud: warn over %2 ms, fail over %3 ms").arg(baud).arg(band.marginal).arg(band.fail);
    lines
        << QStringLiteral("reply latency (frame's last byte on the wire to the reply's last byte read):")
        << QStringLiteral("  ") + latency.join(QStringLiteral("\n  "))
        << QStringLiteral("no reply within %1 s: no answer; a later one is named as late").arg(l.replyDeadlineSeconds);
    QStringList play;
    for (size_t k = 0; k < l.play.size(); ++k)
        play << QStringLiteral("%1 %2-%3 s").arg(PlayKindName(PlayKind(k))).arg(l.play[k].min).arg(l.play[k].max);
    lines << QStringLiteral("play time per item (full runs), times the passes, the maximum plus %1 s, scaled by %2:")
                 .arg(l.playBaseSeconds)
                 .arg(l.playScale)
          << QStringLiteral("  ") + play.join(QStringLiteral(", "))
          << QStringLiteral("lyric stream whole, with its end code and a line, within %1 s of the acceptance")
                 .arg(l.lyricSeconds)
          << (l.stopReport
                  ? QStringLiteral("a stop of a play that asked for a finish report is followed by it within %1 s")
                        .arg(l.stopReportSeconds)
                  : QStringLiteral("a stop need not be followed by a finish report"))
          << QStringLiteral("at most %1 % of a run's frames rejected").arg(l.maxRejectedShare * 100);
    return lines.join(u'\n') + u'\n';
}

}  // namespace vorla
