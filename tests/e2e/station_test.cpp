// SPDX-License-Identifier: MIT
// A test station over real lines: slots on virtual chips on
// pseudo-terminals run at once, a good one, a faulty one and one whose chip
// vanishes, each ending in its own verdict while the others go on; the
// program's combined report is valid against its schemas and read by a
// JUnit reader, its capture has an interface a slot, and a station that
// cannot run is refused before anything is sent.
#include <map>

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>

#include "chip_rig.h"
#include "selftest/report.h"
#include "selftest/station.h"
#include "ui/self_test_window.h"
#include "ui/station_window.h"

using namespace vorla;
using namespace vorla::test;

namespace station_test {

struct Ran {
    int status = -1;
    QString out;
};

Ran Exec(const QString& program, const QStringList& args, int ms = 90000) {
    QProcess p;
    p.start(program, args);
    Ran r;
    EXPECT_TRUE(p.waitForFinished(ms)) << program.toStdString();
    r.status = p.exitCode();
    r.out = QString::fromUtf8(p.readAllStandardOutput()) + QString::fromUtf8(p.readAllStandardError());
    return r;
}

Ran PythonOut(const QString& script, const QStringList& args) {
    return Exec(QStringLiteral("/usr/bin/python3"), QStringList{QStringLiteral("-c"), script} + args);
}

QJsonObject JsonFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
}

QStringList Selftest(const QStringList& args) {
    return QStringList{QStringLiteral("--baud"), QStringLiteral("9600"), QStringLiteral("--only"),
                       QStringLiteral("link,controls,sounds")} +
           args;
}

}  // namespace station_test

using namespace station_test;

TEST(Station, AGoodAFaultyAndAVanishedSlotEachEndInTheirOwnVerdict) {
    ChipOptions good;
    good.baud = 9600;
    // B garbles: stray bytes around its replies, its first frame rejected every time.
    ChipOptions noisy = good;
    noisy.rejectNext = 4;
    noisy.strayBytes = 0.3;
    std::vector<std::unique_ptr<ChipThread>> chips;
    StationPlan plan;
    for (const ChipOptions& o : {good, noisy, good}) {
        chips.push_back(std::make_unique<ChipThread>(o));
        ASSERT_TRUE(chips.back()->start());
        plan.slotPlans.push_back(SlotPlan{QString(QChar(u'A' + int(chips.size()) - 1)), chips.back()->devicePath(),
                                          QStringLiteral("M-%1").arg(chips.size()), std::nullopt});
    }
    QtClock clock;
    Station station(clock);
    RunOptions run;
    run.startBaudIndex = 3;
    run.only = {QStringLiteral("link"), QStringLiteral("controls"), QStringLiteral("text")};
    QString why;
    ASSERT_TRUE(station.open(plan, run, &why)) << why.toStdString();
    // C's chip vanishes after its fifth step.
    QObject::connect(&station, &Station::stepFinished, [&](int slot, int index) {
        if (slot == 2 && index == 4) chips[2]->stop();
    });
    station.startAll();
    ASSERT_TRUE(Spin(120000, [&] { return !station.running(); }));
    const StationRecord r = station.record();
    ASSERT_EQ(r.slotRuns.size(), 3u);
    const RunRecord& a = r.slotRuns[0].run;
    const RunRecord& c = r.slotRuns[2].run;
    EXPECT_EQ(a.verdict.outcome, Outcome::Pass) << a.verdict.reasons.join(u';').toStdString();
    EXPECT_EQ(a.count(Outcome::Pass), int(a.steps.size()));
    // B fails, C's line is lost, and not a step of A's moved.
    EXPECT_EQ(r.slotRuns[1].run.verdict.outcome, Outcome::Fail);
    EXPECT_EQ(c.verdict.outcome, Outcome::Error);
    EXPECT_TRUE(c.fault.contains(QStringLiteral("连接中断"))) << c.fault.toStdString();
    EXPECT_EQ(c.count(Outcome::Pass), 5);
    EXPECT_EQ(StationOutcome(r), Outcome::Error);
    EXPECT_EQ(StationExitStatus(r), 3);
    const Band band = a.limits.latency(9600);
    for (const StepRecord& s : a.steps) EXPECT_LT(s.measured.latencyMs, band.marginal) << s.step.id().toStdString();
    // One capture: an interface a slot, named after it, each with its own frames.
    const capture::Capture line = station.lineCapture();
    ASSERT_EQ(line.interfaces.size(), 3u);
    std::array<int, 3> frames{};
    for (const capture::Packet& p : line.packets)
        if (p.direction == capture::Direction::Out && p.interface < 3) ++frames.at(p.interface);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(line.interfaces[size_t(i)].name, plan.slotPlans[size_t(i)].name);
        EXPECT_EQ(frames.at(size_t(i)), r.slotRuns[size_t(i)].run.framesSent) << i;
    }
}

