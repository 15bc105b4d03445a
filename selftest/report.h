// SPDX-License-Identifier: MIT
// A self-test run's reports, written from its record alone: JSON (checked
// against selftest/report.schema.json), JUnit XML (one test case a step,
// a failure a <failure>, a port fault an <error>, the measurements as
// properties), the summary line, the burn-in figures, and the file they go
// to, written as the run goes.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "selftest/record.h"

namespace vorla {

// Median, 95th percentile and maximum of some values.
struct Spread {
    int count = 0;
    double median = 0;
    double p95 = 0;
    double max = 0;
};
Spread SpreadOf(std::vector<double> values);

// Per command kind and line rate, over every step of the run that measured it.
struct BurnIn {
    QString command;
    int baud = 0;
    Spread latencyMs;
    Spread playSeconds;
};
std::vector<BurnIn> BurnInFigures(const RunRecord& record);
QString CommandName(Command command);  // "text", "stop", ...

QByteArray JsonReport(const RunRecord& record);
QByteArray JUnitReport(const RunRecord& record);
// JUnit for a name ending in .xml, JSON otherwise (a folder gets JSON).
QByteArray ReportFor(const QString& path, const RunRecord& record);
// A time with its offset from UTC: "2026-12-08T20:17:05.121+08:00".
QString Timestamp(const QDateTime& time);
// Who runs a test by default: the login name ($USER, $LOGNAME, or the
// user database when neither is set).
QString LoginName();
// "vorla-selftest-DUT-20261207-193000.xml": the chip, the time, the format.
QString DefaultReportName(const RunRecord& record, const QString& extension);
// The run in one line: steps, time against the wire-time floor, counts and
// the verdict.
QString SummaryLine(const RunRecord& record);
// The failed steps grouped by what failed them, a line a cause:
// "no answer (2): 停止, 唤醒".
QStringList FailureGroups(const RunRecord& record);
// The burn-in figures, a line a command and rate, for repeated runs.
QStringList BurnInLines(const RunRecord& record);

// Where a run's report goes. Opened before the run, so that a path that
// cannot be written is known at once; a folder gets a new file whose name
// no other run has taken. Every write replaces the file whole.
class ReportFile {
public:
    // False, with error() set, when the file cannot be created.
    bool open(const QString& given, const RunRecord& record);
    bool write(const RunRecord& record);
    QString path() const { return path_; }
    QString error() const { return error_; }
    bool isOpen() const { return !path_.isEmpty(); }

private:
    QString path_;
    QString error_;
};

}  // namespace vorla
