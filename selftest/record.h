// SPDX-License-Identifier: MIT
// One record of a self-test run: what was measured in each step, the
// verdict the judge gave it, and who ran it where and when. The judge is a
// pure function of a step, its measurements and the limits; the reports are
// written from this record alone.
#pragma once

#include <optional>
#include <vector>

#include <QDateTime>
#include <QString>
#include <QStringList>

#include "protocol/replies.h"
#include "selftest/limits.h"
#include "selftest/step.h"

namespace vorla {

// A step's verdict, or a run's; only a run is incomplete (aborted before
// its end by the operator or a signal: no verdict on the chip).
enum class Outcome { Pass, Marginal, Fail, Error, NotRun, Incomplete };
QString OutcomeName(Outcome outcome);  // "pass", "marginal", "fail", "error", "not run", "incomplete"

// What the runner saw in one step, and nothing it concluded.
struct Measured {
    bool ran = false;
    int baud = 0;        // the line rate its frame went at
    int stopBaud = 0;    // the line rate the stop after it went at
    QByteArray frame;    // the first frame it sent
    int framesSent = 0;  // with its resends, not the stop after it
    int rejections = 0;
    std::optional<reply::Kind> answer;  // the well-formed reply its frame got last
    double sentAt = -1;                 // seconds from the run's start: the frame handed to the port
    double repliedAt = -1;              // the reply's last byte read
    double latencyMs = -1;              // from the frame's last byte on the wire to the reply's last byte read
    bool finishReported = false;
    double playSeconds = -1;  // the acceptance to the finish report
    // The finish report was not waited for in full: too many plays in a
    // row before it had none.
    bool finishWaitCut = false;
    bool lyricsRead = false;
    double lyricsSeconds = -1;  // the acceptance to the stream read whole
    bool lyricsEnded = false;   // by its end code
    QStringList lyricLines;     // the lines it shows
    bool stopSent = false;
    bool stopAccepted = false;
    bool stopReported = false;  // a finish report after the stop was sent
    int codesSent = 0;          // a code run: frames, acceptances and reports
    int codesAccepted = 0;
    int codesReported = 0;
    int codesExpected = 0;
    QStringList malformedReplies;  // reply-sized answers with a wrong head or tail
    QStringList unknownReplies;    // 01 xx 14 with a code no reply has
    QStringList lateReplies;       // replies that came when nothing waited for them
    QStringList unexpected;        // replies and lyric data the step did not ask for
    QStringList strayBytes;        // characters dropped as noise
    QString timeout;               // what the step waited for when its deadline passed
    QString fault;                 // the port fault that ended the run in this step
    QString notRun;                // why it did not run

    int resends() const { return framesSent > 0 ? framesSent - 1 : 0; }
};

// The value of a measurement a step has (judged against Limits::bounds).
std::optional<double> MeasuredValue(const Measured& measured, Measure measure);

struct Verdict {
    Outcome outcome = Outcome::NotRun;
    QStringList reasons;
    // Each reason's cause in a few words ("no answer", "slow reply"), by
    // which the summary groups the steps; as long as reasons, or empty.
    QStringList causes;
    // The first this many reasons are why it failed; the rest warn.
    qsizetype failing = 0;
};

// The verdict of one step: every reason it is not a pass. `strict` turns
// warnings into failures.
Verdict Judge(const Step& step, const Measured& measured, const Limits& limits, bool full, bool strict);

struct StepRecord {
    Step step;
    Measured measured;
    Verdict verdict;
};

// Who ran the test, on what, with what.
struct RunInfo {
    QString dut;           // the chip under test
    QString station;       // the test station (host name by default)
    QString operatorName;  // who ran it (user name by default)
    QString version;       // of this program
    QString port;
    bool full = false;
    bool strict = false;
    bool stopOnFail = false;
    int repeat = 1;
    QString capture;        // the line's capture file, if one was written
    QString captureSha256;  // and its SHA-256, in hexadecimal
    QString limitsFile;     // the limits file, if one was given
    QString limitsSha256;   // and its SHA-256, in hexadecimal
    // The virtual chip's options, when the run tested it.
    struct VirtualChip {
        double speed = 1;
        QString line;
        QStringList faults;  // as on the command line: "--reject-next 1"
    };
    std::optional<VirtualChip> virtualChip;
};

struct RunRecord {
    RunInfo info;
    Limits limits;
    int baud = 0;  // the rate the run started at
    QDateTime started;
    QDateTime ended;
    double clockStart = 0;  // the run's start on the conversation's clock
    double seconds = 0;
    std::vector<StepRecord> steps;
    QString fault;       // a port fault ended the run
    QString endedEarly;  // why the run ended before its last step, if it did
    int abortedAt = -1;  // the step under way when the operator or a signal ended the run
    QStringList notes;   // what the run found out (the chip's rate, a restart)
    int framesSent = 0;
    int framesRejected = 0;
    double wireSeconds = 0;  // every frame, reply and lyric byte on the wire
    bool finished = false;
    Verdict verdict;

    int count(Outcome outcome) const;
    bool aborted() const { return abortedAt >= 0; }
};

// The verdict of a whole run from its steps: an error when a port fault
// ended it, incomplete when the operator or a signal ended it early, a
// failure when a step failed or did not run or too many frames were
// rejected, marginal when a step warned.
Verdict JudgeRun(const RunRecord& record);

// The exit statuses of vorla-selftest.
enum ExitCode : int {
    kExitPassed = 0,      // warnings too
    kExitFailed = 1,      // the chip failed
    kExitUsage = 2,       // wrong usage (a limits file that is not right too)
    kExitStation = 3,     // the station failed: device, port fault, report
    kExitIncomplete = 4,  // interrupted before its end: no verdict on the chip
};
int ExitStatus(const Verdict& verdict);

}  // namespace vorla