TEST(Station, TheProgramsCombinedReportsAndCaptureHoldEverySlot) {
    QTemporaryDir dir;
    const QString json = dir.filePath(QStringLiteral("station.json"));
    const QString xml = dir.filePath(QStringLiteral("station.xml"));
    const QString pcap = dir.filePath(QStringLiteral("station.pcapng"));
    const Ran ran = Exec(QStringLiteral(VORLA_SELFTEST_PATH),
                         Selftest({QStringLiteral("--simulate"), QStringLiteral("3"), QStringLiteral("--slot-fault"),
                                   QStringLiteral("B=reject-next:4"), QStringLiteral("--report"), json,
                                   QStringLiteral("--capture"), pcap}));
    EXPECT_EQ(ran.status, 1) << ran.out.toStdString();
    const Ran valid = PythonOut(
        QStringLiteral("import json, sys, jsonschema\n"
                       "r = json.load(open(sys.argv[1]))\n"
                       "jsonschema.validate(r, json.load(open(sys.argv[2])))\n"
                       "for s in r['slots']: jsonschema.validate(s['run'], json.load(open(sys.argv[3])))\n"
                       "print(r['verdict'], r['exitStatus'], ' '.join(s['slot'] + ':' + s['verdict'] for s in "
                       "r['slots']))\n"),
        {json, QStringLiteral(VORLA_STATION_REPORT_SCHEMA), QStringLiteral(VORLA_REPORT_SCHEMA)});
    EXPECT_EQ(valid.out.trimmed(), QStringLiteral("fail 1 A:pass B:fail C:pass"));
    EXPECT_FALSE(JsonFile(json).value(QStringLiteral("capture")).toObject().value(QStringLiteral("sha256")).isNull());

    // The capture read by tshark through the dissector: an interface a slot,
    // named after it, each slot's frames named in words.
    const Ran fields = Exec(
        QStringLiteral("tshark"),
        {QStringLiteral("-X"), QStringLiteral("lua_script:" VORLA_DISSECTOR), QStringLiteral("-r"), pcap,
         QStringLiteral("-T"), QStringLiteral("fields"), QStringLiteral("-e"), QStringLiteral("frame.interface_name"),
         QStringLiteral("-e"), QStringLiteral("vorla.direction"), QStringLiteral("-e"), QStringLiteral("vorla.words")});
    ASSERT_EQ(fields.status, 0) << fields.out.toStdString();
    std::map<QString, int> named;  // frames sent named in words, by interface
    for (const QString& line : fields.out.split(u'\n', Qt::SkipEmptyParts)) {
        const QStringList columns = line.split(u'\t');
        if (columns.size() == 3 && !line.startsWith(QStringLiteral("Running as user")))
            named[columns[0]] +=
                columns[1] == QStringLiteral("sent") && !columns[2].isEmpty() ? 1 : 0;  // sent, in words
    }
    ASSERT_EQ(named.size(), 3u) << fields.out.toStdString();
    const QJsonArray slotList = JsonFile(json).value(QStringLiteral("slots")).toArray();
    for (const QJsonValue& slot : slotList) {
        const QJsonObject o = slot.toObject();
        const int sent = o.value(QStringLiteral("run"))
                             .toObject()
                             .value(QStringLiteral("frames"))
                             .toObject()
                             .value(QStringLiteral("sent"))
                             .toInt();
        EXPECT_EQ(named[o.value(QStringLiteral("slot")).toString()], sent)
            << o.value(QStringLiteral("slot")).toString().toStdString();
    }

    // Slot B's line served strictly as a chip: a run against it meets B's chip again.
    const QString link = dir.filePath(QStringLiteral("slot-b"));
    QProcess replay;
    replay.start(QStringLiteral(VORLA_CHIPSIM_PATH),
                 {QStringLiteral("--replay"), pcap, QStringLiteral("--interface"), QStringLiteral("B"),
                  QStringLiteral("--strict"), QStringLiteral("--link"), link});
    ASSERT_TRUE(replay.waitForReadyRead(10000));
    const Ran again = Exec(QStringLiteral(VORLA_SELFTEST_PATH), Selftest({QStringLiteral("--device"), link}));
    replay.terminate();
    replay.waitForFinished(5000);
    const QString replayed = QString::fromUtf8(replay.readAll());
    EXPECT_FALSE(replayed.contains(QStringLiteral("stopped"))) << replayed.toStdString();
    EXPECT_EQ(again.status, 1) << again.out.toStdString();
    EXPECT_TRUE(again.out.contains(QStringLiteral("rejected after every resend"))) << again.out.toStdString();

    // JUnit: a <testsuite> a slot, the faulty slot's failures in its own.
    EXPECT_EQ(Exec(QStringLiteral(VORLA_SELFTEST_PATH),
                   Selftest({QStringLiteral("--simulate"), QStringLiteral("2"), QStringLiteral("--slot-fault"),
                             QStringLiteral("A=reject-next:4"), QStringLiteral("--report"), xml,
                             QStringLiteral("--timeline"), dir.filePath(QStringLiteral("run.svg"))}))
                  .status,
              1);
    const Ran suites = PythonOut(
        QStringLiteral("import sys, junitparser\n"
                       "x = junitparser.JUnitXml.fromfile(sys.argv[1])\n"
                       "print(' '.join('%s/%d/%d' % (s.name.split(':')[0], s.tests, s.failures) for s in x))\n"),
        {xml});
    EXPECT_EQ(suites.out.trimmed(), QStringLiteral("slot A/17/1 slot B/17/0"));
    // And a timeline a slot.
    for (const char* slot : {"A", "B"}) {
        QFile svg(dir.filePath(QStringLiteral("run-%1.svg").arg(QLatin1String(slot))));
        EXPECT_TRUE(svg.open(QIODevice::ReadOnly) && svg.readAll().contains("<svg")) << slot;
    }
}

