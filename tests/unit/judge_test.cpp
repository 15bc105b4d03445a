// SPDX-License-Identifier: MIT
// The self-test's judge and limits: every reason a step can fail or warn,
// from its measurements alone, and the limits a file may override.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include <QJsonDocument>

#include "selftest/record.h"

using namespace vorla;

namespace {

Step ControlStep() {
    Step s;
    s.group = QStringLiteral("link");
    s.name = QStringLiteral("停止");
    s.expect = Expect::Reply;
    return s;
}

Step PhraseStep() {
    Step s;
    s.group = QStringLiteral("phrases");
    s.name = QStringLiteral("欢迎光临");
    s.command = Command::Phrase;
    s.expect = Expect::Play;
    s.amount[size_t(PlayKind::Phrase)] = 1;
    s.report = true;
    return s;
}

// What a good chip gives: an acceptance 10 ms on at 9600 baud and, for a
// play, its finish report after 2 s (full) or after the stop (quick).
Measured Good(const Step& step, bool full) {
    Measured m;
    m.ran = true;
    m.baud = 9600;
    m.framesSent = 1;
    m.answer = reply::Kind::Accepted;
    m.latencyMs = 10;
    if (step.plays() && full) {
        m.finishReported = true;
        m.playSeconds = 2;
    } else if (step.plays()) {
        m.stopSent = m.stopAccepted = m.stopReported = true;
    }
    if (step.expect == Expect::Lyrics) {
        m.lyricsRead = m.lyricsEnded = true;
        m.lyricsSeconds = 0.5;
        m.lyricLines = QStringList{QStringLiteral("床前明月光")};
    }
    if (step.expect == Expect::Refused) {
        m.answer = reply::Kind::Rejected;
        m.stopSent = m.stopAccepted = true;
    }
    if (step.expect == Expect::CodeRun) m.codesExpected = m.codesSent = m.codesAccepted = m.codesReported = 2;
    return m;
}

struct Case {
    const char* name;
    std::function<Step()> step;
    bool full;
    std::function<void(Step&, Measured&, Limits&)> change;
    Outcome outcome;
    const char* reason;  // in the verdict's reasons
};

Step Lyrics() {
    Step s = PhraseStep();
    s.command = Command::Music;
    s.expect = Expect::Lyrics;
    s.amount = {};
    s.amount[size_t(PlayKind::Music)] = 1;
    return s;
}

Step Refused() {
    Step s = ControlStep();
    s.expect = Expect::Refused;
    return s;
}

Step CodeRun() {
    Step s = PhraseStep();
    s.expect = Expect::CodeRun;
    return s;
}

const Case kCases[] = {
    {"a good reply", ControlStep, false, {}, Outcome::Pass, ""},
    {"a good play, quick", PhraseStep, false, {}, Outcome::Pass, ""},
    {"a good play, full", PhraseStep, true, {}, Outcome::Pass, ""},
    {"good lyrics", Lyrics, true, {}, Outcome::Pass, ""},
    {"a malformed frame refused", Refused, false, {}, Outcome::Pass, ""},
    {"a good code run", CodeRun, true, {}, Outcome::Pass, ""},
    {"a port fault", ControlStep, false, [](Step&, Measured& m, Limits&) { m.fault = QStringLiteral("COM1 gone"); },
     Outcome::Error, "COM1 gone"},
    {"not run", ControlStep, false, [](Step&, Measured& m, Limits&) { m = Measured{}; }, Outcome::NotRun, "not run"},
    {"wrong head", ControlStep, false,
     [](Step&, Measured& m, Limits&) { m.malformedReplies << QStringLiteral("02 11 15"); }, Outcome::Fail,
     "malformed reply 02 11 15"},
    {"unknown code", ControlStep, false,
     [](Step&, Measured& m, Limits&) { m.unknownReplies << QStringLiteral("01 13 14"); }, Outcome::Fail,
     "unknown reply 01 13 14"},
    {"a late reply", ControlStep, false,
     [](Step&, Measured& m, Limits&) { m.lateReplies << QStringLiteral("01 11 14"); }, Outcome::Marginal,
     "late reply 01 11 14"},
    {"an unexpected reply", ControlStep, false,
     [](Step&, Measured& m, Limits&) { m.unexpected << QStringLiteral("finish report"); }, Outcome::Marginal,
     "unexpected finish report"},
    {"stray bytes", ControlStep, false, [](Step&, Measured& m, Limits&) { m.strayBytes << QStringLiteral("7E"); },
     Outcome::Marginal, "stray bytes dropped: 7E"},
    {"no answer", ControlStep, false, [](Step&, Measured& m, Limits&) { m.answer.reset(); }, Outcome::Fail,
     "no answer within 2 s"},
    {"rejected every time", ControlStep, false,
     [](Step&, Measured& m, Limits&) {
         m.answer = reply::Kind::Rejected;
         m.framesSent = 4;
     },
     Outcome::Fail, "rejected after every resend"},
    {"a slow reply", ControlStep, false, [](Step&, Measured& m, Limits&) { m.latencyMs = 1200; }, Outcome::Fail,
     "reply after 1200.0 ms, limit 253 ms"},
    {"a reply in the marginal band", ControlStep, false, [](Step&, Measured& m, Limits&) { m.latencyMs = 100; },
     Outcome::Marginal, "reply after 100.0 ms, over 63 ms"},
    {"marginal is a failure when strict", ControlStep, false, [](Step&, Measured& m, Limits&) { m.latencyMs = 100; },
     Outcome::Fail, "over 63 ms"},
    {"resends", ControlStep, false, [](Step&, Measured& m, Limits&) { m.framesSent = 3; }, Outcome::Marginal,
     "accepted after 2 resend(s)"},
    {"no lyrics", Lyrics, true, [](Step&, Measured& m, Limits&) { m.lyricsRead = false; }, Outcome::Fail,
     "no lyrics within 15 s"},
    {"lyrics too slow", Lyrics, true, [](Step&, Measured& m, Limits&) { m.lyricsSeconds = 20; }, Outcome::Fail,
     "lyrics read whole after 20.0 s"},
    {"lyrics cut short", Lyrics, true, [](Step&, Measured& m, Limits&) { m.lyricsEnded = false; }, Outcome::Fail,
     "lyric stream without its end code"},
    {"lyrics that show nothing", Lyrics, true, [](Step&, Measured& m, Limits&) { m.lyricLines.clear(); }, Outcome::Fail,
     "no lyric line shown"},
    {"a report not asked for", PhraseStep, true, [](Step& s, Measured&, Limits&) { s.report = false; }, Outcome::Fail,
     "a finish report though none was asked for"},
    {"over at once", PhraseStep, true, [](Step&, Measured& m, Limits&) { m.playSeconds = 0.02; }, Outcome::Fail,
     "played 0.02 s, at least 0.30 s expected"},
    {"over at once, quick", PhraseStep, false,
     [](Step&, Measured& m, Limits&) {
         m.finishReported = true;
         m.playSeconds = 0.02;
     },
     Outcome::Fail, "before the stop was heard: it ended by itself, at least 0.30 s expected"},
    {"too long", PhraseStep, true, [](Step&, Measured& m, Limits&) { m.playSeconds = 70; }, Outcome::Fail,
     "at most 65.0 s expected"},
    {"repeats count", PhraseStep, true,
     [](Step& s, Measured& m, Limits&) {
         s.passes = 3;
         m.playSeconds = 0.6;
     },
     Outcome::Fail, "at least 0.90 s expected"},
    {"no finish report", PhraseStep, true,
     [](Step&, Measured& m, Limits&) {
         m.finishReported = false;
         m.stopSent = m.stopAccepted = true;
     },
     Outcome::Fail, "no finish report within 65.0 s"},
    {"no answer to the stop", PhraseStep, false, [](Step&, Measured& m, Limits&) { m.stopAccepted = false; },
     Outcome::Fail, "no answer to the stop"},
    {"a stop without the report", PhraseStep, false, [](Step&, Measured& m, Limits&) { m.stopReported = false; },
     Outcome::Fail, "the stop ended the play without its finish report"},
    {"a stop without the report, allowed", PhraseStep, false,
     [](Step&, Measured& m, Limits& l) {
         m.stopReported = false;
         l.stopReport = false;
     },
     Outcome::Pass, ""},
    {"a report after the stop not asked for", PhraseStep, false, [](Step& s, Measured&, Limits&) { s.report = false; },
     Outcome::Fail, "a finish report after the stop though none was asked for"},
    {"a malformed frame accepted", Refused, false,
     [](Step&, Measured& m, Limits&) { m.answer = reply::Kind::Accepted; }, Outcome::Fail,
     "a malformed frame was accepted"},
    {"silent after a malformed frame", Refused, false, [](Step&, Measured& m, Limits&) { m.stopAccepted = false; },
     Outcome::Fail, "no answer to the stop after it"},
    {"a rate code that changes the rate", ControlStep, false,
     [](Step& s, Measured& m, Limits&) {
         s.expect = Expect::NoEffect;
         m.stopSent = true;
     },
     Outcome::Fail, "no answer to a stop at the same rate after it"},
    {"a new rate that does not answer", ControlStep, false, [](Step& s, Measured&, Limits&) { s.stopAfter = true; },
     Outcome::Fail, "no answer to a stop at the new rate"},
    {"codes not all sent", CodeRun, true,
     [](Step&, Measured& m, Limits&) { m.codesSent = m.codesAccepted = m.codesReported = 1; }, Outcome::Fail,
     "1 of 2 codes sent"},
    {"a code not accepted", CodeRun, true, [](Step&, Measured& m, Limits&) { m.codesAccepted = 1; }, Outcome::Fail,
     "1 of 2 codes accepted"},
    {"a code not reported", CodeRun, true, [](Step&, Measured& m, Limits&) { m.codesReported = 1; }, Outcome::Fail,
     "1 of 2 codes reported finished"},
    {"codes over at once", CodeRun, true, [](Step&, Measured& m, Limits&) { m.playSeconds = 0.01; }, Outcome::Fail,
     "played 0.01 s"},
    {"sent at another rate than the step's", ControlStep, false, [](Step& s, Measured&, Limits&) { s.baud = 2400; },
     Outcome::Fail, "sent at 9600 baud, not at 2400 baud"},
    {"its stop at another rate", PhraseStep, false,
     [](Step& s, Measured& m, Limits&) {
         s.stopBaud = 4800;
         m.stopBaud = 9600;
     },
     Outcome::Fail, "its stop sent at 9600 baud, not at 4800 baud"},
    {"a refusal not promised", Refused, false,
     [](Step& s, Measured& m, Limits&) {
         s.refusal = QStringLiteral("overlongFrame");
         m.answer = reply::Kind::Accepted;
     },
     Outcome::Marginal, "mustRefuse.overlongFrame is false"},
    {"a refusal the limits require", Refused, false,
     [](Step& s, Measured& m, Limits& l) {
         s.refusal = QStringLiteral("overlongFrame");
         m.answer = reply::Kind::Accepted;
         l.mustRefuse[s.refusal] = true;
     },
     Outcome::Fail, "the limits require its refusal (mustRefuse.overlongFrame)"},
    {"no finish report, the wait cut", PhraseStep, true,
     [](Step&, Measured& m, Limits&) {
         m.finishReported = false;
         m.finishWaitCut = true;
         m.stopSent = m.stopAccepted = m.stopReported = true;
     },
     Outcome::Fail, "no finish report; not waited for its 65.0 s after 3 plays in a row"},
    {"resends the limits allow", ControlStep, false,
     [](Step&, Measured& m, Limits& l) {
         m.framesSent = 2;
         l.resendsMarginal = 1;
     },
     Outcome::Pass, ""},
    {"fewer lyric lines than the limits ask", Lyrics, true, [](Step&, Measured&, Limits& l) { l.lyricLinesMin = 2; },
     Outcome::Fail, "1 lyric line(s) shown, at least 2 expected"},
};

class Judging : public ::testing::TestWithParam<Case> {};

}  // namespace

