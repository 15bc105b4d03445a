// SPDX-License-Identifier: MIT
// The chip's self-test over a real line: the virtual chip on a
// pseudo-terminal passes a quick run whole, a chip gone mid-run is the
// station's error with the rest not run, and the program's reports are
// valid against their schema, read by a JUnit reader, never overwrite one
// another and are written when the run is interrupted.
#include <csignal>

#include <pwd.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
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
    // Two runs into one folder at once: two JSON reports. A third writes
    // JSON and JUnit of one run, its operator the login name though $USER
    // and $LOGNAME are unset.
    Program first, second, both;
    first.start({QStringLiteral("--dut"), QStringLiteral("M-7"), QStringLiteral("--report"), dir.path()});
    second.start({QStringLiteral("--dut"), QStringLiteral("M-7"), QStringLiteral("--report"), dir.path()});
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("USER"));
    env.remove(QStringLiteral("LOGNAME"));
    both.process.setProcessEnvironment(env);
    const QString json = dir.filePath(QStringLiteral("both.json")), xml = dir.filePath(QStringLiteral("both.xml"));
    both.start({QStringLiteral("--report"), json, QStringLiteral("--report"), xml});
    EXPECT_EQ(first.finish(), 0) << first.process.readAllStandardError().toStdString();
    EXPECT_EQ(second.finish(), 0);
    EXPECT_EQ(both.finish(), 0);
    const QStringList reports = QDir(dir.path()).entryList({QStringLiteral("vorla-selftest-M-7-*.json")});
    ASSERT_EQ(reports.size(), 2) << reports.join(u' ').toStdString();
    EXPECT_EQ(SchemaErrors(dir.filePath(reports[0])).toStdString(), "");
    EXPECT_EQ(ReadJson(json).value(QStringLiteral("operator")).toString(),
              QString::fromLocal8Bit(::getpwuid(::geteuid())->pw_name));
    EXPECT_EQ(Python(QStringLiteral("import sys, junitparser\n"
                                    "x = junitparser.JUnitXml.fromfile(sys.argv[1])\n"
                                    "cases = [c for s in x for c in s]\n"
                                    "bad = [c.name for c in cases if not c.is_passed]\n"
                                    "print(len(cases), len(bad), cases[0].name)\n"),
                     {xml}),
              QStringLiteral("17 0 停止"));

    // A chip that rejects the first frame every time: exit 1, and the
    // reason in a report that its schema holds.
    const QString rejectedJson = dir.filePath(QStringLiteral("rejected.json"));
    Program rejected;
    rejected.start({QStringLiteral("--reject-next"), QStringLiteral("4"), QStringLiteral("--report"), rejectedJson});
    EXPECT_EQ(rejected.finish(), 1);
    EXPECT_EQ(SchemaErrors(rejectedJson).toStdString(), "");
    const QJsonObject root = ReadJson(rejectedJson);
    EXPECT_EQ(root.value(QStringLiteral("verdict")).toString(), QStringLiteral("fail"));
    EXPECT_EQ(root.value(QStringLiteral("station")).toString(), QSysInfo::machineHostName());
    EXPECT_EQ(root.value(QStringLiteral("virtualChip")).toObject().value(QStringLiteral("faults")).toArray(),
              QJsonArray{QStringLiteral("--reject-next 4")});
    const QJsonObject step = root.value(QStringLiteral("steps")).toArray().first().toObject();
    EXPECT_EQ(step.value(QStringLiteral("reasons")).toArray().first().toString(),
              QStringLiteral("rejected after every resend"));

    // Interrupted in the middle of a full run: incomplete, exit 4, and the
    // JUnit report has the one error that keeps a dashboard from green.
    const QString interrupted = dir.filePath(QStringLiteral("interrupted.json"));
    const QString interruptedXml = dir.filePath(QStringLiteral("interrupted.xml"));
    Program full;
    full.start({QStringLiteral("--full"), QStringLiteral("--report"), interrupted, QStringLiteral("--report"),
                interruptedXml});
    ASSERT_TRUE(Spin(20000, [&] {
        return ReadJson(interrupted).value(QStringLiteral("counts")).toObject().value(QStringLiteral("pass")).toInt() >=
               3;
    }));
    ::kill(pid_t(full.process.processId()), SIGINT);
    EXPECT_EQ(full.finish(), kExitIncomplete);
    EXPECT_EQ(SchemaErrors(interrupted).toStdString(), "");
    const QJsonObject stopped = ReadJson(interrupted);
    EXPECT_EQ(stopped.value(QStringLiteral("verdict")).toString(), QStringLiteral("incomplete"));
    EXPECT_EQ(stopped.value(QStringLiteral("endedEarly")).toString(), QStringLiteral("interrupted"));
    EXPECT_GT(stopped.value(QStringLiteral("counts")).toObject().value(QStringLiteral("notRun")).toInt(), 0);
    EXPECT_EQ(Python(QStringLiteral("import sys, junitparser\n"
                                    "s = next(iter(junitparser.JUnitXml.fromfile(sys.argv[1])))\n"
                                    "e = [r.message for c in s for r in c.result if isinstance(r, junitparser.Error)]\n"
                                    "print(s.errors, len(e), e[0].split(':')[0])\n"),
                     {interruptedXml}),
              QStringLiteral("1 1 the run was aborted here"));
}