TEST(Station, AStationThatCannotRunIsRefusedNamingTheSlot) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("bad.json"));
    QFile bad(file);
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write(R"({"schema": "vorla-station/1", "slots": [{"name": "A", "device": "/dev/null", "colour": 1}]})");
    bad.close();
    const QString missing = dir.filePath(QStringLiteral("by-path-port0"));
    const struct {
        QStringList args;
        int status;
        const char* says;
    } cases[] = {
        {{QStringLiteral("--slot"), QStringLiteral("A=/dev/null"), QStringLiteral("--slot"),
          QStringLiteral("B=/dev/null")},
         2,
         "slots A and B are on one device"},
        {{QStringLiteral("--slot"), QStringLiteral("A=/dev/null"), QStringLiteral("--slot"),
          QStringLiteral("A=/dev/zero")},
         2,
         "slot A is named twice"},
        {{QStringLiteral("--slot"), QStringLiteral("A=/dev/null,M-1"), QStringLiteral("--slot"),
          QStringLiteral("B=/dev/zero,M-1")},
         2,
         "the DUT M-1 is in slots A and B"},
        {{QStringLiteral("--station"), file}, 2, "slot A: unknown key \"colour\""},
        {{QStringLiteral("--simulate"), QStringLiteral("2"), QStringLiteral("--slot-fault"),
          QStringLiteral("C=reject-rate:0.2")},
         2,
         "no virtual slot C"},
        {{QStringLiteral("--slot"), QStringLiteral("A=") + missing}, 3, "by-path-port0 is missing"},
    };
    // The station file's schema refuses the file as the program does.
    EXPECT_TRUE(
        PythonOut(QStringLiteral("import json, sys, jsonschema\n"
                                 "jsonschema.validate(json.load(open(sys.argv[1])), json.load(open(sys.argv[2])))\n"),
                  {file, QStringLiteral(VORLA_STATION_SCHEMA)})
            .out.contains(QStringLiteral("'colour' was unexpected")));
    for (const auto& c : cases) {
        const Ran ran = Exec(QStringLiteral(VORLA_SELFTEST_PATH), c.args, 20000);
        EXPECT_EQ(ran.status, c.status) << ran.out.toStdString();
        EXPECT_TRUE(ran.out.contains(QString::fromUtf8(c.says))) << ran.out.toStdString();
    }
}

