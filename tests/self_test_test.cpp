// SPDX-License-Identifier: MIT
// The chip's self-test against the virtual chip on a pseudo-terminal: whole
// runs pass, faults the chip is told to make are named in the report step by
// step (the chip's own record is the oracle), a chip gone mid-run leaves the
// rest not run, and the program's reports are read by a JUnit reader.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include "chip_rig.h"
#include "codes/self_test.h"

using namespace vorla;
using namespace vorla::test;
using Verdict = SelfTestResult::Verdict;

namespace {

// The chip and the port at 9600 baud, plays a hundred times faster.
ChipOptions Fast() {
    ChipOptions o{100.0};
    o.baud = 9600;
    return o;
}

struct SelfTestRig : ChipRig {
    explicit SelfTestRig(ChipOptions options = Fast()) : ChipRig(options) {
        port->setSettings(QStringLiteral("9600,N,8,1"));
    }
    SelfTestReport run(SelfTestOptions o, int ms = 60000, const std::function<void(SelfTest&)>& during = {}) {
        o.startBaudIndex = 3;
        SelfTest test(conv(), clock);
        if (during) QObject::connect(&test, &SelfTest::stepFinished, [&] { during(test); });
        test.start(o);
        EXPECT_TRUE(Spin(ms, [&] { return !test.running(); })) << "the run hangs";
        return test.report();
    }
};

SelfTestOptions Only(std::initializer_list<const char*> groups, bool full = false) {
    SelfTestOptions o;
    for (const char* g : groups) o.only << QString::fromLatin1(g);
    o.full = full;
    o.playScale = 0.05;
    return o;
}

std::vector<Verdict> Verdicts(const SelfTestReport& r) {
    std::vector<Verdict> out;
    for (const auto& x : r.results) out.push_back(x.verdict);
    return out;
}

}  // namespace

TEST(SelfTest, QuickAndFullRunsPassEveryStep) {
    for (const bool full : {false, true}) {
        SCOPED_TRACE(full ? "full" : "quick");
        SelfTestRig b;
        SelfTestOptions o;
        o.full = full;
        const SelfTestReport report = b.run(o);
        ASSERT_GT(report.steps.size(), 90u);
        for (size_t i = 0; i < report.steps.size(); ++i)
            EXPECT_EQ(report.results[i].verdict, Verdict::Pass)
                << report.steps[i].group.toStdString() << " " << report.steps[i].name.toStdString() << ": "
                << report.results[i].message.toStdString();
        EXPECT_TRUE(report.passed());
        // Every karaoke piece's lyrics, read whole, and play times when waited for.
        int lyrics = 0;
        for (const SelfTestResult& r : report.results) lyrics += r.lyrics.isEmpty() ? 0 : 1;
        EXPECT_EQ(lyrics, kKaraokePieces);
        EXPECT_EQ(report.results.back().words, QStringLiteral("未知命令 40"));
        if (full) {
            EXPECT_GT(report.results[20].playSeconds, 0);
        }
    }
}

TEST(SelfTest, RejectedFramesAreNamedStepByStep) {
    ChipOptions options = Fast();
    options.rejectProbability = 0.3;
    options.seed = 11;
    SelfTestRig b(options);
    b.chip->run([](ChipHost& h) { h.model().setRecordFrames(true); });
    // A full run sends one frame a step, and again for every rejection.
    const SelfTestReport report = b.run(Only({"text", "phrases", "sounds"}, true));
    std::vector<QByteArray> heard;
    b.chip->run([&](ChipHost& h) { heard = h.model().recordedFrames(); });
    size_t at = 0;
    int warned = 0;
    for (size_t i = 0; i < report.steps.size(); ++i) {
        const SelfTestResult& r = report.results[i];
        int times = 0;
        while (at < heard.size() && heard[at] == r.frame) ++times, ++at;
        SCOPED_TRACE(report.steps[i].name.toStdString());
        EXPECT_EQ(r.resends, times - 1);
        EXPECT_EQ(r.verdict, times == 1 ? Verdict::Pass : times <= 3 ? Verdict::Warning : r.verdict);
        if (times == 4) {
            EXPECT_NE(r.verdict, Verdict::Pass);
        }
        warned += r.verdict == Verdict::Warning ? 1 : 0;
    }
    EXPECT_EQ(at, heard.size());  // every frame the chip heard belongs to a step
    EXPECT_GT(warned, 3);
}

