// SPDX-License-Identifier: MIT
// The judge: a step's measurements against its limits.
#include <algorithm>

#include "selftest/record.h"

namespace vorla {

namespace {
QString Seconds(double s) { return QString::number(s, 'f', s < 10 ? 2 : 1); }

struct Reasons {
    QStringList fail;
    QStringList warn;
};

void JudgeLine(const Measured& m, Reasons& r) {
    for (const QString& x : m.malformedReplies) r.fail << QStringLiteral("malformed reply %1").arg(x);
    for (const QString& x : m.unknownReplies) r.fail << QStringLiteral("unknown reply %1").arg(x);
    for (const QString& x : m.lateReplies) r.warn << QStringLiteral("late reply %1").arg(x);
    for (const QString& x : m.unexpected) r.warn << QStringLiteral("unexpected %1").arg(x);
    if (!m.strayBytes.isEmpty()) r.warn << QStringLiteral("stray bytes dropped: %1").arg(m.strayBytes.join(u' '));
}

void JudgeAnswer(const Measured& m, const Limits& limits, Reasons& r) {
    if (!m.answer) {
        r.fail << QStringLiteral("no answer within %1 s").arg(limits.replyDeadlineSeconds);
        return;
    }
    if (*m.answer == reply::Kind::Rejected) {
        r.fail << QStringLiteral("rejected after every resend");
        return;
    }
    const Band band = limits.latency(m.baud);
    if (m.latencyMs > band.fail)
        r.fail << QStringLiteral("reply after %1 ms, limit %2 ms").arg(m.latencyMs, 0, 'f', 1).arg(band.fail);
    else if (m.latencyMs > band.marginal)
        r.warn << QStringLiteral("reply after %1 ms, over %2 ms").arg(m.latencyMs, 0, 'f', 1).arg(band.marginal);
    if (m.resends() > 0) r.warn << QStringLiteral("accepted after %1 resend(s)").arg(m.resends());
}

void JudgeLyrics(const Measured& m, const Limits& limits, Reasons& r) {
    if (!m.lyricsRead) {
        r.fail << QStringLiteral("no lyrics within %1 s").arg(limits.lyricSeconds);
        return;
    }
    if (m.lyricsSeconds > limits.lyricSeconds)
        r.fail << QStringLiteral("lyrics read whole after %1 s, limit %2 s")
                      .arg(Seconds(m.lyricsSeconds))
                      .arg(limits.lyricSeconds);
    if (!m.lyricsEnded) r.fail << QStringLiteral("lyric stream without its end code");
    if (m.lyricLines.isEmpty()) r.fail << QStringLiteral("no lyric line shown");
}

void JudgeStop(const Step& step, const Measured& m, const Limits& limits, Reasons& r) {
    if (!m.stopSent) return;
    if (!m.stopAccepted) r.fail << QStringLiteral("no answer to the stop");
    else if (step.report && limits.stopReport && !m.finishReported && !m.stopReported)
        r.fail << QStringLiteral("the stop ended the play without its finish report");
    else if (!step.report && m.stopReported)
        r.fail << QStringLiteral("a finish report after the stop though none was asked for");
}

void JudgePlay(const Step& step, const Measured& m, const Limits& limits, bool full, Reasons& r) {
    const PlayRange range = limits.playTime(step);
    const bool waited = full && step.passes > 0 && step.report;
    if (m.finishReported && !step.report) r.fail << QStringLiteral("a finish report though none was asked for");
    if (m.finishReported && step.report) {
        if (m.playSeconds < range.min)
            r.fail << QStringLiteral("played %1 s, at least %2 s expected")
                          .arg(Seconds(m.playSeconds), Seconds(range.min));
        else if (m.playSeconds > range.max)
            r.fail
                << QStringLiteral("played %1 s, at most %2 s expected").arg(Seconds(m.playSeconds), Seconds(range.max));
    }
    if (waited && !m.finishReported) r.fail << QStringLiteral("no finish report within %1 s").arg(Seconds(range.max));
    JudgeStop(step, m, limits, r);
}

void JudgeCodeRun(const Step& step, const Measured& m, const Limits& limits, Reasons& r) {
    if (m.codesSent < m.codesExpected)
        r.fail << QStringLiteral("%1 of %2 codes sent").arg(m.codesSent).arg(m.codesExpected);
    if (m.codesAccepted < m.codesSent)
        r.fail << QStringLiteral("%1 of %2 codes accepted").arg(m.codesAccepted).arg(m.codesSent);
    if (m.codesReported < m.codesSent)
        r.fail << QStringLiteral("%1 of %2 codes reported finished").arg(m.codesReported).arg(m.codesSent);
    else if (m.playSeconds >= 0 && m.playSeconds < limits.playTime(step).min)
        r.fail << QStringLiteral("played %1 s, at least %2 s expected")
                      .arg(Seconds(m.playSeconds), Seconds(limits.playTime(step).min));
}
// What the step expects of the chip, past what any step expects of the line.
void JudgeExpected(const Step& step, const Measured& m, const Limits& limits, bool full, Reasons& r) {
    switch (step.expect) {
    case Expect::Refused:
        if (m.answer == reply::Kind::Accepted) r.fail << QStringLiteral("a malformed frame was accepted");
        if (!m.stopAccepted) r.fail << QStringLiteral("no answer to the stop after it");
        return;
    case Expect::NoEffect:
        if (!m.stopAccepted) r.fail << QStringLiteral("no answer to a stop at the same rate after it");
        return;
    case Expect::CodeRun: JudgeCodeRun(step, m, limits, r); return;
    case Expect::Reply:
    case Expect::Play:
    case Expect::Lyrics: break;
    }
    JudgeAnswer(m, limits, r);
    if (m.answer != reply::Kind::Accepted) return;
    if (step.expect == Expect::Lyrics) JudgeLyrics(m, limits, r);
    if (step.plays()) JudgePlay(step, m, limits, full, r);
    if (step.stopAfter && !m.stopAccepted) r.fail << QStringLiteral("no answer to a stop at the new rate");
}

}  // namespace

QString OutcomeName(Outcome outcome) {
    switch (outcome) {
    case Outcome::Pass: return QStringLiteral("pass");
    case Outcome::Marginal: return QStringLiteral("marginal");
    case Outcome::Fail: return QStringLiteral("fail");
    case Outcome::Error: return QStringLiteral("error");
    case Outcome::NotRun: return QStringLiteral("not run");
    }
    return QString();
}

Verdict Judge(const Step& step, const Measured& m, const Limits& limits, bool full, bool strict) {
    if (!m.fault.isEmpty()) return Verdict{Outcome::Error, {m.fault}};
    if (!m.ran) return Verdict{Outcome::NotRun, {m.notRun.isEmpty() ? QStringLiteral("not run") : m.notRun}};
    Reasons r;
    JudgeLine(m, r);
    JudgeExpected(step, m, limits, full, r);
    if (!r.fail.isEmpty()) return Verdict{Outcome::Fail, r.fail + r.warn};
    if (!r.warn.isEmpty()) return Verdict{strict ? Outcome::Fail : Outcome::Marginal, r.warn};
    return Verdict{Outcome::Pass, {}};
}

int RunRecord::count(Outcome outcome) const {
    return int(std::count_if(steps.begin(), steps.end(),
                             [outcome](const StepRecord& s) { return s.verdict.outcome == outcome; }));
}

Verdict JudgeRun(const RunRecord& record) {
    if (!record.fault.isEmpty()) return Verdict{Outcome::Error, {record.fault}};
    QStringList fail;
    if (const int n = record.count(Outcome::Fail)) fail << QStringLiteral("%1 step(s) failed").arg(n);
    if (const int n = record.count(Outcome::NotRun))
        fail << QStringLiteral("%1 step(s) not run%2")
                    .arg(n)
                    .arg(record.endedEarly.isEmpty() ? QString() : QStringLiteral(": ") + record.endedEarly);
    if (record.framesSent > 0 && double(record.framesRejected) / record.framesSent > record.limits.maxRejectedShare) {
        fail << QStringLiteral("%1 of %2 frames rejected, at most %3 % allowed")
                    .arg(record.framesRejected)
                    .arg(record.framesSent)
                    .arg(record.limits.maxRejectedShare * 100);
    }
    if (!fail.isEmpty()) return Verdict{Outcome::Fail, fail};
    if (const int n = record.count(Outcome::Marginal))
        return Verdict{Outcome::Marginal, {QStringLiteral("%1 step(s) with warnings").arg(n)}};
    return Verdict{Outcome::Pass, {}};
}

int ExitStatus(const Verdict& verdict) {
    switch (verdict.outcome) {
    case Outcome::Pass:
    case Outcome::Marginal: return 0;
    case Outcome::Error: return 3;
    case Outcome::Fail:
    case Outcome::NotRun: return 1;
    }
    return 1;
}

}  // namespace vorla