// Slots named by links, as /dev/serial/by-path/ names sockets: when the
// adapters' numbers change between two starts, each slot follows its link
// to the chip in its socket.
TEST(Station, SlotsFollowTheirLinksWhenTheDevicesAreReshuffled) {
    ChipOptions good;
    good.baud = 9600;
    ChipOptions rejecting = good;
    rejecting.rejectNext = 1000;
    ChipThread x(good), y(rejecting);
    ASSERT_TRUE(x.start() && y.start());
    QTemporaryDir dir;
    const QString a = dir.filePath(QStringLiteral("pci-0000:00:14.0-usb-0:1:1.0-port0"));
    const QString b = dir.filePath(QStringLiteral("pci-0000:00:14.0-usb-0:2:1.0-port0"));
    RunOptions run;
    run.startBaudIndex = 3;
    run.only = {QStringLiteral("link")};
    const auto verdicts = [&](const QString& toA, const QString& toB) {
        QFile::remove(a);
        QFile::remove(b);
        EXPECT_TRUE(QFile::link(toA, a) && QFile::link(toB, b));
        QtClock clock;
        Station station(clock);
        QString why;
        EXPECT_TRUE(station.open(StationPlan{{}, {{"A", a, {}, {}}, {"B", b, {}, {}}}, {}}, run, &why))
            << why.toStdString();
        EXPECT_EQ(station.device(0).canonical, QFileInfo(toA).canonicalFilePath());
        station.startAll();
        EXPECT_TRUE(Spin(30000, [&] { return !station.running(); }));
        const StationRecord r = station.record();
        return QStringList{OutcomeName(r.slotRuns.at(0).run.verdict.outcome),
                           OutcomeName(r.slotRuns.at(1).run.verdict.outcome)};
    };
    EXPECT_EQ(verdicts(x.devicePath(), y.devicePath()), (QStringList{QStringLiteral("pass"), QStringLiteral("fail")}));
    EXPECT_EQ(verdicts(y.devicePath(), x.devicePath()), (QStringList{QStringLiteral("fail"), QStringLiteral("pass")}));
    // A slot named by its stable name or its udev ID_PATH alone.
    const QString name = QFileInfo(a).fileName();
    EXPECT_EQ(SlotDevicePath(name, dir.path()), a);
    EXPECT_EQ(SlotDevicePath(name.chopped(int(QStringLiteral("-port0").size())), dir.path()), a);
    EXPECT_EQ(SlotDevicePath(x.devicePath(), dir.path()), x.devicePath());
    // B's adapter moved to another socket: B's name is gone, the new one
    // is nobody's, and B's slot says where to look.
    const QString moved = dir.filePath(QStringLiteral("pci-0000:00:14.0-usb-0:3:1.0-port0"));
    ASSERT_TRUE(QFile::rename(b, moved));
    const std::vector<SlotPlan> slotPlans{{"A", a, {}, {}}, {"B", b, {}, {}}};
    EXPECT_EQ(UnclaimedDevices(dir.path(), slotPlans), QStringList{moved});
    QtClock clock;
    Station station(clock);
    QString why;
    EXPECT_FALSE(station.open(StationPlan{{}, slotPlans, {}}, run, &why));
    EXPECT_EQ(MissingDevice(slotPlans[1], UnclaimedDevices(dir.path(), slotPlans)),
              QStringLiteral("slot B: %1 is missing (if its adapter has moved to another socket, it is one of %2)")
                  .arg(b, moved));
    EXPECT_TRUE(why.startsWith(QStringLiteral("slot B: %1 is missing").arg(b))) << why.toStdString();
}

