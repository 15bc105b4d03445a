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

double Number(const QJsonObject& o, const char* key) { return o.value(QLatin1String(key)).toDouble(); }

Limits FromJson(const QJsonObject& o) {
    Limits l;
    const QJsonObject latency = o.value(QStringLiteral("latencyMs")).toObject();
    for (auto it = latency.begin(); it != latency.end(); ++it) {
        const QJsonObject band = it.value().toObject();
        l.latencyMs[it.key().toInt()] = Band{Number(band, "marginal"), Number(band, "fail")};
    }
    l.replyDeadlineSeconds = Number(o, "replyDeadlineSeconds");
    const QJsonObject play = o.value(QStringLiteral("playSeconds")).toObject();
    for (size_t k = 0; k < l.play.size(); ++k) {
        const QJsonObject range = play.value(PlayKindName(PlayKind(k))).toObject();
        l.play[k] = PlayRange{Number(range, "min"), Number(range, "max")};
    }
    l.playBaseSeconds = Number(o, "playBaseSeconds");
    l.playScale = Number(o, "playScale");
    l.lyricSeconds = Number(o, "lyricSeconds");
    l.stopReport = o.value(QStringLiteral("stopReport")).toBool();
    l.stopReportSeconds = Number(o, "stopReportSeconds");
    l.resendsMarginal = Number(o, "resendsMarginal");
    l.strayBytesMarginal = Number(o, "strayBytesMarginal");
    l.lyricLinesMin = Number(o, "lyricLinesMin");
    l.maxRejectedShare = Number(o, "maxRejectedShare");
    l.rejectedShareMinFrames = Number(o, "rejectedShareMinFrames");
    l.missingReportsInARow = Number(o, "missingReportsInARow");
    const QJsonObject refuse = o.value(QStringLiteral("mustRefuse")).toObject();
    for (auto it = refuse.begin(); it != refuse.end(); ++it) l.mustRefuse[it.key()] = it.value().toBool();
    return l;
}

// Why limits that each have the right type cannot stand together; empty
// when they can.
QString Inconsistent(const Limits& l) {
    for (const auto& [baud, band] : l.latencyMs) {
        if (band.marginal >= band.fail) {
            return QStringLiteral("latencyMs.%1: marginal (%2) must be below fail (%3)")
                .arg(baud)
                .arg(band.marginal)
                .arg(band.fail);
        }
    }
    for (size_t k = 0; k < l.play.size(); ++k) {
        if (l.play[k].min > l.play[k].max) {
            return QStringLiteral("playSeconds.%1: min (%2) must not exceed max (%3)")
                .arg(PlayKindName(PlayKind(k)))
                .arg(l.play[k].min)
                .arg(l.play[k].max);
        }
    }
    if (l.maxRejectedShare > 1) return QStringLiteral("maxRejectedShare must be at most 1");
    if (l.playScale <= 0) return QStringLiteral("playScale must be above 0");
    return QString();
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
    // Nothing in the chip's protocol says it must refuse these.
    l.mustRefuse = {{QStringLiteral("overlongFrame"), false}, {QStringLiteral("unknownItemCode"), false}};
    return l;
}

QString MeasureName(Measure measure) {
    switch (measure) {
    case Measure::Latency: return QStringLiteral("latency");
    case Measure::Resends: return QStringLiteral("resends");
    case Measure::PlayTime: return QStringLiteral("playTime");
    case Measure::LyricsTime: return QStringLiteral("lyricsTime");
    case Measure::LyricLines: return QStringLiteral("lyricLines");
    case Measure::StrayBytes: return QStringLiteral("strayBytes");
    }
    return QString();
}

QString MeasureUnit(Measure measure) {
    switch (measure) {
    case Measure::Latency: return QStringLiteral("ms");
    case Measure::Resends: return QStringLiteral("frames");
    case Measure::PlayTime:
    case Measure::LyricsTime: return QStringLiteral("s");
    case Measure::LyricLines: return QStringLiteral("lines");
    case Measure::StrayBytes: return QStringLiteral("bytes");
    }
    return QString();
}

Bounds Limits::bounds(Measure measure, const Step& step, int baud) const {
    Bounds b;
    switch (measure) {
    case Measure::Latency:
        // A step that must be refused, or that runs codes, is judged on
        // what follows, not on how fast the first answer came.
        if (step.judgesAnswer()) {
            const Band band = latency(baud);
            b.marginal = band.marginal;
            b.max = band.fail;
        }
        break;
    case Measure::Resends:
        if (step.judgesAnswer()) b.marginal = resendsMarginal;
        break;
    case Measure::PlayTime: {
        const PlayRange range = playTime(step);
        b.min = range.min;
        if (!std::isinf(range.max)) b.max = range.max;
        break;
    }
    case Measure::LyricsTime: b.max = lyricSeconds; break;
    case Measure::LyricLines: b.min = lyricLinesMin; break;
    case Measure::StrayBytes: b.marginal = strayBytesMarginal; break;
    }
    return b;
}