TEST_P(Judging, GivesTheVerdictAndNamesWhy) {
    const Case& c = GetParam();
    Step step = c.step();
    Measured m = Good(step, c.full);
    Limits limits = Limits::defaults();
    if (c.change) c.change(step, m, limits);
    const bool strict = std::string(c.name).find("strict") != std::string::npos;
    const Verdict v = Judge(step, m, limits, c.full, strict);
    EXPECT_EQ(OutcomeName(v.outcome), OutcomeName(c.outcome)) << v.reasons.join(QStringLiteral("; ")).toStdString();
    if (*c.reason) {
        EXPECT_TRUE(v.reasons.join(QStringLiteral("; ")).contains(QString::fromUtf8(c.reason)))
            << v.reasons.join(QStringLiteral("; ")).toStdString();
    } else {
        EXPECT_TRUE(v.reasons.isEmpty()) << v.reasons.join(QStringLiteral("; ")).toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Judge, Judging, ::testing::ValuesIn(kCases), [](const auto& info) {
    std::string name;
    for (const char* p = info.param.name; *p; ++p) name += std::isalnum(uint8_t(*p)) ? *p : '_';
    return name;
});

TEST(Judge, ARunFailsOnTooManyRejectionsAndIsAnErrorOnAPortFault) {
    RunRecord run;
    run.limits = Limits::defaults();
    run.steps.push_back(StepRecord{ControlStep(), Good(ControlStep(), false), Verdict{Outcome::Pass, {}, {}, 0}});
    run.framesSent = 100;
    run.framesRejected = 5;
    EXPECT_EQ(JudgeRun(run).outcome, Outcome::Pass);
    run.framesRejected = 20;
    EXPECT_EQ(JudgeRun(run).outcome, Outcome::Fail);
    // A short run: the share of at least 60 frames, 3.
    run.framesSent = 9;
    run.framesRejected = 3;
    EXPECT_EQ(JudgeRun(run).outcome, Outcome::Pass);
    run.framesRejected = 4;
    EXPECT_TRUE(JudgeRun(run).reasons.join(u';').contains(QStringLiteral("4 of 9 frames rejected, at most 3 allowed")))
        << JudgeRun(run).reasons.join(u';').toStdString();
    EXPECT_EQ(ExitStatus(JudgeRun(run)), 1);
    run.steps[0].verdict.outcome = Outcome::Marginal;
    run.framesRejected = 0;
    EXPECT_EQ(ExitStatus(JudgeRun(run)), 0);
    run.fault = QStringLiteral("COM1 连接中断");
    EXPECT_EQ(ExitStatus(JudgeRun(run)), 3);
}

TEST(Limits, AFileOverridesWhatItNamesAndAWrongOneSaysWhy) {
    QString error;
    const auto limits = LimitsFromJson(R"({"latencyMs": {"9600": {"fail": 80}}, "stopReport": false})", &error);
    ASSERT_TRUE(limits) << error.toStdString();
    EXPECT_EQ(limits->latency(9600).fail, 80);
    EXPECT_EQ(limits->latency(9600).marginal, Limits::defaults().latency(9600).marginal);
    EXPECT_FALSE(limits->stopReport);
    EXPECT_EQ(LimitsFromJson(QJsonDocument(LimitsToJson(*limits)).toJson(), &error),
              limits);  // as the report holds them
    const std::pair<const char*, const char*> wrong[] = {
        {"{", "not JSON"},
        {"[1]", "must be a JSON object"},
        {R"({"latency": 1})", "unknown limit latency"},
        {R"({"playSeconds": {"poem": {"mn": 1}}})", "unknown limit playSeconds.poem.mn"},
        {R"({"stopReport": 1})", "stopReport must be a true or false"},
        {R"({"lyricSeconds": -1})", "lyricSeconds must not be negative"},
        {R"({"latencyMs": {"9600": {"marginal": 300}}})", "latencyMs.9600: marginal (300) must be below fail (253)"},
        {R"({"playSeconds": {"poem": {"min": 200}}})", "playSeconds.poem: min (200) must not exceed max (120)"},
        {R"({"maxRejectedShare": 1.5})", "maxRejectedShare must be at most 1"},
        {R"({"mustRefuse": {"wrongCheckByte": true}})", "unknown limit mustRefuse.wrongCheckByte"},
    };
    for (const auto& [json, why] : wrong) {
        EXPECT_FALSE(LimitsFromJson(json, &error)) << json;
        EXPECT_TRUE(error.contains(QString::fromLatin1(why))) << error.toStdString();
    }
    // A play that repeats until stopped has no maximum.
    Step endless = PhraseStep();
    endless.passes = 0;
    EXPECT_TRUE(std::isinf(Limits::defaults().playTime(endless).max));
}