// The station window: a tile a slot, each started by its DUT's Enter, the
// verdict as a word that stays until the next DUT starts; one DUT scanned
// into two slots refused; a tile's table; the report of the station; and
// the main window's 测试台… opening a station file or saying why not.
TEST(Station, TheWindowsTilesRunEachSlotWhenItsDutIsScanned) {
    ChipOptions good;
    good.baud = 9600;
    ChipOptions rejecting = good;
    rejecting.rejectNext = 4;
    auto x = std::make_unique<ChipThread>(good);
    auto y = std::make_unique<ChipThread>(rejecting);
    ASSERT_TRUE(x->start() && y->start());
    QTemporaryDir dir;
    {
        QtClock clock;
        auto station = std::make_unique<Station>(clock);
        RunOptions run;
        run.startBaudIndex = 3;
        run.only = {QStringLiteral("link"), QStringLiteral("controls")};
        QString why;
        ASSERT_TRUE(station->open(StationPlan{{}, {{"A", x->devicePath(), {}, {}}, {"B", y->devicePath(), {}, {}}}, {}},
                                  run, &why));
        StationWindow w(std::move(station));
        w.show();
        const auto scan = [&](int slot, const QString& dut) {
            w.dutField(slot)->setText(dut);
            emit w.dutField(slot)->returnPressed();
        };
        scan(0, QStringLiteral("M-1"));
        EXPECT_TRUE(w.station().slotRunning(0));
        EXPECT_FALSE(w.station().slotRunning(1));
        scan(1, QStringLiteral("M-1"));  // already in A
        EXPECT_FALSE(w.station().slotRunning(1));
        EXPECT_TRUE(w.stepText(1).contains(QStringLiteral("the DUT M-1 is in slot A"))) << w.stepText(1).toStdString();
        ASSERT_TRUE(Spin(30000, [&] { return !w.verdictText(0).isEmpty(); }));
        EXPECT_EQ(w.verdictText(0), QStringLiteral("通过"));
        EXPECT_EQ(w.progress(0), int(w.station().test(0).record().steps.size()));
        scan(1, QStringLiteral("M-2"));
        ASSERT_TRUE(Spin(30000, [&] { return !w.verdictText(1).isEmpty(); }));
        EXPECT_EQ(w.verdictText(1), QStringLiteral("失败"));
        EXPECT_EQ(w.verdictText(0), QStringLiteral("通过"));  // stays
        scan(0, QStringLiteral("M-3"));
        EXPECT_EQ(w.verdictText(0), QString());  // until the next DUT starts
        ASSERT_TRUE(Spin(30000, [&] { return !w.verdictText(0).isEmpty(); }));
        scan(0, QStringLiteral("M-4"));
        w.stopAll();  // stopped before its end: not finished, not failed
        ASSERT_TRUE(Spin(30000, [&] { return !w.verdictText(0).isEmpty(); }));
        EXPECT_EQ(w.verdictText(0), QStringLiteral("未完成"));
        SelfTestWindow* detail = w.openSlot(1);
        ASSERT_TRUE(detail);
        EXPECT_TRUE(detail->summary().contains(QStringLiteral("FAIL"))) << detail->summary().toStdString();
        const QString report = dir.filePath(QStringLiteral("station.json"));
        w.setSavePathSource([&](const QString&) { return report; });
        w.saveReport();
        const QJsonObject saved = JsonFile(report);
        EXPECT_EQ(saved.value(QStringLiteral("mode")).toString(), QStringLiteral("independent"));
        const QJsonArray slotList = saved.value(QStringLiteral("slots")).toArray();
        ASSERT_EQ(slotList.size(), 2);
        EXPECT_EQ(slotList[0].toObject().value(QStringLiteral("dut")).toString(), QStringLiteral("M-4"));
        EXPECT_EQ(slotList[1].toObject().value(QStringLiteral("verdict")).toString(), QStringLiteral("fail"));
    }
    // From the main window's menu: a station file, or why it cannot open.
    const QString file = dir.filePath(QStringLiteral("station.json"));
    const QString bad = dir.filePath(QStringLiteral("bad.json"));
    for (const auto& [path, text] :
         {std::pair{file, QStringLiteral(R"({"schema": "vorla-station/1", "slots": [{"name": "A", "device": "%1"},
                                             {"name": "B", "device": "%2"}]})")
                              .arg(x->devicePath(), y->devicePath())},
          std::pair{bad, QStringLiteral(R"({"schema": "vorla-station/1", "slots": [{"name": "A", "device": "%1"},
                                            {"name": "B", "device": "%1"}]})")
                             .arg(x->devicePath())}}) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text.toUtf8());
    }
    const Ran valid =
        PythonOut(QStringLiteral("import json, sys, jsonschema\n"
                                 "jsonschema.validate(json.load(open(sys.argv[1])), json.load(open(sys.argv[2])))\n"),
                  {file, QStringLiteral(VORLA_STATION_SCHEMA)});
    EXPECT_EQ(valid.status, 0) << valid.out.toStdString();
    LinkedWindow main;
    main.openWindow();
    main.window->setStationPathSource([&] { return bad; });
    EXPECT_EQ(main.window->openStation(), nullptr);
    ASSERT_EQ(main.messages.size(), 1u);
    EXPECT_TRUE(main.messages[0].contains(QStringLiteral("slots A and B are on one device")));
    main.window->setStationPathSource([&] { return file; });
    StationWindow* opened = main.window->openStation();
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->station().slotCount(), 2);
    EXPECT_EQ(main.window->openStation(), opened);  // once
}

