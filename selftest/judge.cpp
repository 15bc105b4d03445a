// SPDX-License-Identifier: MIT
// The judge: a step's measurements against its limits. Every bound of a
// measurement comes from Limits::bounds, as the reports state it.
#include <algorithm>
#include <cmath>

#include "selftest/record.h"

namespace vorla {

namespace {
QString Seconds(double s) { return QString::number(s, 'f', s < 10 ? 2 : 1); }

// Every reason a step is not a pass, each with its cause.
struct Reasons {
    QStringList fail, failCauses;
    QStringList warn, warnCauses;
    void failed(const char* cause, const QString& why) {
        fail << why;
        failCauses << QString::fromLatin1(cause);
    }
    void warned(const char* cause, const QString& why) {
        warn << why;
        warnCauses << QString::fromLatin1(cause);
    }
};

bool Above(double value, double bound) { return !std::isnan(bound) && value > bound; }
bool Below(double value, double bound) { return !std::isnan(bound) && value < bound; }

void JudgeLine(const Step& step, const Measured& m, const Limits& limits, Reasons& r) {
    for (const QString& x : m.malformedReplies)
        r.failed("malformed reply", QStringLiteral("malformed reply %1").arg(x));
    for (const QString& x : m.unknownReplies) r.failed("unknown reply", QStringLiteral("unknown reply %1").arg(x));
    for (const QString& x : m.lateReplies) r.warned("late reply", QStringLiteral("late reply %1").arg(x));
    for (const QString& x : m.unexpected) r.warned("unexpected", QStringLiteral("unexpected %1").arg(x));
    const auto stray = MeasuredValue(m, Measure::StrayBytes);
    if (stray && Above(*stray, limits.bounds(Measure::StrayBytes, step, m.baud).marginal))
        r.warned("stray bytes", QStringLiteral("stray bytes dropped: %1").arg(m.strayBytes.join(u' ')));
}

// A step that ran at another rate than its own tests something else.
void JudgeRate(const Step& step, const Measured& m, Reasons& r) {
    if (step.baud > 0 && m.baud > 0 && m.baud != step.baud)
        r.failed("wrong rate",
                 QStringLiteral("sent at %1 baud, not at %2 baud as the step is").arg(m.baud).arg(step.baud));
    if (m.stopSent && step.stopBaud > 0 && m.stopBaud > 0 && m.stopBaud != step.stopBaud)
        r.failed("wrong rate", QStringLiteral("its stop sent at %1 baud, not at %2 baud as the step is")
                                   .arg(m.stopBaud)
                                   .arg(step.stopBaud));
}

void JudgeAnswer(const Step& step, const Measured& m, const Limits& limits, Reasons& r) {
    if (!m.answer) {
        r.failed("no answer", QStringLiteral("no answer within %1 s").arg(limits.replyDeadlineSeconds));
        return;
    }
    if (*m.answer == reply::Kind::Rejected) {
        r.failed("rejected", QStringLiteral("rejected after every resend"));
        return;
    }
    const Bounds latency = limits.bounds(Measure::Latency, step, m.baud);
    if (Above(m.latencyMs, latency.max))
        r.failed("slow reply",
                 QStringLiteral("reply after %1 ms, limit %2 ms").arg(m.latencyMs, 0, 'f', 1).arg(latency.max));
    else if (Above(m.latencyMs, latency.marginal))
        r.warned("slow reply",
                 QStringLiteral("reply after %1 ms, over %2 ms").arg(m.latencyMs, 0, 'f', 1).arg(latency.marginal));
    if (Above(m.resends(), limits.bounds(Measure::Resends, step, m.baud).marginal))
        r.warned("resends", QStringLiteral("accepted after %1 resend(s)").arg(m.resends()));
}

void JudgeLyrics(const Step& step, const Measured& m, const Limits& limits, Reasons& r) {
    if (!m.lyricsRead) {
        r.failed("lyrics", QStringLiteral("no lyrics within %1 s").arg(limits.lyricSeconds));
        return;
    }
    const Bounds time = limits.bounds(Measure::LyricsTime, step, m.baud);
    if (Above(m.lyricsSeconds, time.max))
        r.failed(
            "lyrics",
            QStringLiteral("lyrics read whole after %1 s, limit %2 s").arg(Seconds(m.lyricsSeconds)).arg(time.max));
    if (!m.lyricsEnded) r.failed("lyrics", QStringLiteral("lyric stream without its end code"));
    const Bounds lines = limits.bounds(Measure::LyricLines, step, m.baud);
    if (Below(double(m.lyricLines.size()), lines.min)) {
        r.failed("lyrics", m.lyricLines.isEmpty() ? QStringLiteral("no lyric line shown")
                                                  : QStringLiteral("%1 lyric line(s) shown, at least %2 expected")
                                                        .arg(m.lyricLines.size())
                                                        .arg(lines.min));
    }
}

void JudgeStop(const Step& step, const Measured& m, const Limits& limits, Reasons& r) {
    if (!m.stopSent) return;
    if (!m.stopAccepted) r.failed("stop", QStringLiteral("no answer to the stop"));
    else if (step.report && limits.stopReport && !m.finishReported && !m.stopReported)
        r.failed("stop", QStringLiteral("the stop ended the play without its finish report"));
    else if (!step.report && m.stopReported)
        r.failed("stop", QStringLiteral("a finish report after the stop though none was asked for"));
}

// A play judged on its time; one not waited for (quick runs) that reports
// its end anyway ended by itself before the stop was heard.
void JudgePlayTime(const Step& step, const Measured& m, const Limits& limits, bool waited, Reasons& r) {
    const Bounds b = limits.bounds(Measure::PlayTime, step, m.baud);
    if (Below(m.playSeconds, b.min) && !waited) {
        r.failed("over at once", QStringLiteral("reported over %1 s after its acceptance, before the stop was heard: "
                                                "it ended by itself, at least %2 s expected")
                                     .arg(Seconds(m.playSeconds), Seconds(b.min)));
    } else if (Below(m.playSeconds, b.min)) {
        r.failed("play time",
                 QStringLiteral("played %1 s, at least %2 s expected").arg(Seconds(m.playSeconds), Seconds(b.min)));
    } else if (Above(m.playSeconds, b.max)) {
        r.failed("play time",
                 QStringLiteral("played %1 s, at most %2 s expected").arg(Seconds(m.playSeconds), Seconds(b.max)));
    }
}

void JudgePlay(const Step& step, const Measured& m, const Limits& limits, bool full, Reasons& r) {
    const bool waited = full && step.passes > 0 && step.report;
    if (m.finishReported && !step.report)
        r.failed("unasked report", QStringLiteral("a finish report though none was asked for"));
    if (m.finishReported && step.report) JudgePlayTime(step, m, limits, waited, r);
    if (waited && !m.finishReported) {
        const double longest = limits.playTime(step).max;
        r.failed("no finish report",
                 m.finishWaitCut ? QStringLiteral("no finish report; not waited for its %1 s after %2 plays in a row "
                                                  "without one")
                                       .arg(Seconds(longest))
                                       .arg(limits.missingReportsInARow)
                                 : QStringLiteral("no finish report within %1 s").arg(Seconds(longest)));
    }
    JudgeStop(step, m, limits, r);
}

void JudgeCodeRun(const Step& step, const Measured& m, const Limits& limits, Reasons& r) {
    if (m.codesSent < m.codesExpected)
        r.failed("code run", QStringLiteral("%1 of %2 codes sent").arg(m.codesSent).arg(m.codesExpected));
    if (m.codesAccepted < m.codesSent)
        r.failed("code run", QStringLiteral("%1 of %2 codes accepted").arg(m.codesAccepted).arg(m.codesSent));
    if (m.codesReported < m.codesSent) {
        r.failed("no finish report", QStringLiteral("%1 of %2 codes reported finished%3")
                                         .arg(m.codesReported)
                                         .arg(m.codesSent)
                                         .arg(m.finishWaitCut ? QStringLiteral(" (not waited for in full after %1 "
                                                                               "plays in a row without a report)")
                                                                    .arg(limits.missingReportsInARow)
                                                              : QString()));
    } else if (m.playSeconds >= 0) {
        JudgePlayTime(step, m, limits, true, r);
    }
}

void JudgeRefused(const Step& step, const Measured& m, const Limits& limits, Reasons& r) {
    if (m.answer == reply::Kind::Accepted) {
        if (step.refusal.isEmpty()) {
            r.failed("refusal", QStringLiteral("a malformed frame was accepted"));
        } else if (limits.refusalRequired(step.refusal)) {
            r.failed("refusal",
                     QStringLiteral("a malformed frame was accepted; the limits require its refusal (mustRefuse.%1)")
                         .arg(step.refusal));
        } else {
            r.warned("refusal", QStringLiteral("a malformed frame was accepted; the chip's protocol does not promise "
                                               "its refusal (mustRefuse.%1 is false)")
                                    .arg(step.refusal));
        }
    }
    if (!m.stopAccepted) r.failed("stop", QStringLiteral("no answer to the stop after it"));
}

// What the step expects of the chip, past what any step expects of the line.
void JudgeExpected(const Step& step, const Measured& m, const Limits& limits, bool full, Reasons& r) {
    switch (step.expect) {
    case Expect::Refused: JudgeRefused(step, m, limits, r); return;
    case Expect::NoEffect:
        if (!m.stopAccepted) r.failed("stop", QStringLiteral("no answer to a stop at the same rate after it"));
        return;
    case Expect::CodeRun: JudgeCodeRun(step, m, limits, r); return;
    case Expect::Reply:
    case Expect::Play:
    case Expect::Lyrics: break;
    }
    JudgeAnswer(step, m, limits, r);
    if (m.answer != reply::Kind::Accepted) return;
    if (step.expect == Expect::Lyrics) JudgeLyrics(step, m, limits, r);
    if (step.plays()) JudgePlay(step, m, limits, full, r);
    if (step.stopAfter && !m.stopAccepted) r.failed("stop", QStringLiteral("no answer to a stop at the new rate"));
}

int StrayByteCount(const QStringList& chunks) {
    int n = 0;
    for (const QString& hex : chunks) n += int(hex.split(u' ', Qt::SkipEmptyParts).size());
    return n;
}

}  // namespace

QString OutcomeName(Outcome outcome) {
    switch (outcome) {
    case Outcome::Pass: return QStringLiteral("pass");
    case Outcome::Marginal: return QStringLiteral("marginal");
    case Outcome::Fail: return QStringLiteral("fail");
    case Outcome::Error: return QStringLiteral("error");
    case Outcome::NotRun: return QStringLiteral("not run");
    case Outcome::Incomplete: return QStringLiteral("incomplete");
    }
    return QString();
}

std::optional<double> MeasuredValue(const Measured& m, Measure measure) {
    switch (measure) {
    case Measure::Latency: return m.latencyMs >= 0 ? std::optional<double>(m.latencyMs) : std::nullopt;
    case Measure::Resends: return m.ran ? std::optional<double>(m.resends()) : std::nullopt;
    case Measure::PlayTime: return m.playSeconds >= 0 ? std::optional<double>(m.playSeconds) : std::nullopt;
    case Measure::LyricsTime: return m.lyricsSeconds >= 0 ? std::optional<double>(m.lyricsSeconds) : std::nullopt;
    case Measure::LyricLines: return m.lyricsRead ? std::optional<double>(m.lyricLines.size()) : std::nullopt;
    case Measure::StrayBytes:
        return m.strayBytes.isEmpty() ? std::nullopt : std::optional<double>(StrayByteCount(m.strayBytes));
    }
    return std::nullopt;
}

Verdict Judge(const Step& step, const Measured& m, const Limits& limits, bool full, bool strict) {
    if (!m.fault.isEmpty()) return Verdict{Outcome::Error, {m.fault}, {QStringLiteral("port fault")}, 1};
    if (!m.ran) {
        const QString why = m.notRun.isEmpty() ? QStringLiteral("not run") : m.notRun;
        return Verdict{Outcome::NotRun, {why}, {QStringLiteral("not run")}, 1};
    }
    Reasons r;
    JudgeLine(step, m, limits, r);
    JudgeRate(step, m, r);
    JudgeExpected(step, m, limits, full, r);
    if (!r.fail.isEmpty()) return Verdict{Outcome::Fail, r.fail + r.warn, r.failCauses + r.warnCauses, r.fail.size()};
    if (r.warn.isEmpty()) return Verdict{Outcome::Pass, {}, {}, 0};
    if (strict) return Verdict{Outcome::Fail, r.warn, r.warnCauses, r.warn.size()};
    return Verdict{Outcome::Marginal, r.warn, r.warnCauses, 0};
}

int RunRecord::count(Outcome outcome) const {
    return int(std::count_if(steps.begin(), steps.end(),
                             [outcome](const StepRecord& s) { return s.verdict.outcome == outcome; }));
}

Verdict JudgeRun(const RunRecord& record) {
    const auto verdict = [](Outcome outcome, const QStringList& reasons) {
        return Verdict{outcome, reasons, {}, outcome == Outcome::Marginal ? 0 : reasons.size()};
    };
    if (!record.fault.isEmpty()) return verdict(Outcome::Error, {record.fault});
    QStringList fail;
    if (const int n = record.count(Outcome::Fail)) fail << QStringLiteral("%1 step(s) failed").arg(n);
    if (record.aborted()) {
        // No verdict on the chip: how far it got and what failed so far.
        const int ran = int(record.steps.size()) - record.count(Outcome::NotRun);
        const QString why =
            QStringLiteral("%1 after %2 of %3 steps").arg(record.endedEarly).arg(ran).arg(record.steps.size());
        return verdict(Outcome::Incomplete, QStringList{why} + fail);
    }
    if (const int n = record.count(Outcome::NotRun))
        fail << QStringLiteral("%1 step(s) not run%2")
                    .arg(n)
                    .arg(record.endedEarly.isEmpty() ? QString() : QStringLiteral(": ") + record.endedEarly);
    const Limits& limits = record.limits;
    if (record.framesRejected > limits.rejectionsAllowed(record.framesSent)) {
        fail << QStringLiteral("%1 of %2 frames rejected, at most %3 allowed (%4 % of at least %5 frames)")
                    .arg(record.framesRejected)
                    .arg(record.framesSent)
                    .arg(limits.rejectionsAllowed(record.framesSent))
                    .arg(limits.maxRejectedShare * 100)
                    .arg(limits.rejectedShareMinFrames);
    }
    if (!fail.isEmpty()) return verdict(Outcome::Fail, fail);
    if (const int n = record.count(Outcome::Marginal))
        return verdict(Outcome::Marginal, {QStringLiteral("%1 step(s) with warnings").arg(n)});
    return verdict(Outcome::Pass, {});
}

int ExitStatus(const Verdict& verdict) {
    switch (verdict.outcome) {
    case Outcome::Pass:
    case Outcome::Marginal: return kExitPassed;
    case Outcome::Error: return kExitStation;
    case Outcome::Incomplete: return kExitIncomplete;
    case Outcome::Fail:
    case Outcome::NotRun: return kExitFailed;
    }
    return kExitFailed;
}

}  // namespace vorla
