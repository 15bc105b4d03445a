// SPDX-License-Identifier: MIT
#include "app/station_run.h"

#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QSaveFile>

#include "app/station_options.h"
#include "app/stop_signals.h"
#include "protocol/capture.h"
#include "protocol/text_encoding.h"
#include "selftest/report.h"
#include "serial/clock.h"
#include "sim/chip_host.h"
#include "ui/self_test_window.h"

namespace vorla {

namespace {
constexpr int kUsageStatus = 2;
constexpr int kStationStatus = 3;

void Say(const QString& line) { std::fprintf(stderr, "%s\n", qPrintable(line)); }

// Answers --help, --version and a wrong command line; -1 to go on.
int Answered(const StationCommandLine& c) {
    if (c.run.help) {
        std::fputs(qPrintable(SelfTestUsage() + StationUsage()), stdout);
        return 0;
    }
    if (c.run.version) {
        std::puts("vorla-selftest " VORLA_VERSION);
        return 0;
    }
    if (c.error.isEmpty()) return -1;
    Say(QStringLiteral("vorla-selftest: %1\n(vorla-selftest --help lists the options)").arg(c.error));
    return kUsageStatus;
}

// The station's report: a folder gets a new file named after the station
// and the time. Written whole every time, so that a reader never sees half.
class StationReportFile {
public:
    bool open(const QString& given, const StationRecord& record) {
        path_ = given;
        if (QFileInfo(given).isDir()) {
            QString name = record.station;
            name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_.-]+")), QStringLiteral("_"));
            const QDateTime at = record.started.isValid() ? record.started : QDateTime::currentDateTime();
            const QString stem =
                QStringLiteral("vorla-station-%1-%2").arg(name, at.toString(QStringLiteral("yyyyMMdd-HHmmss")));
            for (int n = 1; n < 1000; ++n) {
                path_ = QDir(given).filePath(stem + (n == 1 ? QString() : QStringLiteral("-%1").arg(n)) +
                                             QStringLiteral(".json"));
                QFile file(path_);
                if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly) || !file.exists()) break;
            }
        }
        return write(record);
    }
    bool write(const StationRecord& record) {
        QSaveFile file(path_);
        if (file.open(QIODevice::WriteOnly) && file.write(StationReportFor(path_, record)) >= 0 && file.commit())
            return true;
        Say(QStringLiteral("vorla-selftest: cannot write %1: %2").arg(path_, file.errorString()));
        return false;
    }
    QString path() const { return path_; }

private:
    QString path_;
};

// Every slot's line in one capture; false (said why) when it cannot be written.
bool WriteCapture(const Station& station, const QString& path, StationRecord& record) {
    const QByteArray bytes = capture::Write(station.lineCapture());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        Say(QStringLiteral("vorla-selftest: the capture %1: %2").arg(path, file.errorString()));
        return false;
    }
    record.capture = QFileInfo(path).absoluteFilePath();
    record.captureSha256 = QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    Say(QStringLiteral("capture: %1").arg(record.capture));
    return true;
}

// The slots and their devices; a real slot named by a number the next boot
// may give another adapter is told its socket's stable name.
void PrintHeading(const Station& station, const StationCommandLine& c) {
    const RunInfo& info = c.run.run.info;
    Say(QStringLiteral("vorla-selftest %1: station %2, %3 slots, %4 run, operator %5")
            .arg(QStringLiteral(VORLA_VERSION), info.station)
            .arg(station.slotCount())
            .arg(info.full ? QStringLiteral("full") : QStringLiteral("quick"), info.operatorName));
    for (int i = 0; i < station.slotCount(); ++i) {
        const SlotDevice& d = station.device(i);
        Say(QStringLiteral("  slot %1: %2").arg(station.slotName(i), DeviceLine(d)));
        if (c.simulate > 0 || d.stablyNamed()) continue;
        Say(QStringLiteral("  slot %1: %2 is not a stable name: the next boot may give its number to another "
                           "adapter%3")
                .arg(station.slotName(i), d.given,
                     d.stable.isEmpty() ? QString() : QStringLiteral("; this socket is %1").arg(d.stable)));
    }
}

// A slot's file beside the one given: run.svg → run-A.svg.
QString SlotFile(const QString& path, const QString& slot) {
    const QFileInfo given(path);
    const QString suffix = given.suffix().isEmpty() ? QString() : QStringLiteral(".") + given.suffix();
    return given.dir().filePath(given.completeBaseName() + QStringLiteral("-") + slot + suffix);
}

// Each started slot's run on its line's timeline; false (said why) when one cannot be written.
bool WriteTimelines(Station& station, const QString& path) {
    bool written = true;
    for (int i = 0; i < station.slotCount(); ++i) {
        const QString file = SlotFile(path, station.slotName(i));
        if (SaveRunTimelineSvg(station.test(i).record(), station.conversation(i).lineRecord(), file)) {
            Say(QStringLiteral("timeline of slot %1: %2").arg(station.slotName(i), QFileInfo(file).absoluteFilePath()));
            continue;
        }
        Say(QStringLiteral("vorla-selftest: the timeline %1 cannot be written").arg(file));
        written = false;
    }
    return written;
}

