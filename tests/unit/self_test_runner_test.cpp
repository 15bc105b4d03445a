// SPDX-License-Identifier: MIT
// The self-test's runner against the virtual chip's model on a virtual
// clock: a good chip passes the whole table, and each fault a chip can make
// fails exactly where it shows, for the reason it is; a line with no chip
// never hangs the run.
#include <gtest/gtest.h>

#include <functional>

#include "chip_on_clock.h"
#include "selftest/report.h"
#include "selftest/runner.h"

using namespace vorla;
using namespace vorla::test;

namespace {

constexpr int16_t k9600 = 3;

// The chip at its own pace: time is virtual, so plays cost nothing.
sim::ChipOptions Fast() { return sim::ChipOptions{}; }

RunOptions Options(const QStringList& only = {}, bool full = false) {
    RunOptions o;
    o.startBaudIndex = k9600;
    o.only = only;
    o.info.full = full;
    return o;
}

RunRecord RunTest(ChipOnClock& c, const RunOptions& options, const std::function<void(SelfTest&)>& each = {}) {
    SelfTest test(*c.conv);
    if (each) QObject::connect(&test, &SelfTest::stepFinished, [&] { each(test); });
    test.start(options);
    const double end = c.clock.now() + 3600;
    while (test.running() && c.clock.now() < end) c.clock.advance(0.25);
    EXPECT_FALSE(test.running()) << "the run hangs";
    return test.record();
}

QString Why(const StepRecord& s) { return s.step.id() + u' ' + s.verdict.reasons.join(QStringLiteral("; ")); }

}  // namespace

TEST(SelfTestRun, AGoodChipPassesTheWholeTableQuickAndFullOnEveryKindOfLine) {
    for (const auto& [full, line] : {std::pair{false, sim::LineKind::Uart}, std::pair{true, sim::LineKind::Uart},
                                     std::pair{false, sim::LineKind::Usb}, std::pair{false, sim::LineKind::Burst}}) {
        SCOPED_TRACE(sim::LineKindName(line).toStdString() + (full ? " full" : " quick"));
        sim::ChipOptions options = Fast();
        options.line = line;
        ChipOnClock c(options);
        const RunRecord r = RunTest(c, Options({}, full));
        ASSERT_GT(r.steps.size(), 110u);
        for (const StepRecord& s : r.steps) EXPECT_EQ(s.verdict.outcome, Outcome::Pass) << Why(s).toStdString();
        EXPECT_EQ(r.verdict.outcome, Outcome::Pass);
        int lyrics = 0;
        for (const StepRecord& s : r.steps) lyrics += s.measured.lyricLines.isEmpty() ? 0 : 1;
        EXPECT_EQ(lyrics, kKaraokePieces);
        EXPECT_GT(r.wireSeconds, 0);
    }
}

// What the virtual chip can be told to do wrong, and where it must show.
struct ChipFault {
    const char* name;
    std::function<void(sim::ChipOptions&)> fault;
    QStringList groups;
    bool full;
    const char* failing;  // the groups whose steps fail, or a step's name
    const char* reason;
};

class ChipFaults : public ::testing::TestWithParam<ChipFault> {};

TEST_P(ChipFaults, FailExactlyTheStepsTheyTouchForTheirReason) {
    const ChipFault& f = GetParam();
    sim::ChipOptions options = Fast();
    f.fault(options);
    ChipOnClock c(options);
    const RunRecord r = RunTest(c, Options(f.groups, f.full));
    int failed = 0;
    for (const StepRecord& s : r.steps) {
        // A frame the chip may take or refuse is never touched; a refusal the
        // protocol does not promise only warns (tested below).
        const bool touched =
            (s.step.group == QString::fromUtf8(f.failing) || s.step.name == QString::fromUtf8(f.failing)) &&
            s.step.expect != Expect::NoEffect && s.step.refusal.isEmpty();
        if (!touched) {
            EXPECT_NE(s.verdict.outcome, Outcome::Fail) << Why(s).toStdString();
            continue;
        }
        ++failed;
        EXPECT_EQ(s.verdict.outcome, Outcome::Fail) << Why(s).toStdString();
        EXPECT_TRUE(s.verdict.reasons.join(u';').contains(QString::fromUtf8(f.reason))) << Why(s).toStdString();
    }
    EXPECT_GT(failed, 0);
    EXPECT_EQ(ExitStatus(r.verdict), 1);
}

