// SPDX-License-Identifier: MIT
// The chip's self-test over a real line: the virtual chip on a
// pseudo-terminal passes a quick run whole, a chip gone mid-run is the
// station's error with the rest not run, and the program's reports are
// valid against their schema, read by a JUnit reader, never overwrite one
// another and are written when the run is interrupted.
#include <csignal>

#include <gtest/gtest.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>

#include "chip_rig.h"
#include "selftest/report.h"
#include "selftest/runner.h"

using namespace vorla;
using namespace vorla::test;

namespace {

ChipOptions At9600() {
    ChipOptions o;
    o.baud = 9600;
    return o;
}

struct SelfTestRig : ChipRig {
    explicit SelfTestRig(ChipOptions options = At9600()) : ChipRig(options) { port->setSettings(LineSettings{9600}); }
    RunRecord run(RunOptions o, int ms, const std::function<void(SelfTest&)>& each = {}) {
        o.startBaudIndex = 3;
        SelfTest test(conv());
        if (each) QObject::connect(&test, &SelfTest::stepFinished, [&] { each(test); });
        test.start(o);
        EXPECT_TRUE(Spin(ms, [&] { return !test.running(); })) << "the run hangs";
        return test.record();
    }
};

// Runs /usr/bin/python3 (Debian's, with its packages) on a script; its output.
QString Python(const QString& script, const QStringList& args) {
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), QStringList{QStringLiteral("-c"), script} + args);
    EXPECT_TRUE(python.waitForFinished(30000));
    return QString::fromUtf8(python.readAllStandardOutput()).trimmed() +
           QString::fromUtf8(python.readAllStandardError()).trimmed();
}

QString SchemaErrors(const QString& report) {
    return Python(QStringLiteral("import json, sys, jsonschema\n"
                                 "jsonschema.validate(json.load(open(sys.argv[1])), json.load(open(sys.argv[2])))\n"),
                  {report, QStringLiteral(VORLA_REPORT_SCHEMA)});
}

// The report as it stands; empty until it has been written.
QJsonObject ReadJson(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
}

struct Program {
    QProcess process;
    void start(const QStringList& args) {
        process.start(QStringLiteral(VORLA_SELFTEST_PATH),
                      QStringList{QStringLiteral("--simulate"), QStringLiteral("--baud"), QStringLiteral("9600"),
                                  QStringLiteral("--only"), QStringLiteral("link,controls,sounds")} +
                          args);
    }
    int finish() {
        EXPECT_TRUE(process.waitForFinished(60000));
        return process.exitCode();
    }
};

}  // namespace

TEST(SelfTest, AQuickRunOverARealLinePassesEveryStep) {
    SelfTestRig b;
    const RunRecord r = b.run(RunOptions{}, 120000);
    ASSERT_GT(r.steps.size(), 110u);
    for (const StepRecord& s : r.steps)
        EXPECT_EQ(s.verdict.outcome, Outcome::Pass)
            << s.step.id().toStdString() << ": " << s.verdict.reasons.join(u';').toStdString();
    int lyrics = 0;
    for (const StepRecord& s : r.steps) lyrics += s.measured.lyricLines.isEmpty() ? 0 : 1;
    EXPECT_EQ(lyrics, kKaraokePieces);
}

TEST(SelfTest, AChipGoneMidRunIsTheStationsErrorAndTheRestIsNotRun) {
    SelfTestRig b;
    RunOptions o;
    o.only = {QStringLiteral("text")};
    const RunRecord r = b.run(o, 30000, [&](SelfTest& test) {
        if (test.current() == 4) b.chip->stop();
    });
    EXPECT_TRUE(r.fault.contains(QStringLiteral("连接中断"))) << r.fault.toStdString();
    EXPECT_EQ(r.count(Outcome::Pass), 5);
    EXPECT_EQ(r.count(Outcome::Error), 1);
    EXPECT_EQ(r.count(Outcome::NotRun), int(r.steps.size()) - 6);
    EXPECT_EQ(ExitStatus(r.verdict), 3);
}

TEST(SelfTest, TheProgramsReportsAreValidNeverOverwrittenAndWrittenWhenInterrupted) {
    QTemporaryDir dir;
    // Two runs into one folder at once: two reports.
    Program first, second;
    first.start({QStringLiteral("--dut"), QStringLiteral("M-7"), QStringLiteral("--report"), dir.path()});
    second.start({QStringLiteral("--dut"), QStringLiteral("M-7"), QStringLiteral("--report"), dir.path()});
    EXPECT_EQ(first.finish(), 0) << first.process.readAllStandardError().toStdString();
    EXPECT_EQ(second.finish(), 0);
    const QStringList junit = QDir(dir.path()).entryList({QStringLiteral("vorla-selftest-M-7-*.xml")});
    ASSERT_EQ(junit.size(), 2) << junit.join(u' ').toStdString();
    EXPECT_EQ(Python(QStringLiteral("import sys, junitparser\n"
                                    "x = junitparser.JUnitXml.fromfile(sys.argv[1])\n"
                                    "cases = [c for s in x for c in s]\n"
                                    "bad = [c.name for c in cases if not c.is_passed]\n"
                                    "print(len(cases), len(bad), cases[0].name)\n"),
                     {dir.filePath(junit[0])}),
              QStringLiteral("17 0 停止"));

    // A chip that rejects the first frame every time: exit 1, and the
    // reason in a report that its schema holds.
    const QString json = dir.filePath(QStringLiteral("rejected.json"));
    Program rejected;
    rejected.start({QStringLiteral("--reject-next"), QStringLiteral("4"), QStringLiteral("--report"), json});
    EXPECT_EQ(rejected.finish(), 1);
    EXPECT_EQ(SchemaErrors(json).toStdString(), "");
    const QJsonObject root = ReadJson(json);
    EXPECT_EQ(root.value(QStringLiteral("verdict")).toString(), QStringLiteral("fail"));
    EXPECT_EQ(root.value(QStringLiteral("station")).toString(), QSysInfo::machineHostName());
    const QJsonObject step = root.value(QStringLiteral("steps")).toArray().first().toObject();
    EXPECT_EQ(step.value(QStringLiteral("reasons")).toArray().first().toString(),
              QStringLiteral("rejected after every resend"));

    // Interrupted in the middle of a full run: the report says so.
    const QString interrupted = dir.filePath(QStringLiteral("interrupted.json"));
    Program full;
    full.start({QStringLiteral("--full"), QStringLiteral("--report"), interrupted});
    ASSERT_TRUE(Spin(20000, [&] {
        return ReadJson(interrupted).value(QStringLiteral("counts")).toObject().value(QStringLiteral("pass")).toInt() >=
               3;
    }));
    ::kill(pid_t(full.process.processId()), SIGINT);
    EXPECT_EQ(full.finish(), kExitIncomplete);
    EXPECT_EQ(SchemaErrors(interrupted).toStdString(), "");
    const QJsonObject stopped = ReadJson(interrupted);
    EXPECT_EQ(stopped.value(QStringLiteral("endedEarly")).toString(), QStringLiteral("interrupted"));
    EXPECT_GT(stopped.value(QStringLiteral("counts")).toObject().value(QStringLiteral("notRun")).toInt(), 0);
}