// The application object: drawing the timelines takes fonts, so a
// QGuiApplication on the offscreen platform (nothing is shown).
std::unique_ptr<QCoreApplication> Application(int& argc, char** argv, bool drawing) {
    if (!drawing) return std::make_unique<QCoreApplication>(argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return std::make_unique<QGuiApplication>(argc, argv);
}

// A line for every step that does not pass, and one for every slot at its end.
void Follow(Station& station) {
    QObject::connect(&station, &Station::stepFinished, &station, [&station](int slot, int index) {
        const StepRecord& s = station.test(slot).record().steps.at(size_t(index));
        if (s.verdict.outcome == Outcome::Pass) return;
        Say(QStringLiteral("slot %1 [%2] %3 %4: %5 — %6")
                .arg(station.slotName(slot))
                .arg(index + 1)
                .arg(s.step.group, s.step.name, OutcomeName(s.verdict.outcome),
                     s.verdict.reasons.join(QStringLiteral("; "))));
    });
    QObject::connect(&station, &Station::slotFinished, &station, [&station](int slot) {
        Say(QStringLiteral("slot %1 done: %2").arg(station.slotName(slot), SummaryLine(station.test(slot).record())));
    });
}
}  // namespace

bool StartVirtualChips(StationCommandLine& c, std::vector<std::unique_ptr<sim::ChipThread>>& chips, QString* why) {
    for (SlotPlan& slot : c.station.slotPlans) {
        chips.push_back(std::make_unique<sim::ChipThread>(c.chips.at(slot.name)));
        QString error;
        if (!chips.back()->start(&error)) {
            *why = QStringLiteral("slot %1: the virtual chip: %2").arg(slot.name, error);
            return false;
        }
        slot.device = chips.back()->devicePath();
    }
    return true;
}

namespace {
// The end of the station's run: the capture, the pictures, the report and
// the summary. The exit status.
int Finish(Station& station, const StationCommandLine& c, std::vector<StationReportFile>& reports, bool written) {
    StationRecord record = station.record();
    if (!c.run.capturePath.isEmpty()) written = WriteCapture(station, c.run.capturePath, record) && written;
    if (!c.run.timelinePath.isEmpty()) written = WriteTimelines(station, c.run.timelinePath) && written;
    for (StationReportFile& report : reports) {
        written = report.write(record) && written;
        Say(QStringLiteral("report: %1").arg(report.path()));
    }
    for (const QString& line : StationSummaryLines(record)) Say(line);
    return written ? StationExitStatus(record) : kStationStatus;
}

// The virtual chips (if any) started and every slot's port opened; false (said why) when not.
bool OpenStation(StationCommandLine& c, std::vector<std::unique_ptr<sim::ChipThread>>& chips, Station& station) {
    QString why;
    if ((c.simulate > 0 && !StartVirtualChips(c, chips, &why)) || !station.open(c.station, c.run.run, &why)) {
        Say(QStringLiteral("vorla-selftest: %1").arg(why));
        return false;
    }
    station.setPlaysInTurn(c.playsInTurn);
    return true;
}
}  // namespace

int RunStationProgram(int& argc, char** argv, const QStringList& arguments) {
    StationCommandLine c = ParseStationCommandLine(arguments);
    if (const int status = Answered(c); status >= 0) return status;
    const std::unique_ptr<QCoreApplication> app = Application(argc, argv, !c.run.timelinePath.isEmpty());
    if (!GbkAvailable()) {
        Say(QStringLiteral("vorla-selftest: the GBK (code page 936) converter is not available"));
        return kStationStatus;
    }
    c.run.run.info.version = QStringLiteral(VORLA_VERSION);
    // The chips outlive the station; the station opens every device and the
    // report can be written before anything is sent.
    std::vector<std::unique_ptr<sim::ChipThread>> chips;
    QtClock clock;
    Station station(clock);
    if (!OpenStation(c, chips, station)) return kStationStatus;
    // Each --report gets the station's report, in its own format.
    std::vector<StationReportFile> reports(size_t(c.run.reportPaths.size()));
    for (size_t i = 0; i < reports.size(); ++i)
        if (!reports[i].open(c.run.reportPaths[qsizetype(i)], station.record())) return kStationStatus;
    PrintHeading(station, c);
    Follow(station);
    bool written = true;
    QObject::connect(&station, &Station::slotFinished, &station, [&] {
        for (StationReportFile& report : reports) written = report.write(station.record()) && written;
    });
    int status = 1;
    QObject::connect(&station, &Station::finished, &station, [&] {
        status = Finish(station, c, reports, written);
        QCoreApplication::exit(status);
    });
    OnStopSignals(&station, [&station](int signal) {
        station.stop(signal == SIGTERM ? QStringLiteral("terminated") : QStringLiteral("interrupted"));
    });
    station.startAll();
    app->exec();
    return status;
}

}  // namespace vorla