// The virtual chip ten times faster passes a full run, its play limits
// scaled to match; the report names the limits file with its SHA-256 and the
// virtual chip's options. vorla-chipsim started at 2400 baud is found there.
TEST(SelfTest, TheProgramNamesItsLimitsAndChipAndFindsAChipsimsRate) {
    QTemporaryDir dir;
    const QString limits = dir.filePath(QStringLiteral("limits.json"));
    const QByteArray limitsJson = R"({"stopReport": true})";
    QFile file(limits);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(limitsJson) > 0);
    file.close();
    const QString report = dir.filePath(QStringLiteral("fast.json"));
    Program fast;
    fast.process.start(
        QStringLiteral(VORLA_SELFTEST_PATH),
        {QStringLiteral("--simulate"), QStringLiteral("--full"), QStringLiteral("--speed"), QStringLiteral("10"),
         QStringLiteral("--baud"), QStringLiteral("9600"), QStringLiteral("--only"), QStringLiteral("text"),
         QStringLiteral("--limits"), limits, QStringLiteral("--report"), report});
    EXPECT_EQ(fast.finish(), 0) << fast.process.readAllStandardError().toStdString();
    const QJsonObject root = ReadJson(report);
    EXPECT_EQ(root.value(QStringLiteral("limitsFile")).toObject().value(QStringLiteral("sha256")).toString(),
              QString::fromLatin1(QCryptographicHash::hash(limitsJson, QCryptographicHash::Sha256).toHex()));
    EXPECT_EQ(root.value(QStringLiteral("virtualChip")).toObject().value(QStringLiteral("speed")).toDouble(), 10);
    EXPECT_EQ(root.value(QStringLiteral("limits")).toObject().value(QStringLiteral("playScale")).toDouble(), 0.1);

    const QString link = dir.filePath(QStringLiteral("chip"));
    QProcess chip;
    chip.start(QStringLiteral(VORLA_CHIPSIM_PATH), {QStringLiteral("--baud"), QStringLiteral("2400"),
                                                    QStringLiteral("--mute"), QStringLiteral("--link"), link});
    ASSERT_TRUE(Spin(10000, [&] { return QFileInfo::exists(link); }));
    Program found;
    found.process.start(QStringLiteral(VORLA_SELFTEST_PATH),
                        {QStringLiteral("--device"), link, QStringLiteral("--find-baud"), QStringLiteral("--only"),
                         QStringLiteral("link")});
    EXPECT_EQ(found.finish(), 0);
    EXPECT_TRUE(found.process.readAllStandardError().contains("at 2400 baud (found)"));
    chip.terminate();
    EXPECT_TRUE(chip.waitForFinished(10000));
}