INSTANTIATE_TEST_SUITE_P(
    SelfTestRun, ChipFaults,
    ::testing::Values(ChipFault{"SilentToPhrases",
                                [](sim::ChipOptions& o) { o.silentTo = {QStringLiteral("phrase")}; },
                                {QStringLiteral("link"), QStringLiteral("phrases"), QStringLiteral("sounds")},
                                false,
                                "phrases",
                                "no answer within 2 s"},
                      ChipFault{"AcceptsMalformedFrames",
                                [](sim::ChipOptions& o) { o.acceptMalformed = true; },
                                {QStringLiteral("robustness")},
                                false,
                                "robustness",
                                "a malformed frame was accepted"},
                      ChipFault{"ReportsPlaysOverAtOnce",
                                [](sim::ChipOptions& o) { o.backToBack = true; },
                                {QStringLiteral("controls"), QStringLiteral("poems")},
                                true,
                                "poems",
                                "at least 2.00 s expected"},
                      ChipFault{"AnswersLate",
                                [](sim::ChipOptions& o) { o.replyDelay = 1.2; },
                                {QStringLiteral("controls")},
                                false,
                                "controls",
                                "limit 253 ms"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SelfTestRun, ALyricStreamCutShortFailsItsKaraokeStepsOnly) {
    sim::ChipOptions options = Fast();
    options.cutLyrics = true;
    ChipOnClock c(options);
    const RunRecord r = RunTest(c, Options({QStringLiteral("music")}));
    for (const StepRecord& s : r.steps) {
        const bool karaoke = s.step.expect == Expect::Lyrics;
        EXPECT_EQ(s.verdict.outcome, karaoke ? Outcome::Fail : Outcome::Pass) << Why(s).toStdString();
        if (karaoke) {
            EXPECT_TRUE(Why(s).contains(QStringLiteral("without its end code"))) << Why(s).toStdString();
        }
    }
}

TEST(SelfTestRun, AReplyLaterThanItsDeadlineIsNamedInItsOwnStepNeverTakenByTheNext) {
    sim::ChipOptions options = Fast();
    options.replyDelay = 2.5;
    ChipOnClock c(options);
    const RunRecord r = RunTest(c, Options({QStringLiteral("link"), QStringLiteral("controls")}));
    ASSERT_GE(r.steps.size(), 2u);
    for (const StepRecord& s : r.steps) EXPECT_NE(s.verdict.outcome, Outcome::Pass) << Why(s).toStdString();
    EXPECT_TRUE(Why(r.steps[0]).contains(QStringLiteral("no answer within 2 s"))) << Why(r.steps[0]).toStdString();
    EXPECT_TRUE(Why(r.steps[0]).contains(QStringLiteral("late reply 01 11 14"))) << Why(r.steps[0]).toStdString();
}

// Replies a line without a proper chip sends to every frame.
struct LineAnswer {
    const char* name;
    const char* bytes;
    const char* reason;
};

class WrongAnswers : public ::testing::TestWithParam<LineAnswer> {};

TEST_P(WrongAnswers, AreNamedAndNeverPass) {
    ChipOnClock c(Fast());
    c.serial.onOutput = [&](const QByteArray&) {
        c.clock.at(c.clock.now() + 0.01, [&] { c.serial.receive(Hex(GetParam().bytes)); });
    };
    const RunRecord r = RunTest(c, Options({QStringLiteral("link"), QStringLiteral("controls")}));
    EXPECT_EQ(r.count(Outcome::Pass), 0);
    EXPECT_TRUE(Why(r.steps[0]).contains(QString::fromUtf8(GetParam().reason))) << Why(r.steps[0]).toStdString();
    EXPECT_EQ(ExitStatus(r.verdict), 1);
}

INSTANTIATE_TEST_SUITE_P(SelfTestRun, WrongAnswers,
                         ::testing::Values(LineAnswer{"WrongHeadAndTail", "02 11 15", "malformed reply 02 11 15"},
                                           LineAnswer{"UnknownCode", "01 13 14", "unknown reply 01 13 14"},
                                           LineAnswer{"Noise", "7E 11 7E", "malformed reply 7E 11 7E"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SelfTestRun, ALineWithOnlyNoiseEndsTheRunAfterTheChipIsLookedForAtEveryRate) {
    ChipOnClock c(Fast());
    c.serial.onOutput = [](const QByteArray&) {};
    for (int i = 1; i < 2000; ++i) c.clock.at(c.clock.now() + 0.3 * i, [&] { c.serial.receive(Hex("7E 11 7E")); });
    const RunRecord r = RunTest(c, Options());
    EXPECT_EQ(r.endedEarly, QStringLiteral("the chip no longer answers at any rate"));
    EXPECT_EQ(r.count(Outcome::NotRun), int(r.steps.size()) - 2);
    EXPECT_LT(r.seconds, 60);
}

TEST(SelfTestRun, AStopWithoutTheFinishReportFailsUnlessTheLimitsAllowIt) {
    sim::ChipOptions options = Fast();
    options.dropFinishReports = true;
    for (const bool expected : {true, false}) {
        ChipOnClock c(options);
        RunOptions o = Options({QStringLiteral("sounds")});
        o.limits.stopReport = expected;
        const RunRecord r = RunTest(c, o);
        for (const StepRecord& s : r.steps) {
            EXPECT_EQ(s.verdict.outcome, expected ? Outcome::Fail : Outcome::Pass) << Why(s).toStdString();
            if (expected) {
                EXPECT_TRUE(Why(s).contains(QStringLiteral("without its finish report")));
            }
        }
    }
}

TEST(SelfTestRun, AChipRejectingOneFrameInFiveFailsTheRunThoughEveryStepIsAccepted) {
    sim::ChipOptions options = Fast();
    options.rejectProbability = 0.2;
    options.seed = 3;
    ChipOnClock c(options);
    const RunRecord r = RunTest(c, Options({QStringLiteral("text")}));
    EXPECT_GT(r.count(Outcome::Marginal), 0);
    EXPECT_EQ(r.verdict.outcome, Outcome::Fail);
    EXPECT_TRUE(r.verdict.reasons.join(u';').contains(QStringLiteral("frames rejected")))
        << r.verdict.reasons.join(u';').toStdString();
}

TEST(SelfTestRun, StopOnFailEndsAtTheFirstFailureAndARestartIsFound) {
    sim::ChipOptions options = Fast();
    options.rejectNext = 4;
    ChipOnClock c(options);
    RunOptions o = Options({QStringLiteral("link"), QStringLiteral("controls")});
    o.info.stopOnFail = true;
    const RunRecord stopped = RunTest(c, o);
    EXPECT_EQ(stopped.steps[0].verdict.outcome, Outcome::Fail);
    EXPECT_EQ(stopped.count(Outcome::NotRun), int(stopped.steps.size()) - 1);
    EXPECT_EQ(stopped.endedEarly, QStringLiteral("stopped at the first failure"));

    // The chip restarts after the third step: back at 1200 baud.
    ChipOnClock restarting(Fast());
    const RunRecord r = RunTest(restarting, Options({QStringLiteral("text")}), [&](SelfTest& test) {
        if (test.current() != 2) return;
        restarting.chip.setBaud(1200);
        restarting.lineBaud = 1200;
    });
    EXPECT_EQ(r.endedEarly, QStringLiteral("the chip restarted"));
    EXPECT_TRUE(r.notes.join(u';').contains(QStringLiteral("it answers at 1200 baud")))
        << r.notes.join(u';').toStdString();
    EXPECT_EQ(r.count(Outcome::Pass), 3);
}

TEST(SelfTestRun, FindBaudFindsTheChipsRateAndRunsTheTableForIt) {
    ChipOnClock c(Fast(), k9600);
    c.serial.setSettings(*BaudSettingsFor(0));
    RunOptions o = Options({QStringLiteral("link"), QStringLiteral("baud")});
    o.startBaudIndex = 0;
    o.findBaud = true;
    o.info.repeat = 2;
    const RunRecord r = RunTest(c, o);
    EXPECT_EQ(r.baud, 9600);
    EXPECT_TRUE(r.notes.contains(QStringLiteral("the chip answers at 9600 baud"))) << r.notes.join(u';').toStdString();
    EXPECT_EQ(r.verdict.outcome, Outcome::Pass) << SummaryLine(r).toStdString();
    // Burn-in figures per command and rate, over both passes: every rate
    // frame at a rate of its own.
    const std::vector<BurnIn> figures = BurnInFigures(r);
    const auto baud = std::find_if(figures.begin(), figures.end(), [](const BurnIn& b) {
        return b.command == QStringLiteral("baud") && b.baud == 9600;
    });
    ASSERT_NE(baud, figures.end());
    EXPECT_EQ(baud->latencyMs.count, 2);
    EXPECT_LE(baud->latencyMs.median, baud->latencyMs.p95);
    EXPECT_FALSE(BurnInLines(r).isEmpty());
}

// ---- verdicts a line engineer can sign: no false pass, no false fail

TEST(SelfTestRun, AStepThatRanAtAnotherRateThanItsOwnNeverPasses) {
    // One rejected rate frame: the steps after it may run at the wrong rate.
    sim::ChipOptions options = Fast();
    options.rejectNext = 1;
    ChipOnClock c(options, 0);
    RunOptions o = Options({QStringLiteral("baud")});
    o.startBaudIndex = 0;
    const RunRecord r = RunTest(c, o);
    for (const StepRecord& s : r.steps) {
        if (s.step.command != Command::Text || s.measured.baud == BaudRateAt(s.step.controls.baudIndex)->baud) continue;
        EXPECT_NE(s.verdict.outcome, Outcome::Pass) << Why(s).toStdString();
        EXPECT_TRUE(Why(s).contains(QStringLiteral("baud, not at"))) << Why(s).toStdString();
    }
}

TEST(SelfTestRun, AChipReportingEveryPlayOverAtOnceFailsQuickRunsToo) {
    sim::ChipOptions options = Fast();
    options.backToBack = true;
    // At 1200 baud the report's bytes come after the stop has gone out.
    ChipOnClock c(options, 0);
    RunOptions o = Options({QStringLiteral("text")});
    o.startBaudIndex = 0;
    const RunRecord r = RunTest(c, o);
    for (const StepRecord& s : r.steps) {
        // A play that asks no report, or repeats until stopped, cannot show it.
        const bool shows = s.step.report && s.step.passes > 0;
        EXPECT_EQ(s.verdict.outcome, shows ? Outcome::Fail : Outcome::Pass) << Why(s).toStdString();
        if (shows) {
            EXPECT_TRUE(Why(s).contains(QStringLiteral("before the stop was heard"))) << Why(s).toStdString();
        }
    }
}

// A chip answering every frame around the reply deadline: never a pass, and
// a reply within the deadline (counted, as the latency is, from the frame's
// last byte on the wire) is never "no answer".
TEST(SelfTestRun, RepliesAroundTheDeadlineNeverPassAndAreTakenForTheFrameTheyAnswer) {
    for (const double delay : {1.93, 2.0, 2.02, 2.5}) {
        SCOPED_TRACE(delay);
        sim::ChipOptions options = Fast();
        options.replyDelay = delay;
        ChipOnClock c(options, 0);
        RunOptions o = Options({QStringLiteral("link"), QStringLiteral("controls")});
        o.startBaudIndex = 0;
        const RunRecord r = RunTest(c, o);
        EXPECT_EQ(r.count(Outcome::Pass) + r.count(Outcome::Marginal), 0) << SummaryLine(r).toStdString();
        for (const StepRecord& s : r.steps) {
            if (delay < 1.95) {
                EXPECT_FALSE(Why(s).contains(QStringLiteral("no answer"))) << Why(s).toStdString();
            }
            for (const QString& late : s.measured.lateReplies)
                EXPECT_TRUE(late.contains(QStringLiteral(" to "))) << late.toStdString();
        }
    }
}

TEST(SelfTestRun, AFullRunWithoutFinishReportsStopsWaitingTheirLongestAfterSomeInARow) {
    sim::ChipOptions options = Fast();
    options.dropFinishReports = true;
    ChipOnClock c(options);
    const RunRecord r = RunTest(c, Options({QStringLiteral("music")}, true));
    EXPECT_LT(r.seconds, 1800);  // three plays' longest waits, not 27
    int cut = 0;
    for (const StepRecord& s : r.steps) {
        EXPECT_EQ(s.verdict.outcome, Outcome::Fail) << Why(s).toStdString();
        cut += Why(s).contains(QStringLiteral("not waited for")) ? 1 : 0;
    }
    EXPECT_EQ(cut, int(r.steps.size()) - r.limits.missingReportsInARow);
}

TEST(SelfTestRun, OneRejectionInAShortRunWarnsAndRefusalsTheProtocolDoesNotPromiseWarn) {
    sim::ChipOptions options = Fast();
    options.rejectNext = 1;
    ChipOnClock c(options);
    const RunRecord r = RunTest(c, Options({QStringLiteral("link"), QStringLiteral("controls")}));
    EXPECT_EQ(r.verdict.outcome, Outcome::Marginal) << SummaryLine(r).toStdString();

    // A chip that takes a 60-byte frame and an item code it does not hold.
    options = Fast();
    options.acceptMalformed = true;
    for (const bool required : {false, true}) {
        ChipOnClock chip(options);
        RunOptions o = Options({QStringLiteral("robustness")});
        o.limits.mustRefuse[QStringLiteral("overlongFrame")] = required;
        o.limits.mustRefuse[QStringLiteral("unknownItemCode")] = required;
        const RunRecord run = RunTest(chip, o);
        for (const StepRecord& s : run.steps) {
            if (s.step.expect != Expect::Refused) continue;
            const bool promised = s.step.refusal.isEmpty();
            EXPECT_EQ(s.verdict.outcome, promised || required ? Outcome::Fail : Outcome::Marginal)
                << Why(s).toStdString();
        }
    }
}