TEST(SelfTest, DroppedReportsAndStrayBytesAreNamedAndNothingHangs) {
    ChipOptions drop = Fast();
    drop.dropFinishReports = true;
    SelfTestRig b(drop);
    const SelfTestReport report = b.run(Only({"link", "sounds"}, true));
    const std::vector<Verdict> verdicts = Verdicts(report);
    EXPECT_EQ(verdicts.front(), Verdict::Pass);  // the stop reports nothing
    for (size_t i = 1; i < verdicts.size(); ++i) {
        EXPECT_EQ(verdicts[i], Verdict::Fail);
        EXPECT_TRUE(report.results[i].message.startsWith(QStringLiteral("no finish report"))) << i;
    }

    ChipOptions stray = Fast();
    stray.strayBytes = 0.3;
    SelfTestRig s(stray);
    const SelfTestReport noisy = s.run(Only({"controls", "phrases"}));
    EXPECT_EQ(noisy.count(Verdict::Fail), 0);
    EXPECT_EQ(noisy.count(Verdict::NotRun), 0);
    EXPECT_GT(noisy.count(Verdict::Warning), 0);
    for (const SelfTestResult& r : noisy.results) {
        if (r.verdict != Verdict::Warning) continue;
        EXPECT_TRUE(r.message.contains(QStringLiteral("dropped"))) << r.message.toStdString();
    }
}

TEST(SelfTest, AChipGoneMidRunLeavesTheRestNotRun) {
    SelfTestRig b;
    int finished = 0;
    const SelfTestReport report = b.run(Only({"text"}), 30000, [&](SelfTest&) {
        if (++finished == 5) b.chip->stop();
    });
    EXPECT_TRUE(report.fault.contains(QStringLiteral("连接中断"))) << report.fault.toStdString();
    EXPECT_EQ(report.count(Verdict::Pass), 5);
    EXPECT_EQ(report.count(Verdict::NotRun), int(report.steps.size()) - 5);
    EXPECT_FALSE(report.passed());
}

TEST(SelfTest, TheProgramsReportsAreReadByAJUnitReader) {
    QTemporaryDir dir;
    const QString xml = dir.filePath(QStringLiteral("report.xml"));
    const QString json = dir.filePath(QStringLiteral("report.json"));
    auto selftest = [](const QStringList& args) {
        QProcess p;
        p.start(QStringLiteral(VORLA_SELFTEST_PATH),
                QStringList{QStringLiteral("--simulate"), QStringLiteral("--speed"), QStringLiteral("100"),
                            QStringLiteral("--baud"), QStringLiteral("9600"), QStringLiteral("--only"),
                            QStringLiteral("link,controls,sounds")} +
                    args);
        p.waitForFinished(60000);
        return p.exitCode();
    };
    EXPECT_EQ(selftest({QStringLiteral("--dut"), QStringLiteral("M-7"), QStringLiteral("--report"), xml}), 0);
    EXPECT_EQ(selftest({QStringLiteral("--reject-next"), QStringLiteral("4"), QStringLiteral("--report"), json}), 1);
    // One test case a step, the failures where they are.
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import sys, junitparser\n"
                                 "x = junitparser.JUnitXml.fromfile(sys.argv[1])\n"
                                 "cases = [c for s in x for c in s]\n"
                                 "bad = [c.name for c in cases if not c.is_passed]\n"
                                 "print(len(cases), len(bad), cases[0].name)\n"),
                  xml});
    ASSERT_TRUE(python.waitForFinished(20000));
    EXPECT_EQ(QString::fromUtf8(python.readAllStandardOutput()).trimmed(), QStringLiteral("16 0 停止"))
        << python.readAllStandardError().toStdString();
    QFile file(json);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    EXPECT_FALSE(root.value(QStringLiteral("passed")).toBool());
    const QJsonObject first = root.value(QStringLiteral("steps")).toArray().first().toObject();
    EXPECT_EQ(first.value(QStringLiteral("verdict")).toString(), QStringLiteral("fail"));
    EXPECT_EQ(first.value(QStringLiteral("resends")).toInt(), 3);
}
