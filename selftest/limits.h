// SPDX-License-Identifier: MIT
// The limits a chip's answers are judged against: reply latency by line
// rate, play time by what is played, the lyric stream, the stop's finish
// report, and the share of frames a run may see rejected. The defaults are
// stated here and in the program's help; a JSON file can override any.
#pragma once

#include <array>
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
    // The share of a run's frames the chip may reject (each is resent).
    double maxRejectedShare = 0.05;

    static Limits defaults();
    Band latency(int baud) const;
    // What a step may play, in seconds, all passes; max is infinite for a
    // play that repeats until stopped.
    PlayRange playTime(const Step& step) const;
    friend bool operator==(const Limits&, const Limits&) = default;
};

// The reply's three bytes on the wire, in ms.
double ReplyWireMs(int baud);
// Seconds `bytes` take on the wire at `baud` (ten bits a byte).
double WireSeconds(qsizetype bytes, int baud);

QJsonObject LimitsToJson(const Limits& limits);
// The defaults with what `json` overrides; nothing, with `error` set, for a
// file that is not JSON, names a limit that does not exist, gives a value
// of the wrong type or a negative one.
std::optional<Limits> LimitsFromJson(const QByteArray& json, QString* error);
// The limits in words, a line each, for --help and the reports.
QString LimitsText(const Limits& limits);

}  // namespace vorla