// In a batch with the plays in turn, no two slots play at once, while the
// silent steps go on beside them; without it they overlap.
TEST(Station, TheStepsThatPlayTakeTurnsWhenAsked) {
    ChipOptions good;
    good.baud = 9600;
    std::vector<std::unique_ptr<ChipThread>> chips;
    StationPlan plan;
    for (const char* name : {"A", "B", "C"}) {
        chips.push_back(std::make_unique<ChipThread>(good));
        ASSERT_TRUE(chips.back()->start());
        plan.slotPlans.push_back(SlotPlan{QString::fromLatin1(name), chips.back()->devicePath(), {}, {}});
    }
    RunOptions run;
    run.startBaudIndex = 3;
    run.only = {QStringLiteral("controls"), QStringLiteral("sounds")};
    const auto overlaps = [&](bool inTurn) {
        QtClock clock;
        Station station(clock);
        QString why;
        EXPECT_TRUE(station.open(plan, run, &why)) << why.toStdString();
        station.setPlaysInTurn(inTurn);
        struct Play {
            int slot;
            double from, to;
        };
        std::vector<Play> plays;
        QObject::connect(&station, &Station::stepFinished, [&](int slot, int index) {
            const RunRecord& r = station.test(slot).record();
            const StepRecord& s = r.steps.at(size_t(index));
            if (s.step.plays() && s.measured.sentAt >= 0)
                plays.push_back(Play{slot, r.clockStart + s.measured.sentAt, clock.now()});
        });
        station.startAll();
        EXPECT_TRUE(Spin(60000, [&] { return !station.running(); }));
        EXPECT_EQ(StationOutcome(station.record()), Outcome::Pass);
        int overlapping = 0;
        for (const Play& p : plays)
            for (const Play& q : plays) overlapping += p.slot < q.slot && p.from < q.to && q.from < p.to ? 1 : 0;
        EXPECT_GT(plays.size(), 20u);
        return overlapping;
    };
    EXPECT_EQ(overlaps(true), 0);
    EXPECT_GT(overlaps(false), 0);
}
