// SPDX-License-Identifier: MIT
// The limits a chip's answers are judged against: reply latency by line
// rate, play time by what is played, the lyric stream, the stop's finish
// report, resends and stray bytes, the refusals required of the chip, and
// the share of frames a run may see rejected. The defaults are stated here
// and in the program's help; a JSON file can override any. The judge and the
// reports take every bound of a measurement from Limits::bounds, one table.
#pragma once

#include <array>
#include <cmath>
#include <map>
#include <optional>

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include "selftest/step.h"

namespace vorla {

// Above `marginal` a value warns, above `fail` it fails.
struct Band {
    double marginal = 0;
    double fail = 0;
    friend bool operator==(const Band&, const Band&) = default;
};

// Seconds one item of a kind may play: at least `min`, at most `max`.
struct PlayRange {
    double min = 0;
    double max = 0;
    friend bool operator==(const PlayRange&, const PlayRange&) = default;
};

// What a step measures that is judged by its number.
enum class Measure { Latency, Resends, PlayTime, LyricsTime, LyricLines, StrayBytes };
inline constexpr Measure kMeasures[] = {Measure::Latency,    Measure::Resends,    Measure::PlayTime,
                                        Measure::LyricsTime, Measure::LyricLines, Measure::StrayBytes};
QString MeasureName(Measure measure);  // "latency", "resends", ...
QString MeasureUnit(Measure measure);  // "ms", "frames", ...

// A measurement's bounds: below `min` it fails, above `marginal` it warns,
// above `max` it fails; NaN where there is no such bound.
struct Bounds {
    double min = std::nan("");
    double marginal = std::nan("");
    double max = std::nan("");
    bool any() const { return !std::isnan(min) || !std::isnan(marginal) || !std::isnan(max); }
};

struct Limits {
    // Reply latency in ms by baud rate: from the frame's last byte on the
    // wire to the reply's last byte read. The defaults are the reply's own
    // three bytes on the wire plus 60 ms (marginal) and 250 ms (fail).
    std::map<int, Band> latencyMs;
    // How long a reply is waited for before the step has none; what comes
    // later is named as a late reply.
    double replyDeadlineSeconds = 2.0;
    std::array<PlayRange, size_t(PlayKind::Count)> play{};
    double playBaseSeconds = 5.0;  // added to every play's maximum
    double playScale = 1.0;        // every play time limit is multiplied by this
    // The lyric stream has arrived whole, ended by its end code, within
    // this of the acceptance.
    double lyricSeconds = 15.0;
    // A stop of a play that asked for a finish report is followed by it,
    // within stopReportSeconds.
    bool stopReport = true;
    double stopReportSeconds = 1.0;
    // More resends of a step's frame than this, and more stray bytes in a
    // step than this, warn; fewer lyric lines shown than this fail.
    double resendsMarginal = 0;
    double strayBytesMarginal = 0;
    double lyricLinesMin = 1;
    // The share of a run's frames the chip may reject (each is resent),
    // taken of at least rejectedShareMinFrames frames: a shorter run may see
    // as many rejected as that many frames would allow.
    double maxRejectedShare = 0.05;
    double rejectedShareMinFrames = 60;
    // A full run waits each play's longest for its finish report; after
    // this many plays in a row without one, the rest are not waited for in
    // full (each says so).
    double missingReportsInARow = 3;
    // Refusals the chip's protocol does not promise (Step::refusal): a
    // frame of these accepted is a failure where this says true, a warning
    // otherwise.
    std::map<QString, bool> mustRefuse;

    static Limits defaults();
    Band latency(int baud) const;
    // What a step may play, in seconds, all passes; max is infinite for a
    // play that repeats until stopped.
    PlayRange playTime(const Step& step) const;
    // The bounds of a measurement of `step` on a line at `baud`: what the
    // judge holds it to and the reports state beside it.
    Bounds bounds(Measure measure, const Step& step, int baud) const;
    bool refusalRequired(const QString& refusal) const;
    // How many of `frames` the chip may reject.
    int rejectionsAllowed(int frames) const;
    friend bool operator==(const Limits&, const Limits&) = default;
};

// The reply's three bytes on the wire, in ms.
double ReplyWireMs(int baud);
// Seconds `bytes` take on the wire at `baud` (ten bits a byte).
double WireSeconds(qsizetype bytes, int baud);

QJsonObject LimitsToJson(const Limits& limits);
// The defaults with what `json` overrides; nothing, with `error` set (naming
// the key), for a file that is not JSON, names a limit that does not exist,
// gives a value of the wrong type or a negative one, a band whose marginal
// is not below its fail, a play range whose min exceeds its max, or a share
// above 1.
std::optional<Limits> LimitsFromJson(const QByteArray& json, QString* error);
// The limits in words, a line each, for --help and the reports.
QString LimitsText(const Limits& limits);

}  // namespace vorla