bool Limits::refusalRequired(const QString& refusal) const {
    const auto it = mustRefuse.find(refusal);
    return it == mustRefuse.end() || it->second;
}

int Limits::rejectionsAllowed(int frames) const {
    return int(std::floor(maxRejectedShare * std::max(double(frames), rejectedShareMinFrames) + 1e-9));
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
    QJsonObject refuse;
    for (const auto& [name, required] : l.mustRefuse) refuse.insert(name, required);
    return QJsonObject{{QStringLiteral("latencyMs"), latency},
                       {QStringLiteral("replyDeadlineSeconds"), l.replyDeadlineSeconds},
                       {QStringLiteral("playSeconds"), play},
                       {QStringLiteral("playBaseSeconds"), l.playBaseSeconds},
                       {QStringLiteral("playScale"), l.playScale},
                       {QStringLiteral("lyricSeconds"), l.lyricSeconds},
                       {QStringLiteral("stopReport"), l.stopReport},
                       {QStringLiteral("stopReportSeconds"), l.stopReportSeconds},
                       {QStringLiteral("resendsMarginal"), l.resendsMarginal},
                       {QStringLiteral("strayBytesMarginal"), l.strayBytesMarginal},
                       {QStringLiteral("lyricLinesMin"), l.lyricLinesMin},
                       {QStringLiteral("maxRejectedShare"), l.maxRejectedShare},
                       {QStringLiteral("rejectedShareMinFrames"), l.rejectedShareMinFrames},
                       {QStringLiteral("missingReportsInARow"), l.missingReportsInARow},
                       {QStringLiteral("mustRefuse"), refuse}};
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
    Limits limits = FromJson(merged);
    *error = Inconsistent(limits);
    if (!error->isEmpty()) return std::nullopt;
    return limits;
}

QString LimitsText(const Limits& l) {
    QStringList lines;
    QStringList latency;
    for (const auto& [baud, band] : l.latencyMs)
        latency
            << QStringLiteral("%1 baud: warn over %2 ms, fail over %3 ms").arg(baud).arg(band.marginal).arg(band.fail);
    lines << QStringLiteral("reply latency (frame's last byte on the wire to the reply's last byte read):")
          << QStringLiteral("  ") + latency.join(QStringLiteral("\n  "))
          << QStringLiteral(
                 "no reply within %1 s of the frame's last byte on the wire: no answer; a later one is named as "
                 "late, with the frame it is taken to answer")
                 .arg(l.replyDeadlineSeconds);
    QStringList play;
    for (size_t k = 0; k < l.play.size(); ++k)
        play << QStringLiteral("%1 %2-%3 s").arg(PlayKindName(PlayKind(k))).arg(l.play[k].min).arg(l.play[k].max);
    lines << QStringLiteral("play time per item (full runs), times the passes, the maximum plus %1 s, scaled by %2:")
                 .arg(l.playBaseSeconds)
                 .arg(l.playScale)
          << QStringLiteral("  ") + play.join(QStringLiteral(", "))
          << QStringLiteral("lyric stream whole, with its end code, within %1 s of the acceptance").arg(l.lyricSeconds)
          << QStringLiteral("at least %1 lyric line(s) shown").arg(l.lyricLinesMin)
          << (l.stopReport
                  ? QStringLiteral("a stop of a play that asked for a finish report is followed by it within %1 s")
                        .arg(l.stopReportSeconds)
                  : QStringLiteral("a stop need not be followed by a finish report"))
          << QStringLiteral("warn over %1 resend(s) of a step's frame, over %2 stray byte(s) in a step")
                 .arg(l.resendsMarginal)
                 .arg(l.strayBytesMarginal)
          << QStringLiteral("at most %1 % of a run's frames rejected, of at least %2 frames (%3 in a shorter run)")
                 .arg(l.maxRejectedShare * 100)
                 .arg(l.rejectedShareMinFrames)
                 .arg(l.rejectionsAllowed(0))
          << QStringLiteral("a full run waits each play's longest for its finish report until %1 in a row are missing")
                 .arg(l.missingReportsInARow);
    QStringList refusals;
    for (const auto& [name, required] : l.mustRefuse)
        refusals << QStringLiteral("%1 %2").arg(name,
                                                required ? QStringLiteral("required") : QStringLiteral("a warning"));
    if (!refusals.isEmpty())
        lines << QStringLiteral("refusals the protocol does not promise (mustRefuse): ") +
                     refusals.join(QStringLiteral(", "));
    return lines.join(u'\n') + u'\n';
}

}  // namespace vorla
